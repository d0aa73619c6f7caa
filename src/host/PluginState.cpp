// The plug-in's state between runs. A plug-in with chunks keeps its bank chunk, byte for byte,
// in "saved.chunk"; one without keeps its parameters and current program in
// "saved.parameters" (ParameterState.h). Both files live in the folder named by the settings
// value "contentpath" where an installer provided one, else in the user's own folder for this
// effect, so that every plug-in keeps its sound.
//
// The user's folder carries "saved.owner": the unique ID and the exact name of the plug-in that
// keeps its state there. A plug-in never takes state from a folder another one owns; it keeps
// its own in a folder of its own beside it (ownStateFolderName), so two plug-ins of one name,
// or of names that differ only in case, never swap their state.

#include <exception>
#include <optional>
#include <system_error>
#include <vector>

#include "host/ParameterState.h"
#include "host/VLVSTHostInterface.h"
#include "platform/FileIO.h"
#include "platform/Text.h"
#include "platform/UserFolders.h"
#include "settings/EffectName.h"
#include "settings/HostSettings.h"

namespace vl {

namespace fs = std::filesystem;

namespace {

constexpr wchar_t kContentPathValue[] = L"contentpath";
constexpr wchar_t kStateFileName[] = L"saved.chunk";
constexpr wchar_t kParameterFileName[] = L"saved.parameters";
constexpr wchar_t kOwnerFileName[] = L"saved.owner";
constexpr char kOwnerMagic[] = "Vorlane state owner 1";
constexpr wchar_t kRecordingPrefix[] = L"Recording ";
// A state file larger than this is not handed to the plug-in.
constexpr size_t kMaxStateBytes = size_t(1) << 30;

bool offersChunks(const vst::AEffect* effect) { return effect && (effect->flags & vst::effFlagsProgramChunks); }

// The state to save: the chunk when the plug-in hands one over, else (for a plug-in without the
// chunk flag) its parameters. Plug-ins without the chunk flag are asked for a chunk too: some
// answer one all the same, and their saved.chunk has always been kept.
struct StateBytes {
    const wchar_t* fileName = kStateFileName;
    const void* data = nullptr;
    size_t size = 0;
    std::vector<uint8_t> own;
};

std::optional<StateBytes> takeState(PluginSlot& slot) {
    StateBytes state;
    void* chunk = nullptr;
    const vst::intptr size = slot.getChunk(&chunk);
    if (size > 0 && chunk) {
        state.data = chunk;
        state.size = static_cast<size_t>(size);
        return state;
    }
    // Nothing to save: an earlier file stays as it is.
    if (offersChunks(slot.effect)) return std::nullopt;
    try {
        state.own = encodeParameterState(captureParameterState(slot));
    } catch (const std::exception&) {
        return std::nullopt;  // no memory for a snapshot: the earlier file stays
    }
    if (state.own.empty()) return std::nullopt;
    state.fileName = kParameterFileName;
    state.data = state.own.data();
    state.size = state.own.size();
    return state;
}

std::optional<std::vector<uint8_t>> readStateFile(const fs::path& path) {
    // A state file too large for the memory there is is skipped like a missing one (the
    // allocation's exception goes no further).
    try {
        return platform::readWholeFile(path, kMaxStateBytes);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

// ---- the owner of a user folder ----------------------------------------------------------------

struct Owner {
    uint32_t uniqueId = 0;
    std::wstring name;
    bool operator==(const Owner&) const = default;
};

Owner ownerOf(const VLVSTHostInterface& host) {
    return {static_cast<uint32_t>(host.slot->effect->uniqueID), host.settings->effectName};
}

std::optional<Owner> readOwner(const fs::path& folder) {
    const auto bytes = readStateFile(folder / kOwnerFileName);
    if (!bytes) return std::nullopt;
    const std::string text(bytes->begin(), bytes->end());
    const std::string idLine = std::string(kOwnerMagic) + "\nuniqueID ";
    if (text.rfind(idLine, 0) != 0 || text.size() < idLine.size() + 8 + 6) return std::nullopt;
    Owner owner;
    try {
        owner.uniqueId = static_cast<uint32_t>(std::stoul(text.substr(idLine.size(), 8), nullptr, 16));
    } catch (const std::exception&) {
        return std::nullopt;
    }
    const size_t nameAt = idLine.size() + 8;
    if (text.compare(nameAt, 6, "\nname ") != 0) return std::nullopt;
    std::string name = text.substr(nameAt + 6);
    if (!name.empty() && name.back() == '\n') name.pop_back();
    owner.name = platform::utf8ToWide(name);
    return owner;
}

bool writeOwner(const fs::path& folder, const Owner& owner, std::wstring* reason) {
    const std::string text = std::string(kOwnerMagic) + "\nuniqueID " + platform::wideToUtf8(hex32(owner.uniqueId)) +
                             "\nname " + platform::wideToUtf8(owner.name) + "\n";
    return platform::writeFileAtomically(folder / kOwnerFileName, text.data(), text.size(), reason);
}

bool isFolder(const fs::path& path) {
    std::error_code ec;
    return fs::is_directory(path, ec);
}

// This effect's folder below the user's "Vorlane" folder: its own folder once it has one; its
// name's folder unless another plug-in owns that (a folder of an earlier version, without an
// owner, is taken as it is); for loading only, the folder an earlier version named differently.
// Loading answers nothing where the state can only be another plug-in's.
std::optional<fs::path> userFolderOf(const fs::path& base, const Owner& me, const std::wstring& rawName, bool forSave) {
    const fs::path own = base / platform::pathFromWide(ownStateFolderName(me.name, static_cast<int32_t>(me.uniqueId)));
    if (isFolder(own)) return own;
    const fs::path named = base / platform::pathFromWide(stateFolderName(me.name));
    if (isFolder(named)) {
        const auto owner = readOwner(named);
        if (!owner || *owner == me) return named;
        if (forSave) return own;
        return std::nullopt;
    }
    if (!forSave) {
        for (const std::wstring& old : {legacyStateFolderName(rawName), legacyStateFolderName(me.name)}) {
            const fs::path legacy = base / platform::pathFromWide(old);
            if (legacy == named || !isFolder(legacy)) continue;
            const auto owner = readOwner(legacy);
            if (!owner || *owner == me) return legacy;
        }
    }
    return named;
}

// Where a state file goes, or why it cannot: the folder is created (and claimed) for a save.
struct StatePlace {
    std::optional<fs::path> path;
    fs::path intended;
    std::wstring reason;
};

StatePlace placeOf(VLVSTHostInterface& host, const std::wstring& fileName, bool create) {
    StatePlace place;
    // "contentpath" stays exactly what the installer made of it: the name is appended to the
    // text directly, and the folder is never created by us.
    std::wstring contentPath;
    if (host.settings->readRootString(kContentPathValue, contentPath)) {
        place.path = platform::pathFromWide(contentPath + fileName);
        return place;
    }
    const auto userFolder = platform::userDataFolder();
    if (!userFolder) {
        place.reason = L"No folder for the plug-in's state is known (the user's application data folder is not set).";
        return place;
    }
    if (!host.slot || !host.slot->effect) return place;
    const Owner me = ownerOf(host);
    const auto folder = userFolderOf(*userFolder / "Vorlane", me, host.slot->effectNameWide(), create);
    if (!folder) return place;
    place.intended = *folder / platform::pathFromWide(fileName);
    if (create) {
        std::error_code ec;
        fs::create_directories(*folder, ec);
        if (ec || !isFolder(*folder)) {
            place.reason = L"The folder cannot be created: " +
                           platform::utf8ToWide(ec ? ec.message() : std::string("a file stands in its place"));
            return place;
        }
        if (readOwner(*folder) != me && !writeOwner(*folder, me, &place.reason)) return place;
    }
    place.path = place.intended;
    return place;
}

}  // namespace

std::optional<fs::path> VLVSTHostInterface::StateFilePath(const std::wstring& fileName, bool create) {
    if (!settings) return std::nullopt;
    try {
        return placeOf(*this, fileName, create).path;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::vector<fs::path> VLVSTHostInterface::SecondPlacePaths(const std::wstring& fileName) {
    std::vector<fs::path> paths;
    if (!settings || !slot || !slot->effect) return paths;
    try {
        const std::wstring folder = ownStateFolderName(settings->effectName, slot->effect->uniqueID);
        for (const fs::path& root : platform::secondPlaceFolders())
            paths.push_back(root / "Vorlane" / "Kept" / platform::pathFromWide(folder) / platform::pathFromWide(fileName));
    } catch (const std::exception&) {
    }
    return paths;
}

VLVSTHostInterface::StateSave VLVSTHostInterface::SaveChunk() {
    StateSave result;
    if (!settings || !slot || !slot->effect) return result;
    const auto state = takeState(*slot);
    if (!state) return result;
    try {
        const StatePlace place = placeOf(*this, state->fileName, true);
        result.file = place.path.value_or(place.intended);
        result.reason = place.reason;
        // Written next to the old file and renamed over it, so a failed save never destroys it.
        result.saved = place.path && platform::writeFileAtomically(*place.path, state->data, state->size, &result.reason);
    } catch (const std::exception&) {
        result.saved = false;
    }
    if (!result.saved && result.reason.empty()) result.reason = L"No place for the plug-in's state could be named.";
    // A copy an earlier session's end kept elsewhere is older now, and must not come back.
    if (result.saved) {
        for (const fs::path& kept : SecondPlacePaths(state->fileName)) {
            std::error_code ec;
            fs::remove(kept, ec);
        }
    }
    return result;
}

VLVSTHostInterface::StateSave VLVSTHostInterface::SaveChunkForSessionEnd() {
    StateSave result = SaveChunk();
    if (result.saved) return result;
    // No one is left to ask: the state goes to the first second place that takes it, and the
    // next start hands it back.
    const auto state = takeState(*slot);
    if (!state) return result;
    for (const fs::path& path : SecondPlacePaths(state->fileName)) {
        std::error_code ec;
        fs::create_directories(path.parent_path(), ec);
        if (platform::writeFileAtomically(path, state->data, state->size)) {
            result.keptAt = path;
            break;
        }
    }
    return result;
}

std::vector<VLVSTHostInterface::KeptFile> VLVSTHostInterface::LoadChunk() {
    std::vector<KeptFile> kept;
    if (!settings || !slot || !slot->effect) return kept;
    // Files an earlier session's end kept in a second place come home first; a state that
    // cannot is handed over from where it was kept (it is the newer one).
    std::optional<fs::path> keptState;
    try {
        for (const fs::path& place : SecondPlacePaths(kStateFileName)) {
            std::error_code ec;
            for (const auto& entry : fs::directory_iterator(place.parent_path(), ec)) {
                const std::wstring name = platform::pathToWide(entry.path().filename());
                const bool isState = name == kStateFileName || name == kParameterFileName;
                if (!isState && name.rfind(kRecordingPrefix, 0) != 0) continue;
                KeptFile file{entry.path(), {}, false};
                const auto home = StateFilePath(name, true);
                const auto bytes = readStateFile(entry.path());
                if (home && bytes && platform::writeFileAtomically(*home, bytes->data(), bytes->size())) {
                    std::error_code removed;
                    fs::remove(entry.path(), removed);
                    file.movedHome = true;
                }
                file.home = home.value_or(fs::path());
                if (isState && !file.movedHome && !keptState) keptState = entry.path();
                kept.push_back(file);
            }
        }
    } catch (const std::exception&) {
    }

    // Every failure leaves the plug-in's state as it is, without a word.
    const auto pathOf = [&](const wchar_t* fileName) -> std::optional<fs::path> {
        if (keptState) {
            if (keptState->filename() == platform::pathFromWide(fileName)) return keptState;
            return std::nullopt;
        }
        return StateFilePath(fileName, false);
    };
    if (!offersChunks(slot->effect)) {
        if (const auto parameterPath = pathOf(kParameterFileName)) {
            if (const auto bytes = readStateFile(*parameterPath)) {
                if (const auto state = decodeParameterState(*bytes)) {
                    if (applyParameterState(*slot, *state)) return kept;
                }
            }
        }
    }
    const auto chunkPath = pathOf(kStateFileName);
    if (!chunkPath) return kept;
    const auto bytes = readStateFile(*chunkPath);
    if (!bytes) return kept;
    // Also an empty file is handed over, with size 0 (and a valid pointer all the same).
    static const uint8_t noBytes = 0;
    slot->setChunk(bytes->empty() ? &noBytes : bytes->data(), static_cast<vst::intptr>(bytes->size()));
    return kept;
}

}  // namespace vl
