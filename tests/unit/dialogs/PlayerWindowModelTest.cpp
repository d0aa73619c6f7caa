// The Audio Player / Recorder window's decisions: option lists, enabling by option and state,
// button texts, the stops made by the timer, the save question and loop.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <vector>

#include "DialogRig.h"
#include "dialogs/models/PlayerWindowModel.h"
#include "platform/Text.h"
#include "player/AudioFile.h"
#include "support/ScratchDir.h"

using namespace vltest;
using vl::PlayerWindowModel;
namespace fs = std::filesystem;
using Answer = vl::platform::MessageAnswer;

namespace {

fs::path writeWav(const fs::path& path, uint32_t frames, uint32_t rate) {
    std::vector<float> left(frames, 0.25f), right(frames, -0.25f);
    std::unique_ptr<vl::VLAudioFileBase> file;
    EXPECT_TRUE(vl::CreateAudioFile(file, path, frames, rate));
    EXPECT_TRUE(file->writeStereo16(vl::StereoBuffer{left.data(), right.data()}, frames));
    return path;
}

struct ListChooser : vl::SavePathChooser {
    std::vector<std::optional<fs::path>> answers;
    size_t calls = 0;
    std::optional<fs::path> chooseSavePath() override {
        return calls < answers.size() ? answers[calls++] : std::nullopt;
    }
};

// A device at a low rate keeps the recorder's buffers small.
struct PlayerRig {
    explicit PlayerRig(double rate = 1000.0, bool instrument = false) {
        if (instrument) rig.makeInstrument();
        rig.settings->outputDevice = rig.asio.add(vl::kDeviceTypeASIO, L"Card", false, false, rate);
        rig.load();
    }
    PlayerWindowModel& open(bool playerDisabled = false) {
        model = std::make_unique<PlayerWindowModel>(rig.host, *rig.settings, playerDisabled, &rig.messages, &chooser);
        EXPECT_TRUE(model->initialise());
        return *model;
    }
    ScratchDir dir{"player-window"};
    DialogRig rig;
    ListChooser chooser;
    std::unique_ptr<PlayerWindowModel> model;
};

}  // namespace

TEST(PlayerWindowLists, OptionsAndBufferSizing) {
    EXPECT_EQ(vl::recordOptionCount(false), 4);
    EXPECT_EQ(vl::recordOptionCount(true), 2);
    EXPECT_STREQ(vl::recordOptionText(1), L"Start Recording on Midi Event");
    EXPECT_STREQ(vl::recordOptionText(3), L"Start/Stop on Play/Stop");
    EXPECT_EQ(vl::longestRecordFrames(44100.0), 42336000u);   // "16 min"
    EXPECT_EQ(vl::recordBufferFrames(21168000, 44100.0), 21168000u);  // "8 min": all of it
    EXPECT_EQ(vl::recordBufferFrames(0, 44100.0), 13230000u);  // no length: 300 s
    EXPECT_EQ(vl::recordBufferFrames(UINT32_MAX, 48000.0), 46080000u);
}

TEST(PlayerWindowModel, RecordControlsFollowOptionAndState) {
    struct Case {
        int option;
        bool recording;
        bool record, maxLength, options;
        const wchar_t* text;
    };
    const std::vector<Case> cases = {
        {0, false, true, true, true, L"Start Recording"},   {1, false, true, true, true, L"Start Recording"},
        {2, false, false, true, true, L"Start Recording"},  {3, false, false, false, true, L"Start Recording"},
        {0, true, true, true, false, L"Stop Recording"},    {1, true, true, true, false, L"Waiting"},
        {2, true, true, true, false, L"Stop Recording"},
    };
    for (const Case& c : cases) {
        PlayerRig p;
        p.rig.settings->sampleRecordOption = c.option;
        PlayerWindowModel& model = p.open();
        if (c.recording) model.toggleRecording();
        const vl::PlayerControls& v = model.controls();
        EXPECT_EQ(v.recordEnabled, c.record) << c.option << c.recording;
        EXPECT_EQ(v.maxLengthEnabled, c.maxLength) << c.option << c.recording;
        EXPECT_EQ(v.recordOptionEnabled, c.options) << c.option << c.recording;
        EXPECT_EQ(v.recordText, c.text) << c.option << c.recording;
    }
}

