#include "settings/SettingsFileFormat.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "platform/Text.h"

namespace vl {

namespace {

wchar_t foldAscii(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

bool startsWithFolded(std::wstring_view text, std::wstring_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (foldAscii(text[i]) != foldAscii(prefix[i])) return false;
    return true;
}

void appendQuoted(std::string& out, std::wstring_view text) {
    out.push_back('"');
    for (char c : platform::wideToUtf8(text)) {
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '"': out += "\\\""; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            default: out.push_back(c);
        }
    }
    out.push_back('"');
}

void appendName(std::string& out, const std::wstring& name) {
    if (name.empty())
        out.push_back('@');
    else
        appendQuoted(out, name);
}

std::string_view trimmed(std::string_view s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!s.empty() && blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && blank(s.back())) s.remove_suffix(1);
    return s;
}

// Reads a quoted text at the start of s and removes it from s.
std::optional<std::wstring> takeQuoted(std::string_view& s) {
    if (s.empty() || s.front() != '"') return std::nullopt;
    std::string bytes;
    for (size_t i = 1; i < s.size(); ++i) {
        char c = s[i];
        if (c == '"') {
            s.remove_prefix(i + 1);
            return platform::utf8ToWide(bytes);
        }
        if (c == '\\') {
            if (++i == s.size()) return std::nullopt;
            switch (s[i]) {
                case '\\': c = '\\'; break;
                case '"': c = '"'; break;
                case 'n': c = '\n'; break;
                case 'r': c = '\r'; break;
                default: return std::nullopt;
            }
        }
        bytes.push_back(c);
    }
    return std::nullopt;  // cut off before the closing quote
}

std::optional<uint32_t> parseHexDword(std::string_view digits) {
    // Always eight digits: fewer would be a line cut short, read as a different number.
    if (digits.size() != 8) return std::nullopt;
    uint32_t value = 0;
    for (char c : digits) {
        uint32_t d;
        if (c >= '0' && c <= '9') d = uint32_t(c - '0');
        else if (c >= 'a' && c <= 'f') d = uint32_t(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F') d = uint32_t(c - 'A' + 10);
        else return std::nullopt;
        value = (value << 4) | d;
    }
    return value;
}

std::optional<std::pair<std::wstring, SettingsValue>> parseValueLine(std::string_view line) {
    std::wstring name;
    if (line.front() == '@') {
        line.remove_prefix(1);
    } else {
        auto quoted = takeQuoted(line);
        if (!quoted) return std::nullopt;
        name = std::move(*quoted);
    }
    line = trimmed(line);
    if (line.empty() || line.front() != '=') return std::nullopt;
    line = trimmed(line.substr(1));
    if (!line.empty() && line.front() == '"') {
        auto text = takeQuoted(line);
        if (!text || !trimmed(line).empty()) return std::nullopt;
        return std::pair<std::wstring, SettingsValue>{std::move(name), std::move(*text)};
    }
    constexpr std::string_view kDword = "dword:";
    if (line.substr(0, kDword.size()) != kDword) return std::nullopt;
    auto value = parseHexDword(line.substr(kDword.size()));
    if (!value) return std::nullopt;
    return std::pair<std::wstring, SettingsValue>{std::move(name), *value};
}

}  // namespace

bool FoldedLess::operator()(std::wstring_view a, std::wstring_view b) const {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [](wchar_t x, wchar_t y) { return foldAscii(x) < foldAscii(y); });
}

bool isValidKeyPath(std::wstring_view path) {
    if (path.empty() || path.front() == L'\\' || path.back() == L'\\') return false;
    if (path.find(L"\\\\") != std::wstring_view::npos) return false;
    return std::none_of(path.begin(), path.end(), [](wchar_t c) { return c < 0x20 || c == 0x7F; });
}

bool keyExists(const SettingsTree& tree, const std::wstring& path) {
    if (tree.count(path)) return true;
    const std::wstring prefix = path + L'\\';
    auto below = tree.lower_bound(prefix);
    return below != tree.end() && startsWithFolded(below->first, prefix);
}

std::string formatSettingsText(const SettingsTree& tree) {
    std::string out = "; Vorlane Host settings\n";
    for (const auto& [path, values] : tree) {
        out += "\n[";
        out += platform::wideToUtf8(path);
        out += "]\n";
        for (const auto& [name, value] : values) {
            appendName(out, name);
            out.push_back('=');
            if (const auto* text = std::get_if<std::wstring>(&value)) {
                appendQuoted(out, *text);
            } else {
                char hex[16];
                std::snprintf(hex, sizeof hex, "%08x", static_cast<unsigned>(std::get<uint32_t>(value)));
                out += "dword:";
                out += hex;
            }
            out.push_back('\n');
        }
    }
    return out;
}

SettingsTree parseSettingsText(std::string_view text) {
    constexpr std::string_view kBom = "\xEF\xBB\xBF";
    if (text.substr(0, kBom.size()) == kBom) text.remove_prefix(kBom.size());

    SettingsTree tree;
    SettingsValues* section = nullptr;  // none before the first sound section line
    while (!text.empty()) {
        const size_t end = std::min(text.find('\n'), text.size());
        std::string_view line = trimmed(text.substr(0, end));
        text.remove_prefix(std::min(end + 1, text.size()));
        // A zero byte never belongs in the text form: the line is damaged.
        const bool damaged = line.find('\0') != std::string_view::npos;
        if (line.empty() || line.front() == ';') continue;
        if (line.front() == '[') {
            section = nullptr;
            if (damaged || line.size() < 2 || line.back() != ']') continue;
            std::wstring path = platform::utf8ToWide(line.substr(1, line.size() - 2));
            if (isValidKeyPath(path)) section = &tree[path];
            continue;
        }
        if (damaged || !section || (line.front() != '"' && line.front() != '@')) continue;
        if (auto value = parseValueLine(line)) (*section)[std::move(value->first)] = std::move(value->second);
    }
    return tree;
}

}  // namespace vl
