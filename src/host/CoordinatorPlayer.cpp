// The player and recorder operations of the user-interface thread. The arrays they replace or
// free are touched by the audio thread inside RenderBlock, so every replacement first stops the
// player (or recorder) and waits until no block is inside its step.

#include <algorithm>
#include <ctime>
#include <cwchar>
#include <iterator>
#include <new>
#include <string>
#include <system_error>
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
        recordMissedFrames = 0;
        recordInterrupted.store(false, std::memory_order_release);
        recordReserved.store(0, std::memory_order_release);
        // A chosen length is allocated whole (a buffer cut short of it would stop storing while
        // the window still shows a running recording); memory that cannot be had fails the start.
        // Only the lead is made ready now: touching all of "16 min" at 96 kHz held the start
        // for about half a second.
        const uint32_t capacity = recordCapacityFrames(maxFrames, rate);
        std::unique_ptr<float[]> left = allocateFrames(capacity);
        std::unique_ptr<float[]> right = allocateFrames(capacity);
        if (!left || !right) return false;
        recordLeft = std::move(left);
        recordRight = std::move(right);
        recordCapacity = capacity;
        recordRate = rate;
        ReserveRecording();
    }
    recorderState.store(mode, std::memory_order_seq_cst);
    return true;
}

void VLVSTHostInterface::ReserveRecording(bool whole) {
    if (!recordLeft || !recordRight) return;
    const double rate = deviceSampleRate();
    const uint64_t lead = whole ? recordCapacity : static_cast<uint64_t>(std::max(rate, 1.0) * kRecordReserveLeadSeconds);
    const uint32_t target = static_cast<uint32_t>(std::min<uint64_t>(recordCapacity, uint64_t(recordedFrames) + lead));
    const uint32_t from = recordReserved.load(std::memory_order_acquire);
    if (target <= from) return;
    // The process cycle stores only below recordReserved, so these frames are ours until the
    // new mark is published. One write per page has the system supply it now, not in a block.
    constexpr uint32_t kFramesPerPage = 4096 / sizeof(float);
    for (uint32_t i = from; i < target; i += kFramesPerPage) {
        recordLeft[i] = 0.0f;
        recordRight[i] = 0.0f;
    }
    recordLeft[target - 1] = 0.0f;
    recordRight[target - 1] = 0.0f;
    recordReserved.store(target, std::memory_order_release);
}

void VLVSTHostInterface::EndTakeAtOtherRate(double rate) {
    if (!recordLeft || recordRate == rate || recorderState.load(std::memory_order_acquire) == Stopped) return;
    // Nothing recorded yet (no block runs here, the engine is stopped): the take simply
    // records at the new rate.
    if (recordedFrames == 0) {
        recordRate = rate;
        return;
    }
    // Stopped here, its frames kept: the player window offers it for saving at its own rate.
    quiesceRecorder();
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
    recordReserved.store(0, std::memory_order_release);
    recordedFrames = 0;
}

std::optional<std::filesystem::path> VLVSTHostInterface::SaveRecordingForSessionEnd() {
    if (!recordLeft || !recordRight) return std::nullopt;
    if (!quiesceRecorder() || recordedFrames == 0) return std::nullopt;
    const std::time_t now = std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    wchar_t stamp[32] = {};
    std::wcsftime(stamp, std::size(stamp), L"%Y-%m-%d %H-%M-%S", &local);
    // Two ends of a session within one second keep both takes.
    for (int n = 1; n < 100; ++n) {
        const std::wstring name =
            std::wstring(L"Recording ") + stamp + (n > 1 ? L" (" + std::to_wstring(n) + L")" : L"") + L".wav";
        const auto path = StateFilePath(name, true);
        std::error_code ec;
        if (path && std::filesystem::exists(*path, ec)) continue;
        // Where the state's folder cannot be written, the take goes to a second place (the
        // next start moves it home and tells).
        std::vector<std::filesystem::path> places = SecondPlacePaths(name);
        if (path) places.insert(places.begin(), *path);
        for (const auto& place : places) {
            std::filesystem::create_directories(place.parent_path(), ec);
            if (!SaveRecording(place)) continue;
            FreeRecording();
            return place;
        }
        return std::nullopt;
    }
    return std::nullopt;
}

bool VLVSTHostInterface::SaveRecording(const std::filesystem::path& path) {
    // At the rate the take was recorded at, which a restart may have left behind.
    const double rate = recordRate > 0.0 ? recordRate : deviceSampleRate();
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