TEST(PlayerWindowModel, AnInstrumentGetsNoPlayerAndTwoOptions) {
    PlayerRig p(1000.0, true);
    p.rig.settings->sampleRecordOption = 3;  // stored for an effect earlier
    PlayerWindowModel& model = p.open(true);
    const vl::PlayerControls& v = model.controls();
    EXPECT_EQ(v.recordOptionCount, 2);
    EXPECT_FALSE(v.playerEnabled);
    EXPECT_FALSE(v.fileOptionsEnabled);
    EXPECT_EQ(v.recordOption, 0);
    EXPECT_TRUE(v.recordEnabled) << "the option shown is the option in force";
    model.togglePlay();
    EXPECT_FALSE(model.playing());
}

TEST(PlayerWindowModel, PlaysStopsAtTheEnginesEndOfFile) {
    PlayerRig p;
    // A wide-character folder: the path stays UTF-16 from the settings to the file.
    const fs::path folder = p.dir / vl::platform::pathFromWide(L"\u03A9\u03BC\u00E9\u03B3\u03B1 \u97F3");
    fs::create_directories(folder);
    const fs::path file = writeWav(folder / "loop.wav", 2000, 1000);
    p.rig.settings->samplePath = vl::platform::pathToWide(file);
    p.rig.settings->sampleStartByMidi = true;
    PlayerWindowModel& model = p.open();
    EXPECT_EQ(model.loadedFrames(), 2000u);
    EXPECT_EQ(model.controls().fileName, L"loop.wav");

    model.togglePlay();
    EXPECT_EQ(model.controls().playText, L"Waiting");
    EXPECT_FALSE(model.controls().fileOptionsEnabled);
    p.rig.host.playerState = vl::Running;  // the first MIDI block
    p.rig.host.playedFrames = 65400;
    model.timerTick();
    EXPECT_EQ(model.controls().playText, L"Stop");
    EXPECT_EQ(model.controls().playTime, L"1:05");

    // More output frames than file frames (a file slower than the device) is no end yet.
    p.rig.host.playedFrames = 2100;
    model.timerTick();
    EXPECT_TRUE(model.playing());
    p.rig.host.playbackEnded = true;
    model.timerTick();
    EXPECT_FALSE(model.playing());
    EXPECT_EQ(model.controls().playText, L"Play");
    EXPECT_EQ(p.rig.host.playerState.load(), vl::Stopped);
    EXPECT_TRUE(model.controls().fileOptionsEnabled);

    // A looping file plays on; "<<|" restarts it in its state.
    model.setLoopFile(true);
    model.togglePlay();
    p.rig.host.playerState = vl::Running;
    p.rig.host.playbackEnded = true;
    p.rig.host.playedFrames = 1500;
    model.timerTick();
    EXPECT_TRUE(model.playing());
    model.rewind();
    EXPECT_EQ(p.rig.host.playedFrames, 0u);
    EXPECT_EQ(p.rig.host.playerState.load(), vl::Running);
}

TEST(PlayerWindowModel, LoadFileReportsFailureAndDetectsTempo) {
    PlayerRig p(44100.0);
    p.rig.settings->sampleCalcTempo = true;
    PlayerWindowModel& model = p.open();
    p.rig.host.tempo = 100.0;
    const fs::path good = writeWav(p.dir / "four-seconds.wav", 4 * 44100, 44100);
    EXPECT_TRUE(model.loadFile(good));
    EXPECT_EQ(model.controls().tempoText, L"120.00 BPM");
    EXPECT_DOUBLE_EQ(p.rig.host.tempo.load(), 120.0);
    EXPECT_EQ(p.rig.savedHostValue(L"samplePath"), vl::platform::pathToWide(good));

    EXPECT_TRUE(model.loadFile(writeWav(p.dir / "short.wav", 22050, 44100)));
    EXPECT_EQ(model.controls().tempoText, L"failed");

    EXPECT_FALSE(model.loadFile(p.dir / "missing.wav"));
    EXPECT_EQ(p.rig.messageTexts(), (std::vector<std::wstring>{L"Error loading Sample File!"}));
    EXPECT_EQ(model.controls().fileName, L"");
    EXPECT_EQ(model.controls().tempoText, L"");
    EXPECT_EQ(p.rig.settings->samplePath, vl::platform::pathToWide(p.dir / "short.wav"));
}

