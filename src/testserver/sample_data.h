#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "testserver/binary_encoders.h"
#include "testserver/news_spool.h"

namespace quillfin::testserver {

// Fills group with overview-only postings of parts_per_posting parts each, numbered from the
// group's next number, subjects in the usual multipart form; bodies are left empty.
void AddOverviewPostings(NewsSpool& spool, const std::string& group, std::int64_t articles,
                         int parts_per_posting = 20);

// A group of `articles` overview lines made as they are sent: in every 40 articles, 20
// single-part postings with names as obfuscated as today's, then one posting of 20 parts.
void AddMadeOverviewGroup(NewsSpool& spool, const std::string& group, std::int64_t articles);

// One posting of the demo data set.
struct SamplePosting {
    enum class Encoding { kUuencode, kYenc, kText };
    std::string group;
    std::string fileName;  // the attachment's name; the subject for a text posting
    Encoding encoding = Encoding::kText;
    std::string content;   // the file's bytes, or the text posting's body
    int parts = 1;
    // "{p}" and "{t}" stand for the part number and total, padded alike; "" means fileName.
    std::string subjectForm;
    std::vector<int> missingParts;  // parts left out of the spool
    std::string from;
};

std::vector<std::string> SampleGroups();
// Every posting of the demo data set, in the order they are added.
std::vector<SamplePosting> SamplePostings();
// The subject of one part of a posting.
std::string SampleSubject(const SamplePosting& posting, int part);

// A small demo data set: three groups of pictures, sounds and text, with uuencoded and yEnc
// multipart postings that decode, and one of each kind the header list tells apart.
void AddSampleData(NewsSpool& spool);

}  // namespace quillfin::testserver
