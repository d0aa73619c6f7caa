#pragma once
// VLVSTHostInterface: the engine coordinator. It ties the plug-in slot, the audio back ends, the
// MIDI engine and the settings together, starts and stops the audio and MIDI engines, and runs
// the process cycle that hands events, time information and audio to the plug-in.
//
// Threads: the user-interface thread (starts, stops, commands, keys, state file), the audio
// thread (RenderBlock: the ASIO driver's thread or our EngineThread), the MIDI callback thread
// (MidiInputHandler) and any thread of the plug-in (OnPluginTempo, forwardMidiOut). No lock
// guards the coordinator: the hand-offs are atomics, written with release and read with
// acquire ordering, and the audio thread never waits for any of them.
//
// Tempo hand-over: a writer waits while an earlier change is still pending, but only while a
// process cycle runs to take it and at most kTempoHandOverWaitMs; otherwise the newest tempo
// simply replaces the pending one (the process cycle takes the flag before it reads the tempo,
// so no change is ever lost). With the engine stopped a tempo change never waits and the next
// engine start applies the newest tempo. A request of the plug-in made from inside a process
// cycle never waits (the only thread that could take the pending change is the caller). Tempos
// outside kMinTempoBpm..kMaxTempoBpm are ignored by every writer.
//
// Engine waits: the user-interface thread waits for an engine's first block and for its device
// loop to end within fixed bounds. Through the wait hook the application keeps its window
// answering meanwhile (it pumps messages); only the outermost wait pumps. A start or stop asked
// for from inside such a wait is no second engine: a nested start answers whether the start
// under way continues, a nested stop stops at once (that start then answers false).
//
// Engine thread: the device loop reaches the coordinator through a small shared record that
// outlives it, and the plug-in is kept open while the loop may still run, so that a loop that
// does not end within its bound can neither call into a destroyed coordinator nor into a
// closed plug-in. An ASIO driver's callbacks take the same way: a stop whose wait gave up on a
// block still inside the plug-in leaves the plug-in open until the back end has finished its
// teardown, and the coordinator is never torn down under such a block (the process ends
// instead, its state saved).

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "audio/AudioDevice.h"
#include "host/CpuMeter.h"
#include "host/PluginPresets.h"
#include "host/PluginSlot.h"
#include "host/ProcessBuffers.h"
#include "midi/MidiDevice.h"
#include "midi/MidiEventSlot.h"
#include "platform/RelaxedAtomic.h"
#include "platform/UserMessages.h"
#include "player/PlayerCore.h"

namespace vl {

class HostSettings;
class VLAudioFileBase;
class VLVSTHostInterface;

// One per opened MIDI input: the settings record whose options apply, and the coordinator.
struct MidiInputContext {
    MidiDeviceRecord* device = nullptr;
    VLVSTHostInterface* host = nullptr;
    // This input's clock drives the song position and the tempo: only the first opened input
    // with clock sync does, so that two clocks never both advance the position.
    bool followsClock = false;
    std::atomic<bool> closed{false};  // the input's close notice arrived
    // Arrival of this input's previous clock tick or start (MIDI thread): each tick is timed
    // from it, whatever else arrived in between on any input.
    double lastClockMs = 0.0;
    bool haveClockTime = false;
    // The clock window of this input (MIDI thread): inputs of different drivers call back at
    // the same time on their own threads, so no input shares it.
    double clockTimeSum = 0.0;
    int32_t clockTickCount = 0;
};

constexpr uint32_t kEngineStartTimeoutMs = 10000;  // first block of a blocking back end
constexpr uint32_t kEngineStopTimeoutMs = 3000;    // device loop ending after a stop request
constexpr uint32_t kEngineWaitStepMs = 10;      // longest single wait of the wait hook
constexpr uint32_t kTempoHandOverWaitMs = 200;
// Exit code of a process whose engine could not be torn down because a process cycle never
// returned from the plug-in.
constexpr int kExitEngineHung = 3;
constexpr uint32_t kPlayerQuiesceTimeoutMs = 2000;
// How far the recorder's ready memory runs ahead of the recording.
constexpr uint32_t kRecordReserveLeadSeconds = 30;
constexpr uint32_t kCpuMeterBlockInterval = 100;
// Blocks are processed in pieces of at most this many frames when the announced block size
// is unknown (0).
constexpr uint32_t kFallbackMaxBlock = 4096;

// What the user-interface thread learns about the running engine at a caption tick.
enum class EngineNotice {
    None,
    DeviceFailed,      // the engine stopped on its own; it is stopped now
    RestartRequested,  // the driver asks for a restart; the engine still runs
};

class VLVSTHostInterfaceBase {
public:
    virtual ~VLVSTHostInterfaceBase();

