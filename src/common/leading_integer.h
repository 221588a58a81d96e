#pragma once

#include <cstdint>
#include <string_view>

namespace quillfin::common {

// The whole part of a text's leading decimal number, exact over the full 64-bit range
// (NumericValue goes through a double, which loses digits past 2^53): leading blanks, an
// optional sign, digits; the rest is ignored. 0 when there is no number; clamped at the ends.
std::int64_t LeadingInteger(std::string_view text);

// a - b, held at the ends of the 64-bit range instead of overflowing.
std::int64_t SaturatingDifference(std::int64_t a, std::int64_t b);

}  // namespace quillfin::common
