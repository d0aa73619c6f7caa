#pragma once
// VST 2.x program (.fxp) and bank (.fxb) files: parsing and writing, independent of any
// plug-in. The layout relied on is the published one; every field is big-endian:
//   0  'CcnK'            chunkMagic
//   4  int32 byteSize    size of the rest of the file after this field (total - 8)
//   8  fxMagic           'FxCk' / 'FPCh' (program), 'FxBk' / 'FBCh' (bank)
//  12  int32 version     1 (banks: 1 or 2)
//  16  int32 fxID        the plug-in's unique ID
//  20  int32 fxVersion   the plug-in's version
//  24  int32 count       numParams (program) or numPrograms (bank)
// program: 28  char prgName[28]; 56  float params[count] (FxCk) or int32 size + bytes (FPCh)
// bank:    28  version 2: int32 currentProgram + 124 zero bytes, version 1: 128 zero bytes;
//         156  count fxProgram records (FxBk) or int32 size + bytes (FBCh)
// A bank's inner program records are each a full 'CcnK' ... 'FxCk' record as above.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vl {

// Files larger than this are refused before they are read.
constexpr size_t kMaxPresetFileBytes = size_t(64) << 20;
constexpr size_t kPresetNameBytes = 28;

struct FxProgram {
    int32_t fxId = 0;
    int32_t fxVersion = 1;
    int32_t numParams = 0;          // FPCh: the plug-in's count; FxCk: params.size()
    std::string name;               // at most 27 bytes are stored
    bool isChunk = false;
    std::vector<float> params;      // FxCk
    std::vector<uint8_t> chunk;     // FPCh
};

struct FxBank {
    int32_t fxId = 0;
    int32_t fxVersion = 1;
    int32_t version = 2;
    int32_t numPrograms = 0;        // FBCh: the plug-in's count; FxBk: programs.size()
    int32_t currentProgram = 0;     // version 2 only
    bool isChunk = false;
    std::vector<FxProgram> programs;  // FxBk
    std::vector<uint8_t> chunk;       // FBCh
};

enum class PresetKind { Program, Bank };

// Why a file was refused.
enum class PresetError {
    None,
    TooLarge,         // over kMaxPresetFileBytes
    Truncated,        // shorter than its header or its parameter list
    BadMagic,         // not 'CcnK', or an unknown fxMagic
    SizeMismatch,     // byteSize disagrees with the file's length
    BadVersion,       // a format version this code does not know
    WrongPlugin,      // fxID differs from the plug-in's unique ID
    TooManyParams,    // more parameters than the plug-in has
    TooManyPrograms,  // more programs than the plug-in has
    ChunkTooLarge,    // a chunk size beyond the end of the file, or negative
};

// What the plug-in accepts; the file is checked against it before anything reaches it.
struct PresetLimits {
    int32_t uniqueId = 0;
    int32_t numParams = 0;
    int32_t numPrograms = 0;
};

struct PresetParse {
    PresetError error = PresetError::None;
    PresetKind kind = PresetKind::Program;
    int32_t fileId = 0;  // the fxID found in the file, also on WrongPlugin
    FxProgram program;   // when kind is Program
    FxBank bank;         // when kind is Bank
    bool ok() const { return error == PresetError::None; }
};

PresetParse parsePresetFile(const uint8_t* data, size_t size, const PresetLimits& limits);

std::vector<uint8_t> writeFxProgram(const FxProgram& program);
std::vector<uint8_t> writeFxBank(const FxBank& bank);

// A four-character ID as text ("Abcd"), or its number where it is not printable.
std::string formatUniqueId(int32_t id);
// A sentence for the user: why the file was refused.
std::string presetErrorText(const PresetParse& parse, const PresetLimits& limits);

}  // namespace vl
