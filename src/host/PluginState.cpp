// The plug-in's state between runs. A plug-in with chunks keeps its bank chunk, byte for byte,
// in "saved.chunk"; one without keeps its parameters and current program in
// "saved.parameters" (ParameterState.h). Both files live in the folder named by the settings
// value "contentpath" where an installer provided one, else in the user's own folder for this
// effect, so that every plug-in keeps its sound.

#include <exception>
#include <optional>
#include <system_error>
#include <vector>

#include "host/ParameterState.h"
#include "host/VLVSTHostInterface.h"
#include "platform/FileIO.h"
#include "platform/Text.h"
#include "platform/UserFolders.h"
#include "settings/HostSettings.h"

namespace vl {

namespace {

constexpr wchar_t kContentPathValue[] = L"contentpath";
constexpr wchar_t kStateFileName[] = L"saved.chunk";
constexpr wchar_t kParameterFileName[] = L"saved.parameters";
// A state file larger than this is not handed to the plug-in.
constexpr size_t kMaxStateBytes = size_t(1) << 30;

bool offersChunks(const vst::AEffect* effect) { return effect && (effect->flags & vst::effFlagsProgramChunks); }

// The chunk when the plug-in hands one over (0 = none). Plug-ins without the chunk flag are asked
// too: some answer one all the same, and their saved.chunk has always been kept.
bool saveBankChunk(PluginSlot& slot, const std::filesystem::path& path) {
    void* data = nullptr;
    const vst::intptr size = slot.getChunk(&data);
    if (size <= 0 || !data) return false;  // nothing to save: an earlier file stays as it is
    // Written next to the old file and renamed over it, so a failed save never destroys it.
    platform::writeFileAtomically(path, data, static_cast<size_t>(size));
    return true;
}

std::optional<std::vector<uint8_t>> readStateFile(const std::filesystem::path& path) {
    // A state file too large for the memory there is is skipped like a missing one (the
    // allocation's exception goes no further).
    try {
        return platform::readWholeFile(path, kMaxStateBytes);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace

std::wstring stateFolderName(const std::wstring& effectName) {
    std::wstring name;
    for (wchar_t c : effectName) {
        const bool unsafe = c < 32 || c == L'<' || c == L'>' || c == L':' || c == L'"' || c == L'/' || c == L'\\' ||
                            c == L'|' || c == L'?' || c == L'*';
        name += unsafe ? L'_' : c;
    }
    // Windows drops trailing dots and spaces from a name, so two effects could meet in one folder.
    while (!name.empty() && (name.back() == L'.' || name.back() == L' ')) name.pop_back();
    if (name.empty()) return L"_";
    // Device names (CON, NUL, COM1, ...) cannot be folders on Windows, with or without extension.
    std::wstring stem = name.substr(0, name.find(L'.'));
    for (auto& c : stem) c = static_cast<wchar_t>(c >= L'a' && c <= L'z' ? c - 32 : c);
    static const wchar_t* const reserved[] = {L"CON", L"PRN", L"AUX", L"NUL"};
    bool isDevice = false;
    for (const wchar_t* r : reserved) isDevice = isDevice || stem == r;
    if (stem.size() == 4 && (stem.rfind(L"COM", 0) == 0 || stem.rfind(L"LPT", 0) == 0) && stem[3] >= L'1' &&
        stem[3] <= L'9')
        isDevice = true;
    if (isDevice) name += L'_';
    return name;
}

std::optional<std::filesystem::path> VLVSTHostInterface::StateFilePath(const std::wstring& fileName, bool create) {
    if (!settings) return std::nullopt;
    try {
        // "contentpath" stays exactly what the installer made of it: the name is appended to
        // the text directly, and the folder is never created by us.
        std::wstring contentPath;
        if (settings->readRootString(kContentPathValue, contentPath))
            return platform::pathFromWide(contentPath + fileName);
        const auto userFolder = platform::userDataFolder();
        if (!userFolder) return std::nullopt;
        const std::filesystem::path folder = *userFolder / "Vorlane" / platform::pathFromWide(stateFolderName(settings->effectName));
        if (create) {
            std::error_code ec;
            std::filesystem::create_directories(folder, ec);
            if (ec) return std::nullopt;
        }
        return folder / platform::pathFromWide(fileName);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

void VLVSTHostInterface::SaveChunk() {
    if (!settings || !slot || !slot->effect) return;
    const auto chunkPath = StateFilePath(kStateFileName, true);
    if (!chunkPath) return;
    if (saveBankChunk(*slot, *chunkPath) || offersChunks(slot->effect)) return;
    // A plug-in without chunks: its parameters and program are its state.
    const auto parameterPath = StateFilePath(kParameterFileName, true);
    if (!parameterPath) return;
    try {
        const auto bytes = encodeParameterState(captureParameterState(*slot));
        if (!bytes.empty()) platform::writeFileAtomically(*parameterPath, bytes.data(), bytes.size());
    } catch (const std::exception&) {
        // No memory for a snapshot: the earlier file stays.
    }
}

void VLVSTHostInterface::LoadChunk() {
    if (!settings || !slot || !slot->effect) return;
    // Every failure leaves the plug-in's state as it is, without a word.
    if (!offersChunks(slot->effect)) {
        if (const auto parameterPath = StateFilePath(kParameterFileName, false)) {
            if (const auto bytes = readStateFile(*parameterPath)) {
                if (const auto state = decodeParameterState(*bytes)) {
                    if (applyParameterState(*slot, *state)) return;
                }
            }
        }
    }
    const auto chunkPath = StateFilePath(kStateFileName, false);
    if (!chunkPath) return;
    const auto bytes = readStateFile(*chunkPath);
    if (!bytes) return;
    // Also an empty file is handed over, with size 0 (and a valid pointer all the same).
    static const uint8_t noBytes = 0;
    slot->setChunk(bytes->empty() ? &noBytes : bytes->data(), static_cast<vst::intptr>(bytes->size()));
}

}  // namespace vl
