#include "host/VLVSTHostInterface.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "host/HostCallback.h"
#include "platform/Clock.h"
#include "platform/StartupTrace.h"
#include "platform/Thread.h"
#include "player/AudioFile.h"
#include "settings/HostSettings.h"

namespace vl {

namespace {

constexpr wchar_t kErrorCaption[] = L"Error";
// The longest a block size change waits for a block inside the plug-in, and a stop for a
// block size change under way.
constexpr uint32_t kBlockChangeWaitMs = 1000;
constexpr wchar_t kNeedsInputText[] = L"Unable to start Audioengine\r\nPlugin needs an Audioinput device!";
constexpr wchar_t kRatesWasapiText[] =
    L"Different sample rates for input and output device not supported!\r\nAutomatic adjustment failed.\r\n"
    L"Please check your Audio device settings!";
constexpr wchar_t kRatesText[] =
    L"Different sample rates for input and output device not supported!\r\nPlease correct and restart Application.";
constexpr wchar_t kBitsText[] =
    L"Different bit rates for input and output device not supported!\r\nPlease correct and restart Application.";

// 0 for a device that reports no usable rate, so that the song position stays finite.
double beatsPerSampleFor(double tempo, double sampleRate) {
    if (!(sampleRate > 0.0) || !std::isfinite(sampleRate)) return 0.0;
    return 1.0 / (sampleRate / (tempo * 0.016666666666666666));
}

double elapsedMs(int64_t since) {
    return static_cast<double>(platform::counterNow() - since) * 1000.0 /
           static_cast<double>(platform::counterFrequency());
}

}  // namespace

// What the device loop on the engine thread shares with the coordinator. The loop's back end
// is given this record, not the coordinator, and the record lives as long as either of them.
struct VLVSTHostInterface::EngineLoop {
    std::atomic<VLVSTHostInterface*> host{nullptr};  // null once the coordinator let go
    std::atomic<int32_t> inside{0};                  // the loop is using host right now
    std::atomic<bool> ended{false};                  // the device loop has returned
};

VLVSTHostInterfaceBase::~VLVSTHostInterfaceBase() = default;

VLVSTHostInterface::VLVSTHostInterface() = default;

VLVSTHostInterface::~VLVSTHostInterface() {
    waitHook = nullptr;  // the application's windows are going away
    StopAudioEngine();
    StopMidiEngine();
    // A device loop that did not end within the stop time-out is asked once more, within the
    // same bound, and otherwise let go.
    if (engineThread.joinable()) {
        engineStopping.store(true, std::memory_order_release);
        if (!joinEngineThread(engineStopTimeoutMs)) abandonEngineLoop();
    }
    // A driver callback that outlived the stop's wait: once more within the bound.
    if (settlingBackend && !settleCallbackStop(engineStopTimeoutMs)) abandonEngineLoop();
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
    timedMidi = dynamic_cast<BlockTimedMidi*>(newMidi);
    if (isUsableTempo(settings->tempo)) tempo.store(settings->tempo, std::memory_order_release);
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

void VLVSTHostInterface::waitStep() {
    if (!waitHook || insideWaitHook) {
        platform::sleepMs(1);
        return;
    }
    insideWaitHook = true;
    waitHook(kEngineWaitStepMs, waitHookUser);
    insideWaitHook = false;
}

bool VLVSTHostInterface::StartAudioEngine() {
    if (!linked() || shutDownBegun) return false;
    // Asked for while a start or stop is waited for: the one under way decides.
    if (engineCall != EngineCall::None) return engineCall == EngineCall::Starting && !startCancelled;
    engineCall = EngineCall::Starting;
    startCancelled = false;
    failureTold = false;
    const bool started = startEngine();
    engineCall = EngineCall::None;
    return started;
}

bool VLVSTHostInterface::startEngine() {

    const int32_t rememberedPlayerState = playerState.load(std::memory_order_acquire);
    // A playing player is stopped now and started again from the beginning once the device
    // runs (the position restarts with the engine below).
    if (rememberedPlayerState > Stopped && settings->outputDevice && playerLeft && playerRight) quiescePlayer();

    stopEngine();
    // The previous device loop would not end, or a block of the previous run is still inside
    // the plug-in.
    if (engineThread.joinable() || !settleCallbackStop(0) || cycleInside.load(std::memory_order_acquire))
        return false;

    for (AudioDeviceRecord* device : {settings->inputDevice, settings->outputDevice}) {
        if (!device) continue;
        if (VLAudioBase* backend = audio->backendFor(device->type)) backend->queryDetails(device, false);
    }

    AudioDeviceRecord* output = settings->outputDevice;
    if (!output) return false;
    EndTakeAtOtherRate(output->sampleRate);
    VLAudioBase* backend = audio->backendFor(output->type);
    if (!backend) return false;

    const bool needsNoInput = slot->isSynth() || slot->numInputs() <= 0;
    if (!needsNoInput && !settings->inputDevice) {
        // Nothing runs, so this is a failure; the caller shows no second message.
        showError(kNeedsInputText);
        failureTold = true;
        return false;
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
    const uint32_t blockSize = blockFramesOf(*output);
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
    publishTimeInfo(slot->timeInfo);

    slot->resume();

    // Prepared here so that the process cycle allocates nothing.
    if (!processBuffers.prepare(slot->numInputs(), slot->numOutputs(), blockSize > 0 ? blockSize : kFallbackMaxBlock))
        return false;

    forgetStaleEvents();
    blockEvents.clear();  // no block runs: what a stopped run left behind
    // Blocks are refused until here, also after an ASIO stop.
    engineStopping.store(false, std::memory_order_release);
    runningBackend = backend;
    runningType = output->type;
    runningDeviceName = output->name;
    backend->takeDeviceEvent();  // what an earlier run reported is no news for this one
    auto loop = std::make_shared<EngineLoop>();
    loop->host.store(this, std::memory_order_seq_cst);
    engineLoop = loop;
    // The plug-in stays open for as long as this loop (or driver) may call it.
    slot->keepOpenUntil(std::shared_ptr<const std::atomic<bool>>(loop, &loop->ended));
    if (output->type == kDeviceTypeASIO) {
        // The driver's thread calls through the record, as a device loop does.
        if (!backend->openAndStart(input, output, &loopRenderBlock, loop.get())) {
            loop->ended.store(true, std::memory_order_release);
            engineLoopEnded();
            return false;
        }
        engineRunning.store(true, std::memory_order_release);
    } else {
        engineThreadEnded.store(false, std::memory_order_release);
        engineRunning.store(false, std::memory_order_release);
        engineThread = std::thread([loop, backend, input, output] {
            platform::raiseCurrentThreadToTimeCritical();
            backend->openAndStart(input, output, &loopRenderBlock, loop.get());
            loop->inside.fetch_add(1, std::memory_order_seq_cst);
            if (VLVSTHostInterface* host = loop->host.load(std::memory_order_seq_cst)) {
                host->engineRunning.store(false, std::memory_order_release);
                host->engineThreadEnded.store(true, std::memory_order_release);
            }
            loop->ended.store(true, std::memory_order_release);
            loop->inside.fetch_sub(1, std::memory_order_seq_cst);
        });
        // Wait for the first block; a device that never delivers one fails the start instead
        // of hanging the user interface.
        const int64_t start = platform::counterNow();
        for (;;) {
            if (startCancelled) return false;  // stopped from inside the wait
            if (loop->ended.load(std::memory_order_acquire)) {
                engineThread.join();
                engineLoopEnded();
                return false;
            }
            if (engineRunning.load(std::memory_order_acquire)) break;
            if (elapsedMs(start) > engineStartTimeoutMs) {
                stopEngine();
                return false;
            }
            waitStep();
        }
    }

    slot->installTempoHook(&OnPluginTempo, this);

    if (rememberedPlayerState != Stopped) StartPlayer(Running, loopPlayback);
    return true;
}

// The thread sets ended as its last use of the record, so the join returns at once.
bool VLVSTHostInterface::joinEngineThread(uint32_t timeoutMs) {
    const std::shared_ptr<EngineLoop> loop = engineLoop;
    const int64_t start = platform::counterNow();
    while (!loop->ended.load(std::memory_order_acquire)) {
        if (elapsedMs(start) > timeoutMs) return false;
        waitStep();
        if (engineLoop != loop) return true;  // a stop nested in the wait has joined it
    }
    engineThread.join();
    engineLoopEnded();
    return true;
}

void VLVSTHostInterface::engineLoopEnded() {
    engineLoop.reset();
    runningBackend = nullptr;
    if (slot) slot->keepOpenUntil(nullptr);
}

void VLVSTHostInterface::abandonEngineLoop() {
    engineLoop->host.store(nullptr, std::memory_order_seq_cst);
    const int64_t start = platform::counterNow();
    while (engineLoop->inside.load(std::memory_order_seq_cst) != 0) {
        if (elapsedMs(start) > engineStopTimeoutMs) {
            // A process cycle is stuck inside the plug-in and still uses this object: nothing
            // of the host may be torn down under it, so the process ends here.
            std::_Exit(kExitEngineHung);
        }
        platform::sleepMs(1);
    }
    // From now on the loop finds no coordinator; the slot keeps the plug-in open until it ends.
    if (engineThread.joinable()) {
        engineThread.detach();  // the thread holds the record itself
    } else {
        // A driver keeps the record's address until its teardown, which may come after this
        // object is gone: the record stays for the rest of the process.
        new std::shared_ptr<EngineLoop>(engineLoop);
        settlingBackend = nullptr;
    }
    engineLoop.reset();
}

bool VLVSTHostInterface::settleCallbackStop(uint32_t waitMs) {
    if (!settlingBackend) return true;
    if (!settlingBackend->settleStop(waitMs)) return false;
    settlingBackend = nullptr;
    engineLoop->ended.store(true, std::memory_order_release);
    engineLoopEnded();
    return true;
}

void VLVSTHostInterface::StopAudioEngine() {
    // No link is needed: an engine can only run after a linked start, and the destructor must
    // stop it even once the settings are gone (an ASIO driver would call into a dead object).
    // Nested in the wait of a start: that start is over.
    if (engineCall == EngineCall::Starting) startCancelled = true;
    const EngineCall outer = engineCall;
    if (outer == EngineCall::None) engineCall = EngineCall::Stopping;
    stopEngine();
    engineCall = outer;
}

void VLVSTHostInterface::stopEngine() {
    if (runningType == kDeviceTypeASIO && runningBackend) {
        if (!engineRunning.load(std::memory_order_acquire)) return;
        // Set until the next start has prepared everything: a late driver callback is refused.
        engineStopping.store(true, std::memory_order_seq_cst);
        // A block size change that began before the flag finishes first (bounded).
        const int64_t since = platform::counterNow();
        while (holdsBusy.load(std::memory_order_seq_cst) > 0 && elapsedMs(since) < kBlockChangeWaitMs)
            platform::sleepMs(1);
        // The back end waits (bounded) for a callback under way and keeps what it uses alive
        // if that callback outlives the wait; until it has finished, so does the coordinator
        // (the record, the plug-in kept open).
        runningBackend->stop();
        engineRunning.store(false, std::memory_order_release);
        settlingBackend = runningBackend;
        runningBackend = nullptr;
        settleCallbackStop(0);
        return;
    }
    if (!engineThread.joinable()) return;
    // The process cycle answers false while engineStopping is set, which ends the device loop.
    // The flag stays set until the loop has really ended, so a slow device cannot resume.
    engineStopping.store(true, std::memory_order_release);
    if (joinEngineThread(engineStopTimeoutMs)) engineStopping.store(false, std::memory_order_release);
}

EngineNotice VLVSTHostInterface::PollEngine() {
    // A caption tick inside an engine wait: the start or stop under way answers for itself.
    if (engineCall != EngineCall::None) return EngineNotice::None;
    settleCallbackStop(0);  // lets the plug-in go once a late ASIO callback has left
    if (!linked() || !runningBackend) return EngineNotice::None;
    runningBackend->poll();
    const DeviceEvent event = runningBackend->takeDeviceEvent();
    // A stop always joins the loop, so a loop that has ended while still joinable ended by itself.
    const bool loopEnded = runningType != kDeviceTypeASIO && engineThread.joinable() &&
                           engineThreadEnded.load(std::memory_order_acquire);
    if (event == DeviceEvent::Failed || loopEnded) {
        lastFailedDevice = runningDeviceName;
        stopEngine();
        return EngineNotice::DeviceFailed;
    }
    return event == DeviceEvent::RestartRequested ? EngineNotice::RestartRequested : EngineNotice::None;
}

bool VLVSTHostInterface::loopRenderBlock(float** inputs, float** outputs, uint32_t frames, void* user) {
    auto* loop = static_cast<EngineLoop*>(user);
    // Announced before the coordinator is read, so that letting go (which clears host before
    // it reads inside) either sees this cycle or is seen by it.
    loop->inside.fetch_add(1, std::memory_order_seq_cst);
    VLVSTHostInterface* host = loop->host.load(std::memory_order_seq_cst);
    const bool goOn = host && RenderBlock(inputs, outputs, frames, host);
    loop->inside.fetch_sub(1, std::memory_order_seq_cst);
    return goOn;
}

bool VLVSTHostInterface::RenderBlock(float** inputs, float** outputs, uint32_t frames, void* user) {
    platform::markFirstBlock();
    auto* self = static_cast<VLVSTHostInterface*>(user);
    if (!self) return false;
    const ProcessThreadScope processThread;
    // Announced before the hold count is read; a change held outside reads them the other way.
    self->cycleInside.store(true, std::memory_order_seq_cst);
    const bool goOn = self->renderBlock(inputs, outputs, frames);
    self->cycleInside.store(false, std::memory_order_release);
    return goOn;
}

bool VLVSTHostInterface::OnBlockSizeChange(uint32_t frames, void* user) {
    auto* self = static_cast<VLVSTHostInterface*>(user);
    return self && self->ChangeBlockSize(frames);
}

bool VLVSTHostInterface::holdCycleOut(const std::function<void()>& change) {
    holdsBusy.fetch_add(1, std::memory_order_seq_cst);
    cycleHolds.fetch_add(1, std::memory_order_seq_cst);
    // One look that finds no cycle inside is enough: a cycle that begins after it sees the
    // hold and leaves the plug-in alone.
    const int64_t since = platform::counterNow();
    bool clear = !cycleInside.load(std::memory_order_seq_cst);
    while (!clear && elapsedMs(since) < kBlockChangeWaitMs) {
        platform::sleepMs(1);
        clear = !cycleInside.load(std::memory_order_seq_cst);
    }
    if (clear) change();
    cycleHolds.fetch_sub(1, std::memory_order_release);
    holdsBusy.fetch_sub(1, std::memory_order_seq_cst);
    return clear;
}

bool VLVSTHostInterface::RunBetweenBlocks(const std::function<void()>& change) {
    if (onProcessThread() || !slot || !slot->effect) return false;
    return holdCycleOut(change);
}

bool VLVSTHostInterface::ChangeBlockSize(uint32_t frames) {
    if (frames == 0 || onProcessThread() || !slot || !slot->effect) return false;
    bool changed = false;
    holdsBusy.fetch_add(1, std::memory_order_seq_cst);
    if (!engineStopping.load(std::memory_order_seq_cst) && engineRunning.load(std::memory_order_acquire)) {
        holdCycleOut([&] {
            // Made before the plug-in is told, so that a failure leaves everything as it was.
            ProcessBuffers next;
            if (!next.prepare(slot->numInputs(), slot->numOutputs(), frames)) return;
            slot->dispatch(vst::effMainsChanged, 0, 0);  // suspend
            slot->setBlockSize(static_cast<vst::int32>(frames));
            slot->resume();
            processBuffers = std::move(next);
            blockChanges.fetch_add(1, std::memory_order_acq_rel);
            changed = true;
        });
    }
    holdsBusy.fetch_sub(1, std::memory_order_seq_cst);
    return changed;
}

bool VLVSTHostInterface::renderBlock(float** inputs, float** outputs, uint32_t frames) {
    if (engineStopping.load(std::memory_order_acquire)) return false;
    engineRunning.store(true, std::memory_order_release);
    if (cycleHolds.load(std::memory_order_seq_cst) > 0) {
        // The plug-in is being changed (a new block size, a preset): this block is silence,
        // and the events wait for the next one.
        std::fill_n(outputs[0], frames, 0.0f);
        std::fill_n(outputs[1], frames, 0.0f);
        return true;
    }
    vst::VstTimeInfo& time = slot->timeInfo;
    // Takes (clears) a request flag when set. Almost every block finds it clear, and a plain
    // load then saves the locked exchange.
    const auto takeRequest = [](std::atomic<bool>& flag) {
        return flag.load(std::memory_order_acquire) && flag.exchange(false, std::memory_order_acq_rel);
    };

    if (takeRequest(ppqResetRequest)) ppqAccumulator = 0.0;

    // Transport.
    if (takeRequest(transportRequest)) {
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
    if (takeRequest(tempoChanged)) {
        const double t = tempo.load(std::memory_order_acquire);
        beatsPerSample = beatsPerSampleFor(t, engineSampleRate);
        time.tempo = t;
    }

    // Takes an armed (Waiting) player or recorder to Running. Only a state seen armed is
    // exchanged: the locked exchange costs more than the load that almost always finds it not.
    const auto startArmed = [](std::atomic<int32_t>& state) {
        int32_t waiting = Waiting;
        return state.load(std::memory_order_acquire) == Waiting &&
               state.compare_exchange_strong(waiting, Running, std::memory_order_acq_rel);
    };

    // Events; an armed player or recorder starts with the first block that carries any.
    // Notes ended for the plug-in's sake (at a restart, or when the list was full) start nothing.
    // A block larger than the size announced to the plug-in is processed in pieces.
    const uint32_t piece = processBuffers.maxFrames() > 0 ? processBuffers.maxFrames() : frames;
    bool freshEvents = false;
    vst::VstEvents* queued = events.takeEvents(&freshEvents);
    // What the MIDI engine delivered inside this cycle follows, each event at its frame.
    if (blockEvents.count() > 0) freshEvents = true;
    if (vst::VstEvents* list = blockEvents.take(queued)) {
        // The events go with the first piece: none lies beyond it.
        if (frames > piece) {
            for (vst::int32 i = 0; i < list->numEvents; ++i) {
                auto* e = reinterpret_cast<vst::VstMidiEvent*>(list->events[i]);
                if (e->deltaFrames >= static_cast<vst::int32>(piece)) e->deltaFrames = static_cast<vst::int32>(piece - 1);
            }
        }
        trackSoundingNotes(*list);
        slot->processEvents(list);
        if (freshEvents) {
            const bool playerStarted = startArmed(playerState);
            if (startArmed(recorderState) || playerStarted) ppqAccumulator = 0.0;
        }
    }

    if (takeRequest(startBothRequest)) {
        startArmed(playerState);
        startArmed(recorderState);
        ppqAccumulator = 0.0;
    }

    for (uint32_t done = 0; done < frames;) {
        pieceStart = done;
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

        if (inputMuted.load(std::memory_order_acquire)) {
            std::fill_n(in[0], n, 0.0f);
            std::fill_n(in[1], n, 0.0f);
        }

        // Player: replaces the device input. A player seen stopped is left alone without the
        // busy hand-shake (whose seq_cst store is a locked instruction); one seen running is
        // announced busy and its state read again, so that a stop from the user-interface
        // thread either sees this block or is seen by it.
        if (playerState.load(std::memory_order_acquire) == Running) {
            playerBusy.store(true, std::memory_order_seq_cst);
            if (playerState.load(std::memory_order_seq_cst) == Running && !playbackEnded) {
                bool ended = false;
                playerFill(playerLeft.get(), playerRight.get(), fileFrames, loopPlayback, playStep, playPosition,
                           ended, in[0], in[1], n);
                if (ended) playbackEnded = true;
                playedFrames = playedFrames + n;
            }
            playerBusy.store(false, std::memory_order_release);
        }

        publishTimeInfo(time);
        if (slot->effect) processBuffers.process(*slot, in, out, n);

        if (recorderState.load(std::memory_order_acquire) == Running) {  // as the player above
            recorderBusy.store(true, std::memory_order_seq_cst);
            if (recorderState.load(std::memory_order_seq_cst) == Running && recordLeft) {
                const uint32_t reserved = recordReserved.load(std::memory_order_acquire);
                const uint32_t before = recordedFrames;
                if (!recordInterrupted.load(std::memory_order_relaxed))
                    recordedFrames = recorderCapture(recordLeft.get(), recordRight.get(), reserved, before, out[0],
                                                     out[1], n);
                const uint32_t stored = recordedFrames - before;
                if (stored < n && reserved < recordCapacity) {
                    recordMissedFrames = recordMissedFrames + (n - stored);
                    recordInterrupted.store(true, std::memory_order_release);
                }
            }
            recorderBusy.store(false, std::memory_order_release);
        }

        ppqAccumulator += static_cast<double>(n) * beatsPerSample;
        done += n;
    }

    if (blockCounter++ == static_cast<int32_t>(kCpuMeterBlockInterval)) {
        cpuPercent = cpuMeter.measure();
        blockCounter = 0;
    }
    return true;
}

void VLVSTHostInterface::replaceTempo(double newTempo) {
    if (!isUsableTempo(newTempo)) return;
    tempo.store(newTempo, std::memory_order_release);
    tempoChanged.store(true, std::memory_order_release);
}

void VLVSTHostInterface::handOverTempo(double newTempo) {
    if (!isUsableTempo(newTempo)) return;
    const int64_t start = platform::counterNow();
    while (tempoChanged.load(std::memory_order_acquire) && engineRunning.load(std::memory_order_acquire) &&
           elapsedMs(start) < kTempoHandOverWaitMs) {
        std::this_thread::yield();
    }
    replaceTempo(newTempo);
}

// Runs on whatever thread the plug-in calls from, the audio thread included: it never waits
// there and never touches the settings store (SavePendingTempo does, on the user-interface
// thread).
void VLVSTHostInterface::OnPluginTempo(double newTempo, void* user) {
    auto* self = static_cast<VLVSTHostInterface*>(user);
    if (!self || !self->settings || !isUsableTempo(newTempo)) return;
    if (newTempo == self->tempo.load(std::memory_order_acquire) || !self->settings->PluginCanSetTempo) return;
    if (self->cycleInside.load(std::memory_order_acquire))
        self->replaceTempo(newTempo);
    else
        self->handOverTempo(newTempo);
    self->tempoToSave.store(true, std::memory_order_release);
}

void VLVSTHostInterface::SavePendingTempo() {
    const bool save = tempoToSave.exchange(false, std::memory_order_acq_rel);
    const bool follow = tempoToFollow.exchange(false, std::memory_order_acq_rel);
    if (!settings || !(save || follow)) return;
    settings->tempo = tempo.load(std::memory_order_acquire);
    if (save) settings->saveSettings();
}

// Only a change of state is requested: a play request while playing would restart the song
// position, and one that withdraws a pending opposite request leaves the state as it is.
void VLVSTHostInterface::requestTransport(bool play) {
    requestedPlaying.store(play, std::memory_order_release);
    transportRequest.store(play != transportPlaying(), std::memory_order_release);
}

}  // namespace vl
