#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quillfin::common {

struct CalendarDate {
    int year = 0;
    int month = 0;
    int day = 0;
};

// Recognises a calendar date in a short text: "5 Dec 1998", "05 Dec 1998", "Dec 5 1998",
// "1998-12-05", "12/05/1998" (month first), "5-Dec-1998"; blanks around it are ignored.
// Month names are English, full or abbreviated, any letter case. Years of two digits follow
// the usual window (00-29 -> 2000s). Invalid days (31 Feb) are refused.
std::optional<CalendarDate> RecogniseDate(std::string_view text);

// "mm-dd-yyyy"
std::string FormatMonthDayYear(const CalendarDate& date);

}  // namespace quillfin::common
