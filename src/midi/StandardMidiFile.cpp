#include "midi/StandardMidiFile.h"

#include <algorithm>
#include <cstring>

namespace vl {

const char* describe(MidiFileError error) {
    switch (error) {
        case MidiFileError::None: return "no error";
        case MidiFileError::NotAMidiFile: return "not a Standard MIDI File";
        case MidiFileError::Truncated: return "the file is truncated";
        case MidiFileError::BadHeader: return "the file header is damaged";
        case MidiFileError::UnsupportedFormat: return "format 2 MIDI files are not supported";
        case MidiFileError::BadEvent: return "the file contains a malformed event";
        case MidiFileError::TooManyEvents: return "the file has too many events";
    }
    return "unknown error";
}

namespace {

constexpr uint32_t kDefaultMicrosPerQuarter = 500000;

// Reads from [pos, end) and never beyond; any read past the end marks the reader failed.
class ByteReader {
public:
    ByteReader(const uint8_t* begin, const uint8_t* end) : pos(begin), end(end) {}
    bool failed = false;
    size_t left() const { return static_cast<size_t>(end - pos); }
    uint8_t byte() {
        if (pos >= end) {
            failed = true;
            return 0;
        }
        return *pos++;
    }
    uint8_t peek() const { return pos < end ? *pos : 0; }
    uint32_t be(int bytes) {
        uint32_t v = 0;
        for (int i = 0; i < bytes; ++i) v = (v << 8) | byte();
        return v;
    }
    // Variable-length quantity: at most four bytes.
    uint32_t vlq() {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) {
            const uint8_t b = byte();
            v = (v << 7) | (b & 0x7F);
            if (!(b & 0x80)) return v;
        }
        failed = true;
        return 0;
    }
    bool skip(size_t n) {
        if (n > left()) {
            failed = true;
            pos = end;
            return false;
        }
        pos += n;
        return true;
    }
    bool tag(const char* four) {
        if (left() < 4 || std::memcmp(pos, four, 4) != 0) return false;
        pos += 4;
        return true;
    }
    const uint8_t* here() const { return pos; }

private:
    const uint8_t* pos;
    const uint8_t* end;
};

struct TickEvent {
    uint64_t tick;
    uint32_t order;  // file order, for a stable sort
    uint8_t status, data1, data2;
};

struct TempoChange {
    uint64_t tick;
    uint32_t micros;
};

int dataBytesOf(uint8_t status) {
    const uint8_t kind = status & 0xF0;
    return (kind == 0xC0 || kind == 0xD0) ? 1 : 2;
}

MidiFileError readTrack(ByteReader track, std::vector<TickEvent>& events, std::vector<TempoChange>& tempos,
                        uint64_t& lastTick, uint32_t& order) {
    uint64_t tick = 0;
    uint8_t running = 0;
    while (track.left() > 0) {
        tick += track.vlq();
        if (track.failed) return MidiFileError::Truncated;
        lastTick = std::max(lastTick, tick);
        uint8_t status = track.peek();
        if (status & 0x80) {
            track.byte();
        } else {
            if (!running) return MidiFileError::BadEvent;  // data byte without a status
            status = running;
        }
        if (status < 0xF0) {
            running = status;
            uint8_t d[2] = {0, 0};
            for (int i = 0; i < dataBytesOf(status); ++i) {
                d[i] = track.byte();
                if (d[i] & 0x80) return MidiFileError::BadEvent;
            }
            if (track.failed) return MidiFileError::Truncated;
            if (events.size() >= kMaxMidiFileEvents) return MidiFileError::TooManyEvents;
            events.push_back({tick, order++, status, d[0], d[1]});
        } else if (status == 0xFF) {
            running = 0;
            const uint8_t type = track.byte();
            const uint32_t length = track.vlq();
            if (track.failed || length > track.left()) return MidiFileError::Truncated;
            if (type == 0x51) {
                if (length != 3) return MidiFileError::BadEvent;
                const uint32_t micros = track.be(3);
                if (micros == 0) return MidiFileError::BadEvent;
                tempos.push_back({tick, micros});
            } else if (type == 0x2F) {
                return MidiFileError::None;  // end of track: anything after it is ignored
            } else {
                track.skip(length);
            }
        } else if (status == 0xF0 || status == 0xF7) {
            running = 0;
            const uint32_t length = track.vlq();
            if (track.failed || !track.skip(length)) return MidiFileError::Truncated;
        } else {
            return MidiFileError::BadEvent;  // system common and real-time bytes have no place here
        }
    }
    return MidiFileError::None;
}

}  // namespace

