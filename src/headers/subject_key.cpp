#include "headers/subject_key.h"

#include "common/text.h"

namespace quillfin::headers {

namespace {

constexpr std::size_t npos = std::string_view::npos;

// Where "d)" (or "d]") stands for each digit d: the first three places, found in one pass
// instead of ten searches per marker kind.
struct MarkerPlaces {
    std::size_t at[10][3];
    int count[10] = {};

    MarkerPlaces(std::string_view work, char close) {
        for (std::size_t i = work.find(close); i != npos; i = work.find(close, i + 1)) {
            if (i == 0 || work[i - 1] < '0' || work[i - 1] > '9') continue;
            const int d = work[i - 1] - '0';
            if (count[d] < 3) at[d][count[d]++] = i - 1;
        }
    }
};

// The length of work once cut after the marker, or 0 when there is none. The lowest digit d
// with "d)" wins, not the leftmost marker.
std::size_t CutAtParenthesisMarker(std::string_view work, int& window_errors) {
    const MarkerPlaces places(work, ')');
    for (int d = 0; d <= 9; ++d) {
        if (places.count[d] == 0) continue;
        const std::size_t p = places.at[d][0];  // 0-based position of the digit
        bool window_has_slash = false;
        if (work.size() > 5) {
            if (p < 5)
                ++window_errors;  // no five characters before the digit
            else
                window_has_slash = work.substr(p - 5, 5).find('/') != npos;
        }
        if (places.count[d] > 1) return places.at[d][places.count[d] - 1] + 2;
        if (window_has_slash) return p + 2;
    }
    return 0;
}

std::size_t CutAtBracketMarker(std::string_view work) {
    const MarkerPlaces places(work, ']');
    for (int d = 0; d <= 9; ++d) {
        if (places.count[d] > 0) return places.at[d][places.count[d] - 1] + 2;
    }
    return 0;
}

// The number after the last '/' of the marker's word, without its closing character.
std::string_view ReduceTotal(std::string_view total, char open, char close) {
    std::size_t blank = total.rfind(' ');
    if (blank != npos) total.remove_prefix(blank + 1);
    std::size_t opening = total.rfind(open);
    if (opening != npos) total.remove_prefix(opening + 1);
    std::size_t slash = total.rfind('/');
    if (slash == npos) return {};
    total.remove_prefix(slash + 1);
    if (total.find(close) == npos) return {};
    total.remove_suffix(1);
    return total;
}

// Everything up to and including the last blank before the marker's word.
std::string_view BaseOf(std::string_view work, char close) {
    std::size_t closing = work.rfind(close);
    work = closing == npos ? std::string_view{} : work.substr(0, closing + 1);
    std::size_t blank = work.rfind(' ');
    if (blank == npos) return "(no subject?)";
    return work.substr(0, blank + 1);
}

// The total as seven or more digits. Plain digits, nearly every total, are padded directly.
void AppendTotal(std::string_view total, std::string& key) {
    std::size_t first = 0;
    while (first + 1 < total.size() && total[first] == '0') ++first;
    const std::string_view digits = total.substr(first);
    if (digits.size() <= 15 && total.find_first_not_of("0123456789") == npos) {
        if (digits.size() < 7) key.append(7 - digits.size(), '0');
        key.append(digits);
        return;
    }
    key += common::FormatNumber(double(common::WholeValue(total)), "0000000");
}

}  // namespace

void ParseSubjectKey(std::string_view subject, SubjectKey& out) {
    out.key.clear();
    out.total.clear();
    out.window_errors = 0;
    std::string_view full = common::TrimView(subject);
    // work is the trimmed subject and one blank.
    out.key.append(full);
    out.key.push_back(' ');
    std::string_view work = out.key;
    if (work.size() <= 4) return;
    std::size_t cut = CutAtParenthesisMarker(work, out.window_errors);
    if (cut == 0) cut = CutAtBracketMarker(work);
    if (cut == 0) return;  // no marker: the key is work itself
    work = work.substr(0, cut);
    std::string_view total = work;
    std::string_view base = work;
    if (work.size() > 4) {
        if (total.back() == ')') {
            total = common::TrimView(ReduceTotal(total, '(', ')'));
            if (!total.empty()) base = BaseOf(work, ')');
        } else if (total.back() == ']') {
            total = ReduceTotal(total, '[', ']');
            base = BaseOf(work, ']');
        }
    }
    out.total = common::TrimView(total);
    // The base is a piece of out.key itself (or a fixed text): cut it in place.
    base = common::TrimView(base);
    if (base.data() >= out.key.data() && base.data() < out.key.data() + out.key.size()) {
        std::size_t begin = std::size_t(base.data() - out.key.data());
        out.key.resize(begin + base.size());
        out.key.erase(0, begin);
    } else {
        out.key.assign(base);
    }
    if (!out.total.empty()) {
        out.key += " [xx/";
        AppendTotal(out.total, out.key);
        out.key += ']';
    }
}

SubjectKey ParseSubjectKey(std::string_view subject) {
    SubjectKey out;
    ParseSubjectKey(subject, out);
    return out;
}

}  // namespace quillfin::headers
