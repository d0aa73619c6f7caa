// The plug-in's state between runs: its bank chunk, byte for byte, in "saved.chunk" inside the
// folder named by the settings value "contentpath".

#include <exception>
#include <optional>
#include <vector>

#include "host/VLVSTHostInterface.h"
#include "platform/FileIO.h"
#include "platform/Text.h"
#include "settings/HostSettings.h"

namespace vl {

namespace {

constexpr wchar_t kContentPathValue[] = L"contentpath";
constexpr wchar_t kStateFileName[] = L"saved.chunk";
// A state file larger than this is not handed to the plug-in.
constexpr size_t kMaxStateBytes = size_t(1) << 30;

}  // namespace

void VLVSTHostInterface::SaveChunk() {
    if (!settings || !slot) return;
    std::wstring folder;
    if (!settings->readRootString(kContentPathValue, folder)) return;
    void* data = nullptr;
    const vst::intptr size = slot->getChunk(&data);
    if (size <= 0 || !data) return;  // nothing to save: an earlier file stays as it is
    // Written next to the old file and renamed over it, so a failed save never destroys it.
    platform::writeFileAtomically(platform::pathFromWide(folder + kStateFileName), data, static_cast<size_t>(size));
}

void VLVSTHostInterface::LoadChunk() {
    if (!settings || !slot) return;
    // Every failure leaves the plug-in's state as it is, without a word: also a state file too
    // large for the memory there is (the allocation's exception goes no further).
    std::optional<std::vector<uint8_t>> bytes;
    try {
        std::wstring folder;
        if (!settings->readRootString(kContentPathValue, folder)) return;
        bytes = platform::readWholeFile(platform::pathFromWide(folder + kStateFileName), kMaxStateBytes);
    } catch (const std::exception&) {
        return;
    }
    if (!bytes) return;
    // Also an empty file is handed over, with size 0 (and a valid pointer all the same).
    static const uint8_t noBytes = 0;
    slot->setChunk(bytes->empty() ? &noBytes : bytes->data(), static_cast<vst::intptr>(bytes->size()));
}

}  // namespace vl