MidiFile readStandardMidiFile(const uint8_t* data, size_t size) {
    MidiFile file;
    if (!data) size = 0;
    ByteReader reader(data, data + size);
    if (!reader.tag("MThd")) {
        file.error = MidiFileError::NotAMidiFile;
        return file;
    }
    const uint32_t headerLength = reader.be(4);
    if (reader.failed || headerLength < 6 || headerLength > reader.left()) {
        file.error = reader.failed ? MidiFileError::Truncated : MidiFileError::BadHeader;
        return file;
    }
    file.format = static_cast<uint16_t>(reader.be(2));
    const uint32_t trackCount = reader.be(2);
    const uint16_t division = static_cast<uint16_t>(reader.be(2));
    reader.skip(headerLength - 6);
    if (file.format > 2 || division == 0) {
        file.error = MidiFileError::BadHeader;
        return file;
    }
    if (file.format == 2) {
        file.error = MidiFileError::UnsupportedFormat;
        return file;
    }

    // Seconds per tick: SMPTE divisions are absolute; PPQ divisions follow the tempo map.
    const bool smpte = (division & 0x8000) != 0;
    double smpteTicksPerSecond = 0.0;
    if (smpte) {
        const int frames = -static_cast<int8_t>(division >> 8);
        const int ticksPerFrame = division & 0xFF;
        if (frames <= 0 || ticksPerFrame == 0) {
            file.error = MidiFileError::BadHeader;
            return file;
        }
        smpteTicksPerSecond = static_cast<double>(frames) * ticksPerFrame;
    }

    std::vector<TickEvent> events;
    std::vector<TempoChange> tempos;
    uint64_t lastTick = 0;
    uint32_t order = 0;
    uint32_t tracksRead = 0;
    while (reader.left() >= 8 && tracksRead < trackCount) {
        const bool isTrack = reader.tag("MTrk");
        if (!isTrack) reader.skip(4);  // an unknown chunk is skipped by its length
        const uint32_t length = reader.be(4);
        if (length > reader.left()) {
            file.error = MidiFileError::Truncated;
            return file;
        }
        if (isTrack) {
            ByteReader track(reader.here(), reader.here() + length);
            const MidiFileError error = readTrack(track, events, tempos, lastTick, order);
            if (error != MidiFileError::None) {
                file.error = error;
                return file;
            }
            tracksRead += 1;
        }
        reader.skip(length);
    }
    if (tracksRead < trackCount) {
        file.error = MidiFileError::Truncated;
        return file;
    }

    std::stable_sort(tempos.begin(), tempos.end(), [](const TempoChange& a, const TempoChange& b) {
        return a.tick < b.tick;
    });
    std::stable_sort(events.begin(), events.end(), [](const TickEvent& a, const TickEvent& b) {
        return a.tick != b.tick ? a.tick < b.tick : a.order < b.order;
    });

    // Ticks to seconds through the tempo segments.
    size_t nextTempo = 0;
    uint64_t segmentTick = 0;
    double segmentSeconds = 0.0;
    double secondsPerTick = smpte ? 1.0 / smpteTicksPerSecond : kDefaultMicrosPerQuarter * 1e-6 / division;
    auto secondsAt = [&](uint64_t tick) {
        if (!smpte) {
            while (nextTempo < tempos.size() && tempos[nextTempo].tick <= tick) {
                segmentSeconds += static_cast<double>(tempos[nextTempo].tick - segmentTick) * secondsPerTick;
                segmentTick = tempos[nextTempo].tick;
                secondsPerTick = tempos[nextTempo].micros * 1e-6 / division;
                ++nextTempo;
            }
        }
        return segmentSeconds + static_cast<double>(tick - segmentTick) * secondsPerTick;
    };
    file.events.reserve(events.size());
    for (const TickEvent& e : events) file.events.push_back({secondsAt(e.tick), e.status, e.data1, e.data2});
    file.lengthSeconds = secondsAt(lastTick);
    return file;
}

}  // namespace vl
