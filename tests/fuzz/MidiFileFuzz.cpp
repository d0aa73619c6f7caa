// libFuzzer target: the Standard MIDI File reader over arbitrary bytes.

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "midi/StandardMidiFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const vl::MidiFile file = vl::readStandardMidiFile(data, size);
    if (file.error != vl::MidiFileError::None) return 0;
    // What is accepted is in order, finite, and made of channel messages with 7-bit data.
    double previous = 0.0;
    for (const vl::TimedMidiEvent& e : file.events) {
        if (!std::isfinite(e.seconds) || e.seconds < previous || e.status < 0x80 || e.status >= 0xF0 ||
            e.data1 > 0x7F || e.data2 > 0x7F)
            __builtin_trap();
        previous = e.seconds;
    }
    if (!std::isfinite(file.lengthSeconds) || file.lengthSeconds < previous) __builtin_trap();
    return 0;
}
