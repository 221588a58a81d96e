#include "storage/group_name_check.h"

#include <string_view>

#include "common/text.h"

namespace quillfin::storage {

std::string GroupNameProblem(const std::string& name) {
    const std::string_view trimmed = common::TrimView(name);
    if (trimmed.empty()) return "Please enter a newsgroup name.";
    for (char c : trimmed) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F)
            return "A newsgroup name cannot hold control characters (such as tabs or line breaks).";
        if (c == ' ') return "A newsgroup name cannot hold blanks.";
        if (c == ',') return "A newsgroup name cannot hold a comma.";
        if (c == '/' || c == '\\') return "A newsgroup name cannot hold \"/\" or \"\\\".";
    }
    // Names are parts joined by dots: an empty, "." or ".." part would make the sub-folder
    // named after the group escape the download folder or vanish.
    std::size_t start = 0;
    while (start <= trimmed.size()) {
        std::size_t dot = trimmed.find('.', start);
        if (dot == std::string_view::npos) dot = trimmed.size();
        if (dot == start)
            return "A newsgroup name is made of words joined by single dots, such as "
                   "alt.binaries.pictures: it cannot begin or end with a dot or hold two dots "
                   "in a row.";
        start = dot + 1;
    }
    return {};
}

}  // namespace quillfin::storage