    // Links (not owned).
    PluginSlot* slot = nullptr;
    AudioBackendSet* audio = nullptr;
    VLMidiBase* midi = nullptr;
    HostSettings* settings = nullptr;

    std::atomic<bool> engineThreadEnded{false};
    std::atomic<bool> engineRunning{false};
    std::atomic<bool> engineStopping{false};
    std::atomic<bool> tempoChanged{false};
    std::atomic<double> tempo{120.0};
    // Any thread: the tempo now running came from an external clock; the settings take it
    // over at the user-interface thread's next SavePendingTempo.
    void followedTempo() { tempoToFollow.store(true, std::memory_order_release); }
    std::atomic<bool> tempoToFollow{false};
    double beatsPerSample = 0.0;  // audio thread, and engine start while no cycle runs
    std::atomic<bool> transportRequest{true};
    std::atomic<bool> requestedPlaying{false};

    std::atomic<int32_t> recorderState{Stopped};
    std::unique_ptr<float[]> recordLeft;
    std::unique_ptr<float[]> recordRight;
    uint32_t recordCapacity = 0;
    std::atomic<uint32_t> recordReserved{0};  // frames of the buffer ready for the process cycle
    RelaxedAtomic<uint32_t> recordedFrames{0};
    // The ready memory fell behind the recording (the user-interface thread was held up): the
    // take ends where it was interrupted instead of going on spliced, and the frames it could
    // not keep are counted.
    std::atomic<bool> recordInterrupted{false};
    RelaxedAtomic<uint64_t> recordMissedFrames{0};
    std::atomic<int32_t> playerState{Stopped};
    std::atomic<bool> startBothRequest{false};
    std::unique_ptr<float[]> playerLeft;
    std::unique_ptr<float[]> playerRight;
    std::unique_ptr<VLAudioFileBase> audioFile;
    RelaxedAtomic<uint32_t> playedFrames{0};
    uint32_t fileFrames = 0;
    bool loopPlayback = false;
    RelaxedAtomic<bool> playbackEnded{false};

    MidiDeviceRecord* midiOutputDevice = nullptr;
    MidiEventQueue events;  // the two event slots, the write slot and inputBusy

    std::atomic<bool> syncActive{false};
    double playPosition = 0.0;  // audio thread while the player runs
    double playStep = 1.0;
    std::atomic<double> clockPpq{0.0};  // written by the MIDI thread
    double lastClockPpq = 0.0;          // audio thread
    double ppqAccumulator = 0.0;        // audio thread (others ask for a reset)
    uint8_t noteState[128] = {};
    uint8_t keyNote[256] = {};  // per key: 1 + the note its press started, 0 = none (UI thread)
    int32_t keyboardOctave = 4;
};

class VLVSTHostInterface : public VLVSTHostInterfaceBase {
public:
    VLVSTHostInterface();
    ~VLVSTHostInterface() override;

    // Links the coordinator and copies the settings' tempo; only when all four are present.
    void link(PluginSlot* slot, AudioBackendSet* audio, VLMidiBase* midi, HostSettings* settings);
    bool linked() const;
    // Where user-facing messages go (message boxes in the application); null = nowhere.
    void setMessageSink(platform::MessageSink* sink) { messages = sink; }
    // Called, on the user-interface thread, while an engine start or stop is waited for: it
    // answers the application's messages for at most maxMs. Null = the thread only sleeps.
    using WaitHook = void (*)(uint32_t maxMs, void* user);
    void setWaitHook(WaitHook hook, void* user) {
        waitHook = hook;
        waitHookUser = user;
    }

