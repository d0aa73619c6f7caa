#include "host/PluginSlot.h"

#include <cstring>

#include "host/HostCallback.h"
#include "platform/Text.h"

namespace vl {

namespace {

// Plug-ins often write more than the published string limits: they get a zero-filled buffer
// far larger than the 255 bytes the host reads back.
constexpr size_t kStringBufferSize = 1024;
constexpr size_t kStringReadLimit = 255;

constexpr char kVendorName[] = "Vorlane";

using VendorVoidEntry = void (*)(vst::AEffect*);
using VendorBoolEntry = bool (*)(vst::AEffect*);

enum VendorEntryIndex { kShowAboutScreen = 0, kShowHelp = 1, kCheckForUpdates = 2, kEditorOwnsKeys = 3 };

}  // namespace

const char* describe(LoadResult result) {
    switch (result) {
        case LoadResult::Loaded: return "loaded";
        case LoadResult::PathTooShort: return "the executable path is too short";
        case LoadResult::ModuleNotFound: return "the plug-in module could not be loaded";
        case LoadResult::NoEntryPoint: return "the module exports neither VSTPluginMain nor main";
        case LoadResult::NullEffect: return "the plug-in's entry point returned no effect";
        case LoadResult::WrongMagic: return "the plug-in's effect record has the wrong magic";
    }
    return "unknown";
}

std::filesystem::path modulePathForExecutable(const std::filesystem::path& executable) {
    using String = std::filesystem::path::string_type;
    String text = executable.native();
    if (text.size() < 3) return {};
    const std::string suffix = platform::moduleSuffix();
    const String wideSuffix(suffix.begin(), suffix.end());
    const std::string exe = ".exe";
    const String wideExe(exe.begin(), exe.end());
    const size_t at = text.find(wideExe);
    if (at != String::npos) {
        text.replace(at, wideExe.size(), wideSuffix);
    } else {
        text += wideSuffix;
    }
    return std::filesystem::path(text);
}

PluginSlot::PluginSlot() {
    timeInfo.samplePos = 0.0;
    timeInfo.sampleRate = 44100.0;
    timeInfo.nanoSeconds = 0.0;
    timeInfo.ppqPos = 0.0;
    timeInfo.tempo = 120.0;
    timeInfo.barStartPos = 0.0;
    timeInfo.cycleStartPos = 0.0;
    timeInfo.cycleEndPos = 0.0;
    timeInfo.timeSigNumerator = 4;
    timeInfo.timeSigDenominator = 4;
    timeInfo.smpteOffset = 0;
    timeInfo.smpteFrameRate = 1;
    timeInfo.samplesToNextClock = 0;
    timeInfo.flags = vst::kVstPpqPosValid | vst::kVstTempoValid;
}

PluginSlot::~PluginSlot() {
    if (loopMayRun()) {
        // A device loop that never ended may still call into the plug-in: it stays open and
        // its code stays loaded for the rest of the process.
        effect = nullptr;
        module = nullptr;
    }
    // A plug-in still open when the slot goes away is closed before its code is unloaded.
    close();
    platform::freeModule(module);
    module = nullptr;
    if (hostContext() == this) setHostContext(nullptr);
}

void PluginSlot::installMidiOutHook(MidiOutHook hook, void* user) {
    midiOutUser.store(user, std::memory_order_release);
    midiOutHook.store(hook, std::memory_order_release);
}

void PluginSlot::installTempoHook(TempoHook hook, void* user) {
    tempoUser.store(user, std::memory_order_release);
    tempoHook.store(hook, std::memory_order_release);
}

void PluginSlot::installSizeWindowHook(SizeWindowHook hook, void* user) {
    sizeWindowUser.store(user, std::memory_order_release);
    sizeWindowHook.store(hook, std::memory_order_release);
}

LoadResult PluginSlot::loadForExecutable(const std::filesystem::path& executable) {
    const std::filesystem::path modulePath = modulePathForExecutable(executable);
    if (modulePath.empty()) return LoadResult::PathTooShort;
    return load(modulePath);
}

LoadResult PluginSlot::load(const std::filesystem::path& modulePath) {
    module = platform::loadModule(modulePath);
    if (!module) return LoadResult::ModuleNotFound;

    // main is tried only when VSTPluginMain is not exported at all: a VSTPluginMain that
    // fails is not followed by a second entry point.
    auto entry = reinterpret_cast<vst::PluginEntryProc>(platform::findSymbol(module, "VSTPluginMain"));
    if (!entry) entry = reinterpret_cast<vst::PluginEntryProc>(platform::findSymbol(module, "main"));
    if (!entry) return LoadResult::NoEntryPoint;

    vst::AEffect* candidate = entry(&VLHostCallback);
    if (!candidate) return LoadResult::NullEffect;
    if (candidate->magic != vst::kEffectMagic) return LoadResult::WrongMagic;
    effect = candidate;
    // Many plug-ins produce nothing, return no chunk and deny every capability until they
    // were opened: effOpen goes out once, before any other opcode.
    dispatch(vst::effOpen);
    return LoadResult::Loaded;
}

vst::intptr PluginSlot::dispatch(vst::int32 opcode, vst::int32 index, vst::intptr value, void* ptr, float opt) {
    if (!effect || !effect->dispatcher) return 0;
    return effect->dispatcher(effect, opcode, index, value, ptr, opt);
}

void PluginSlot::setBlockSize(vst::int32 frames) {
    if (!effect) return;
    lastBlockSize.store(frames, std::memory_order_release);
    dispatch(vst::effSetBlockSize, 0, frames);
}

void PluginSlot::setSampleRate(float rate) { dispatch(vst::effSetSampleRate, 0, 0, nullptr, rate); }

void PluginSlot::resume() { dispatch(vst::effMainsChanged, 0, 1); }

std::optional<vst::ERect> PluginSlot::editGetRect() {
    vst::ERect* rect = nullptr;
    dispatch(vst::effEditGetRect, 0, 0, &rect);
    if (!rect) return std::nullopt;
    return *rect;  // the rectangle belongs to the plug-in: copy it at once
}

EditorSize PluginSlot::editorSize() {
    EditorSize size;
    if (auto rect = editGetRect()) {
        size.width = rect->right;
        size.height = rect->bottom;
        size.fromPlugin = true;
    }
    return size;
}

bool PluginSlot::editOpen(void* window) { return dispatch(vst::effEditOpen, 0, 0, window) != 0; }

void PluginSlot::editClose() { dispatch(vst::effEditClose); }

void PluginSlot::editIdle() { dispatch(vst::effEditIdle); }

vst::intptr PluginSlot::getChunk(void** data) {
    void* chunk = nullptr;
    vst::intptr size = dispatch(vst::effGetChunk, 0, 0, &chunk);
    if (size <= 0 || !chunk) {
        size = 0;
        chunk = nullptr;
    }
    if (data) *data = chunk;
    return size;
}

void PluginSlot::setChunk(const void* data, vst::intptr size) {
    dispatch(vst::effSetChunk, 0, size, const_cast<void*>(data));
}

void PluginSlot::processEvents(vst::VstEvents* events) { dispatch(vst::effProcessEvents, 0, 0, events); }

std::string PluginSlot::readString(vst::int32 opcode) {
    char buffer[kStringBufferSize] = {};
    dispatch(opcode, 0, 0, buffer);
    return std::string(buffer, strnlen(buffer, kStringReadLimit));
}

std::string PluginSlot::effectName() { return readString(vst::effGetEffectName); }

std::wstring PluginSlot::effectNameWide() { return platform::ansiToWide(effectName(), 256); }

std::string PluginSlot::vendorString() { return readString(vst::effGetVendorString); }

bool PluginSlot::canDo(const char* capability) {
    return dispatch(vst::effCanDo, 0, 0, const_cast<char*>(capability)) == 1;
}

bool PluginSlot::editKeyDown(vst::int32 character, vst::int32 virtualKey, float modifiers) {
    return dispatch(vst::effEditKeyDown, character, virtualKey, nullptr, modifiers) != 0;
}

bool PluginSlot::editKeyUp(vst::int32 character, vst::int32 virtualKey, float modifiers) {
    return dispatch(vst::effEditKeyUp, character, virtualKey, nullptr, modifiers) != 0;
}

void PluginSlot::keepOpenUntil(std::shared_ptr<const std::atomic<bool>> loopEnded) { loopEnded_ = std::move(loopEnded); }

bool PluginSlot::loopMayRun() const { return loopEnded_ && !loopEnded_->load(std::memory_order_acquire); }

void PluginSlot::close() {
    if (!effect || loopMayRun()) return;
    dispatch(vst::effClose);
    effect = nullptr;
    vendorPlugin = false;
}

bool PluginSlot::isSynth() const { return effect && (effect->flags & vst::effFlagsIsSynth) != 0; }

vst::int32 PluginSlot::numInputs() const { return effect ? effect->numInputs : 0; }

vst::int32 PluginSlot::numOutputs() const { return effect ? effect->numOutputs : 0; }

bool PluginSlot::checkVendor() {
    char buffer[kStringBufferSize] = {};
    dispatch(vst::effGetVendorString, 0, 0, buffer);
    vendorPlugin = effect && std::memcmp(buffer, kVendorName, sizeof kVendorName) == 0;
    return vendorPlugin;
}

void* PluginSlot::vendorEntry(int index) const {
    if (!effect || !vendorPlugin) return nullptr;
    void* entry = nullptr;
    std::memcpy(&entry, reinterpret_cast<const char*>(effect) + kVendorExtensionOffset + index * sizeof(void*),
                sizeof entry);
    return entry;
}

void PluginSlot::showAboutScreen() {
    if (auto fn = reinterpret_cast<VendorVoidEntry>(vendorEntry(kShowAboutScreen))) fn(effect);
}

void PluginSlot::showHelp() {
    if (auto fn = reinterpret_cast<VendorVoidEntry>(vendorEntry(kShowHelp))) fn(effect);
}

void PluginSlot::checkForUpdates() {
    if (auto fn = reinterpret_cast<VendorVoidEntry>(vendorEntry(kCheckForUpdates))) fn(effect);
}

bool PluginSlot::editorOwnsKeys() {
    if (auto fn = reinterpret_cast<VendorBoolEntry>(vendorEntry(kEditorOwnsKeys))) return fn(effect);
    return false;
}

}  // namespace vl
