#include "platform/Text.h"

#include <windows.h>

namespace vl::platform {

std::wstring ansiToWide(std::string_view text, size_t maxChars) {
    text = text.substr(0, text.find('\0'));
    if (text.empty() || maxChars == 0) return {};
    int needed = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (needed <= 0) return {};
    std::wstring wide(static_cast<size_t>(needed), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), needed);
    if (wide.size() > maxChars) wide.resize(maxChars);
    return wide;
}

}  // namespace vl::platform
