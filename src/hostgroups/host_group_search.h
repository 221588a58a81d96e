#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "headers/row_list.h"

namespace quillfin::hostgroups {

// The line-by-line search of the host list buffer for group names that start with, or
// contain, the query. It runs in steps so the window stays usable between them; the buffer
// must not change while a search runs. Positions are those of the text "-" + buffer, counted
// from 1: the leading "-" stands in for the line feed every later line starts with.
class HostGroupSearch {
  public:
    enum class Mode { kStartsWith, kContains };

    // Rows go to rows (emptied first by the caller); the query is taken as typed.
    void Start(const std::string& buffer, std::string query, Mode mode, headers::RowList& rows);
    // Examines up to maxLines lines; false once the search has come to its end.
    bool Step(std::size_t maxLines);
    void Stop() { running_ = false; }

    bool Running() const { return running_; }
    std::int64_t Count() const { return count_; }
    std::size_t Length() const { return length_; }
    std::size_t Progress() const { return progress_; }
    // Lines looked at so far (a skip-ahead passes some by).
    std::size_t LinesExamined() const { return examined_; }

  private:
    bool Examine();
    void SkipAhead();
    bool Matches(std::string_view namePart) const;
    void AddRow(std::string_view entry, std::string_view namePart);
    // First CR at or after position from; 0 when none.
    std::size_t FindCr(std::size_t from) const;
    // Last CR before position before; 0 when none.
    std::size_t LastCrBefore(std::size_t before) const;
    std::size_t FindQuery(std::size_t from) const;

    const std::string* buffer_ = nullptr;
    headers::RowList* rows_ = nullptr;
    std::string query_;
    Mode mode_ = Mode::kStartsWith;
    std::size_t length_ = 0;  // of "-" + buffer
    std::size_t p_ = 1;
    std::size_t progress_ = 0;
    std::size_t examined_ = 0;
    std::int64_t count_ = 0;
    bool running_ = false;
};

}  // namespace quillfin::hostgroups
