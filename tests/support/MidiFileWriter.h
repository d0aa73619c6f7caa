#pragma once
// Builds Standard MIDI File bytes for tests.

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace vltest {

class MidiFileWriter {
public:
    struct Event {
        uint32_t delta;
        uint8_t status;
        uint8_t data1 = 0;
        uint8_t data2 = 0;
        uint32_t tempoMicros = 0;  // a tempo meta event instead of a channel message
    };

    MidiFileWriter(uint16_t format, uint16_t division) : format(format), division(division) {}

    static Event tempo(uint32_t delta, uint32_t micros) { return Event{delta, 0xFF, 0, 0, micros}; }

    void track(std::initializer_list<Event> events) {
        std::vector<uint8_t> bytes;
        for (const Event& e : events) {
            vlq(bytes, e.delta);
            if (e.tempoMicros) {
                bytes.insert(bytes.end(), {0xFF, 0x51, 0x03, uint8_t(e.tempoMicros >> 16), uint8_t(e.tempoMicros >> 8),
                                           uint8_t(e.tempoMicros)});
                continue;
            }
            bytes.push_back(e.status);
            bytes.push_back(e.data1);
            const uint8_t kind = e.status & 0xF0;
            if (kind != 0xC0 && kind != 0xD0) bytes.push_back(e.data2);
        }
        bytes.insert(bytes.end(), {0x00, 0xFF, 0x2F, 0x00});
        tracks.push_back(bytes);
    }

    std::vector<uint8_t> bytes() const { return raw(format, static_cast<uint16_t>(tracks.size()), division, tracks); }

    static std::vector<uint8_t> raw(uint16_t format, uint16_t trackCount, uint16_t division,
                                    const std::vector<std::vector<uint8_t>>& tracks) {
        std::vector<uint8_t> out = {'M', 'T', 'h', 'd', 0, 0, 0, 6};
        be16(out, format);
        be16(out, trackCount);
        be16(out, division);
        for (const auto& t : tracks) {
            out.insert(out.end(), {'M', 'T', 'r', 'k'});
            be32(out, static_cast<uint32_t>(t.size()));
            out.insert(out.end(), t.begin(), t.end());
        }
        return out;
    }

private:
    static void be16(std::vector<uint8_t>& out, uint16_t v) {
        out.push_back(uint8_t(v >> 8));
        out.push_back(uint8_t(v));
    }
    static void be32(std::vector<uint8_t>& out, uint32_t v) {
        for (int s = 24; s >= 0; s -= 8) out.push_back(uint8_t(v >> s));
    }
    static void vlq(std::vector<uint8_t>& out, uint32_t v) {
        uint8_t buffer[5];
        int n = 0;
        buffer[n++] = v & 0x7F;
        while (v >>= 7) buffer[n++] = static_cast<uint8_t>(0x80 | (v & 0x7F));
        while (n--) out.push_back(buffer[n]);
    }

    uint16_t format;
    uint16_t division;
    std::vector<std::vector<uint8_t>> tracks;
};

}  // namespace vltest
