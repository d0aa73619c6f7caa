// libFuzzer target: the .fxp / .fxb reader over arbitrary bytes. What it accepts must write
// back to a file it accepts again with the same content.

#include <cstddef>
#include <cstdint>

#include "host/PresetFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const vl::PresetLimits limits{0x566C5062, 64, 16};  // 'VlPb'
    const vl::PresetParse parse = vl::parsePresetFile(data, size, limits);
    if (!parse.ok()) return 0;
    const std::vector<uint8_t> again = parse.kind == vl::PresetKind::Program ? vl::writeFxProgram(parse.program)
                                                                             : vl::writeFxBank(parse.bank);
    const vl::PresetParse back = vl::parsePresetFile(again.data(), again.size(), limits);
    if (!back.ok() || back.kind != parse.kind) __builtin_trap();
    if (parse.kind == vl::PresetKind::Program && back.program.chunk != parse.program.chunk) __builtin_trap();
    if (parse.kind == vl::PresetKind::Bank && back.bank.programs.size() != parse.bank.programs.size())
        __builtin_trap();
    return 0;
}
