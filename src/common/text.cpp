#include "common/text.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace quillfin::common {

std::string_view TrimView(std::string_view text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && text[begin] == ' ') ++begin;
    while (end > begin && text[end - 1] == ' ') --end;
    return text.substr(begin, end - begin);
}

std::string Trim(std::string_view text) { return std::string(TrimView(text)); }

static bool IsDigit(char c) { return c >= '0' && c <= '9'; }

double NumericValue(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    double value = 0;
    bool any = false;
    while (i < text.size() && IsDigit(text[i])) {
        value = value * 10 + (text[i] - '0');
        any = true;
        ++i;
    }
    if (i < text.size() && text[i] == '.') {
        ++i;
        double scale = 0.1;
        while (i < text.size() && IsDigit(text[i])) {
            value += (text[i] - '0') * scale;
            scale /= 10;
            any = true;
            ++i;
        }
    }
    if (!any) return 0;
    return negative ? -value : value;
}

std::int64_t RoundHalfEven(double value) {
    if (std::isnan(value)) return 0;
    constexpr double kMax = 9.2e18;
    if (value >= kMax) return std::numeric_limits<std::int64_t>::max();
    if (value <= -kMax) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(std::nearbyint(value));  // default mode: halves to even
}

std::int64_t WholeValue(std::string_view text) { return RoundHalfEven(NumericValue(text)); }

std::int32_t ClampTo32(std::int64_t value) {
    if (value > std::numeric_limits<std::int32_t>::max())
        return std::numeric_limits<std::int32_t>::max();
    if (value < std::numeric_limits<std::int32_t>::min())
        return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(value);
}

std::int32_t WholeValue32(std::string_view text) { return ClampTo32(WholeValue(text)); }

std::string Decimal(std::int64_t value) { return std::to_string(value); }

std::string Str(std::int64_t value) {
    return value < 0 ? std::to_string(value) : " " + std::to_string(value);
}

std::string FormatNumber(double value, std::string_view pattern) {
    std::size_t dot = pattern.find('.');
    std::string_view whole = pattern.substr(0, dot);
    int decimals = dot == std::string_view::npos ? 0 : int(pattern.size() - dot - 1);
    int min_digits = 0;
    for (char c : whole)
        if (c == '0') ++min_digits;
    bool grouping = whole.find(',') != std::string_view::npos;

    // Whole numbers in a pattern of zeros ("00000"): a scan formats one per overview line.
    if (dot == std::string_view::npos && min_digits == int(pattern.size()) &&
        std::fabs(value) < 1e15 && value == std::floor(value)) {
        char digits[24];
        const auto units = static_cast<std::uint64_t>(std::fabs(value));
        const int length = int(std::to_chars(digits, digits + sizeof digits, units).ptr - digits);
        std::string out;
        out.reserve(std::size_t(std::max(length, min_digits) + 1));
        if (value < 0) out += '-';
        if (length < min_digits) out.append(std::size_t(min_digits - length), '0');
        out.append(digits, std::size_t(length));
        return out;
    }

    static const double kScale[] = {1, 10, 100, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9};
    bool negative = value < 0;
    double scaled =
        std::fabs(value) * (decimals < 10 ? kScale[decimals] : std::pow(10.0, decimals));
    // Halves away from zero; the small nudge absorbs binary noise such as 1.2345 * 1000. It
    // stays far below a unit: at a billion a relative nudge alone would add whole units.
    double rounded = std::floor(scaled + 0.5 + std::min(1e-9 * std::max(1.0, scaled), 1e-6));
    if (rounded > 9e18) rounded = 9e18;
    auto units = static_cast<std::uint64_t>(rounded);
    std::uint64_t divisor = 1;
    for (int i = 0; i < decimals; ++i) divisor *= 10;
    std::string int_part = std::to_string(units / divisor);
    std::string frac_part = std::to_string(units % divisor);
    if (int(frac_part.size()) < decimals) frac_part.insert(0, decimals - frac_part.size(), '0');
    if (int(int_part.size()) < min_digits) int_part.insert(0, min_digits - int_part.size(), '0');
    if (min_digits == 0 && int_part == "0") int_part.clear();
    if (grouping) {
        for (int pos = int(int_part.size()) - 3; pos > 0; pos -= 3) int_part.insert(pos, ",");
    }
    std::string out;
    if (negative && units != 0) out = "-";
    out += int_part;
    if (decimals > 0) out += "." + frac_part;
    return out;
}

bool IsDecimalNumber(std::string_view text) {
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
    bool digits = false;
    while (i < text.size() && IsDigit(text[i])) digits = true, ++i;
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && IsDigit(text[i])) digits = true, ++i;
    }
    return digits && i == text.size();
}

std::optional<bool> ParseBoolean(std::string_view text) {
    std::string lower = ToLower(text);
    if (lower == "true") return true;
    if (lower == "false") return false;
    if (!IsDecimalNumber(text)) return std::nullopt;
    return NumericValue(text) != 0;
}

bool Contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}
bool EndsWith(std::string_view text, std::string_view end) {
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}
bool StartsWith(std::string_view text, std::string_view start) {
    return text.substr(0, start.size()) == start;
}

std::string ToUpper(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    return out;
}
std::string ToLower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return out;
}

std::string OneLine(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c == '\r' || c == '\n') c = ' ';
    return out;
}

}  // namespace quillfin::common
