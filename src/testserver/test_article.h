#pragma once

#include <cstdint>
#include <string>

namespace quillfin::testserver {

// One article as the server stores it. Body lines end in CR LF and are not dot-stuffed.
struct TestArticle {
    std::int64_t number = 0;  // 0: the group's next number
    std::string subject;
    std::string from = "Poster <poster@example.test>";
    std::string date = "Sun, 6 Dec 2026 11:49:13 -0000 (UTC)";
    std::string messageId;  // made up from group and number when empty
    std::string references;
    std::string body;
    std::int64_t bytes = -1;  // overview byte count; -1: the size of the whole article
    std::int64_t lines = -1;  // overview line count; -1: the body's lines
};

}  // namespace quillfin::testserver
