#include "platform/Text.h"

namespace vl::platform {

std::wstring ansiToWide(std::string_view text, size_t maxChars) {
    // Plug-in strings end at their first zero byte.
    text = text.substr(0, text.find('\0'));
    std::wstring wide = utf8ToWide(text);
    if (wide.size() > maxChars) wide.resize(maxChars);
    return wide;
}

}  // namespace vl::platform