    // false when nothing runs afterwards. A start refused for a missing input device has told
    // the user why already: startFailureTold() then answers true until the next start.
    bool StartAudioEngine();
    bool startFailureTold() const { return failureTold; }
    // The last start was ended by a stop asked for while it was waited for (the engine command,
    // the shut-down): no failure of the device.
    bool startWasCancelled() const { return startCancelled; }
    // Stops whatever engine runs, whether or not the links are still there.
    void StopAudioEngine();
    // From here on every engine start is refused (the plug-in is about to be closed).
    void beginShutdown() { shutDownBegun = true; }
    bool StartMidiEngine();
    void StopMidiEngine();
    // User-interface thread, at each caption tick: whether the running engine stopped on its
    // own (its back end reported a failed device, or a device loop ended without being asked)
    // or its driver asks for a restart. After DeviceFailed the engine has been stopped and
    // failedDeviceName() names the device it ran on.
    EngineNotice PollEngine();
    const std::wstring& failedDeviceName() const { return lastFailedDevice; }
    // The output device of the last start that got as far as its back end.
    const std::wstring& engineDeviceName() const { return runningDeviceName; }

    // Makes a change to the plug-in while no process cycle is inside it (never on the audio
    // thread): a running cycle leaves the plug-in alone (silence, the events kept for the next
    // block) until the change is made. false, and nothing changed, when a block did not leave
    // the plug-in within a second or there is no plug-in.
    bool RunBetweenBlocks(const std::function<void()>& change);
    BetweenBlocks betweenBlocks() {
        return [this](const std::function<void()>& change) { return RunBetweenBlocks(change); };
    }
    // A new block size of a running engine, taken over without a restart: the process cycle
    // leaves the plug-in alone meanwhile, the plug-in is suspended, told the size and resumed,
    // and the plug-in's buffers are made for it. For a back end that reports the change
    // between its cycles (JACK's buffer-size callback); never on the audio thread. false when
    // the engine does not run or the change could not be made (a restart then tells the
    // plug-in instead).
    bool ChangeBlockSize(uint32_t frames);
    // The same, as the back end's hook (user = the coordinator).
    static bool OnBlockSizeChange(uint32_t frames, void* user);
    // Block size changes taken over without a restart so far.
    uint64_t blockSizeChanges() const { return blockChanges.load(std::memory_order_acquire); }
    // The frame-timed events of MIDI engines that run inside the process cycle, dropped because
    // a block's list was full.
    uint64_t droppedBlockEvents() const { return blockEvents.droppedEvents(); }

    // The per-block function given to the back ends (user = the coordinator).
    static bool RenderBlock(float** inputs, float** outputs, uint32_t frames, void* user);
    // Installed as the slot's tempoHook after the first successful engine start.
    static void OnPluginTempo(double tempo, void* user);
    // Installed as the slot's midiOutHook when a MIDI output is open.
    static void forwardMidiOut(const vst::VstMidiEvent* event, void* user);
    // The handler given to the MIDI engine for each opened input (value = MidiInputContext).
    static void MidiInputHandler(const MidiMessage* message, void* context);

    // Computer-keyboard notes, octave keys and "P" (All Notes Off); true = the key was used.
    bool KeyboardNote(int key, bool isKeyDown);
    // Whether the key's press started a note that still sounds (its release ends that note).
    bool keyHoldsNote(int key) const;
    // Ends every note the computer keyboard started (the keyboard went to another window).
    void ReleaseKeyboardNotes();
    // All Notes Off on channel 1, as the Panic command sends it.
    void Panic();
    // Appends one event for the next block (any thread but the audio thread).
    bool insertMidiEvent(uint8_t status, uint8_t data1, uint8_t data2, uint8_t channel);
    // Note-offs that engine starts sent for notes still sounding when the last run ended.
    uint64_t notesEndedByRestarts() const { return restartNoteOffs; }

    // The tempo hand-over (see the top of this file).
    void handOverTempo(double newTempo);
    // Asks the process cycle to start or stop the transport at its next block.
    void requestTransport(bool playing);
    bool transportPlaying() const { return playing.load(std::memory_order_acquire); }

