// Date and time format renderer for number cells with a date or time format.
#pragma once

#include "platform/LocaleFormat.h"

#include <string>
#include <string_view>

namespace scv::spreadsheet {

// Longest rendered text in bytes; the rest is dropped.
inline constexpr std::size_t kMaxDateTimeBytes = 256;

// Renders a date value (days since 30 December 1899, fraction = time of day) through a cleaned
// date/time format text (UTF-8). An empty format is treated as "C". A non-finite value gives
// the general rendering.
std::string FormatDateTimeText(std::string_view format, double value);

// Same, appending to out, with the user's locale.
void AppendDateTimeText(std::string& out, std::string_view format, double value);

// Same with explicit locale data (tests).
std::string FormatDateTimeText(std::string_view format, double value,
                               const platform::TLocaleFormat& locale);

} // namespace scv::spreadsheet
