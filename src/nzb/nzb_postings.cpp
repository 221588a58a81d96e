#include "nzb/nzb_postings.h"

#include <algorithm>
#include <limits>

#include "common/dates.h"
#include "common/text.h"
#include "headers/message_id.h"
#include "headers/subject_key.h"

namespace quillfin::nzb {

namespace {

// Year 9999's last second: later dates are no real posting's.
constexpr std::int64_t kLastTime = 253402300799;

// Days since 1970-01-01 of a proleptic Gregorian date, and back (the usual era arithmetic).
std::int64_t DaysFromCivil(std::int64_t y, int m, int d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

common::CalendarDate CivilFromDays(std::int64_t z) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const int d = int(doy - (153 * mp + 2) / 5 + 1);
    const int m = int(mp < 10 ? mp + 3 : mp - 9);
    return {int(yoe + era * 400 + (m <= 2)), m, d};
}

bool AllDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Texts are kept one per line on disk and written into XML: no control characters.
std::string Printable(std::string_view text) {
    std::string out(common::TrimView(text));
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
    return out;
}

std::string WithoutBrackets(const std::string& id) {
    return headers::IsMessageId(id) ? id.substr(1, id.size() - 2) : id;
}

// Newsgroup names become folder names: only the characters real names use.
bool SaneGroup(const std::string& group) {
    if (group.empty() || group.size() > NzbLimits::kText || group.find("..") != std::string::npos)
        return false;
    return std::all_of(group.begin(), group.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '.' || c == '-' || c == '+' || c == '_';
    });
}

bool SaneMessageId(const std::string& id) {
    if (id.empty() || id.size() > NzbLimits::kMessageId - 2) return false;
    return std::all_of(id.begin(), id.end(),
                       [](char c) { return c > 0x20 && c < 0x7f && c != '<' && c != '>'; });
}

std::string FileProblem(const NzbFile& file) {
    if (file.subject.size() > NzbLimits::kText || file.poster.size() > NzbLimits::kText)
        return "its subject or poster is over " + std::to_string(NzbLimits::kText) + " bytes";
    if (file.date < 0 || file.date > kLastTime) return "its date is out of range";
    if (file.groups.empty()) return "it names no newsgroup";
    if (file.groups.size() > NzbLimits::kGroups) return "it names too many newsgroups";
    for (const std::string& group : file.groups)
        if (!SaneGroup(group)) return "it names a newsgroup that is not a newsgroup name";
    if (file.segments.empty()) return "it has no segments";
    if (file.segments.size() > NzbLimits::kSegmentsPerFile)
        return "it has over " + std::to_string(NzbLimits::kSegmentsPerFile) + " segments";
    std::vector<std::int64_t> numbers;
    numbers.reserve(file.segments.size());
    for (const NzbSegment& segment : file.segments) {
        if (segment.bytes < 1 || segment.bytes > NzbLimits::kSegmentBytes)
            return "segment " + std::to_string(segment.number) + " has an impossible size";
        if (!SaneMessageId(segment.messageId))
            return "segment " + std::to_string(segment.number) + " has no usable message-ID";
        numbers.push_back(segment.number);
    }
    std::sort(numbers.begin(), numbers.end());
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        const std::int64_t expected = std::int64_t(i) + 1;
        if (numbers[i] == expected) continue;
        if (i > 0 && numbers[i] == numbers[i - 1])
            return "segment " + std::to_string(numbers[i]) + " is listed twice";
        return "segment " + std::to_string(expected) + " is missing";
    }
    return {};
}

// Where the part number of a subject's marker stands ("(03/10)", "[3/10]"), given the total
// the marker announces; size 0 when there is none.
struct NumberPlace {
    std::size_t at = 0, size = 0;
};
NumberPlace PartNumberPlace(std::string_view subject, std::string_view total) {
    if (total.empty()) return {};
    const std::string needle = "/" + std::string(total);
    for (std::size_t slash = subject.rfind(needle); slash != std::string_view::npos && slash > 0;
         slash = subject.rfind(needle, slash - 1)) {
        const std::size_t after = slash + needle.size();
        std::size_t begin = slash;
        while (begin > 0 && subject[begin - 1] >= '0' && subject[begin - 1] <= '9') --begin;
        if (begin == slash || begin == 0 || after >= subject.size()) continue;
        const char open = subject[begin - 1], close = subject[after];
        if ((open == '(' && close == ')') || (open == '[' && close == ']'))
            return {begin, slash - begin};
    }
    return {};
}

std::int64_t PartNumberOf(std::string_view subject) {
    const std::string total = headers::ParseSubjectKey(subject).total;
    const NumberPlace place = PartNumberPlace(subject, total);
    if (place.size == 0 || place.size > 9) return std::numeric_limits<std::int64_t>::max();
    return common::WholeValue(std::string(subject.substr(place.at, place.size)));
}

// A file's subject names its first part; part n's subject has n in the marker, as wide as
// the first's, so each part reads as it would have in the overview.
std::string PartSubject(const std::string& subject, const std::string& total, std::int64_t n) {
    const NumberPlace place = PartNumberPlace(subject, total);
    if (place.size == 0) return subject;
    std::string number = std::to_string(n);
    if (number.size() < place.size) number.insert(0, place.size - number.size(), '0');
    return subject.substr(0, place.at) + number + subject.substr(place.at + place.size);
}

}  // namespace

