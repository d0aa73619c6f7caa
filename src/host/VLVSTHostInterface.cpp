#include "host/VLVSTHostInterface.h"

#include <cmath>

#include "platform/Clock.h"
#include "platform/Thread.h"
#include "player/AudioFile.h"
#include "settings/HostSettings.h"

namespace vl {

namespace {

constexpr wchar_t kErrorCaption[] = L"Error";
constexpr wchar_t kNeedsInputText[] = L"Unable to start Audioengine\r\nPlugin needs an Audioinput device!";
constexpr wchar_t kRatesWasapiText[] =
    L"Different sample rates for input and output device not supported!\r\nAutomatic adjustment failed.\r\n"
    L"Please check your Audio device settings!";
constexpr wchar_t kRatesText[] =
    L"Different sample rates for input and output device not supported!\r\nPlease correct and restart Application.";
constexpr wchar_t kBitsText[] =
    L"Different bit rates for input and output device not supported!\r\nPlease correct and restart Application.";

double beatsPerSampleFor(double tempo, double sampleRate) {
    return 1.0 / (sampleRate / (tempo * 0.016666666666666666));
}

double elapsedMs(int64_t since) {
    return static_cast<double>(platform::counterNow() - since) * 1000.0 /
           static_cast<double>(platform::counterFrequency());
}

}  // namespace

VLVSTHostInterfaceBase::~VLVSTHostInterfaceBase() = default;

VLVSTHostInterface::VLVSTHostInterface() = default;

VLVSTHostInterface::~VLVSTHostInterface() {
    StopAudioEngine();
    StopMidiEngine();
    // A device loop that did not end within the stop time-out is asked once more and awaited:
    // the back ends bound their own waits, so it ends.
    if (engineThread.joinable()) {
        engineStopping.store(true, std::memory_order_release);
        engineThread.join();
    }
    if (slot) {
        // The hooks point at this object.
        if (slot->tempoUser.load() == this) slot->installTempoHook(nullptr, nullptr);
        if (slot->midiOutUser.load() == this) slot->installMidiOutHook(nullptr, nullptr);
    }
}

void VLVSTHostInterface::link(PluginSlot* newSlot, AudioBackendSet* newAudio, VLMidiBase* newMidi,
                              HostSettings* newSettings) {
    if (!newSlot || !newAudio || !newMidi || !newSettings) return;
    slot = newSlot;
    audio = newAudio;
    midi = newMidi;
    settings = newSettings;
    tempo.store(settings->tempo, std::memory_order_release);
}

bool VLVSTHostInterface::linked() const { return slot && audio && midi && settings; }

void VLVSTHostInterface::showError(const wchar_t* text) {
    if (!messages) return;
    platform::UserMessage message;
    message.text = text;
    message.caption = kErrorCaption;
    message.icon = platform::MessageIcon::Error;
    messages->show(message);
}

bool VLVSTHostInterface::StartAudioEngine() {
    if (!linked()) return false;

    const int32_t rememberedPlayerState = playerState.load(std::memory_order_acquire);
    // A playing player is stopped now and started again from the beginning once the device
    // runs (the position restarts with the engine below).
    if (rememberedPlayerState > Stopped && settings->outputDevice && playerLeft && playerRight) quiescePlayer();

    StopAudioEngine();
    if (engineThread.joinable()) return false;  // the previous device loop would not end

    for (AudioDeviceRecord* device : {settings->inputDevice, settings->outputDevice}) {
        if (!device) continue;
        if (VLAudioBase* backend = audio->backendFor(device->type)) backend->queryDetails(device, false);
    }

    AudioDeviceRecord* output = settings->outputDevice;
    if (!output) return false;
    VLAudioBase* backend = audio->backendFor(output->type);
    if (!backend) return false;

    const bool needsNoInput = slot->isSynth() || slot->numInputs() <= 0;
    if (!needsNoInput && !settings->inputDevice) {
        // Answered true so that the caller shows no second message.
        showError(kNeedsInputText);
        return true;
    }
    if (needsNoInput) settings->inputDevice = nullptr;
    AudioDeviceRecord* input = settings->inputDevice;

    if (input) {
        if (input->sampleRate != output->sampleRate) {
            showError((output->type & kDeviceTypeWasapiMask) ? kRatesWasapiText : kRatesText);
            return false;
        }
        if (input->bitsPerSample != output->bitsPerSample) {
            showError(kBitsText);
            return false;
        }
    }

    const double rate = output->sampleRate;
    const uint32_t blockSize = output->bufferSize;
    slot->setBlockSize(static_cast<vst::int32>(blockSize));
    slot->timeInfo.sampleRate = static_cast<double>(static_cast<float>(rate));
    slot->setSampleRate(static_cast<float>(rate));

    engineSampleRate = rate;
    beatsPerSample = beatsPerSampleFor(tempo.load(std::memory_order_acquire), rate);
    cpuMeter.measure();

    slot->timeInfo.tempo = tempo.load(std::memory_order_acquire);
    lastClockPpq = 0.0;
    clockPpq.store(0.0, std::memory_order_release);
    lastClockStartCount = clockStartCount.load(std::memory_order_acquire);
    ppqAccumulator = 0.0;
    slot->timeInfo.ppqPos = 0.0;

    slot->resume();

    // Prepared here so that the process cycle allocates nothing.
    if (!processBuffers.prepare(slot->numInputs(), slot->numOutputs(), blockSize > 0 ? blockSize : kFallbackMaxBlock))
        return false;

    engineStopping.store(false, std::memory_order_release);
    runningBackend = backend;
    runningType = output->type;
    if (output->type == kDeviceTypeASIO) {
        if (!backend->openAndStart(input, output, &RenderBlock, this)) {
            runningBackend = nullptr;
            return false;
        }
        engineRunning.store(true, std::memory_order_release);
    } else {
        engineThreadEnded.store(false, std::memory_order_release);
        engineRunning.store(false, std::memory_order_release);
        engineThread = std::thread([this, backend, input, output] {
            platform::raiseCurrentThreadToTimeCritical();
            backend->openAndStart(input, output, &RenderBlock, this);
            engineRunning.store(false, std::memory_order_release);
            engineThreadEnded.store(true, std::memory_order_release);
        });
        // Wait for the first block; a device that never delivers one fails the start instead
        // of hanging the user interface.
        const int64_t start = platform::counterNow();
        for (;;) {
            if (engineThreadEnded.load(std::memory_order_acquire)) {
                engineThread.join();
                runningBackend = nullptr;
                return false;
            }
            if (engineRunning.load(std::memory_order_acquire)) break;
            if (elapsedMs(start) > kEngineStartTimeoutMs) {
                StopAudioEngine();
                return false;
            }
            platform::sleepMs(1);
        }
    }

    slot->installTempoHook(&OnPluginTempo, this);

    if (rememberedPlayerState != Stopped) StartPlayer(Running, loopPlayback);
    return true;
}

bool VLVSTHostInterface::joinEngineThread(uint32_t timeoutMs) {
    const int64_t start = platform::counterNow();
    while (!engineThreadEnded.load(std::memory_order_acquire)) {
        if (elapsedMs(start) > timeoutMs) return false;
        platform::sleepMs(1);
    }
    engineThread.join();
    return true;
}

void VLVSTHostInterface::StopAudioEngine() {
    if (!linked()) return;
    if (runningType == kDeviceTypeASIO && runningBackend) {
        if (!engineRunning.load(std::memory_order_acquire)) return;
        runningBackend->stop();
        platform::sleepMs(asioStopSettleMs);  // the driver may still be inside a callback
        engineRunning.store(false, std::memory_order_release);
        engineStopping.store(false, std::memory_order_release);
        runningBackend = nullptr;
        return;
    }
    if (!engineThread.joinable()) return;
    // The process cycle answers false while engineStopping is set, which ends the device loop.
    // The flag stays set until the loop has really ended, so a slow device cannot resume.
    engineStopping.store(true, std::memory_order_release);
    if (joinEngineThread(kEngineStopTimeoutMs)) {
        engineStopping.store(false, std::memory_order_release);
        runningBackend = nullptr;
    }
}

bool VLVSTHostInterface::RenderBlock(float** inputs, float** outputs, uint32_t frames, void* user) {
    auto* self = static_cast<VLVSTHostInterface*>(user);
    return self && self->renderBlock(inputs, outputs, frames);
}

bool VLVSTHostInterface::renderBlock(float** inputs, float** outputs, uint32_t frames) {
    if (engineStopping.load(std::memory_order_acquire)) return false;
    engineRunning.store(true, std::memory_order_release);
    vst::VstTimeInfo& time = slot->timeInfo;

    if (ppqResetRequest.exchange(false, std::memory_order_acq_rel)) ppqAccumulator = 0.0;

    // Transport.
    if (transportRequest.exchange(false, std::memory_order_acq_rel)) {
        const bool play = requestedPlaying.load(std::memory_order_acquire);
        if (play) {
            time.flags |= vst::kVstTransportPlaying;
            ppqAccumulator = 0.0;
        } else {
            time.flags &= ~vst::kVstTransportPlaying;
        }
        playing.store(play, std::memory_order_release);
    }

    // Tempo: the flag is taken before the value is read, so a change made meanwhile is applied
    // by the next block rather than lost.
    if (tempoChanged.exchange(false, std::memory_order_acq_rel)) {
        const double t = tempo.load(std::memory_order_acquire);
        beatsPerSample = beatsPerSampleFor(t, engineSampleRate);
        time.tempo = t;
    }

    // Events; an armed player or recorder starts with the first block that carries any.
    if (vst::VstEvents* list = events.takeEvents()) {
        slot->processEvents(list);
        int32_t waiting = Waiting;
        bool started = playerState.compare_exchange_strong(waiting, Running, std::memory_order_acq_rel);
        waiting = Waiting;
        started = recorderState.compare_exchange_strong(waiting, Running, std::memory_order_acq_rel) || started;
        if (started) ppqAccumulator = 0.0;
    }

    if (startBothRequest.exchange(false, std::memory_order_acq_rel)) {
        int32_t waiting = Waiting;
        playerState.compare_exchange_strong(waiting, Running, std::memory_order_acq_rel);
        waiting = Waiting;
        recorderState.compare_exchange_strong(waiting, Running, std::memory_order_acq_rel);
        ppqAccumulator = 0.0;
    }

    // A block larger than the size announced to the plug-in is processed in pieces.
    const uint32_t piece = processBuffers.maxFrames() > 0 ? processBuffers.maxFrames() : frames;
    for (uint32_t done = 0; done < frames;) {
        const uint32_t n = frames - done < piece ? frames - done : piece;
        float* in[2] = {inputs[0] + done, inputs[1] + done};
        float* out[2] = {outputs[0] + done, outputs[1] + done};

        // Song position.
        if (!syncActive.load(std::memory_order_acquire)) {
            time.ppqPos = ppqAccumulator;
        } else {
            const double clock = clockPpq.load(std::memory_order_acquire);
            const uint32_t starts = clockStartCount.load(std::memory_order_acquire);
            if (clock >= 0.0) {
                if (clock != lastClockPpq || starts != lastClockStartCount) {
                    time.ppqPos = clock;
                    lastClockPpq = clock;
                    lastClockStartCount = starts;
                } else {
                    time.ppqPos = clock + 0.010416666977107525;  // 1/96 quarter note
                }
            }
        }

        // Player: replaces the device input.
        playerBusy.store(true, std::memory_order_seq_cst);
        if (playerState.load(std::memory_order_seq_cst) == Running && !playbackEnded) {
            bool ended = false;
            playerFill(playerLeft.get(), playerRight.get(), fileFrames, loopPlayback, playStep, playPosition, ended,
                       in[0], in[1], n);
            if (ended) playbackEnded = true;
            playedFrames = playedFrames + n;
        }
        playerBusy.store(false, std::memory_order_release);

        if (slot->effect) processBuffers.process(*slot, in, out, n);

        recorderBusy.store(true, std::memory_order_seq_cst);
        if (recorderState.load(std::memory_order_seq_cst) == Running && recordLeft) {
            recordedFrames = recorderCapture(recordLeft.get(), recordRight.get(), recordCapacity, recordedFrames, out[0],
                                             out[1], n);
        }
        recorderBusy.store(false, std::memory_order_release);

        ppqAccumulator += static_cast<double>(n) * beatsPerSample;
        done += n;
    }

    if (blockCounter++ == static_cast<int32_t>(kCpuMeterBlockInterval)) {
        cpuPercent = cpuMeter.measure();
        blockCounter = 0;
    }
    return true;
}

void VLVSTHostInterface::handOverTempo(double newTempo) {
    const int64_t start = platform::counterNow();
    while (tempoChanged.load(std::memory_order_acquire) && engineRunning.load(std::memory_order_acquire) &&
           elapsedMs(start) < kTempoHandOverWaitMs) {
        std::this_thread::yield();
    }
    tempo.store(newTempo, std::memory_order_release);
    tempoChanged.store(true, std::memory_order_release);
}

void VLVSTHostInterface::OnPluginTempo(double newTempo, void* user) {
    auto* self = static_cast<VLVSTHostInterface*>(user);
    if (!self || !self->settings) return;
    if (newTempo == self->tempo.load(std::memory_order_acquire) || !self->settings->PluginCanSetTempo) return;
    self->handOverTempo(newTempo);
    self->settings->tempo = newTempo;
    self->settings->saveSettings();
}

void VLVSTHostInterface::requestTransport(bool play) {
    requestedPlaying.store(play, std::memory_order_release);
    transportRequest.store(true, std::memory_order_release);
}

}  // namespace vl
