#pragma once

#include <string>

#include "headers/header_entry.h"

namespace quillfin::headers {

// A part queued from an NZB file has no article number, only its message-ID ("<id@host>"),
// kept where a scanned part keeps its number. Overview numbers never start with '<'.
inline bool IsMessageId(const std::string& text) {
    return text.size() >= 3 && text.front() == '<' && text.back() == '>';
}

// A posting queued from an NZB file: it is fetched by message-ID, is never joined with
// scanned articles and is kept in a file of its own between runs.
inline bool IsImportedPosting(const HeaderEntry& entry) {
    return !entry.Parts.empty() && IsMessageId(entry.Parts.front().ArticleNumber);
}

}  // namespace quillfin::headers
