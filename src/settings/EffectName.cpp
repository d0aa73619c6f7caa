#include "settings/EffectName.h"

#include "platform/Text.h"

namespace vl {

bool isNamelessEffect(std::wstring_view effectName) {
    return effectName.find_first_not_of(L". ") == std::wstring_view::npos;
}

std::wstring effectIdentity(const std::wstring& effectName, const std::filesystem::path& executable) {
    if (!isNamelessEffect(effectName)) return effectName;
    const std::wstring base = platform::pathToWide(executable.stem());
    return base.empty() ? effectName : base;
}

std::wstring foldCase(std::wstring_view text) {
    std::wstring folded(text);
    for (wchar_t& c : folded) {
        // a-z, and the Latin-1 letters U+00E0..U+00FE but the division sign; U+00FF folds to U+0178.
        if ((c >= L'a' && c <= L'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) c = static_cast<wchar_t>(c - 32);
        else if (c == 0xFF) c = static_cast<wchar_t>(0x178);
    }
    return folded;
}

std::wstring nameHash(std::wstring_view text, size_t digits) {
    uint64_t hash = 0xcbf29ce484222325ull;
    for (wchar_t c : text) {
        // Beyond the 16 bits of a UTF-16 unit (wide text of 32 bits), all four bytes count.
        const uint32_t unit = static_cast<uint32_t>(c);
        const int bytes = (unit >> 15) > 1 ? 4 : 2;
        for (int byte = 0; byte < bytes; ++byte) {
            hash ^= (unit >> (8 * byte)) & 0xFF;
            hash *= 0x100000001b3ull;
        }
    }
    static const wchar_t kDigits[] = L"0123456789abcdef";
    std::wstring out(16, L'0');
    for (int i = 15; i >= 0; --i, hash >>= 4) out[static_cast<size_t>(i)] = kDigits[hash & 0xF];
    return out.substr(0, digits);
}

std::wstring hex32(uint32_t value) {
    static const wchar_t kDigits[] = L"0123456789abcdef";
    std::wstring out(8, L'0');
    for (int i = 7; i >= 0; --i, value >>= 4) out[static_cast<size_t>(i)] = kDigits[value & 0xF];
    return out;
}

namespace {

bool unsafeInFileName(wchar_t c) {
    return c < 32 || c == L'<' || c == L'>' || c == L':' || c == L'"' || c == L'/' || c == L'\\' || c == L'|' ||
           c == L'?' || c == L'*';
}

// Device names Windows reserves, with or without an extension: the part before the first dot,
// without its trailing spaces ("CON .x" is CON), compared without regard to case. COM and LPT
// count with the digits 0 to 9 and the superscripts 1, 2 and 3.
bool isReservedDeviceName(std::wstring_view name) {
    std::wstring stem = foldCase(name.substr(0, name.find(L'.')));
    while (!stem.empty() && stem.back() == L' ') stem.pop_back();
    for (const wchar_t* device : {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"}) {
        if (stem == device) return true;
    }
    if (stem.size() != 4 || (stem.compare(0, 3, L"COM") != 0 && stem.compare(0, 3, L"LPT") != 0)) return false;
    const wchar_t digit = stem[3];
    return (digit >= L'0' && digit <= L'9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
}

// Longer folder names are cut (with the hash of the whole name), so that the state path stays
// within Windows' 260 characters below a usual %APPDATA%.
constexpr size_t kMaxStateFolderChars = 160;

}  // namespace

std::wstring legacyStateFolderName(const std::wstring& effectName) {
    std::wstring name;
    for (wchar_t c : effectName) name += unsafeInFileName(c) ? L'_' : c;
    while (!name.empty() && (name.back() == L'.' || name.back() == L' ')) name.pop_back();
    if (name.empty()) return L"_";
    std::wstring stem = name.substr(0, name.find(L'.'));
    for (auto& c : stem) c = static_cast<wchar_t>(c >= L'a' && c <= L'z' ? c - 32 : c);
    bool isDevice = stem == L"CON" || stem == L"PRN" || stem == L"AUX" || stem == L"NUL";
    if (stem.size() == 4 && (stem.rfind(L"COM", 0) == 0 || stem.rfind(L"LPT", 0) == 0) && stem[3] >= L'1' &&
        stem[3] <= L'9')
        isDevice = true;
    if (isDevice) name += L'_';
    return name;
}

std::wstring stateFolderName(const std::wstring& effectName) {
    if (effectName.empty()) return L"~";
    // Where a character cannot stand it is written as "~" and two hex digits, and so is "~"
    // itself: distinct names stay distinct, and a name that needs none keeps its folder.
    size_t keptEnd = effectName.size();
    while (keptEnd > 0 && (effectName[keptEnd - 1] == L'.' || effectName[keptEnd - 1] == L' ')) --keptEnd;
    const bool reserved = isReservedDeviceName(effectName);
    std::wstring name;
    for (size_t i = 0; i < effectName.size(); ++i) {
        const wchar_t c = effectName[i];
        if (unsafeInFileName(c) || c == L'~' || i >= keptEnd || (reserved && i == 0)) {
            static const wchar_t kDigits[] = L"0123456789ABCDEF";
            name += L'~';
            name += kDigits[(c >> 4) & 0xF];
            name += kDigits[c & 0xF];
        } else {
            name += c;
        }
    }
    return cutWithHash(name, kMaxStateFolderChars);
}

std::wstring ownStateFolderName(const std::wstring& effectName, int32_t uniqueId) {
    const std::wstring name = stateFolderName(effectName);
    return name.substr(0, kMaxStateFolderChars - 18) + L"~~" + hex32(static_cast<uint32_t>(uniqueId)) +
           nameHash(effectName, 8);
}

std::wstring cutWithHash(std::wstring_view name, size_t maxChars) {
    if (name.size() <= maxChars) return std::wstring(name);
    return std::wstring(name.substr(0, maxChars - 18)) + L"~~" + nameHash(name);
}

}  // namespace vl
