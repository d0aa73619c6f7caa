#include "audio/VLOfflineAudio.h"

#include <cstring>

namespace vl {

VLOfflineAudio::VLOfflineAudio(double sampleRate, uint32_t blockSize) {
    for (bool isInput : {true, false}) {
        auto record = std::make_unique<AudioDeviceRecord>();
        record->type = kDeviceTypeASIO;
        record->isInput = isInput;
        record->name = isInput ? L"Offline In" : L"Offline Out";
        record->channels = 2;
        record->sampleRate = sampleRate;
        record->bitsPerSample = 32;
        record->bufferSize = blockSize;
        record->detailsKnown = true;
        record->channelNames = {isInput ? L" In 1" : L" Out 1", isInput ? L" In 2" : L" Out 2"};
        devices.push_back(std::move(record));
    }
}

VLOfflineAudio::~VLOfflineAudio() { stop(); }

bool VLOfflineAudio::openAndStart(AudioDeviceRecord* input, AudioDeviceRecord* output, RenderBlockProc proc,
                                  void* user) {
    if (running) stop();
    if (!output || !proc) return false;
    uint32_t frames = output->bufferSize;
    if (input && input->bufferSize > frames) frames = input->bufferSize;
    if (!allocatePlanes(frames)) return false;
    callback = proc;
    callbackUser = user;
    blockFrames = output->bufferSize;
    running = true;
    return true;
}

uint64_t VLOfflineAudio::run(uint64_t totalFrames, BlockHook hook, void* hookUser) {
    uint64_t done = 0;
    while (done < totalFrames && running.load(std::memory_order_acquire)) {
        const uint64_t left = totalFrames - done;
        const uint32_t n = left < blockFrames ? static_cast<uint32_t>(left) : blockFrames;
        if (hook) hook(done, n, hookUser);
        // Silent input: the player, when it runs, replaces it.
        std::memset(leftPlane, 0, n * sizeof(float));
        std::memset(rightPlane, 0, n * sizeof(float));
        if (!callback(planePair, planePair, n, callbackUser)) break;
        done += n;
    }
    return done;
}

void VLOfflineAudio::stop() {
    running = false;
    freePlanes();
}

bool VLOfflineAudio::matchFormats(AudioDeviceRecord*, AudioDeviceRecord*) { return true; }

bool VLOfflineAudio::queryDetails(AudioDeviceRecord* record, bool) { return record != nullptr; }

}  // namespace vl
