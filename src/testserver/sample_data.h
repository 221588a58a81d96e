#pragma once

#include <cstdint>
#include <string>

#include "testserver/news_spool.h"

namespace quillfin::testserver {

// Fills group with overview-only postings of parts_per_posting parts each, numbered from the
// group's next number, subjects in the usual multipart form; bodies are left empty.
void AddOverviewPostings(NewsSpool& spool, const std::string& group, std::int64_t articles,
                         int parts_per_posting = 20);

// A small demo data set: a few groups with multipart uuencoded postings that decode.
void AddSampleData(NewsSpool& spool);

// The uuencoded lines (each ending in CR LF) of data, without "begin" and "end".
std::string UuencodeLines(const std::string& data);

}  // namespace quillfin::testserver
