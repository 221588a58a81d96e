#include "headers/subject_key.h"

#include "common/text.h"

namespace quillfin::headers {

namespace {

constexpr std::size_t npos = std::string::npos;

// The parenthesis marker: the lowest digit d with "d)" wins, not the leftmost marker.
bool CutAtParenthesisMarker(std::string& work, int& window_errors) {
    for (char d = '0'; d <= '9'; ++d) {
        const char pattern[] = {d, ')', '\0'};
        std::size_t p = work.find(pattern);  // 0-based position of the digit
        if (p == npos) continue;
        bool window_has_slash = false;
        if (work.size() > 5) {
            if (p < 5) {
                ++window_errors;  // no five characters before the digit
            } else {
                window_has_slash = std::string_view(work).substr(p - 5, 5).find('/') != npos;
            }
        }
        std::size_t q = work.find(pattern, p + 1);
        if (q != npos) {
            std::size_t r = work.find(pattern, q + 1);
            work.resize((r != npos ? r : q) + 2);
            return true;
        }
        if (window_has_slash) {
            work.resize(p + 2);
            return true;
        }
    }
    return false;
}

bool CutAtBracketMarker(std::string& work) {
    for (char d = '0'; d <= '9'; ++d) {
        const char pattern[] = {d, ']', '\0'};
        std::size_t p = work.find(pattern);
        if (p == npos) continue;
        std::size_t q = work.find(pattern, p + 1);
        std::size_t r = q == npos ? npos : work.find(pattern, q + 1);
        std::size_t cut = r != npos ? r : q != npos ? q : p;
        work.resize(cut + 2);
        return true;
    }
    return false;
}

// Reduces total to the number after the last '/' of the marker's word.
void ReduceTotal(std::string& total, char open, char close) {
    std::size_t blank = total.rfind(' ');
    if (blank != npos) total.erase(0, blank + 1);
    std::size_t opening = total.rfind(open);
    if (opening != npos) total.erase(0, opening + 1);
    std::size_t slash = total.rfind('/');
    if (slash == npos) {
        total.clear();
        return;
    }
    total.erase(0, slash + 1);
    if (total.find(close) != npos)
        total.pop_back();
    else
        total.clear();
}

// Cuts work back to everything up to and including the last blank before the marker's word.
void CutToBase(std::string& work, char close) {
    while (!work.empty() && work.back() != close) work.pop_back();
    work.insert(work.begin(), ' ');
    while (!work.empty() && work.back() != ' ') work.pop_back();
    if (work == " ")
        work = "(no subject?)";
    else
        work.erase(0, 1);
}

}  // namespace

SubjectKey ParseSubjectKey(std::string_view subject) {
    SubjectKey result;
    std::string_view full = common::TrimView(subject);
    std::string work;
    work.reserve(full.size() + 1);
    work.append(full);
    work.push_back(' ');
    if (work.size() <= 4) {
        result.key = std::move(work);
        return result;
    }
    if (!CutAtParenthesisMarker(work, result.window_errors) && !CutAtBracketMarker(work)) {
        result.key = std::move(work);
        return result;
    }
    std::string total = work;
    if (work.size() > 4) {
        if (!total.empty() && total.back() == ')') {
            ReduceTotal(total, '(', ')');
            total = common::Trim(total);
            if (!total.empty()) CutToBase(work, ')');
        } else if (!total.empty() && total.back() == ']') {
            ReduceTotal(total, '[', ']');
            CutToBase(work, ']');
        }
    }
    total = common::Trim(total);
    result.key = common::Trim(work);
    if (!total.empty()) {
        result.key += " [xx/";
        result.key += common::FormatNumber(double(common::WholeValue(total)), "0000000");
        result.key += "]";
    }
    result.total = std::move(total);
    return result;
}

}  // namespace quillfin::headers