std::int64_t UnixTimeOfDate(const std::string& date) {
    // "mm-dd-yyyy", as the overview parser stores a date it understood.
    if (date.size() != 10 || date[2] != '-' || date[5] != '-') return 0;
    const std::string_view text(date);
    if (!AllDigits(text.substr(0, 2)) || !AllDigits(text.substr(3, 2)) ||
        !AllDigits(text.substr(6, 4)))
        return 0;
    const int month = std::stoi(date.substr(0, 2));
    const int day = std::stoi(date.substr(3, 2));
    const int year = std::stoi(date.substr(6, 4));
    if (month < 1 || month > 12 || day < 1 || day > 31 || year < 1970) return 0;
    return DaysFromCivil(year, month, day) * 86400;
}

std::string DateOfUnixTime(std::int64_t time) {
    const std::int64_t days = std::clamp<std::int64_t>(time, 0, kLastTime) / 86400;
    return common::FormatMonthDayYear(CivilFromDays(days));
}

NzbDocument PostingsToDocument(const headers::HeaderTable& table,
                               const std::vector<std::int32_t>& indices,
                               const std::vector<std::vector<std::string>>& message_ids) {
    NzbDocument document;
    document.files.reserve(indices.size());
    for (std::size_t i = 0; i < indices.size(); ++i) {
        const headers::HeaderEntry& entry = table.Entry(indices[i]);
        NzbFile file;
        file.poster = Printable(entry.From.str());
        file.date = UnixTimeOfDate(entry.Date.str());
        // Segments follow the parts' own numbers, which a scan does not keep in order.
        std::vector<std::size_t> order(entry.Parts.size());
        std::vector<std::int64_t> numbers(entry.Parts.size());
        for (std::size_t p = 0; p < order.size(); ++p) {
            order[p] = p;
            numbers[p] = PartNumberOf(std::string(entry.Parts[p].Subject));
        }
        std::stable_sort(order.begin(), order.end(),
                         [&](std::size_t a, std::size_t b) { return numbers[a] < numbers[b]; });
        const std::string subject =
            order.empty() ? entry.Subject : std::string(entry.Parts[order.front()].Subject);
        file.subject = Printable(subject);
        file.groups.push_back(entry.Group.str());
        for (const headers::PartRef& part : entry.Parts) {
            const std::string group = part.Group.str();
            if (std::find(file.groups.begin(), file.groups.end(), group) == file.groups.end())
                file.groups.push_back(group);
        }
        file.segments.reserve(entry.Parts.size());
        for (const std::size_t p : order) {
            // A part a scan added while the IDs were being fetched has none: left out.
            if (p >= message_ids[i].size() || message_ids[i][p].empty()) continue;
            const std::int64_t number = std::int64_t(file.segments.size()) + 1;
            file.segments.push_back(
                {entry.Parts[p].Bytes, number, WithoutBrackets(message_ids[i][p])});
        }
        document.files.push_back(std::move(file));
    }
    return document;
}

std::string CheckDocument(const NzbDocument& document) {
    if (document.files.empty()) return "it lists no files";
    if (document.files.size() > NzbLimits::kFiles)
        return "it lists over " + std::to_string(NzbLimits::kFiles) + " files";
    std::size_t segments = 0;
    for (std::size_t i = 0; i < document.files.size(); ++i) {
        segments += document.files[i].segments.size();
        if (segments > NzbLimits::kSegments)
            return "it lists over " + std::to_string(NzbLimits::kSegments) + " segments";
        const std::string problem = FileProblem(document.files[i]);
        if (!problem.empty()) return "file " + std::to_string(i + 1) + ": " + problem;
    }
    return {};
}

std::vector<headers::HeaderEntry> DocumentToPostings(const NzbDocument& document) {
    std::vector<headers::HeaderEntry> postings;
    postings.reserve(document.files.size());
    for (const NzbFile& file : document.files) {
        headers::HeaderEntry entry;
        const std::string subject = Printable(file.subject);
        const headers::SubjectKey key = headers::ParseSubjectKey(subject);
        entry.Subject = std::string(common::TrimView(key.key));
        if (entry.Subject.empty()) entry.Subject = "(no subject)";
        entry.PartTotal = common::WholeValue32(key.total);
        entry.Date = DateOfUnixTime(file.date);
        entry.From = Printable(file.poster);
        entry.Group = file.groups.front();
        std::vector<const NzbSegment*> order;
        order.reserve(file.segments.size());
        for (const NzbSegment& segment : file.segments) order.push_back(&segment);
        std::sort(order.begin(), order.end(),
                  [](const NzbSegment* a, const NzbSegment* b) { return a->number < b->number; });
        entry.Parts.reserve(order.size());
        for (const NzbSegment* segment : order) {
            headers::PartRef part;
            part.ArticleNumber = "<" + segment->messageId + ">";
            part.Subject = PartSubject(subject, key.total, segment->number);
            part.Bytes = std::int32_t(segment->bytes);
            part.Group = entry.Group;
            entry.Size += segment->bytes;
            entry.Parts.push_back(std::move(part));
        }
        postings.push_back(std::move(entry));
    }
    return postings;
}

}  // namespace quillfin::nzb
