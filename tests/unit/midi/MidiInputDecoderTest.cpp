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
int64_t readFakeCounter() { return ++counterReads, fakeCounter; }

// status, command, channel, data1, data2, deltaMs
using Fields = std::tuple<int, int, int, int, int, double>;
void collect(const MidiMessage* m, void* received) {
    static_cast<std::vector<Fields>*>(received)->emplace_back(m->status, m->command, m->channel, m->data1, m->data2,
                                                              m->deltaMs);
}

class MidiInputDecoderTest : public ::testing::Test {
protected:
    void SetUp() override { fakeCounter = 1'000'000, counterReads = 0; }
    void deliver(MidiInstance& input, uint32_t packed, MidiInputEvent event = MidiInputEvent::ShortMessage) {
        MidiInputDecoder::deliver(&input, event, packed);
    }

    MidiMessage engineRecord;
    MidiInputDecoder decoder{engineRecord, &readFakeCounter, 10'000'000};  // 10 MHz, a usual performance counter
    std::vector<Fields> first, second;
    MidiInstance firstInput{&collect, &first, &decoder};
    MidiInstance secondInput{&collect, &second, &decoder};
};

TEST_F(MidiInputDecoderTest, StatusSplitsIntoCommandAndChannelAndDataKeepsSevenBits) {
    deliver(firstInput, 0x00'7F'40'93);  // note on, channel 4
    deliver(firstInput, 0x00'FF'C5'8E);  // note off with the top bits of both data bytes set
    deliver(firstInput, 0xAB'00'05'C0);  // the unused top byte is ignored
    deliver(firstInput, 0xF8);           // system messages keep their whole status
    EXPECT_EQ(first, (std::vector<Fields>{{0x90, 0x90, 3, 0x40, 0x7F, 0.0},
                                          {0x80, 0x80, 14, 0x45, 0x7F, 0.0},
                                          {0xC0, 0xC0, 0, 5, 0, 0.0},
                                          {0xF8, 0xF0, 8, 0, 0, 0.0}}));
    EXPECT_EQ(engineRecord.status, 0xF8);  // one reused record carries every message
}

TEST_F(MidiInputDecoderTest, DeltaIsTheTimeSinceThePreviousMessageOfAnyInput) {
    deliver(firstInput, 0xF8);
    fakeCounter += 208'330;  // 20.833 ms: one clock tick at 120 BPM
    deliver(firstInput, 0xF8);
    fakeCounter += 100'000;  // a note on the other input between two ticks
    deliver(secondInput, 0x40'3C'90);
    fakeCounter += 108'330;
    deliver(firstInput, 0xF8);
    ASSERT_EQ(first.size(), 3u);
    EXPECT_EQ(std::get<5>(first[0]), 0.0);
    EXPECT_DOUBLE_EQ(std::get<5>(first[1]), 20.833);
    EXPECT_DOUBLE_EQ(std::get<5>(second.at(0)), 10.0);
    EXPECT_DOUBLE_EQ(std::get<5>(first[2]), 10.833);

    // A counter that starts at zero still gives the first message no delta, and one without
    // a rate gives no time rather than a division by zero.
    fakeCounter = 0;
    MidiInputDecoder fresh{engineRecord, &readFakeCounter, 10'000'000}, broken{engineRecord, &readFakeCounter, 0};
    MidiInstance freshInput{&collect, &first, &fresh}, brokenInput{&collect, &first, &broken};
    deliver(freshInput, 0xF8);
    deliver(brokenInput, 0xF8);
    fakeCounter = 50'000;
    deliver(freshInput, 0xF8);
    deliver(brokenInput, 0xF8);
    EXPECT_EQ(std::get<5>(first[3]), 0.0);
    EXPECT_DOUBLE_EQ(std::get<5>(first[5]), 5.0);
    EXPECT_EQ(std::get<5>(first[6]), 0.0);
}

TEST_F(MidiInputDecoderTest, CloseNoticeClearsStatusAndCommandOnlyAndIsNoMessage) {
    deliver(firstInput, 0x00'64'30'B2);
    fakeCounter += 40'000;
    deliver(secondInput, 0, MidiInputEvent::CloseNotice);
    EXPECT_EQ(second, (std::vector<Fields>{{0, 0, 2, 0x30, 0x64, 0.0}}));
    EXPECT_EQ(counterReads, 1);
    fakeCounter += 10'000;
    deliver(firstInput, 0xF8);
    EXPECT_DOUBLE_EQ(std::get<5>(first.back()), 5.0);  // still from the last short message
}

TEST_F(MidiInputDecoderTest, OtherEventsAndMissingInstancesAreIgnored) {
    deliver(firstInput, 0x40'3C'90, MidiInputEvent::Other);
    MidiInputDecoder::deliver(nullptr, MidiInputEvent::ShortMessage, 0x40'3C'90);
    MidiInputDecoder::deliver(nullptr, MidiInputEvent::CloseNotice, 0);
    EXPECT_TRUE(first.empty());
    EXPECT_EQ(counterReads, 0);
    EXPECT_EQ(engineRecord.status, 0);
    MidiInstance withoutHandler{nullptr, nullptr, &decoder};  // decodes, keeps the time line, calls nothing
    deliver(withoutHandler, 0x40'3C'90);
    EXPECT_EQ(std::tuple(engineRecord.status, counterReads), std::tuple(uint8_t(0x90), 1));
}

}  // namespace
}  // namespace vl

namespace vl {
namespace {

// Inputs of different drivers have decoders and records of their own on the engine's one time
// line: what one input decodes never shows in another's record, and the times stay shared.
TEST(MidiTimeLine, InputsKeepTheirOwnRecordsOnOneSharedTimeLine) {
    fakeCounter = 5'000'000;
    MidiTimeLine timeLine{&readFakeCounter, 10'000'000};
    MidiMessage recordA, recordB;
    MidiInputDecoder a{recordA, timeLine}, b{recordB, timeLine};
    std::vector<Fields> gotA, gotB;
    MidiInstance inputA{&collect, &gotA, &a}, inputB{&collect, &gotB, &b};
    MidiInputDecoder::deliver(&inputA, MidiInputEvent::ShortMessage, 0x40'3C'90);
    fakeCounter += 30'000;
    MidiInputDecoder::deliver(&inputB, MidiInputEvent::ShortMessage, 0x00'07'B5);
    fakeCounter += 20'000;
    MidiInputDecoder::deliver(&inputA, MidiInputEvent::ShortMessage, 0xF8);
    EXPECT_EQ(gotA, (std::vector<Fields>{{0x90, 0x90, 0, 0x3C, 0x40, 0.0}, {0xF8, 0xF0, 8, 0, 0, 2.0}}));
    EXPECT_EQ(gotB, (std::vector<Fields>{{0xB0, 0xB0, 5, 0x07, 0, 3.0}}));
    EXPECT_EQ(std::tuple(recordA.status, recordB.status), std::tuple(uint8_t(0xF8), uint8_t(0xB0)));
    EXPECT_DOUBLE_EQ(recordA.timeMs, 5.0);  // both measured from the first message of the engine
    EXPECT_DOUBLE_EQ(recordB.timeMs, 3.0);
    // A stamp that lost the race to a later reading of the counter gets no negative delta.
    fakeCounter -= 10'000;
    MidiInputDecoder::deliver(&inputB, MidiInputEvent::ShortMessage, 0xF8);
    EXPECT_EQ(std::get<5>(gotB.back()), 0.0);
}

}  // namespace
}  // namespace vl