    // Plug-in state: the bank chunk in "saved.chunk", or for a plug-in without chunks its
    // parameters and program in "saved.parameters". Both live where "contentpath" points
    // (the name appended to it as it stands) or, without that value, in the user's own folder
    // for this effect (see StateFilePath).
    // A save answers the file it could not write and why (saved stays true when there was
    // nothing to save); at the end of a session such a file goes to a second place (keptAt).
    struct StateSave {
        bool saved = true;
        std::filesystem::path file;
        std::wstring reason;
        std::filesystem::path keptAt;
    };
    StateSave SaveChunk();
    StateSave SaveChunkForSessionEnd();
    // A file an earlier session's end kept in a second place: the load hands it back and
    // moves it home where that works now. LoadChunk answers every such file.
    struct KeptFile {
        std::filesystem::path keptAt;
        std::filesystem::path home;
        bool movedHome = false;
    };
    std::vector<KeptFile> LoadChunk();
    // The path of a file kept beside the plug-in's state; the user's folder is created when
    // create is true. Nothing without settings or when no folder can be named.
    std::optional<std::filesystem::path> StateFilePath(const std::wstring& fileName, bool create);
    // The same file in the second places (local application data, then temporary folder).
    std::vector<std::filesystem::path> SecondPlacePaths(const std::wstring& fileName);

    // The device family the engine runs on; 0 while it is stopped (user-interface thread).
    uint32_t RunningDeviceType() const { return engineRunning.load(std::memory_order_acquire) ? runningType : 0; }

    // Player and recorder (user-interface thread).
    uint32_t LoadSample(const std::filesystem::path& path);
    bool StartPlayer(PlayState mode, bool loop);
    // The buffer for the whole length is allocated at once but supplied by the system page by
    // page: the start makes the first kRecordReserveLeadSeconds ready, and ReserveRecording
    // (the player window's timer) keeps that lead ahead of the recording, so that neither the
    // start nor the process cycle waits for memory. The process cycle stores only into what is
    // ready (recordReserved).
    bool StartRecorder(PlayState mode, uint32_t maxFrames);
    // whole: all of the buffer at once (an offline render, where no timer runs and no block
    // is due in real time).
    void ReserveRecording(bool whole = false);
    void FreeRecording();
    // The end of the session: a recording that no one can be asked about is saved beside the
    // plug-in's state as "Recording YYYY-MM-DD HH-MM-SS.wav". Answers the file, none when there
    // was nothing to save or it could not be written.
    std::optional<std::filesystem::path> SaveRecordingForSessionEnd();
    // Stops the player and frees its decoded arrays once no block reads them; the file itself
    // stays loaded (a later window decodes it again).
    void FreePlayer();
    // Limits the recording to [-1, 1] and writes it as a 16-bit stereo WAV (or AIFF, by the
    // name's last letter) at the device rate.
    bool SaveRecording(const std::filesystem::path& path);
    // Sample rate of the output device (0 without one), used by the player and its window.
    double deviceSampleRate() const;
    uint32_t loadedFileSampleRate() const;
    // Asks the process cycle to restart the musical position from 0 at its next block.
    void resetMusicalPosition() { ppqResetRequest.store(true, std::memory_order_release); }

    // Bounds of the engine thread's first block and of its end after a stop (tests shorten them).
    uint32_t engineStartTimeoutMs = kEngineStartTimeoutMs;
    uint32_t engineStopTimeoutMs = kEngineStopTimeoutMs;

    // Takes a tempo set by the plug-in or followed from an external clock into the settings,
    // and writes the settings for one set by the plug-in. Called on the user-interface thread
    // (the main window's timer): the other threads never touch the settings, which this
    // thread reads and saves.
    void SavePendingTempo();


    // The device's input reaches the plug-in as silence (the player still plays into it): an
    // effect's first start must not route a microphone straight to the speakers.
    std::atomic<bool> inputMuted{false};