TEST(PlayerWindowModel, StoppingARecordingOffersToSaveUntilItWorks) {
    struct Case {
        Answer answer;
        uint32_t frames;
        size_t choices;     // save dialogs shown
        size_t messages;    // question and errors
    };
    for (const Case& c : {Case{Answer::Yes, 300, 2, 2}, Case{Answer::No, 300, 0, 1}, Case{Answer::Yes, 0, 0, 0}}) {
        PlayerRig p;
        PlayerWindowModel& model = p.open();
        p.rig.messages.answer = c.answer;
        p.chooser.answers = {p.dir / "record.xyz", p.dir / "record.wav"};  // the first cannot be written
        model.toggleRecording();
        ASSERT_TRUE(p.rig.host.recordLeft);
        p.rig.host.recordedFrames = c.frames;
        model.toggleRecording();
        EXPECT_FALSE(model.recording());
        EXPECT_EQ(p.chooser.calls, c.choices);
        ASSERT_EQ(p.rig.messages.shown.size(), c.messages);
        if (c.messages > 0) {
            EXPECT_EQ(p.rig.messages.shown[0].text, L"Would you like to save the record?");
            EXPECT_EQ(p.rig.messages.shown[0].caption, L"Vorlane");
        }
        if (c.messages > 1) {
            EXPECT_EQ(p.rig.messages.shown[1].text, L"Error saving record to file!");
        }
        EXPECT_EQ(fs::exists(p.dir / "record.wav"), c.choices == 2);
        if (c.frames > 0) {
            EXPECT_FALSE(p.rig.host.recordLeft) << "freed after the question";
        }
    }
}

TEST(PlayerWindowModel, RecordingStopsAtItsLengthOrAFullBuffer) {
    PlayerRig p;
    p.rig.settings->sampleRecordMaxBars = 17;  // "8 min": longer than a recording without a length
    PlayerWindowModel& model = p.open();
    p.rig.messages.answer = Answer::No;
    model.toggleRecording();
    EXPECT_EQ(model.recordMaxFrames(), 480000u);
    EXPECT_EQ(vl::recordBufferFrames(model.recordMaxFrames(), 1000.0), 480000u);
    EXPECT_EQ(p.rig.host.recordCapacity, 480000u);  // the whole length is kept
    p.rig.host.recordedFrames = p.rig.host.recordCapacity - 1;
    model.timerTick();
    EXPECT_TRUE(model.recording());
    EXPECT_EQ(model.controls().recordTime, vl::recorderTimeText(p.rig.host.recordCapacity - 1, 1000.0));
    p.rig.host.recordedFrames = p.rig.host.recordCapacity;
    model.timerTick();
    EXPECT_FALSE(model.recording());
    EXPECT_EQ(p.rig.messageTexts(), (std::vector<std::wstring>{L"Would you like to save the record?"}));

    // "1 Bar" at 120 BPM: 2000 frames at 1 kHz.
    model.selectMaxLength(0);
    model.toggleRecording();
    EXPECT_EQ(model.recordMaxFrames(), 2000u);
    p.rig.host.recordedFrames = 2000;
    model.timerTick();
    EXPECT_FALSE(model.recording());

    // A take the engine had to end early (its memory was not ready in time) stops there, is
    // offered as it is, and the window says why.
    model.toggleRecording();
    p.rig.host.recordedFrames = 700;
    p.rig.host.recordInterrupted.store(true);
    model.timerTick();
    EXPECT_FALSE(model.recording());
    EXPECT_EQ(model.controls().recordTime, vl::kRecordInterruptedText);
    EXPECT_EQ(p.rig.messageTexts().size(), 3u);
}

TEST(PlayerWindowModel, RecordingFollowsThePlayer) {
    for (int option : {vl::RecordOnPlay, vl::RecordWithPlayStop}) {
        PlayerRig p;
        p.rig.settings->samplePath = vl::platform::pathToWide(writeWav(p.dir / "a.wav", 1000, 1000));
        p.rig.settings->sampleRecordOption = option;
        PlayerWindowModel& model = p.open();
        p.rig.messages.answer = Answer::No;
        model.togglePlay();
        EXPECT_TRUE(model.recording());
        EXPECT_TRUE(p.rig.host.startBothRequest.load());
        EXPECT_EQ(model.controls().playText, L"Stop");
        p.rig.host.recordedFrames = 500;
        model.togglePlay();  // Stop
        EXPECT_EQ(model.recording(), option == vl::RecordOnPlay) << option;
        if (option == vl::RecordOnPlay) {
            // Play again: the running recording goes on and keeps what it has.
            model.togglePlay();
            EXPECT_TRUE(model.recording());
            EXPECT_EQ(p.rig.host.recordedFrames, 500u);
            EXPECT_TRUE(p.rig.messages.shown.empty());
        } else {
            EXPECT_EQ(p.rig.messageTexts(), (std::vector<std::wstring>{L"Would you like to save the record?"}));
        }
    }
}

