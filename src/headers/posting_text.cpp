#include "headers/posting_text.h"

#include "common/text.h"

namespace quillfin::headers {

std::string ListedSubject(std::string_view subject) {
    if (!common::Contains(subject, "[xx/000")) return std::string(subject);
    // A raw subject can hold the marker text and still be shorter than the ending.
    if (subject.size() < 13) return std::string();
    return std::string(subject.substr(0, subject.size() - 13));
}

std::string PartsText(const HeaderEntry& entry) {
    if (entry.PartTotal != 0)
        return common::FormatNumber(entry.PartCount(), "000") + "/" +
               common::FormatNumber(entry.PartTotal, "000");
    if (entry.PartCount() < 2) return std::string();
    return common::FormatNumber(entry.PartCount(), "000") + "/???";
}

std::string MegabytesText(std::int64_t size) {
    return common::FormatNumber(double(size) / 1000000.0, "00.000");
}

std::string ReducedFrom(std::string_view from) {
    std::size_t open = from.find('<');
    if (open != std::string_view::npos) {
        std::size_t close = from.find('>', open + 1);
        // Without a closing bracket the address runs to the end.
        if (close == std::string_view::npos) return std::string(from.substr(open + 1));
        return std::string(from.substr(open + 1, close - open - 1));
    }
    std::size_t paren = from.find('(');
    if (paren != std::string_view::npos) return std::string(from.substr(0, paren));
    return std::string(from);
}

}  // namespace quillfin::headers
