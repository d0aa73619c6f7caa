// Decoding and time-stamping of incoming short messages, as every MIDI engine's input
// callback does it, with a counter the test controls.
#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "midi/MidiInputDecoder.h"

namespace vl {
namespace {

int64_t fakeCounter = 0;
int counterReads = 0;
int64_t readFakeCounter() {
    ++counterReads;
    return fakeCounter;
}

// status, command, channel, data1, data2
std::tuple<int, int, int, int, int> fields(const MidiMessage& m) {
    return {m.status, m.command, m.channel, m.data1, m.data2};
}

struct Received {
    MidiMessage message;
    void* handlerValue;
};

void record(const MidiMessage* message, void* handlerValue) {
    static_cast<std::vector<Received>*>(handlerValue)->push_back({*message, handlerValue});
}

class MidiInputDecoderTest : public ::testing::Test {
protected:
    void SetUp() override {
        fakeCounter = 1'000'000;
        counterReads = 0;
    }
    void deliver(MidiInstance& instance, uint32_t packed, MidiInputEvent event = MidiInputEvent::ShortMessage) {
        MidiInputDecoder::deliver(&instance, event, packed);
    }

    MidiMessage engineRecord;
    MidiInputDecoder decoder{engineRecord, &readFakeCounter, 10'000'000};  // 10 MHz, as a usual performance counter
    std::vector<Received> firstInput, secondInput;
    MidiInstance first{&record, &firstInput, &decoder};
    MidiInstance second{&record, &secondInput, &decoder};
};

TEST_F(MidiInputDecoderTest, ChannelMessagesSplitIntoCommandAndChannel) {
    deliver(first, 0x00'7F'40'93);  // note on, channel 4
    deliver(first, 0x00'FF'C5'8E);  // note off with the top bits of both data bytes set
    deliver(first, 0xAB'00'05'C0);  // program change; the unused top byte is ignored
    ASSERT_EQ(firstInput.size(), 3u);
    EXPECT_EQ(fields(firstInput[0].message), std::tuple(0x90, 0x90, 3, 0x40, 0x7F));
    EXPECT_EQ(fields(firstInput[1].message), std::tuple(0x80, 0x80, 14, 0x45, 0x7F));
    EXPECT_EQ(fields(firstInput[2].message), std::tuple(0xC0, 0xC0, 0, 5, 0));
    EXPECT_EQ(firstInput[0].handlerValue, &firstInput);
    // Every message reaches the handler in the engine's one reused record.
    EXPECT_EQ(engineRecord.status, 0xC0);
}

TEST_F(MidiInputDecoderTest, SystemMessagesKeepTheirWholeStatus) {
    deliver(first, 0xF8);
    deliver(first, 0xFA);
    ASSERT_EQ(firstInput.size(), 2u);
    EXPECT_EQ(fields(firstInput[0].message), std::tuple(0xF8, 0xF0, 8, 0, 0));
    EXPECT_EQ(fields(firstInput[1].message), std::tuple(0xFA, 0xF0, 10, 0, 0));
}

TEST_F(MidiInputDecoderTest, DeltaIsTheTimeSinceThePreviousMessageOfAnyInput) {
    deliver(first, 0xF8);
    fakeCounter += 208'330;  // 20.833 ms: one clock tick at 120 BPM
    deliver(first, 0xF8);
    fakeCounter += 100'000;  // a note on the other input between two ticks
    deliver(second, 0x40'3C'90);
    fakeCounter += 108'330;
    deliver(first, 0xF8);
    ASSERT_EQ(firstInput.size(), 3u);
    ASSERT_EQ(secondInput.size(), 1u);
    EXPECT_EQ(firstInput[0].message.deltaMs, 0.0);
    EXPECT_DOUBLE_EQ(firstInput[1].message.deltaMs, 20.833);
    EXPECT_DOUBLE_EQ(secondInput[0].message.deltaMs, 10.0);
    EXPECT_DOUBLE_EQ(firstInput[2].message.deltaMs, 10.833);
}

TEST_F(MidiInputDecoderTest, TheFirstMessageHasNoDeltaWhateverTheCounterSays) {
    fakeCounter = 0;  // a counter that happens to start at zero
    deliver(first, 0xF8);
    fakeCounter = 50'000;
    deliver(first, 0xF8);
    EXPECT_EQ(firstInput[0].message.deltaMs, 0.0);
    EXPECT_DOUBLE_EQ(firstInput[1].message.deltaMs, 5.0);

    // A counter without a rate gives no time rather than a division by zero.
    MidiInputDecoder broken{engineRecord, &readFakeCounter, 0};
    MidiInstance instance{&record, &firstInput, &broken};
    deliver(instance, 0xF8);
    fakeCounter += 1000;
    deliver(instance, 0xF8);
    EXPECT_EQ(firstInput.back().message.deltaMs, 0.0);
}

TEST_F(MidiInputDecoderTest, CloseNoticeClearsStatusAndCommandOnly) {
    deliver(first, 0x00'64'30'B2);
    fakeCounter += 40'000;
    deliver(second, 0, MidiInputEvent::CloseNotice);
    ASSERT_EQ(secondInput.size(), 1u);
    EXPECT_EQ(fields(secondInput[0].message), std::tuple(0, 0, 2, 0x30, 0x64));
    EXPECT_EQ(secondInput[0].handlerValue, &secondInput);
    // The notice is no message: the next delta still counts from the last short message.
    EXPECT_EQ(counterReads, 1);
    fakeCounter += 10'000;
    deliver(first, 0xF8);
    EXPECT_DOUBLE_EQ(firstInput.back().message.deltaMs, 5.0);
}

TEST_F(MidiInputDecoderTest, OtherEventsAndMissingInstancesAreIgnored) {
    deliver(first, 0x40'3C'90, MidiInputEvent::Other);
    MidiInputDecoder::deliver(nullptr, MidiInputEvent::ShortMessage, 0x40'3C'90);
    MidiInputDecoder::deliver(nullptr, MidiInputEvent::CloseNotice, 0);
    EXPECT_TRUE(firstInput.empty());
    EXPECT_EQ(counterReads, 0);
    EXPECT_EQ(engineRecord.status, 0);

    // An input opened without a handler still decodes (and keeps the time line) safely.
    MidiInstance silent{nullptr, nullptr, &decoder};
    deliver(silent, 0x40'3C'90);
    EXPECT_EQ(engineRecord.status, 0x90);
    EXPECT_EQ(counterReads, 1);
}

}  // namespace
}  // namespace vl
