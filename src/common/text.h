#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quillfin::common {

// Text is bytes; these helpers never look at an encoding.

// Removes blanks (only ' ') at both ends.
std::string Trim(std::string_view text);
std::string_view TrimView(std::string_view text);

// The numeric value of a text: its leading decimal number after leading blanks, with an
// optional sign and fraction; 0 when it has none. "12ab" is 12, "ab" is 0, " -3.5x" is -3.5.
double NumericValue(std::string_view text);

// NumericValue taken to the nearest whole number, halves to even, clamped to 64 bits.
std::int64_t WholeValue(std::string_view text);

// A double taken to the nearest whole number with halves to even.
std::int64_t RoundHalfEven(double value);

// As WholeValue, clamped to the signed 32-bit range.
std::int32_t WholeValue32(std::string_view text);
std::int32_t ClampTo32(std::int64_t value);

// The decimal form with a leading sign blank: " 12", "-12".
std::string Str(std::int64_t value);

// Plain decimal text without the sign blank.
std::string Decimal(std::int64_t value);

// Formats a number with a fixed pattern made of '0', '#', ',' and '.': "000", "00.000",
// "00000", "0.0", "000.0", "#,##0.0". Halves round away from zero; a negative number gets a
// leading "-".
std::string FormatNumber(double value, std::string_view pattern);

// The whole text is a decimal number: an optional sign, digits, an optional fraction.
bool IsDecimalNumber(std::string_view text);

// "True"/"False" in any letter case, or a number (non-zero is true); nullopt for other text.
std::optional<bool> ParseBoolean(std::string_view text);

bool Contains(std::string_view text, std::string_view part);
bool EndsWith(std::string_view text, std::string_view end);
bool StartsWith(std::string_view text, std::string_view start);
std::string ToUpper(std::string_view text);
std::string ToLower(std::string_view text);

// Replaces CR and LF with blanks, so a text always stays on one line of a file.
std::string OneLine(std::string_view text);

}  // namespace quillfin::common
