#include "common/dates.h"

#include <cstdio>
#include <vector>

#include "common/text.h"

namespace quillfin::common {

namespace {

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : days[m - 1];
}

int MonthFromName(std::string_view word) {
    static const char* names[] = {"JANUARY", "FEBRUARY", "MARCH",     "APRIL",   "MAY",      "JUNE",
                                  "JULY",    "AUGUST",   "SEPTEMBER", "OCTOBER", "NOVEMBER", "DECEMBER"};
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
    std::string text;
    bool numeric = false;
};

std::vector<Token> Tokens(std::string_view text) {
    std::vector<Token> out;
    std::size_t i = 0;
    while (i < text.size()) {
        char c = text[i];
        if (c == ' ' || c == '-' || c == '/' || c == ',' || c == '\t') {
            ++i;
            continue;
        }
        Token token;
        bool digit = c >= '0' && c <= '9';
        token.numeric = digit;
        while (i < text.size()) {
            char d = text[i];
            bool d_digit = d >= '0' && d <= '9';
            bool d_alpha = (d >= 'a' && d <= 'z') || (d >= 'A' && d <= 'Z') || d == '.';
            if (digit ? !d_digit : !d_alpha) break;
            token.text += d;
            ++i;
        }
        if (token.text.empty()) return {};  // a character that belongs to no date
        out.push_back(token);
    }
    return out;
}

int Year(const Token& t) {
    int y = std::stoi(t.text);
    if (t.text.size() <= 2) y += y < 30 ? 2000 : 1900;
    return y;
}

std::optional<CalendarDate> Checked(int y, int m, int d) {
    if (y < 100 || y > 9999 || m < 1 || m > 12 || d < 1 || d > DaysInMonth(y, m)) return {};
    return CalendarDate{y, m, d};
}

}  // namespace

std::optional<CalendarDate> RecogniseDate(std::string_view text) {
    std::vector<Token> t = Tokens(text);
    if (t.size() != 3) return {};
    for (const Token& token : t)
        if (token.numeric && token.text.size() > 4) return {};
    // day Month year
    if (t[0].numeric && !t[1].numeric && t[2].numeric) {
        int m = MonthFromName(t[1].text);
        if (m == 0 || t[0].text.size() > 2) return {};
        return Checked(Year(t[2]), m, std::stoi(t[0].text));
    }
    // Month day year
    if (!t[0].numeric && t[1].numeric && t[2].numeric) {
        int m = MonthFromName(t[0].text);
        if (m == 0 || t[1].text.size() > 2) return {};
        return Checked(Year(t[2]), m, std::stoi(t[1].text));
    }
    if (t[0].numeric && t[1].numeric && t[2].numeric) {
        if (t[0].text.size() == 4)  // year-month-day
            return Checked(std::stoi(t[0].text), std::stoi(t[1].text), std::stoi(t[2].text));
        if (t[0].text.size() <= 2 && t[1].text.size() <= 2)  // month/day/year
            return Checked(Year(t[2]), std::stoi(t[0].text), std::stoi(t[1].text));
    }
    return {};
}

std::string FormatMonthDayYear(const CalendarDate& date) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%02d-%02d-%04d", date.month, date.day, date.year);
    return buffer;
}

}  // namespace quillfin::common
