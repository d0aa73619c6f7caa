#pragma once
// PluginSlot: the one record that holds the hosted plug-in, and every call the host makes
// into it. All dispatcher calls pass through dispatch(), which tolerates a missing plug-in.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "vst/VstAbi.h"
#include "platform/Module.h"

namespace vl {

using MidiOutHook = void (*)(const vst::VstMidiEvent* event, void* user);
using TempoHook = void (*)(double tempo, void* user);
// The plug-in asks for a new editor size (audioMasterSizeWindow); true = the host follows.
using SizeWindowHook = bool (*)(int width, int height, void* user);

// Why loading ended without a plug-in (Loaded means it has one).
enum class LoadResult {
    Loaded,
    PathTooShort,    // the executable path had fewer than 3 characters
    ModuleNotFound,  // the module could not be loaded
    NoEntryPoint,    // neither VSTPluginMain nor main is exported
    NullEffect,      // the entry point returned null
    WrongMagic,      // the entry point returned a record without the 'VstP' magic
};
const char* describe(LoadResult result);

// Module path next to the executable: the first ".exe" (case-sensitive) becomes the module
// suffix; a name without ".exe" gets the suffix appended. Empty when the path has fewer than
// 3 characters.
std::filesystem::path modulePathForExecutable(const std::filesystem::path& executable);

// Editor size used when the plug-in leaves effEditGetRect's pointer null.
constexpr int kDefaultEditorWidth = 480;
constexpr int kDefaultEditorHeight = 320;

struct EditorSize {
    int width = kDefaultEditorWidth;
    int height = kDefaultEditorHeight;
    bool fromPlugin = false;
};

class PluginSlot {
public:
    PluginSlot();
    ~PluginSlot();
    PluginSlot(const PluginSlot&) = delete;
    PluginSlot& operator=(const PluginSlot&) = delete;

    // --- the record ---------------------------------------------------------------------
    vst::AEffect* effect = nullptr;
    platform::ModuleHandle module = nullptr;
    vst::VstTimeInfo timeInfo{};
    // The hooks are installed on the user-interface thread and called from any thread on
    // which the plug-in calls back: the user pointer is stored first, the hook published last.
    std::atomic<MidiOutHook> midiOutHook{nullptr};
    std::atomic<void*> midiOutUser{nullptr};
    std::atomic<TempoHook> tempoHook{nullptr};
    std::atomic<void*> tempoUser{nullptr};
    std::atomic<SizeWindowHook> sizeWindowHook{nullptr};
    std::atomic<void*> sizeWindowUser{nullptr};

    // Set by audioMasterUpdateDisplay (any thread): the programs or their names changed.
    std::atomic<bool> displayChanged{false};
    bool takeDisplayChange() {
        return displayChanged.load(std::memory_order_acquire) && displayChanged.exchange(false, std::memory_order_acq_rel);
    }

    void installMidiOutHook(MidiOutHook hook, void* user);
    void installTempoHook(TempoHook hook, void* user);
    void installSizeWindowHook(SizeWindowHook hook, void* user);

    // --- loading ------------------------------------------------------------------------
    // Loads the module beside the executable (see modulePathForExecutable).
    LoadResult loadForExecutable(const std::filesystem::path& executable);
    // Loads the module at an absolute path, obtains the effect from its entry point and opens
    // it (effOpen, exactly once). The module handle is kept even when no effect was obtained.
    LoadResult load(const std::filesystem::path& modulePath);

    // --- dispatcher calls ---------------------------------------------------------------
    // Sends one opcode; 0 when there is no plug-in.
    vst::intptr dispatch(vst::int32 opcode, vst::int32 index = 0, vst::intptr value = 0, void* ptr = nullptr,
                         float opt = 0.0f);

    void setBlockSize(vst::int32 frames);
    void setSampleRate(float rate);
    void resume();  // effMainsChanged 1
    std::optional<vst::ERect> editGetRect();
    EditorSize editorSize();
    bool editOpen(void* window);
    void editClose();
    void editIdle();
    // Size of the bank chunk and its plug-in-owned data; 0 = nothing to save.
    vst::intptr getChunk(void** data);
    void setChunk(const void* data, vst::intptr size);
    void processEvents(vst::VstEvents* events);
    std::string effectName();
    std::wstring effectNameWide();
    std::string vendorString();
    bool canDo(const char* capability);
    bool editKeyDown(vst::int32 character, vst::int32 virtualKey, float modifiers);
    bool editKeyUp(vst::int32 character, vst::int32 virtualKey, float modifiers);
    // effClose; the record is dead afterwards, so the slot forgets the effect. Refused while
    // a device loop may still call the plug-in (see keepOpenUntil).
    void close();
    // Keeps the plug-in open and its module loaded until *loopEnded reads true: close() does
    // nothing before, and a slot destroyed before leaves both for the rest of the process.
    // Null lifts the hold.
    void keepOpenUntil(std::shared_ptr<const std::atomic<bool>> loopEnded);
    bool loopMayRun() const;

    // --- the effect record's fields -----------------------------------------------------
    bool isSynth() const;
    vst::int32 numInputs() const;
    vst::int32 numOutputs() const;
    void processReplacing(float** inputs, float** outputs, vst::int32 frames) {
        if (effect && effect->processReplacing) effect->processReplacing(effect, inputs, outputs, frames);
    }

    // --- the maker's own plug-ins -------------------------------------------------------
    // effGetVendorString compared byte-exactly with "Vorlane" and its terminating zero. The
    // answer is remembered; the extension block is consulted only when it was true.
    bool checkVendor();
    bool isVendorPlugin() const { return vendorPlugin; }
    void showAboutScreen();
    void showHelp();
    void checkForUpdates();
    bool editorOwnsKeys();

    // Block size last sent with effSetBlockSize (0 before), answered to the plug-in's
    // audioMasterGetBlockSize.
    vst::int32 blockSize() const { return lastBlockSize.load(std::memory_order_acquire); }

private:
    std::string readString(vst::int32 opcode);
    void* vendorEntry(int index) const;

    std::atomic<vst::int32> lastBlockSize{0};
    bool vendorPlugin = false;
    std::shared_ptr<const std::atomic<bool>> loopEnded_;
};

// Byte offset of the vendor extension block behind the published effect record.
constexpr size_t kVendorExtensionOffset = sizeof(vst::AEffect);

}  // namespace vl
