#include "app/PresetRules.h"

#include <algorithm>

#include "platform/Text.h"
#include "settings/KeyValueStore.h"

namespace vl::app {

namespace {

constexpr wchar_t kPresetFolderValue[] = L"PresetFolder";
constexpr wchar_t kWindowLeftValue[] = L"WindowLeft";
constexpr wchar_t kWindowTopValue[] = L"WindowTop";

void writeValues(KeyValueStore& store, const std::wstring& keyPath,
                 const std::vector<std::pair<const wchar_t*, uint32_t>>& dwords, const wchar_t* stringName,
                 const std::wstring* string) {
    // Written out when the key closes (the file store merges them into the file).
    ScopedKey key(store, store.createKey(keyPath));
    if (!key) return;
    for (const auto& [name, value] : dwords) {
        store.deleteValue(key.get(), name);
        store.writeDword(key.get(), name, value);
    }
    if (stringName && string) {
        store.deleteValue(key.get(), stringName);
        store.writeString(key.get(), stringName, *string);
    }
}

}  // namespace

bool isAudioFileName(const std::filesystem::path& path) {
    const std::string ext = platform::lowerExtension(path);
    return ext == ".wav" || ext == ".aif" || ext == ".aiff";
}

std::optional<int> programOfCommand(int command, int programs) {
    const int index = command - kFirstProgramCommand;
    if (index < 0 || index >= std::min(programs, kMaxProgramCommands)) return std::nullopt;
    return index;
}

std::wstring menuItemText(std::wstring_view text, wchar_t mnemonic) {
    std::wstring out;
    out.reserve(text.size() + 2);
    bool marked = mnemonic == 0;
    for (wchar_t c : text) {
        if (!marked && c == mnemonic) {
            out += L'&';
            marked = true;
        }
        out += c;
        if (c == L'&') out += L'&';
    }
    return out;
}

std::wstring presetCaptionName(const std::wstring& effectName, const std::wstring& programName) {
    if (programName.empty()) return effectName;
    return effectName + L" - " + programName;
}

std::wstring presetLoadFailedText(const std::wstring& file, const std::string& reason) {
    return L"Couldn't load \"" + file + L"\".\r\n" + platform::utf8ToWide(reason);
}

std::wstring presetSaveFailedText(const std::wstring& file, const std::string& reason) {
    return L"Couldn't save \"" + file + L"\".\r\n" + platform::utf8ToWide(reason);
}

std::wstring presetResetFailedText(const std::string& reason) {
    return L"Couldn't reset the plug-in to its default.\r\n" + platform::utf8ToWide(reason);
}

std::wstring readPresetFolder(KeyValueStore& store, const std::wstring& settingsKeyPath) {
    ScopedKey key(store, store.openKey(settingsKeyPath));
    std::wstring folder;
    if (!key || !store.readString(key.get(), kPresetFolderValue, folder)) return {};
    return folder;
}

void writePresetFolder(KeyValueStore& store, const std::wstring& settingsKeyPath, const std::wstring& folder) {
    writeValues(store, settingsKeyPath, {}, kPresetFolderValue, &folder);
}

std::optional<WindowPosition> readWindowPosition(KeyValueStore& store, const std::wstring& settingsKeyPath) {
    ScopedKey key(store, store.openKey(settingsKeyPath));
    uint32_t left = 0, top = 0;
    if (!key || !store.readDword(key.get(), kWindowLeftValue, left) ||
        !store.readDword(key.get(), kWindowTopValue, top))
        return std::nullopt;
    // Stored as the bits of a signed value: screens left of or above the primary one are negative.
    return WindowPosition{static_cast<int>(static_cast<int32_t>(left)), static_cast<int>(static_cast<int32_t>(top))};
}

void writeWindowPosition(KeyValueStore& store, const std::wstring& settingsKeyPath, WindowPosition position) {
    writeValues(store, settingsKeyPath,
                {{kWindowLeftValue, static_cast<uint32_t>(static_cast<int32_t>(position.left))},
                 {kWindowTopValue, static_cast<uint32_t>(static_cast<int32_t>(position.top))}},
                nullptr, nullptr);
}

WindowPosition placeOnScreens(WindowPosition stored, Size window, const std::vector<Rect>& workAreas,
                              const Rect& primaryWorkArea) {
    const int titleRight = stored.left + std::max(window.width, 1);
    const int titleBottom = stored.top + kVisibleTitleStrip;
    for (const Rect& area : workAreas) {
        const int width = std::min(titleRight, area.right) - std::max(stored.left, area.left);
        const int height = std::min(titleBottom, area.bottom) - std::max(stored.top, area.top);
        if (width >= std::min(kVisibleTitleWidth, std::max(window.width, 1)) && height >= kVisibleTitleStrip / 2)
            return stored;
    }
    // Gone or off every screen: the primary work area's corner.
    return WindowPosition{primaryWorkArea.left, primaryWorkArea.top};
}

}  // namespace vl::app
