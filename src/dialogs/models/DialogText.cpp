#include "dialogs/models/DialogText.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <limits>

namespace vl {

std::wstring decimalText(double value) {
    wchar_t text[64];
    std::swprintf(text, 64, L"%.15g", value);
    return text;
}

namespace {

bool isBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }

// The text between leading and trailing blanks, copied so that it ends in a zero.
std::wstring trimmed(std::wstring_view text) {
    size_t begin = 0, end = text.size();
    while (begin < end && isBlank(text[begin])) ++begin;
    while (end > begin && isBlank(text[end - 1])) --end;
    return std::wstring(text.substr(begin, end - begin));
}

}  // namespace

std::optional<double> parseDecimal(std::wstring_view text) {
    const std::wstring s = trimmed(text);
    if (s.empty()) return std::nullopt;
    wchar_t* end = nullptr;
    errno = 0;
    const double value = std::wcstod(s.c_str(), &end);
    if (end != s.c_str() + s.size() || errno == ERANGE || !std::isfinite(value)) return std::nullopt;
    return value;
}

std::optional<int32_t> parseInteger(std::wstring_view text) {
    const std::wstring s = trimmed(text);
    if (s.empty()) return std::nullopt;
    wchar_t* end = nullptr;
    errno = 0;
    const long long value = std::wcstoll(s.c_str(), &end, 10);
    if (end != s.c_str() + s.size() || errno == ERANGE || value < std::numeric_limits<int32_t>::min() ||
        value > std::numeric_limits<int32_t>::max())
        return std::nullopt;
    return static_cast<int32_t>(value);
}

double roundToHundredths(double value) { return std::floor(value * 100.0 + 0.5) / 100.0; }
double roundToTenths(double value) { return std::floor(value * 10.0 + 0.5) / 10.0; }

platform::MessageAnswer showMessage(platform::MessageSink* sink, const wchar_t* text, const wchar_t* caption,
                                    platform::MessageButtons buttons, platform::MessageIcon icon) {
    if (!sink) return buttons == platform::MessageButtons::YesNo ? platform::MessageAnswer::No
                                                                 : platform::MessageAnswer::Ok;
    platform::UserMessage message;
    message.text = text;
    message.caption = caption;
    message.buttons = buttons;
    message.icon = icon;
    return sink->show(message);
}

}  // namespace vl
