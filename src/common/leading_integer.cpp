#include "common/leading_integer.h"

#include <limits>

namespace quillfin::common {

std::int64_t LeadingInteger(std::string_view text) {
    constexpr std::uint64_t kMax = std::uint64_t(std::numeric_limits<std::int64_t>::max());
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    std::uint64_t value = 0;
    bool clamped = false;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const unsigned digit = unsigned(text[i] - '0');
        if (value > (kMax + 1 - digit) / 10) {
            clamped = true;
            break;
        }
        value = value * 10 + digit;
    }
    if (clamped)
        return negative ? std::numeric_limits<std::int64_t>::min()
                        : std::numeric_limits<std::int64_t>::max();
    if (!negative) return value > kMax ? std::int64_t(kMax) : std::int64_t(value);
    return value > kMax ? std::numeric_limits<std::int64_t>::min() : -std::int64_t(value);
}

std::int64_t SaturatingDifference(std::int64_t a, std::int64_t b) {
    std::int64_t result = 0;
    if (!__builtin_sub_overflow(a, b, &result)) return result;
    return b < 0 ? std::numeric_limits<std::int64_t>::max()
                 : std::numeric_limits<std::int64_t>::min();
}

}  // namespace quillfin::common
