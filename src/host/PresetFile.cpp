#include "host/PresetFile.h"

#include <algorithm>
#include <cstring>

namespace vl {

namespace {

constexpr int32_t fourCC(const char (&s)[5]) {
    return int32_t((uint32_t(uint8_t(s[0])) << 24) | (uint32_t(uint8_t(s[1])) << 16) |
                   (uint32_t(uint8_t(s[2])) << 8) | uint32_t(uint8_t(s[3])));
}

constexpr int32_t kCcnK = fourCC("CcnK");
constexpr int32_t kFxCk = fourCC("FxCk");
constexpr int32_t kFPCh = fourCC("FPCh");
constexpr int32_t kFxBk = fourCC("FxBk");
constexpr int32_t kFBCh = fourCC("FBCh");

constexpr size_t kProgramHeader = 28 + kPresetNameBytes;  // 56
constexpr size_t kBankHeader = 28 + 128;                  // 156

class Reader {
public:
    Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    size_t remaining() const { return size_ - pos_; }
    size_t pos() const { return pos_; }
    int32_t i32() {
        uint32_t v = (uint32_t(data_[pos_]) << 24) | (uint32_t(data_[pos_ + 1]) << 16) |
                     (uint32_t(data_[pos_ + 2]) << 8) | uint32_t(data_[pos_ + 3]);
        pos_ += 4;
        return int32_t(v);
    }
    float f32() {
        uint32_t bits = uint32_t(i32());
        float f;
        std::memcpy(&f, &bits, 4);
        return f;
    }
    const uint8_t* take(size_t n) {
        const uint8_t* p = data_ + pos_;
        pos_ += n;
        return p;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

void put32(std::vector<uint8_t>& out, int32_t value) {
    uint32_t v = uint32_t(value);
    out.push_back(uint8_t(v >> 24));
    out.push_back(uint8_t(v >> 16));
    out.push_back(uint8_t(v >> 8));
    out.push_back(uint8_t(v));
}

void putFloat(std::vector<uint8_t>& out, float f) {
    uint32_t bits;
    std::memcpy(&bits, &f, 4);
    put32(out, int32_t(bits));
}

// Patches the byteSize field of the record that starts at start.
void finishRecord(std::vector<uint8_t>& out, size_t start) {
    uint32_t size = uint32_t(out.size() - start - 8);
    out[start + 4] = uint8_t(size >> 24);
    out[start + 5] = uint8_t(size >> 16);
    out[start + 6] = uint8_t(size >> 8);
    out[start + 7] = uint8_t(size);
}

void appendProgram(std::vector<uint8_t>& out, const FxProgram& p) {
    size_t start = out.size();
    put32(out, kCcnK);
    put32(out, 0);
    put32(out, p.isChunk ? kFPCh : kFxCk);
    put32(out, 1);
    put32(out, p.fxId);
    put32(out, p.fxVersion);
    put32(out, p.isChunk ? p.numParams : int32_t(p.params.size()));
    char name[kPresetNameBytes] = {};
    std::memcpy(name, p.name.data(), std::min(p.name.size(), kPresetNameBytes - 1));
    out.insert(out.end(), name, name + kPresetNameBytes);
    if (p.isChunk) {
        put32(out, int32_t(p.chunk.size()));
        out.insert(out.end(), p.chunk.begin(), p.chunk.end());
    } else {
        for (float f : p.params) putFloat(out, f);
    }
    finishRecord(out, start);
}

std::string readName(const uint8_t* p) {
    size_t n = 0;
    while (n < kPresetNameBytes && p[n] != 0) ++n;
    return std::string(reinterpret_cast<const char*>(p), n);
}

// An int32 size and that many opaque bytes, which must lie inside the file.
PresetError readChunk(Reader& r, std::vector<uint8_t>& chunk) {
    if (r.remaining() < 4) return PresetError::Truncated;
    int32_t size = r.i32();
    if (size < 0 || size_t(size) > r.remaining()) return PresetError::ChunkTooLarge;
    const uint8_t* bytes = r.take(size_t(size));
    chunk.assign(bytes, bytes + size);
    return PresetError::None;
}

// Reads one program record from r (its 'CcnK' header included). outer: the record is the
// whole file, so its byteSize must match the file's length exactly. A bank's inner records
// are only required to fit: writers disagree about their byteSize fields.
PresetError readProgram(Reader& r, const PresetLimits& limits, bool outer, FxProgram& p,
                        int32_t& fileId) {
    if (r.remaining() < kProgramHeader) return PresetError::Truncated;
    if (r.i32() != kCcnK) return PresetError::BadMagic;
    int32_t byteSize = r.i32();
    if (outer && (byteSize < 0 || size_t(byteSize) != r.remaining())) return PresetError::SizeMismatch;
    int32_t magic = r.i32();
    if (magic != kFxCk && magic != kFPCh) return PresetError::BadMagic;
    int32_t version = r.i32();
    if (version < 1 || version > 2) return PresetError::BadVersion;
    p.fxId = r.i32();
    fileId = p.fxId;
    if (p.fxId != limits.uniqueId) return PresetError::WrongPlugin;
    p.fxVersion = r.i32();
    p.numParams = r.i32();
    p.name = readName(r.take(kPresetNameBytes));
    p.isChunk = magic == kFPCh;
    if (p.isChunk) return readChunk(r, p.chunk);
    if (p.numParams < 0 || p.numParams > limits.numParams) return PresetError::TooManyParams;
    if (r.remaining() / 4 < size_t(p.numParams)) return PresetError::Truncated;
    p.params.resize(size_t(p.numParams));
    for (float& f : p.params) f = r.f32();
    return PresetError::None;
}

PresetError readBank(Reader& r, const PresetLimits& limits, FxBank& b, int32_t& fileId) {
    if (r.remaining() < kBankHeader) return PresetError::Truncated;
    r.i32();  // 'CcnK', checked by the caller
    int32_t byteSize = r.i32();
    if (byteSize < 0 || size_t(byteSize) != r.remaining()) return PresetError::SizeMismatch;
    int32_t magic = r.i32();
    b.isChunk = magic == kFBCh;
    b.version = r.i32();
    if (b.version < 1 || b.version > 2) return PresetError::BadVersion;
    b.fxId = r.i32();
    fileId = b.fxId;
    if (b.fxId != limits.uniqueId) return PresetError::WrongPlugin;
    b.fxVersion = r.i32();
    b.numPrograms = r.i32();
    int32_t current = r.i32();
    b.currentProgram = b.version >= 2 ? current : 0;
    r.take(124);
    if (b.numPrograms < 0 || b.numPrograms > limits.numPrograms) return PresetError::TooManyPrograms;
    if (b.currentProgram < 0 || b.currentProgram >= std::max(b.numPrograms, 1)) b.currentProgram = 0;
    if (b.isChunk) return readChunk(r, b.chunk);
    // Each record needs at least its header, so a count the file cannot hold is a truncation.
    if (r.remaining() / kProgramHeader < size_t(b.numPrograms)) return PresetError::Truncated;
    b.programs.resize(size_t(b.numPrograms));
    for (FxProgram& p : b.programs) {
        int32_t innerId = 0;
        PresetError e = readProgram(r, limits, false, p, innerId);
        if (e != PresetError::None) {
            if (e == PresetError::WrongPlugin) fileId = innerId;
            return e;
        }
        if (p.isChunk) return PresetError::BadMagic;  // an FxBk holds parameter programs only
    }
    return PresetError::None;
}

}  // namespace

PresetParse parsePresetFile(const uint8_t* data, size_t size, const PresetLimits& limits) {
    PresetParse out;
    if (size > kMaxPresetFileBytes) {
        out.error = PresetError::TooLarge;
        return out;
    }
    if (size < 12) {
        out.error = PresetError::Truncated;
        return out;
    }
    Reader peek(data, size);
    if (peek.i32() != kCcnK) {
        out.error = PresetError::BadMagic;
        return out;
    }
    peek.i32();
    int32_t magic = peek.i32();
    Reader r(data, size);
    if (magic == kFxCk || magic == kFPCh) {
        out.kind = PresetKind::Program;
        out.error = readProgram(r, limits, true, out.program, out.fileId);
    } else if (magic == kFxBk || magic == kFBCh) {
        out.kind = PresetKind::Bank;
        out.error = readBank(r, limits, out.bank, out.fileId);
    } else {
        out.error = PresetError::BadMagic;
    }
    // byteSize matched the file, so anything left over after the content is a second
    // disagreement between the file's fields and its length.
    if (out.error == PresetError::None && r.remaining() != 0) out.error = PresetError::SizeMismatch;
    return out;
}

std::vector<uint8_t> writeFxProgram(const FxProgram& program) {
    std::vector<uint8_t> out;
    out.reserve(kProgramHeader + 4 + program.chunk.size() + 4 * program.params.size());
    appendProgram(out, program);
    return out;
}

std::vector<uint8_t> writeFxBank(const FxBank& bank) {
    std::vector<uint8_t> out;
    put32(out, kCcnK);
    put32(out, 0);
    put32(out, bank.isChunk ? kFBCh : kFxBk);
    int32_t version = bank.version == 1 ? 1 : 2;
    put32(out, version);
    put32(out, bank.fxId);
    put32(out, bank.fxVersion);
    put32(out, bank.isChunk ? bank.numPrograms : int32_t(bank.programs.size()));
    put32(out, version == 2 ? bank.currentProgram : 0);
    out.insert(out.end(), 124, uint8_t(0));
    if (bank.isChunk) {
        put32(out, int32_t(bank.chunk.size()));
        out.insert(out.end(), bank.chunk.begin(), bank.chunk.end());
    } else {
        for (const FxProgram& p : bank.programs) {
            FxProgram inner = p;
            inner.isChunk = false;
            inner.fxId = bank.fxId;
            inner.fxVersion = bank.fxVersion;
            appendProgram(out, inner);
        }
    }
    finishRecord(out, 0);
    return out;
}

std::string formatUniqueId(int32_t id) {
    uint32_t v = uint32_t(id);
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        char c = char((v >> shift) & 0xFF);
        if (c < 0x20 || c > 0x7E) return std::to_string(id);
        text += c;
    }
    return "'" + text + "' (" + std::to_string(id) + ")";
}

std::string presetErrorText(const PresetParse& parse, const PresetLimits& limits) {
    switch (parse.error) {
    case PresetError::None: return "";
    case PresetError::TooLarge: return "The file is larger than 64 MiB.";
    case PresetError::Truncated: return "The file is truncated.";
    case PresetError::BadMagic: return "This is not a VST program or bank file.";
    case PresetError::SizeMismatch: return "The file's size field disagrees with its length.";
    case PresetError::BadVersion: return "The file has a format version this host does not know.";
    case PresetError::WrongPlugin:
        return "The file is for the plug-in with ID " + formatUniqueId(parse.fileId) +
               ", not for this one (" + formatUniqueId(limits.uniqueId) + ").";
    case PresetError::TooManyParams:
        return "The file holds more parameters than the plug-in has (" +
               std::to_string(limits.numParams) + ").";
    case PresetError::TooManyPrograms:
        return "The file holds more programs than the plug-in has (" +
               std::to_string(limits.numPrograms) + ").";
    case PresetError::ChunkTooLarge: return "The file's data block is larger than the file.";
    }
    return "The file cannot be read.";
}

}  // namespace vl
