#pragma once
// An audio back end for tests: no sound card. As a blocking family (MME, WASAPI, DirectSound)
// it runs its device loop on the calling thread (the coordinator's EngineThread), feeding a
// known input and keeping the output; as ASIO it returns at once and the test drives blocks
// with pump(), as a driver thread would. Its stop keeps the ASIO back end's contract: it waits
// at most stopWaitMs for a block under way and otherwise leaves the teardown to settleStop.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "audio/AudioDevice.h"

namespace vltest {

class TestAudioBackend : public vl::VLAudioBase {
public:
    explicit TestAudioBackend(uint32_t type, double sampleRate = 44100.0, uint32_t bufferSize = 64,
                              uint16_t bits = 32)
        : type(type) {
        for (bool isInput : {true, false}) {
            auto record = std::make_unique<vl::AudioDeviceRecord>();
            record->type = type;
            record->isInput = isInput;
            record->name = isInput ? L"Test In" : L"Test Out";
            record->channels = 2;
            record->sampleRate = sampleRate;
            record->bitsPerSample = bits;
            record->bufferSize = bufferSize;
            record->channelNames = {isInput ? L" In 1" : L" Out 1", isInput ? L" In 2" : L" Out 2"};
            devices.push_back(std::move(record));
        }
    }
    ~TestAudioBackend() override { stop(); }

    vl::AudioDeviceRecord* input() { return devices[0].get(); }
    vl::AudioDeviceRecord* output() { return devices[1].get(); }

    // ---- behaviour set by the test --------------------------------------------------------
    bool failOpen = false;
    uint32_t maxBlocks = 0;           // 0 = until the callback answers false
    uint32_t paceMicros = 0;          // sleep between blocks (0 = as fast as possible)
    // A device that hangs: the loop delivers no block (holdBeforeFirstBlock) or does not end
    // when the callback answers false (holdAfterStop) until the test sets release.
    bool holdBeforeFirstBlock = false;
    bool holdAfterStop = false;
    std::atomic<bool> release{false};
    // Input sample of channel c at absolute frame n: inputBase[c] + n * inputStep.
    float inputBase[2] = {0.25f, -0.25f};
    float inputStep = 0.0f;
    // Output kept for inspection: the first capture.size() / 2 frames after start.
    std::vector<float> captureLeft, captureRight;

    uint32_t stopWaitMs = 0;  // ASIO: how long stop waits for a block under way

    // ---- what happened ---------------------------------------------------------------------
    std::atomic<int> opens{0};
    std::atomic<int> stops{0};
    std::atomic<int> queries{0};
    std::atomic<uint64_t> blocks{0};
    std::atomic<uint64_t> framesDone{0};
    std::atomic<bool> inLoop{false};
    uint32_t lastFrames = 0;

    bool openAndStart(vl::AudioDeviceRecord* in, vl::AudioDeviceRecord* out, vl::RenderBlockProc proc,
                      void* user) override {
        opens += 1;
        if (running) stop();
        if (!out || failOpen) return false;
        uint32_t frames = out->bufferSize;
        if (in && in->bufferSize > frames) frames = in->bufferSize;
        if (!allocatePlanes(frames)) return false;
        callback = proc;
        callbackUser = user;
        blockFrames = out->bufferSize;
        captured = 0;
        if (type == vl::kDeviceTypeASIO) {
            running = true;
            return true;
        }
        inLoop = true;
        while (holdBeforeFirstBlock && !release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        for (;;) {
            if (!pump(blockFrames)) {
                while (holdAfterStop && !release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
                break;
            }
            if (maxBlocks && blocks >= maxBlocks) break;
            if (paceMicros) std::this_thread::sleep_for(std::chrono::microseconds(paceMicros));
        }
        inLoop = false;
        freePlanes();
        return true;
    }

    // One block through the callback: input written into the planes first, output kept after.
    bool pump(uint32_t frames) {
        struct InFlight {
            std::atomic<int>& count;
            explicit InFlight(std::atomic<int>& c) : count(c) { count.fetch_add(1); }
            ~InFlight() { count.fetch_sub(1); }
        } inFlight(callbacksInFlight);
        if (!planePair[0] || frames == 0) return false;
        const uint64_t base = framesDone;
        for (uint32_t i = 0; i < frames; ++i) {
            leftPlane[i] = inputBase[0] + static_cast<float>(base + i) * inputStep;
            rightPlane[i] = inputBase[1] + static_cast<float>(base + i) * inputStep;
        }
        const bool keepGoing = callback(planePair, planePair, frames, callbackUser);
        lastFrames = frames;
        for (uint32_t i = 0; i < frames && captured < captureLeft.size(); ++i, ++captured) {
            captureLeft[captured] = leftPlane[i];
            captureRight[captured] = rightPlane[i];
        }
        framesDone += frames;
        blocks += 1;
        return keepGoing;
    }

    void stop() override {
        stops += 1;
        running = false;
        if (type == vl::kDeviceTypeASIO && !waitForCallbacks(stopWaitMs)) {
            teardownPending = true;  // the block under way keeps the planes
            return;
        }
        if (!inLoop) freePlanes();
    }
    bool settleStop(uint32_t waitMs) override {
        if (!teardownPending) return true;
        if (!waitForCallbacks(waitMs)) return false;
        teardownPending = false;
        freePlanes();
        return true;
    }
    std::atomic<int> callbacksInFlight{0};
    bool teardownPending = false;
    bool matchFormats(vl::AudioDeviceRecord*, vl::AudioDeviceRecord*) override { return true; }
    bool queryDetails(vl::AudioDeviceRecord* record, bool) override {
        queries += 1;
        if (!record) return false;
        record->detailsKnown = true;
        return true;
    }

    size_t captured = 0;

private:
    bool waitForCallbacks(uint32_t waitMs) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
        while (callbacksInFlight.load() != 0) {
            if (std::chrono::steady_clock::now() >= until) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }

    uint32_t type;
    uint32_t blockFrames = 0;
    vl::RenderBlockProc callback = nullptr;
    void* callbackUser = nullptr;
};

}  // namespace vltest
