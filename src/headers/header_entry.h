#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/segmented_list.h"
#include "headers/article_id.h"
#include "headers/group_name.h"
#include "headers/part_subject.h"
#include "headers/shared_text.h"

namespace quillfin::headers {

// A fetched article's text. Nearly every part of a table has none, so this holds a pointer
// (8 bytes) rather than a string (32) until there is one.
class ArticleBody {
  public:
    ArticleBody() = default;
    ArticleBody(const ArticleBody& other)
        : text_(other.text_ ? std::make_unique<std::string>(*other.text_) : nullptr) {}
    ArticleBody(ArticleBody&&) noexcept = default;
    ArticleBody& operator=(const ArticleBody& other) {
        if (this != &other) *this = ArticleBody(other);
        return *this;
    }
    ArticleBody& operator=(ArticleBody&&) noexcept = default;
    ArticleBody& operator=(std::string text) {
        if (text.empty())
            text_.reset();
        else
            text_ = std::make_unique<std::string>(std::move(text));
        return *this;
    }

    bool empty() const { return !text_; }
    const std::string& str() const {
        static const std::string kNone;
        return text_ ? *text_ : kNone;
    }
    void clear() { text_.reset(); }

  private:
    std::unique_ptr<std::string> text_;
};

// One article of a posting.
struct PartRef {
    ArticleId ArticleNumber;  // as received; valid within Group
    PartSubject Subject;      // the article's full subject, trimmed
    GroupName Group;
    ArticleBody Body;  // the whole ARTICLE reply once fetched
    // Last, so the two share one word: a table holds millions of parts.
    std::int32_t Bytes = 0;
    bool Retrieved = false;
};

// One posting: a single article, or the joined parts of a multipart file.
struct HeaderEntry {
    std::string Subject;  // the join key
    std::vector<PartRef> Parts;
    SharedText Date;
    GroupName Group;
    SharedText From;
    // 64 bits: postings of several gigabytes are common.
    std::int64_t Size = 0;
    std::int32_t PartTotal = 0;
    bool InBatch = false;
    bool Unshown = false;
    bool Deleted = false;
    bool Expired = false;

    std::int32_t PartCount() const { return std::int32_t(Parts.size()); }
    // Parts are 1-based, as the rest of the program counts them.
    PartRef& Part(std::int32_t index) { return Parts.at(std::size_t(index - 1)); }
    const PartRef& Part(std::int32_t index) const { return Parts.at(std::size_t(index - 1)); }
};

// The table's postings. Scans add to it while the window must stay responsive, and it runs to
// hundreds of megabytes, so it grows without moving what it holds.
using HeaderEntryList = common::SegmentedList<HeaderEntry>;

}  // namespace quillfin::headers
