#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "storage/group_list.h"

namespace quillfin::headers {

// The main window's newsgroup filter (cboVG): two fixed entries, then the enabled groups.
// Its current text decides which postings the header list shows.
class GroupFilter : public storage::GroupFilterList {
  public:
    static constexpr const char* kAllNewsgroups = "All Newsgroups";
    static constexpr const char* kNoGroup = "no group (Display Disable)";

    const std::vector<std::string>& Items() const { return items_; }
    const std::string& Text() const { return text_; }
    // Position of the current text among the items; -1 when it is none of them.
    int SelectedItem() const;

    void Clear();
    void Add(const std::string& item);
    // Only sets the text; the header views rebuild the list when the user picks an entry.
    void SetText(const std::string& text);
    // True when a posting of this group passes the filter.
    bool Passes(const std::string& group) const;

    bool HasFilterItem(const std::string& text) const override;
    void AppendFilterItem(const std::string& text) override;

    std::uint64_t Revision() const { return revision_; }

  private:
    std::vector<std::string> items_;
    std::string text_;
    std::uint64_t revision_ = 0;
};

}  // namespace quillfin::headers
