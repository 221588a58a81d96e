#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/prompts.h"

namespace quillfin::storage {

// One newsgroup of the user's list. Numbers are text, as the table shows them.
struct GroupEntry {
    std::string name;
    std::string unread;
    std::string lastRead;
    std::string first;
    std::string last;
    std::string total;
    bool disabled = false;
    int stateIcon = 1;  // 1 idle, 2 the group whose GROUP reply was handled last
};

// The main window's newsgroup filter list, which RefreshGroupFilter extends. The header views
// own that list; this interface keeps the group list from depending on them.
class GroupFilterList {
  public:
    virtual ~GroupFilterList() = default;
    virtual bool HasFilterItem(const std::string& text) const = 0;
    virtual void AppendFilterItem(const std::string& text) = 0;
};

// The user's newsgroups in scan order, kept in favs.txt. Positions are 1-based; 0 means none.
class GroupList {
  public:
    GroupList(std::string program_dir, common::Prompts& prompts);

    void SetFilterList(GroupFilterList* filter) { filter_ = filter; }

    std::vector<GroupEntry>& Entries() { return entries_; }
    const std::vector<GroupEntry>& Entries() const { return entries_; }
    int Count() const { return int(entries_.size()); }
    GroupEntry& At(int position) { return entries_.at(std::size_t(position - 1)); }
    // The first entry whose name equals name exactly; nullptr when none.
    GroupEntry* Find(const std::string& name);

    int Selected() const { return HasSelection() ? selected_ : 0; }
    void Select(int position);  // 0 clears the selection

    bool AutoSort() const { return auto_sort_; }
    int SortColumn() const { return sort_column_; }
    bool SortAscending() const { return sort_ascending_; }

    void LoadGroupList();
    // Writes favs.txt; false when the file could not be written (the old one is kept).
    bool SaveGroupList();
    void AddGroup(const std::string& name);
    void RefreshGroupFilter();
    void ToggleSelected();
    void ResetSelected();
    void DeleteSelected();
    void MoveSelectedUp();
    void MoveSelectedDown();
    // column 0..5: "Newsgroup Name", "Unread", "Last Read", "First", "Last", "Total".
    void SortByColumn(int column);

    std::string FilePath() const;
    // Bumped by every change, so the table knows when to repaint.
    std::uint64_t Revision() const { return revision_; }
    void Touch() { ++revision_; }

  private:
    // Entries() lets the scan engine change the list, so the position is checked on use.
    bool HasSelection() const { return selected_ >= 1 && selected_ <= Count(); }

    std::string program_dir_;
    common::Prompts& prompts_;
    GroupFilterList* filter_ = nullptr;
    std::vector<GroupEntry> entries_;
    int selected_ = 0;
    bool auto_sort_ = false;
    int sort_column_ = -1;
    bool sort_ascending_ = true;
    std::uint64_t revision_ = 0;
};

}  // namespace quillfin::storage