    CpuMeter cpuMeter;
    int32_t blockCounter = 0;
    RelaxedAtomic<int32_t> cpuPercent{0};

private:
    bool renderBlock(float** inputs, float** outputs, uint32_t frames);
    bool holdCycleOut(const std::function<void()>& change);
    void handleMidiMessage(const MidiMessage& message, MidiInputContext& input);
    void handleClockMessage(const MidiMessage& message, MidiInputContext& input);
    // Stores a usable tempo for the next block without waiting.
    void replaceTempo(double newTempo);
    void showError(const wchar_t* text);
    struct EngineLoop;
    static bool loopRenderBlock(float** inputs, float** outputs, uint32_t frames, void* loop);
    bool joinEngineThread(uint32_t timeoutMs);
    // StartAudioEngine and StopAudioEngine without the nesting rules.
    bool startEngine();
    void stopEngine();
    // One step of an engine wait: the wait hook (outermost wait only), else a short sleep.
    void waitStep();
    void engineLoopEnded();
    // Lets go of a device loop (or driver) that did not end: it is cut off from the
    // coordinator, and the plug-in stays open until it ends.
    void abandonEngineLoop();
    // Finishes an ASIO stop that left a callback under way (waiting at most waitMs); true when
    // nothing of the last run can call in any more.
    bool settleCallbackStop(uint32_t waitMs);
    // Stops the player (or recorder) and waits, bounded, until no block is inside its step,
    // so that its arrays may be replaced. false = the audio thread did not let go in time.
    bool quiescePlayer();
    bool quiesceRecorder();
    // Before a start at this rate: a take recorded at another rate ends (and is saved at its
    // own rate); a take without frames yet records at the new one.
    void EndTakeAtOtherRate(double rate);

    platform::MessageSink* messages = nullptr;
    WaitHook waitHook = nullptr;
    void* waitHookUser = nullptr;

    // What the user-interface thread is doing with the engine, for calls nested in its waits.
    enum class EngineCall { None, Starting, Stopping };
    EngineCall engineCall = EngineCall::None;
    bool insideWaitHook = false;
    bool startCancelled = false;  // a nested stop ended the start being waited for
    bool shutDownBegun = false;  // user-interface thread
    bool failureTold = false;

    // Engine run state (user-interface thread).
    std::thread engineThread;
    std::shared_ptr<EngineLoop> engineLoop;
    VLAudioBase* runningBackend = nullptr;
    VLAudioBase* settlingBackend = nullptr;  // stopped, with a callback still under way
    uint32_t runningType = 0;
    std::wstring runningDeviceName;
    std::wstring lastFailedDevice;
    double engineSampleRate = 44100.0;
    ProcessBuffers processBuffers;

    // Audio-thread hand-offs beyond the ones of the base.
    std::atomic<bool> playing{false};  // mirrors kVstTransportPlaying for other threads
    std::atomic<bool> ppqResetRequest{false};
    std::atomic<uint32_t> clockStartCount{0};  // MIDI start messages so far
    uint32_t lastClockStartCount = 0;          // audio thread
    std::atomic<bool> cycleInside{false};  // a process cycle is in progress
    std::atomic<bool> tempoToSave{false};  // a tempo set by the plug-in awaits SavePendingTempo
    std::atomic<bool> playerBusy{false};
    std::atomic<bool> recorderBusy{false};
    double recordRate = 0.0;  // the device rate of the take (user-interface thread)

    std::vector<std::unique_ptr<MidiInputContext>> inputContexts;

    // A MIDI engine that delivers inside the process cycle (null for the others): its inputs
    // go into blockEvents at their frames, the plug-in's output to its frames of the block.
    BlockTimedMidi* timedMidi = nullptr;
    BlockEventList blockEvents;  // audio thread (an engine start clears it while no block runs)
    uint32_t pieceStart = 0;     // audio thread: frame of the block where the current piece starts
    // Changes made between blocks (a block size, a preset): the change announces itself before
    // it looks at the cycle and the stop, which announce themselves before they look at it.
    // Counts, as a block size change of the server's thread may meet one of the user's.
    std::atomic<int32_t> holdsBusy{0};
    std::atomic<int32_t> cycleHolds{0};  // while above 0 the process cycle leaves the plug-in alone
    std::atomic<uint64_t> blockChanges{0};

    // Notes the plug-in was sent and not yet told to end, by channel * 128 + note: written by
    // the audio thread, read by an engine start while no block runs. A start ends them, as
    // their releases may have come while no engine ran.
    uint64_t soundingNotes[16 * 128 / 64] = {};
    uint64_t restartNoteOffs = 0;
    void trackSoundingNotes(const vst::VstEvents& list);
    // An engine start: what came while no engine ran is not played now, and the notes that
    // sounded when the last run ended are ended.
    void forgetStaleEvents();
};

}  // namespace vl
