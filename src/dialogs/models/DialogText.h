#pragma once
// Texts shared by the dialog models: number formatting and parsing as the dialogs show and read
// their edits, and the message boxes they raise.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/UserMessages.h"

namespace vl {

inline constexpr wchar_t kErrorCaption[] = L"Error";

// A double as a numeric edit shows it: up to 15 significant digits, no trailing zeros
// (120 -> "120", 11.6 -> "11.6", 120.46 -> "120.46").
std::wstring decimalText(double value);

// The whole text as a number, blanks around it allowed; none for anything else (also empty).
std::optional<double> parseDecimal(std::wstring_view text);
std::optional<int32_t> parseInteger(std::wstring_view text);

// Rounding to hundredths and tenths as the dialogs do it: floor(v * 10^n + 0.5) / 10^n.
double roundToHundredths(double value);
double roundToTenths(double value);

// Shows an OK box (an error unless told otherwise) through sink; nothing without a sink.
platform::MessageAnswer showMessage(platform::MessageSink* sink, const wchar_t* text,
                                    const wchar_t* caption = kErrorCaption,
                                    platform::MessageButtons buttons = platform::MessageButtons::Ok,
                                    platform::MessageIcon icon = platform::MessageIcon::Error);

}  // namespace vl
