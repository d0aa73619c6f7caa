#include "midi/StandardMidiFile.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "support/MidiFileWriter.h"

using vl::MidiFileError;
using vltest::MidiFileWriter;

namespace {

vl::MidiFile read(const std::vector<uint8_t>& bytes) { return vl::readStandardMidiFile(bytes.data(), bytes.size()); }

}  // namespace

TEST(MidiFile, FormatZeroAtTheDefaultTempo) {
    MidiFileWriter w(0, 480);
    w.track({{0, 0x90, 69, 100}, {480, 0x80, 69, 0}, {240, 0xC3, 5}});
    const vl::MidiFile file = read(w.bytes());
    ASSERT_EQ(file.error, MidiFileError::None);
    ASSERT_EQ(file.events.size(), 3u);
    EXPECT_EQ(file.events[0].status, 0x90);
    EXPECT_EQ(file.events[0].seconds, 0.0);
    EXPECT_DOUBLE_EQ(file.events[1].seconds, 0.5);  // 480 ticks at 120 BPM
    EXPECT_EQ(file.events[2].status, 0xC3);
    EXPECT_EQ(file.events[2].data1, 5);
    EXPECT_DOUBLE_EQ(file.events[2].seconds, 0.75);
    EXPECT_DOUBLE_EQ(file.lengthSeconds, 0.75);
}

TEST(MidiFile, FormatOneFollowsTheTempoMapOfAllTracks) {
    MidiFileWriter w(1, 96);
    // Track 0: tempo 60 BPM from the start, 240 BPM after two quarters.
    w.track({MidiFileWriter::tempo(0, 1000000), MidiFileWriter::tempo(192, 250000)});
    w.track({{96, 0x91, 60, 90}, {96, 0x81, 60, 0}, {96, 0x91, 62, 90}, {96, 0x81, 62, 0}});
    const vl::MidiFile file = read(w.bytes());
    ASSERT_EQ(file.error, MidiFileError::None);
    ASSERT_EQ(file.events.size(), 4u);
    EXPECT_DOUBLE_EQ(file.events[0].seconds, 1.0);
    EXPECT_DOUBLE_EQ(file.events[1].seconds, 2.0);
    EXPECT_DOUBLE_EQ(file.events[2].seconds, 2.25);
    EXPECT_DOUBLE_EQ(file.events[3].seconds, 2.5);
}

TEST(MidiFile, RunningStatusMetaAndSysExAreHandled) {
    std::vector<uint8_t> track = {
        0x00, 0x90, 60, 100,                     // note on
        0x10, 62, 100,                           // running status
        0x00, 0xFF, 0x03, 0x03, 'a', 'b', 'c',   // track name
        0x00, 0xF0, 0x03, 0x7E, 0x7F, 0xF7,      // system exclusive
        0x00, 0xE0, 0x00, 0x40,                  // pitch bend
        0x00, 0xFF, 0x2F, 0x00,                  // end of track
    };
    const vl::MidiFile file = read(MidiFileWriter::raw(0, 1, 96, {track}));
    ASSERT_EQ(file.error, MidiFileError::None);
    ASSERT_EQ(file.events.size(), 3u);
    EXPECT_EQ(file.events[1].status, 0x90);
    EXPECT_EQ(file.events[1].data1, 62);
    EXPECT_EQ(file.events[2].status, 0xE0);
    EXPECT_EQ(file.events[2].data2, 0x40);
}

TEST(MidiFile, SmpteDivisionIsAbsoluteTime) {
    // 25 frames per second, 40 ticks per frame: 1000 ticks per second.
    std::vector<uint8_t> track = {0x87, 0x68, 0x90, 60, 100};  // delta 1000
    const vl::MidiFile file = read(MidiFileWriter::raw(0, 1, 0xE728, {track}));
    ASSERT_EQ(file.error, MidiFileError::None);
    ASSERT_EQ(file.events.size(), 1u);
    EXPECT_DOUBLE_EQ(file.events[0].seconds, 1.0);
}

TEST(MidiFile, MalformedFilesAreRefused) {
    EXPECT_EQ(read({}).error, MidiFileError::NotAMidiFile);
    EXPECT_EQ(read({'R', 'I', 'F', 'F', 0, 0, 0, 0}).error, MidiFileError::NotAMidiFile);
    EXPECT_EQ(vl::readStandardMidiFile(nullptr, 100).error, MidiFileError::NotAMidiFile);

    std::vector<uint8_t> good = MidiFileWriter::raw(0, 1, 96, {{0x00, 0x90, 60, 100}});
    for (size_t cut = 4; cut < good.size(); ++cut) {
        std::vector<uint8_t> part(good.begin(), good.begin() + static_cast<long>(cut));
        EXPECT_NE(read(part).error, MidiFileError::None) << cut;
    }
    EXPECT_EQ(read(MidiFileWriter::raw(2, 1, 96, {{0x00, 0x90, 60, 100}})).error, MidiFileError::UnsupportedFormat);
    EXPECT_EQ(read(MidiFileWriter::raw(0, 1, 0, {{0x00, 0x90, 60, 100}})).error, MidiFileError::BadHeader);
    EXPECT_EQ(read(MidiFileWriter::raw(0, 1, 96, {{0x00, 0x40, 60}})).error, MidiFileError::BadEvent);
    EXPECT_EQ(read(MidiFileWriter::raw(0, 1, 96, {{0x00, 0x90, 0x80, 100}})).error, MidiFileError::BadEvent);
    EXPECT_EQ(read(MidiFileWriter::raw(0, 1, 96, {{0x00, 0xF8}})).error, MidiFileError::BadEvent);
    EXPECT_EQ(read(MidiFileWriter::raw(0, 1, 96, {{0xFF, 0xFF, 0xFF, 0xFF, 0x7F}})).error, MidiFileError::Truncated);
    EXPECT_EQ(read(MidiFileWriter::raw(0, 1, 96, {{0x00, 0xFF, 0x51, 0x02, 0x07, 0xA1}})).error,
              MidiFileError::BadEvent);
    EXPECT_EQ(read(MidiFileWriter::raw(0, 1, 96, {{0x00, 0xFF, 0x01, 0x20, 'x'}})).error, MidiFileError::Truncated);
    EXPECT_EQ(read(MidiFileWriter::raw(0, 2, 96, {{0x00, 0x90, 60, 100}})).error, MidiFileError::Truncated);
}
