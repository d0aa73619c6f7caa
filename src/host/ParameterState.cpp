#include "host/ParameterState.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "host/PluginSlot.h"

namespace vl {

namespace {

constexpr char kMagic[4] = {'V', 'L', 'P', 'S'};
constexpr size_t kHeaderBytes = 20;

void putU32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

uint32_t getU32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

}  // namespace

ParameterState captureParameterState(PluginSlot& slot) {
    ParameterState state;
    vst::AEffect* effect = slot.effect;
    if (!effect || !effect->getParameter || effect->numParams <= 0) return state;
    state.uniqueId = effect->uniqueID;
    state.program = static_cast<int32_t>(slot.dispatch(vst::effGetProgram));
    const auto count = std::min(static_cast<uint32_t>(effect->numParams), kMaxStateParameters);
    state.values.reserve(count);
    for (uint32_t i = 0; i < count; ++i) state.values.push_back(effect->getParameter(effect, static_cast<vst::int32>(i)));
    return state;
}

std::vector<uint8_t> encodeParameterState(const ParameterState& state) {
    std::vector<uint8_t> out;
    if (state.values.empty()) return out;
    out.reserve(kHeaderBytes + 4 * state.values.size());
    for (char c : kMagic) out.push_back(static_cast<uint8_t>(c));
    putU32(out, kParameterStateVersion);
    putU32(out, static_cast<uint32_t>(state.uniqueId));
    putU32(out, static_cast<uint32_t>(state.program));
    putU32(out, static_cast<uint32_t>(state.values.size()));
    for (float v : state.values) {
        uint32_t bits;
        std::memcpy(&bits, &v, 4);
        putU32(out, bits);
    }
    return out;
}

std::optional<ParameterState> decodeParameterState(const std::vector<uint8_t>& bytes) {
    if (bytes.size() < kHeaderBytes || std::memcmp(bytes.data(), kMagic, 4) != 0) return std::nullopt;
    const uint8_t* p = bytes.data();
    if (getU32(p + 4) != kParameterStateVersion) return std::nullopt;
    const uint32_t count = getU32(p + 16);
    if (count > kMaxStateParameters || bytes.size() != kHeaderBytes + size_t(4) * count) return std::nullopt;
    ParameterState state;
    state.uniqueId = static_cast<int32_t>(getU32(p + 8));
    state.program = static_cast<int32_t>(getU32(p + 12));
    state.values.resize(count);
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t bits = getU32(p + kHeaderBytes + 4 * i);
        std::memcpy(&state.values[i], &bits, 4);
    }
    return state;
}

bool applyParameterState(PluginSlot& slot, const ParameterState& state) {
    vst::AEffect* effect = slot.effect;
    if (!effect || !effect->setParameter || effect->uniqueID != state.uniqueId) return false;
    // The program first: choosing one may set every parameter, which the stored values then override.
    if (state.program >= 0 && state.program < effect->numPrograms) slot.dispatch(vst::effSetProgram, 0, state.program);
    const size_t count = std::min(state.values.size(), static_cast<size_t>(std::max(effect->numParams, 0)));
    for (size_t i = 0; i < count; ++i) {
        const float v = state.values[i];
        if (!std::isfinite(v)) continue;
        effect->setParameter(effect, static_cast<vst::int32>(i), std::clamp(v, 0.0f, 1.0f));
    }
    return true;
}

}  // namespace vl
