// The player and recorder operations of the user-interface thread. The arrays they replace or
// free are touched by the audio thread inside RenderBlock, so every replacement first stops the
// player (or recorder) and waits until no block is inside its step.

#include <algorithm>
#include <new>
#include <thread>

#include "host/VLVSTHostInterface.h"
#include "platform/Clock.h"
#include "player/AudioFile.h"
#include "settings/HostSettings.h"

namespace vl {

namespace {

bool waitUntilIdle(const std::atomic<bool>& busy) {
    const int64_t start = platform::counterNow();
    const int64_t limit = platform::counterFrequency() * kPlayerQuiesceTimeoutMs / 1000;
    while (busy.load(std::memory_order_seq_cst)) {
        if (platform::counterNow() - start > limit) return false;
        std::this_thread::yield();
    }
    return true;
}

std::unique_ptr<float[]> allocateFrames(uint32_t frames) {
    return std::unique_ptr<float[]>(new (std::nothrow) float[size_t(frames)]);
}

// Read position advance per output frame: the file plays at its own rate, so 1.0 when file and
// device rates agree (computed in single precision).
double playStepFor(uint32_t fileRate, double deviceRate) {
    return fileRate > 0 ? static_cast<double>(static_cast<float>(fileRate) / static_cast<float>(deviceRate)) : 1.0;
}

}  // namespace

bool VLVSTHostInterface::quiescePlayer() {
    playerState.store(Stopped, std::memory_order_seq_cst);
    return waitUntilIdle(playerBusy);
}

bool VLVSTHostInterface::quiesceRecorder() {
    recorderState.store(Stopped, std::memory_order_seq_cst);
    return waitUntilIdle(recorderBusy);
}

double VLVSTHostInterface::deviceSampleRate() const {
    return settings && settings->outputDevice ? settings->outputDevice->sampleRate : 0.0;
}

uint32_t VLVSTHostInterface::loadedFileSampleRate() const {
    return audioFile && audioFile->sampleRate() > 0 ? static_cast<uint32_t>(audioFile->sampleRate()) : 0;
}

uint32_t VLVSTHostInterface::LoadSample(const std::filesystem::path& path) {
    if (deviceSampleRate() <= 0.0) return 0;
    const int32_t remembered = playerState.load(std::memory_order_acquire);
    if (!quiescePlayer()) return 0;  // the audio thread still reads the old arrays
    playerLeft.reset();
    playerRight.reset();
    playedFrames = 0;
    fileFrames = 0;

    // A file longer than the player holds is refused by the reader (lastError() says so).
    PlayerSample sample;
    if (OpenAudioFile(audioFile, path) == 0 || !readPlayerSample(*audioFile, sample)) return 0;
    playerLeft = std::move(sample.left);
    playerRight = std::move(sample.right);
    fileFrames = sample.frames;
    // A running player goes on with the new file from its start, at the new file's rate.
    playPosition = 0.0;
    playbackEnded = false;
    playStep = playStepFor(loadedFileSampleRate(), deviceSampleRate());
    playerState.store(remembered, std::memory_order_seq_cst);
    return sample.frames;
}

bool VLVSTHostInterface::StartPlayer(PlayState mode, bool loop) {
    const double rate = deviceSampleRate();
    if (rate <= 0.0 || !playerLeft || !playerRight) return false;
    if (mode != Stopped) {
        if (!quiescePlayer()) return false;
        playedFrames = 0;
        loopPlayback = loop;
        playbackEnded = false;
        playPosition = 0.0;
        playStep = playStepFor(loadedFileSampleRate(), rate);
    }
    resetMusicalPosition();
    playerState.store(mode, std::memory_order_seq_cst);
    return true;
}

bool VLVSTHostInterface::StartRecorder(PlayState mode, uint32_t maxFrames) {
    const double rate = deviceSampleRate();
    if (rate <= 0.0) return false;
    if (mode != Stopped) {
        if (!quiesceRecorder()) return false;
        recordLeft.reset();
        recordRight.reset();
        recordCapacity = 0;
        recordedFrames = 0;
        // A chosen length is stored whole (a buffer cut short of it would stop storing while
        // the window still shows a running recording); memory that cannot be had fails the start.
        const uint32_t capacity = recordCapacityFrames(maxFrames, rate);
        std::unique_ptr<float[]> left = allocateFrames(capacity);
        std::unique_ptr<float[]> right = allocateFrames(capacity);
        if (!left || !right) return false;
        // Touched once here, so that the audio thread never meets a page the system has yet
        // to supply.
        std::fill_n(left.get(), capacity, 0.0f);
        std::fill_n(right.get(), capacity, 0.0f);
        recordLeft = std::move(left);
        recordRight = std::move(right);
        recordCapacity = capacity;
    }
    recorderState.store(mode, std::memory_order_seq_cst);
    return true;
}

void VLVSTHostInterface::FreePlayer() {
    if (!playerLeft) return;
    resetMusicalPosition();
    if (!quiescePlayer()) return;  // the audio thread still reads them: keep them
    playerLeft.reset();
    playerRight.reset();
}

void VLVSTHostInterface::FreeRecording() {
    if (!quiesceRecorder()) return;
    recordLeft.reset();
    recordRight.reset();
    recordCapacity = 0;
    recordedFrames = 0;
}

bool VLVSTHostInterface::SaveRecording(const std::filesystem::path& path) {
    const double rate = deviceSampleRate();
    if (rate <= 0.0 || !recordLeft || !recordRight) return false;
    // Stopped first, so that the count read next is final: a block that was still recording
    // when the save began is saved with the rest.
    if (!quiesceRecorder()) return false;
    const uint32_t frames = recordedFrames;
    if (frames == 0) return false;
    for (uint32_t i = 0; i < frames; ++i) {
        recordLeft[i] = std::clamp(recordLeft[i], -1.0f, 1.0f);
        recordRight[i] = std::clamp(recordRight[i], -1.0f, 1.0f);
    }
    std::unique_ptr<VLAudioFileBase> file;
    if (!CreateAudioFile(file, path, frames, static_cast<uint32_t>(rate))) return false;
    return file->writeStereo16(StereoBuffer{recordLeft.get(), recordRight.get()}, frames);
}

}  // namespace vl
