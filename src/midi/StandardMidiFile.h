#pragma once
// A small, strict reader of Standard MIDI Files (format 0 and 1): the channel messages of all
// tracks with their times in seconds, following the file's tempo map. Everything else
// (meta events other than tempo, system exclusive) is read and skipped. Malformed files are
// refused with a reason; nothing is read beyond the given bytes.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vl {

struct TimedMidiEvent {
    double seconds = 0.0;
    uint8_t status = 0;  // with its channel
    uint8_t data1 = 0;
    uint8_t data2 = 0;
};

enum class MidiFileError {
    None,
    NotAMidiFile,       // no "MThd" header
    Truncated,          // a chunk or an event runs past the end of the file
    BadHeader,          // header length or division unusable
    UnsupportedFormat,  // format 2 (independent sequences)
    BadEvent,           // a status or data byte that cannot stand where it stands
    TooManyEvents,
};
const char* describe(MidiFileError error);

struct MidiFile {
    MidiFileError error = MidiFileError::None;
    uint16_t format = 0;
    std::vector<TimedMidiEvent> events;  // sorted by time; equal times keep file order
    double lengthSeconds = 0.0;          // time of the last event of any kind
};

constexpr size_t kMaxMidiFileEvents = 4000000;

MidiFile readStandardMidiFile(const uint8_t* data, size_t size);

}  // namespace vl
