#include "dialogs/models/PlayerWindowModel.h"

#include <algorithm>
#include <limits>

#include "dialogs/models/DialogText.h"
#include "host/VLVSTHostInterface.h"
#include "platform/Text.h"
#include "settings/HostSettings.h"
#include "settings/KeyValueStore.h"

namespace vl {

namespace {

constexpr wchar_t kPlayText[] = L"Play";
constexpr wchar_t kStopText[] = L"Stop";
constexpr wchar_t kWaitingText[] = L"Waiting";
constexpr wchar_t kStartRecordingText[] = L"Start Recording";
constexpr wchar_t kStopRecordingText[] = L"Stop Recording";
constexpr wchar_t kZeroPlayTime[] = L"0:00";
constexpr wchar_t kZeroRecordTime[] = L"0:00 / max:";

// The shortest stored path that can name a file ("C:\a").
constexpr size_t kShortestSamplePath = 5;

bool inRange(int index, int count) { return index >= 0 && index < count; }

// What follows the last separator; the whole text when there is none.
std::wstring lastPathPart(const std::wstring& path) {
    const size_t separator = path.find_last_of(L"\\/");
    return separator == std::wstring::npos ? path : path.substr(separator + 1);
}

}  // namespace

const wchar_t* recordOptionText(int option) {
    static const wchar_t* const texts[kRecordOptionCount] = {L"Manually", L"Start Recording on Midi Event",
                                                             L"Start Recording on Play", L"Start/Stop on Play/Stop"};
    return inRange(option, kRecordOptionCount) ? texts[option] : L"";
}

std::wstring samplePathTooLongText(const std::wstring& rememberedFile) {
    if (rememberedFile.empty()) return kSamplePathTooLongText;
    return L"The path of this file is too long to be remembered: it plays now, but the next start loads \"" +
           rememberedFile + L"\", the file remembered before.";
}

int recordOptionCount(bool playerDisabled) { return playerDisabled ? 2 : kRecordOptionCount; }

uint32_t longestRecordFrames(double deviceSampleRate) { return recordLongestFrames(deviceSampleRate); }

uint32_t recordBufferFrames(uint32_t recordMaxFrames, double deviceSampleRate) {
    return recordCapacityFrames(recordMaxFrames, deviceSampleRate);
}

PlayerWindowModel::PlayerWindowModel(VLVSTHostInterface& host, HostSettings& settings, bool playerDisabled,
                                     platform::MessageSink* messages, SavePathChooser* saveChooser)
    : host(host), settings(settings), playerDisabled(playerDisabled), messages(messages), saveChooser(saveChooser) {}

bool PlayerWindowModel::initialise() {
    connected = settings.outputDevice != nullptr;
    if (!connected) return false;
    isPlaying = false;
    isRecording = false;
    view.detectTempo = settings.sampleCalcTempo;
    view.fileName.clear();
    if (settings.samplePath.size() >= kShortestSamplePath) {
        // Loaded silently: a file that went missing only leaves the name empty.
        loaded = host.LoadSample(platform::pathFromWide(settings.samplePath));
        if (loaded != 0) view.fileName = lastPathPart(settings.samplePath);
        detectTempo();
    }
    view.loopFile = settings.sampleLooped;
    view.startByMidi = settings.sampleStartByMidi;
    // A stored choice the list does not offer (an instrument has two options) falls back to
    // the first entry, which is then also the option in force.
    view.recordOptionCount = recordOptionCount(playerDisabled);
    view.recordOption = inRange(settings.sampleRecordOption, view.recordOptionCount) ? settings.sampleRecordOption : 0;
    view.maxLengthIndex = inRange(settings.sampleRecordMaxBars, kRecordLengthCount) ? settings.sampleRecordMaxBars : 0;
    updateControls();
    view.openOnStartup = settings.openPlayerOnStartup;
    if (settings.startPlayerAutomatic) togglePlay();
    return true;
}

void PlayerWindowModel::detectTempo() {
    if (!view.detectTempo || loaded == 0) {
        view.tempoText.clear();
        return;
    }
    const std::optional<double> tempo = DetectTempo(loaded, host.loadedFileSampleRate());
    if (tempo) host.handOverTempo(*tempo);
    view.tempoText = detectedTempoText(tempo);
}

bool PlayerWindowModel::loadFile(const std::filesystem::path& path) {
    if (!connected) return false;
    loaded = host.LoadSample(path);
    if (loaded == 0) {
        showMessage(messages, kLoadSampleErrorText);
        view.fileName.clear();
        detectTempo();
        return false;
    }
    const std::wstring wide = platform::pathToWide(path);
    view.fileName = lastPathPart(wide);
    // A path the settings cannot read back would be stored and lost at the next start: the
    // file plays now, and the user hears why it will not come back.
    if (wide.size() > KeyValueStore::kMaxStringChars) {
        // The stored path stays: the file remembered before comes back, and the text says so.
        const std::wstring text = samplePathTooLongText(
            settings.samplePath.size() >= kShortestSamplePath ? lastPathPart(settings.samplePath) : std::wstring());
        showMessage(messages, text.c_str(), kPlayerCaption, platform::MessageButtons::Ok, platform::MessageIcon::Warning);
    } else {
        settings.samplePath = wide;
    }
    settings.saveSettings();
    detectTempo();
    return true;
}

void PlayerWindowModel::rewind() {
    if (!connected) return;
    view.playTime = kZeroPlayTime;
    // Restarting the player in its state is the safe way to move its position: the audio
    // thread owns the position while the player runs.
    const int32_t state = host.playerState.load(std::memory_order_acquire);
    if (state != Stopped) {
        host.StartPlayer(static_cast<PlayState>(state), view.loopFile);
    } else {
        host.resetMusicalPosition();
    }
}

void PlayerWindowModel::togglePlay() {
    if (!connected || playerDisabled) return;
    isPlaying = !isPlaying;
    const bool recorderFollows = view.recordOption == RecordOnPlay || view.recordOption == RecordWithPlayStop;
    if (isPlaying) {
        const PlayState mode = view.startByMidi || recorderFollows ? Waiting : Running;
        if (!host.StartPlayer(mode, view.loopFile)) {
            isPlaying = false;
            updateControls();
            return;
        }
        view.playText = view.startByMidi ? kWaitingText : kStopText;
        if (recorderFollows) {
            toggleRecording(true);
            // Player and recorder begin in the same block.
            if (!view.startByMidi) host.startBothRequest.store(true, std::memory_order_release);
        }
    } else {
        if (host.playerLeft) host.StartPlayer(Stopped, view.loopFile);
        if (view.recordOption == RecordWithPlayStop) toggleRecording(true);
    }
    updateControls();
}

void PlayerWindowModel::toggleRecording(bool fromPlay) {
    if (!connected) return;
    const bool start = fromPlay ? isPlaying : !isRecording;
    if (start && isRecording) {
        // Play again while the recording started by the last Play still runs: it goes on
        // rather than being replaced (and lost) by a new one.
        updateControls();
        return;
    }
    isRecording = start;
    if (start) {
        const int option = view.recordOption;
        const bool armed = option == RecordOnMidiEvent ||
                           (fromPlay && (view.startByMidi || option == RecordOnPlay || option == RecordWithPlayStop));
        const PlayState mode = armed ? Waiting : Running;
        RecordLengthRequest request;
        request.recordOption = option;
        request.maxLengthIndex = view.maxLengthIndex;
        request.loopFile = view.loopFile;
        request.loadedFrames = loaded;
        request.deviceSampleRate = host.deviceSampleRate();
        request.tempo = host.tempo.load(std::memory_order_acquire);
        request.fileSampleRate = host.loadedFileSampleRate();
        request.fromPlay = fromPlay;
        maxFrames = RecordLengthFrames(request);
        if (host.StartRecorder(mode, maxFrames)) {
            view.recordText = mode == Waiting ? kWaitingText : kStopRecordingText;
        } else {
            isRecording = false;
            showMessage(messages, kRecordStartErrorText);
        }
    } else {
        stopRecording();
    }
    updateControls();
}

void PlayerWindowModel::stopRecording() {
    host.StartRecorder(Stopped, 0);
    // One question at a time: the question's own message loop runs the timer, which may end
    // the player and with it the recording again.
    if (asking || host.recordedFrames == 0 || !host.recordLeft) return;
    asking = true;
    takeKept = false;
    const platform::MessageAnswer answer =
        showMessage(messages, kSaveRecordQuestionText, kPlayerCaption, platform::MessageButtons::YesNo,
                    platform::MessageIcon::Question);
    if (answer == platform::MessageAnswer::Cancel) {
        // The box ended without an answer: nobody said No. The take stays and is offered again
        // by Stop Recording or when the host closes.
        isRecording = true;
        takeKept = true;
        asking = false;
        return;
    }
    if (answer == platform::MessageAnswer::Yes) saveRecordingLoop();
    host.FreeRecording();
    asking = false;
}

void PlayerWindowModel::offerRecording() {
    if (!connected || !isRecording || asking) return;
    toggleRecording(false);
}

void PlayerWindowModel::saveRecordingLoop() {
    if (!saveChooser) return;
    for (;;) {
        const std::optional<std::filesystem::path> path = saveChooser->chooseSavePath();
        if (!path || host.SaveRecording(*path)) return;
        showMessage(messages, kSaveRecordErrorText, kPlayerCaption);
    }
}

void PlayerWindowModel::timerTick() {
    // While the save question is open nothing moves on: the answer decides.
    if (!connected || asking) return;
    const double rate = host.deviceSampleRate();
    if (isPlaying) {
        if (host.playerState.load(std::memory_order_acquire) == Running) view.playText = kStopText;
        // The engine says when the file has ended: its frames and the output frames differ
        // whenever the file's rate is not the device's.
        if (host.playbackEnded && !view.loopFile) {
            togglePlay();
            return;
        }
        view.playTime = playerTimeText(host.playedFrames, rate);
    }
    if (isRecording && !takeKept) {
        // The engine ended the take (a restart at another rate): offered as by Stop Recording.
        if (host.recorderState.load(std::memory_order_acquire) == Stopped) {
            toggleRecording(false);
            return;
        }
        host.ReserveRecording();
        if (host.recorderState.load(std::memory_order_acquire) == Running) view.recordText = kStopRecordingText;
        const uint32_t recorded = host.recordedFrames;
        if (host.recordInterrupted.load(std::memory_order_acquire)) {
            // The engine ended the take where its memory was not ready in time: it is offered
            // as far as it goes, and the window says why it stopped.
            view.recordTime = kRecordInterruptedText;
            toggleRecording(false);
            view.recordTime = kRecordInterruptedText;
            return;
        }
        // A full buffer ends the recording as well: nothing more would be kept.
        const bool full = host.recordCapacity > 0 && recorded >= host.recordCapacity;
        if (recorded >= maxFrames || full) {
            toggleRecording(false);
            return;
        }
        view.recordTime = recorderTimeText(recorded, rate);
    }
    updateControls();
}

void PlayerWindowModel::updateControls() {
    if (!isPlaying) {
        view.playText = kPlayText;
        view.playTime = kZeroPlayTime;
    }
    view.recordOptionEnabled = !isRecording;
    if (!isRecording) {
        view.recordText = kStartRecordingText;
        view.recordTime = kZeroRecordTime;
    }
    view.maxLengthEnabled = true;
    switch (view.recordOption) {
        case RecordManually:
        case RecordOnMidiEvent:
            view.recordEnabled = true;
            break;
        case RecordOnPlay:
            // Play starts the recording; by hand it can only be stopped.
            view.recordEnabled = isRecording;
            break;
        case RecordWithPlayStop:
            view.recordEnabled = false;
            view.maxLengthEnabled = false;
            break;
        default:
            view.recordEnabled = false;
    }
    view.playerEnabled = !playerDisabled;
    view.fileOptionsEnabled = !playerDisabled && !isPlaying;
}

void PlayerWindowModel::optionChanged() {
    settings.saveSettings();
    updateControls();
}

void PlayerWindowModel::setDetectTempo(bool on) {
    view.detectTempo = settings.sampleCalcTempo = on;
    settings.saveSettings();
    detectTempo();
}

void PlayerWindowModel::setLoopFile(bool on) {
    view.loopFile = settings.sampleLooped = on;
    optionChanged();
}

void PlayerWindowModel::setStartByMidi(bool on) {
    view.startByMidi = settings.sampleStartByMidi = on;
    optionChanged();
}

void PlayerWindowModel::selectRecordOption(int option) {
    if (!inRange(option, view.recordOptionCount)) return;
    view.recordOption = settings.sampleRecordOption = option;
    optionChanged();
}

void PlayerWindowModel::selectMaxLength(int index) {
    if (!inRange(index, kRecordLengthCount)) return;
    view.maxLengthIndex = settings.sampleRecordMaxBars = index;
    optionChanged();
}

void PlayerWindowModel::setOpenOnStartup(bool on) {
    view.openOnStartup = settings.openPlayerOnStartup = on;
    settings.saveSettings();
}

void PlayerWindowModel::close() {
    if (!connected) return;
    if (isRecording) toggleRecording(false);
    host.FreePlayer();
    isPlaying = false;
    settings.openPlayerOnStartup = view.openOnStartup;
    settings.saveSettings();
}

}  // namespace vl