TEST(PlayerWindowModel, ClosingStopsThePlayerAndOffersTheRecording) {
    PlayerRig p;
    p.rig.settings->samplePath = vl::platform::pathToWide(writeWav(p.dir / "a.wav", 1000, 1000));
    PlayerWindowModel& model = p.open();
    p.rig.messages.answer = Answer::No;
    model.togglePlay();
    model.toggleRecording();
    p.rig.host.recordedFrames = 10;
    model.setOpenOnStartup(true);
    p.rig.settings->openPlayerOnStartup = false;
    model.close();
    EXPECT_EQ(p.rig.host.playerState.load(), vl::Stopped);
    EXPECT_EQ(p.rig.host.playerLeft, nullptr);  // decoded arrays freed, the file stays loaded
    EXPECT_NE(p.rig.host.audioFile, nullptr);
    EXPECT_EQ(p.rig.host.recorderState.load(), vl::Stopped);
    EXPECT_EQ(p.rig.messageTexts(), (std::vector<std::wstring>{L"Would you like to save the record?"}));
    EXPECT_TRUE(p.rig.settings->openPlayerOnStartup);
}

// A sink whose answer to the save question runs the window's timer first, as the question's
// own message loop does.
class TickingSink : public vl::platform::MessageSink {
public:
    std::function<void()> duringQuestion;
    int questions = 0;
    int openQuestions = 0;
    int mostOpen = 0;
    Answer show(const vl::platform::UserMessage& message) override {
        if (message.text != std::wstring(vl::kSaveRecordQuestionText)) return Answer::Ok;
        ++questions;
        mostOpen = std::max(mostOpen, ++openQuestions);
        if (duringQuestion) duringQuestion();
        --openQuestions;
        return Answer::No;
    }
};

// Failing first: the timer raised a second save question inside the first.
TEST(PlayerWindowModel, AtMostOneSaveQuestionAtATime) {
    PlayerRig p;
    p.rig.settings->samplePath = vl::platform::pathToWide(writeWav(p.dir / "a.wav", 1000, 1000));
    p.rig.settings->sampleRecordOption = vl::RecordWithPlayStop;
    TickingSink sink;
    PlayerWindowModel model(p.rig.host, *p.rig.settings, false, &sink, &p.chooser);
    ASSERT_TRUE(model.initialise());
    model.togglePlay();
    ASSERT_TRUE(model.recording());
    p.rig.host.recordedFrames = 10;
    p.rig.host.playbackEnded = true;  // the file ends while the question is open
    sink.duringQuestion = [&] {
        model.timerTick();
        model.timerTick();
        model.offerRecording();  // Exit pressed meanwhile
    };
    model.offerRecording();
    EXPECT_EQ(sink.questions, 1);
    EXPECT_EQ(sink.mostOpen, 1);
    EXPECT_FALSE(model.recording());
    model.timerTick();  // the answer given, the player's end is taken up
    EXPECT_FALSE(model.playing());
    EXPECT_EQ(sink.questions, 1);
}

TEST(PlayerWindowModel, ExitWhileRecordingAsksAndSaves) {
    for (bool recording : {false, true}) {
        PlayerRig p;
        PlayerWindowModel& model = p.open();
        p.rig.messages.answer = Answer::Yes;
        p.chooser.answers = {p.dir / "exit.wav"};
        if (recording) {
            model.toggleRecording();
            p.rig.host.recordedFrames = 100;
        }
        model.offerRecording();
        EXPECT_EQ(p.rig.messages.shown.size(), recording ? 1u : 0u);
        EXPECT_EQ(fs::exists(p.dir / "exit.wav"), recording);
        EXPECT_FALSE(model.recording());
    }
}

