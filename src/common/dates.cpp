#include "common/dates.h"

#include "common/text.h"

namespace quillfin::common {

namespace {

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : days[m - 1];
}

int MonthFromName(std::string_view word) {
    static const char* names[] = {"JANUARY",   "FEBRUARY", "MARCH",    "APRIL",
                                  "MAY",       "JUNE",     "JULY",     "AUGUST",
                                  "SEPTEMBER", "OCTOBER",  "NOVEMBER", "DECEMBER"};
    if (word.size() < 3) return 0;
    std::string upper = ToUpper(word);
    if (upper.back() == '.') upper.pop_back();
    for (int i = 0; i < 12; ++i) {
        std::string_view name = names[i];
        if (upper.size() <= name.size() && name.substr(0, upper.size()) == upper) return i + 1;
    }
    return 0;
}

struct Token {
    std::string_view text;
    bool numeric = false;
};

// The words and numbers of a date; count 4 stands for "more than three".
struct Tokens {
    Token items[3];
    int count = 0;
};

Tokens Split(std::string_view text) {
    Tokens out;
    std::size_t i = 0;
    while (i < text.size()) {
        char c = text[i];
        if (c == ' ' || c == '-' || c == '/' || c == ',' || c == '\t') {
            ++i;
            continue;
        }
        const bool digit = c >= '0' && c <= '9';
        const std::size_t start = i;
        while (i < text.size()) {
            char d = text[i];
            bool d_digit = d >= '0' && d <= '9';
            bool d_alpha = (d >= 'a' && d <= 'z') || (d >= 'A' && d <= 'Z') || d == '.';
            if (digit ? !d_digit : !d_alpha) break;
            ++i;
        }
        if (i == start || out.count == 3) return {{}, 4};  // no date has this character or word
        out.items[out.count++] = {text.substr(start, i - start), digit};
    }
    return out;
}

int Number(const Token& t) {
    int value = 0;
    for (char c : t.text) value = value * 10 + (c - '0');
    return value;
}

int Year(const Token& t) {
    int y = Number(t);
    if (t.text.size() <= 2) y += y < 30 ? 2000 : 1900;
    return y;
}

std::optional<CalendarDate> Checked(int y, int m, int d) {
    if (y < 100 || y > 9999 || m < 1 || m > 12 || d < 1 || d > DaysInMonth(y, m)) return {};
    return CalendarDate{y, m, d};
}

}  // namespace

std::optional<CalendarDate> RecogniseDate(std::string_view text) {
    Tokens tokens = Split(text);
    if (tokens.count != 3) return {};
    const Token* t = tokens.items;
    for (const Token& token : tokens.items)
        if (token.numeric && token.text.size() > 4) return {};
    // day Month year
    if (t[0].numeric && !t[1].numeric && t[2].numeric) {
        int m = MonthFromName(t[1].text);
        if (m == 0 || t[0].text.size() > 2) return {};
        return Checked(Year(t[2]), m, Number(t[0]));
    }
    // Month day year
    if (!t[0].numeric && t[1].numeric && t[2].numeric) {
        int m = MonthFromName(t[0].text);
        if (m == 0 || t[1].text.size() > 2) return {};
        return Checked(Year(t[2]), m, Number(t[1]));
    }
    if (t[0].numeric && t[1].numeric && t[2].numeric) {
        if (t[0].text.size() == 4)  // year-month-day
            return Checked(Number(t[0]), Number(t[1]), Number(t[2]));
        if (t[0].text.size() <= 2 && t[1].text.size() <= 2)  // month/day/year
            return Checked(Year(t[2]), Number(t[0]), Number(t[1]));
    }
    return {};
}

std::string FormatMonthDayYear(const CalendarDate& date) {
    std::string out = "00-00-0000";
    out[0] = char('0' + date.month / 10);
    out[1] = char('0' + date.month % 10);
    out[3] = char('0' + date.day / 10);
    out[4] = char('0' + date.day % 10);
    for (int i = 9, year = date.year; i >= 6; --i, year /= 10) out[i] = char('0' + year % 10);
    return out;
}

}  // namespace quillfin::common
