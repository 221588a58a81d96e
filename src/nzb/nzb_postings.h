#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "headers/header_entry.h"
#include "headers/header_table.h"
#include "nzb/nzb_document.h"

namespace quillfin::nzb {

// The postings at indices, each part with the message-ID at the same place in message_ids
// (with or without its angle brackets); a part without one is left out. Segments are numbered
// in the order of the parts' subject markers; the file's subject is the first part's.
NzbDocument PostingsToDocument(const headers::HeaderTable& table,
                               const std::vector<std::int32_t>& indices,
                               const std::vector<std::vector<std::string>>& message_ids);

// Why the document cannot be queued, for a message; empty when it can. A document is taken
// whole or not at all.
std::string CheckDocument(const NzbDocument& document);

// The postings a checked document describes, one per file, fetched by message-ID: the
// group is the file's first, the join key and part total come from its subject as they
// would from a scanned one, each part's subject from the file's with its own number.
std::vector<headers::HeaderEntry> DocumentToPostings(const NzbDocument& document);

// "mm-dd-yyyy" to Unix time at midnight UTC, and back; 0 for a date in another form.
std::int64_t UnixTimeOfDate(const std::string& date);
std::string DateOfUnixTime(std::int64_t time);

}  // namespace quillfin::nzb