// Failing first: a question that ended without an answer (dismissed) was taken as No and the
// take freed.
TEST(PlayerWindowModel, AQuestionEndedWithoutAnAnswerKeepsTheTake) {
    PlayerRig p;
    PlayerWindowModel& model = p.open();
    p.rig.messages.answer = Answer::Cancel;
    model.toggleRecording();
    p.rig.host.recordedFrames = 300;
    model.toggleRecording();
    EXPECT_TRUE(p.rig.host.recordLeft) << "the take is kept";
    EXPECT_TRUE(model.recording()) << "and still offered";
    model.timerTick();
    EXPECT_EQ(p.rig.messages.shown.size(), 1u) << "not asked again by itself";
    p.rig.messages.answer = Answer::Yes;
    p.chooser.answers = {p.dir / "kept.wav"};
    model.offerRecording();  // the host closes
    EXPECT_EQ(p.rig.messages.shown.size(), 2u);
    EXPECT_TRUE(fs::exists(p.dir / "kept.wav"));
    EXPECT_FALSE(model.recording());
}

// Failing first: a take that went on over an engine restart at another rate was saved at the
// new rate, its first part at the wrong pitch.
TEST(PlayerWindowModel, ARestartAtAnotherRateEndsTheTakeAtItsOwnRate) {
    PlayerRig p(1000.0, true);
    PlayerWindowModel& model = p.open();
    p.rig.messages.answer = Answer::Yes;
    p.chooser.answers = {p.dir / "take.wav"};
    ASSERT_TRUE(p.rig.host.StartAudioEngine());
    model.toggleRecording();
    ASSERT_TRUE(p.rig.asio.pump(100));
    // A restart at the same rate: the take goes on.
    p.rig.host.StopAudioEngine();
    ASSERT_TRUE(p.rig.host.StartAudioEngine());
    ASSERT_TRUE(p.rig.asio.pump(100));
    model.timerTick();
    EXPECT_TRUE(model.recording());
    EXPECT_EQ(p.rig.host.recordedFrames, 200u);
    // At another rate it ends before the restart and is offered at the next tick.
    p.rig.host.StopAudioEngine();
    p.rig.settings->outputDevice->sampleRate = 2000.0;
    ASSERT_TRUE(p.rig.host.StartAudioEngine());
    ASSERT_TRUE(p.rig.asio.pump(100));
    EXPECT_EQ(p.rig.host.recordedFrames, 200u) << "nothing at the new rate joins the take";
    model.timerTick();
    EXPECT_FALSE(model.recording());
    EXPECT_EQ(p.rig.messageTexts(), (std::vector<std::wstring>{L"Would you like to save the record?"}));
    std::unique_ptr<vl::VLAudioFileBase> saved;
    ASSERT_EQ(vl::OpenAudioFile(saved, p.dir / "take.wav"), 200u);
    EXPECT_EQ(saved->sampleRate(), 1000);
    p.rig.host.StopAudioEngine();
}

// Failing first: a path longer than the settings read back was stored and lost at the next start.
TEST(PlayerWindowModel, ASamplePathTooLongToReadBackIsNotStored) {
    PlayerRig p;
    const fs::path shortPath = writeWav(p.dir / "short.wav", 100, 1000);
    fs::path longFolder = p.dir.path();
    while (vl::platform::pathToWide(longFolder).size() < 520) longFolder /= std::string(60, 'd');
    std::error_code ec;
    fs::create_directories(longFolder, ec);
    if (ec) GTEST_SKIP() << "the file system takes no path this long";
    const fs::path longPath = writeWav(longFolder / "long.wav", 100, 1000);
    PlayerWindowModel& model = p.open();
    // Nothing stored before: nothing comes back at the next start, as the warning says.
    ASSERT_TRUE(model.loadFile(longPath));
    ASSERT_EQ(p.rig.messages.shown.size(), 1u);
    EXPECT_EQ(p.rig.messages.shown[0].text, vl::kSamplePathTooLongText);
    ASSERT_TRUE(model.loadFile(shortPath));
    EXPECT_EQ(p.rig.savedHostValue(L"samplePath"), vl::platform::pathToWide(shortPath));
    ASSERT_TRUE(model.loadFile(longPath)) << "it plays all the same";
    EXPECT_EQ(model.controls().fileName, L"long.wav");
    ASSERT_EQ(p.rig.messages.shown.size(), 2u);
    // Failing first: the warning said the file would not come back, but the one stored before did.
    EXPECT_EQ(p.rig.messages.shown[1].text, vl::samplePathTooLongText(L"short.wav"));
    EXPECT_NE(p.rig.messages.shown[1].text.find(L"short.wav"), std::wstring::npos);
    EXPECT_EQ(p.rig.savedHostValue(L"samplePath"), vl::platform::pathToWide(shortPath)) << "the last one that can be read";
}
