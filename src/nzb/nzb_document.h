#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quillfin::nzb {

// One article of a file, as an NZB lists it.
struct NzbSegment {
    std::int64_t bytes = 0;
    std::int64_t number = 0;  // the part's place in its file, from 1
    std::string messageId;    // without the angle brackets
};

// One posted file.
struct NzbFile {
    std::string poster;
    std::int64_t date = 0;  // Unix time
    std::string subject;
    std::vector<std::string> groups;
    std::vector<NzbSegment> segments;
};

// An NZB file's content, exactly as read or as it is to be written.
struct NzbDocument {
    std::vector<NzbFile> files;
};

// What an NZB may hold before it is refused: generous for real files (a large one lists a
// few thousand files and some hundred thousand segments), small enough that a hostile one
// cannot make the program allocate without bound.
struct NzbLimits {
    static constexpr std::size_t kFiles = 100'000;
    static constexpr std::size_t kSegmentsPerFile = 200'000;
    static constexpr std::size_t kSegments = 1'000'000;
    static constexpr std::size_t kGroups = 100;
    // Bigger than the download engine takes in one reply.
    static constexpr std::int64_t kSegmentBytes = std::int64_t(256) << 20;
    static constexpr std::size_t kText = 1000;      // a subject, poster or group
    static constexpr std::size_t kMessageId = 250;  // RFC 3977's bound
    // The file itself, and what a gzip-compressed one may inflate to.
    static constexpr std::size_t kFileBytes = std::size_t(128) << 20;
};

}  // namespace quillfin::nzb
