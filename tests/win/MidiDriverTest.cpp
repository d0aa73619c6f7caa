// The MIDI engine on the multimedia functions with real MIDI ports: those of the test MIDI
// driver, which is also the prefix's audio driver (its sound is ALSA's).
#include <gtest/gtest.h>

#include <windows.h>
#include <mmsystem.h>

#include <filesystem>
#include <thread>
#include <vector>

#include "TestMidiDriver.h"
#include "midi/VLMMMidi.h"

using namespace vltest;

namespace {

std::vector<uint32_t> received(const vlmididrv::Output& out) {
    return {out.received, out.received + out.receivedCount.load()};
}

// Plays a short tone through the wave mapper; the size of its file in the ALSA sink after.
uintmax_t playTone() {
    WAVEFORMATEX format{WAVE_FORMAT_PCM, 1, 22050, 44100, 2, 16, 0};
    HWAVEOUT wave = nullptr;
    if (waveOutOpen(&wave, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR) return 0;
    std::vector<int16_t> samples(2205);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<int16_t>((i % 50) * 600 - 15000);
    WAVEHDR header{};
    header.lpData = reinterpret_cast<LPSTR>(samples.data());
    header.dwBufferLength = static_cast<DWORD>(samples.size() * sizeof(int16_t));
    waveOutPrepareHeader(wave, &header, sizeof header);
    waveOutWrite(wave, &header, sizeof header);
    waitFor([&] { return (header.dwFlags & WHDR_DONE) != 0; });
    waveOutReset(wave);
    waveOutUnprepareHeader(wave, &header, sizeof header);
    waveOutClose(wave);
    std::error_code error;
    const uintmax_t size = std::filesystem::file_size(VL_TEST_AUDIO_SINK_DIR "/play_22050_1_16_S16_LE.raw", error);
    return error ? 0 : size;
}

}  // namespace

TEST(TestMidiDriver, OffersItsPortsAndSoundStillReachesTheAlsaSink) {
    ASSERT_NE(testMidiDriver(), nullptr);
    vl::VLMMMidi engine;
    std::vector<std::pair<std::wstring, bool>> listed;
    for (const auto& d : engine.devices) listed.emplace_back(d->name, d->isInput);
    ASSERT_EQ(listed.size(), 5u);
    EXPECT_EQ(std::vector(listed.begin(), listed.end() - 1),
              (std::vector<std::pair<std::wstring, bool>>{{L"Vorlane Test In 1", true},
                                                          {L"Vorlane Test In 2", true},
                                                          {L"Vorlane Test Out 1", false},
                                                          {L"Vorlane Test Out 2", false}}));
    EXPECT_EQ(engine.devices.back()->deviceId, vl::kMidiMapperId);

    EXPECT_EQ(waveOutGetNumDevs(), 1u);
    EXPECT_GE(playTone(), 4410u);
}

TEST(TestMidiDriver, AnOutputWhoseSendTimedOutIsNotReusedByTheNextOpen) {
    vlmididrv::Control* driver = testMidiDriver();
    ASSERT_NE(driver, nullptr);
    vlmididrv::Output& first = driver->outputs[0];
    vlmididrv::Output& second = driver->outputs[1];
    vl::VLMMMidi engine;
    engine.sendDrainTimeoutMs = 100;
    const int32_t port1 = 0, port2 = 1;

    ASSERT_TRUE(engine.openDevices(nullptr, &port1, nullptr, nullptr));
    first.stallMs = 1000;
    std::thread audio([&] { engine.sendShortMessage(0x403C90); });
    ASSERT_TRUE(waitFor([&] { return first.sending.load() == 1; }));
    engine.closeDevices();  // gives up on the stuck send after 100 ms
    EXPECT_EQ(first.isOpen.load(), 1);

    // The port is still held: opening it again fails, and nothing reaches the stuck handle.
    EXPECT_FALSE(engine.openDevices(nullptr, &port1, nullptr, nullptr));
    EXPECT_EQ(first.refusedOpens.load(), 1);  // asked afresh, refused by the port
    engine.sendShortMessage(0x3C80);
    // Another port opens afresh and gets what is sent from now on.
    ASSERT_TRUE(engine.openDevices(nullptr, &port2, nullptr, nullptr));
    engine.sendShortMessage(0x7F07B0);
    audio.join();
    first.stallMs = 0;
    EXPECT_EQ(received(first), (std::vector<uint32_t>{0x403C90}));
    EXPECT_EQ(received(second), (std::vector<uint32_t>{0x7F07B0}));

    // Once the send has returned, the next close lets the stuck port go too, and it opens again.
    engine.closeDevices();
    EXPECT_EQ(std::pair(first.closes.load(), second.closes.load()), std::pair(1, 1));
    ASSERT_TRUE(engine.openDevices(nullptr, &port1, nullptr, nullptr));
    engine.sendShortMessage(0x3C80);
    EXPECT_EQ(received(first), (std::vector<uint32_t>{0x403C90, 0x3C80}));
}
