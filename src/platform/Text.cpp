#include "platform/Text.h"

namespace vl::platform {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

void appendWide(std::wstring& out, char32_t c) {
    if constexpr (sizeof(wchar_t) == 2) {
        if (c >= 0x10000) {
            c -= 0x10000;
            out.push_back(static_cast<wchar_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<wchar_t>(0xDC00 + (c & 0x3FF)));
            return;
        }
    }
    out.push_back(static_cast<wchar_t>(c));
}

}  // namespace

std::string wideToUtf8(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t c = static_cast<char32_t>(text[i]);
        if constexpr (sizeof(wchar_t) == 2) {
            if (c >= 0xD800 && c <= 0xDBFF) {
                if (i + 1 < text.size()) {
                    char32_t low = static_cast<char32_t>(text[i + 1]);
                    if (low >= 0xDC00 && low <= 0xDFFF) {
                        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                        ++i;
                        appendUtf8(out, c);
                        continue;
                    }
                }
                c = kReplacement;
            } else if (c >= 0xDC00 && c <= 0xDFFF) {
                c = kReplacement;
            }
        }
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = kReplacement;
        appendUtf8(out, c);
    }
    return out;
}

std::wstring utf8ToWide(std::string_view text) {
    std::wstring out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        unsigned char b = static_cast<unsigned char>(text[i]);
        char32_t c;
        size_t len;
        if (b < 0x80) {
            c = b;
            len = 1;
        } else if ((b & 0xE0) == 0xC0) {
            c = b & 0x1F;
            len = 2;
        } else if ((b & 0xF0) == 0xE0) {
            c = b & 0x0F;
            len = 3;
        } else if ((b & 0xF8) == 0xF0) {
            c = b & 0x07;
            len = 4;
        } else {
            appendWide(out, kReplacement);
            ++i;
            continue;
        }
        if (i + len > text.size()) {
            appendWide(out, kReplacement);
            ++i;
            continue;
        }
        bool ok = true;
        for (size_t k = 1; k < len; ++k) {
            unsigned char cont = static_cast<unsigned char>(text[i + k]);
            if ((cont & 0xC0) != 0x80) {
                ok = false;
                break;
            }
            c = (c << 6) | (cont & 0x3F);
        }
        // Overlong forms, surrogates and values beyond Unicode are not characters.
        static constexpr char32_t minimum[5] = {0, 0, 0x80, 0x800, 0x10000};
        if (!ok || c < minimum[len] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            appendWide(out, kReplacement);
            ++i;
            continue;
        }
        appendWide(out, c);
        i += len;
    }
    return out;
}

std::filesystem::path pathFromWide(std::wstring_view text) {
#ifdef _WIN32
    return std::filesystem::path(std::wstring(text));
#else
    const std::string utf8 = wideToUtf8(text);
    return std::filesystem::path(utf8);
#endif
}

std::wstring pathToWide(const std::filesystem::path& path) {
#ifdef _WIN32
    return path.native();
#else
    return utf8ToWide(path.native());
#endif
}

std::string lowerExtension(const std::filesystem::path& path) {
    std::string ext = wideToUtf8(pathToWide(path.extension()));
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return ext;
}

}  // namespace vl::platform
