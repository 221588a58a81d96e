#include "storage/group_list.h"

#include <algorithm>
#include <string_view>

#include "common/text.h"
#include "storage/program_files.h"

namespace quillfin::storage {

namespace {

constexpr const char* kNoGroupSelected = "Error, no group selected.";

// "True"/"False" in any case or a number, non-zero meaning true; other text leaves it enabled.
bool DisabledFlag(std::string_view text) { return common::ParseBoolean(text).value_or(false); }

GroupEntry ParseLine(std::string_view line) {
    GroupEntry entry;
    std::size_t comma = line.find(',');
    if (comma != std::string_view::npos) {
        entry.name = common::Trim(line.substr(0, comma));
        std::string rest = common::Trim(line.substr(comma + 1));
        std::size_t second = rest.find(',');
        if (second == std::string::npos) {
            entry.lastRead = rest;
        } else {
            entry.lastRead = common::Trim(std::string_view(rest).substr(0, second));
            entry.disabled = DisabledFlag(common::Trim(std::string_view(rest).substr(second + 1)));
        }
        return entry;
    }
    if (line.find(' ') == std::string_view::npos) {
        entry.name = std::string(line);
        entry.lastRead = "0";
        return entry;
    }
    // Split the trimmed line, so a leading blank cannot leave the name empty and turn the
    // whole line into the article number.
    std::string_view trimmed = common::TrimView(line);
    std::size_t blank = trimmed.find(' ');
    entry.name = std::string(trimmed.substr(0, blank));
    if (blank != std::string_view::npos) entry.lastRead = common::Trim(trimmed.substr(blank + 1));
    return entry;
}

// A line feed inside a field would split the entry in two when the file is read back.
std::string FieldText(const std::string& text) {
    std::string out = text;
    std::replace(out.begin(), out.end(), '\n', ' ');
    return out;
}

const std::string& ColumnText(const GroupEntry& entry, int column) {
    switch (column) {
        case 0:
            return entry.name;
        case 1:
            return entry.unread;
        case 2:
            return entry.lastRead;
        case 3:
            return entry.first;
        case 4:
            return entry.last;
        default:
            return entry.total;
    }
}

// The table's text order: letters without regard to case, other bytes by their value.
bool TextLess(const std::string& a, const std::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        auto fold = [](char c) {
            auto u = static_cast<unsigned char>(c);
            return u >= 'A' && u <= 'Z' ? u - 'A' + 'a' : u;
        };
        return fold(x) < fold(y);
    });
}

}  // namespace

GroupList::GroupList(std::string program_dir, common::Prompts& prompts)
    : program_dir_(std::move(program_dir)), prompts_(prompts) {}

std::string GroupList::FilePath() const { return ProgramFile(program_dir_, "favs.txt"); }

GroupEntry* GroupList::Find(const std::string& name) {
    for (GroupEntry& entry : entries_)
        if (entry.name == name) return &entry;
    return nullptr;
}

void GroupList::Select(int position) {
    selected_ = position >= 1 && position <= Count() ? position : 0;
    ++revision_;
}

void GroupList::LoadGroupList() {
    std::string content;
    if (!FileExists(FilePath()) || !ReadWholeFile(FilePath(), &content)) return;
    std::size_t start = 0;
    while (start < content.size()) {
        std::size_t lf = content.find('\n', start);
        std::size_t end = lf == std::string::npos ? content.size() : lf;
        std::string_view line(content.data() + start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        entries_.push_back(ParseLine(line));
        start = end + 1;
    }
    ++revision_;
}

bool GroupList::SaveGroupList() {
    // An empty list is never written, so an accident at shutdown cannot wipe the file.
    if (entries_.empty()) return true;
    std::string content;
    for (const GroupEntry& entry : entries_) {
        content += FieldText(entry.name) + "," + FieldText(entry.lastRead) + "," +
                   (entry.disabled ? "True" : "False") + "\r\n";
    }
    return WriteFileAtomically(FilePath(), content, /*owner_only=*/false);
}

void GroupList::AddGroup(const std::string& name) {
    std::string wanted = common::ToLower(common::Trim(name));
    for (const GroupEntry& entry : entries_)
        if (common::ToLower(common::Trim(entry.name)) == wanted) return;
    GroupEntry entry;
    entry.name = name;
    entries_.push_back(std::move(entry));
    ++revision_;
}

void GroupList::RefreshGroupFilter() {
    if (filter_ == nullptr) return;
    for (const GroupEntry& entry : entries_) {
        if (entry.disabled) continue;
        std::string name = common::Trim(entry.name);
        if (!filter_->HasFilterItem(name)) filter_->AppendFilterItem(name);
    }
}

void GroupList::ToggleSelected() {
    if (!HasSelection()) {
        prompts_.Message(kNoGroupSelected);
        return;
    }
    At(selected_).disabled = !At(selected_).disabled;
    ++revision_;
    RefreshGroupFilter();
}

void GroupList::ResetSelected() {
    if (!HasSelection()) {
        prompts_.Message(kNoGroupSelected);
        return;
    }
    At(selected_).lastRead.clear();
    ++revision_;
}

void GroupList::DeleteSelected() {
    if (!HasSelection()) {
        prompts_.Message(kNoGroupSelected);
        return;
    }
    entries_.erase(entries_.begin() + (selected_ - 1));
    // Nothing stays selected: with no confirmation, a second click must not take the
    // neighbour too.
    selected_ = 0;
    ++revision_;
}

void GroupList::MoveSelectedUp() {
    auto_sort_ = false;
    ++revision_;
    if (!HasSelection() || selected_ == 1) return;
    std::swap(entries_[std::size_t(selected_ - 1)], entries_[std::size_t(selected_ - 2)]);
    --selected_;
}

void GroupList::MoveSelectedDown() {
    auto_sort_ = false;
    ++revision_;
    if (!HasSelection() || selected_ == Count()) return;
    std::swap(entries_[std::size_t(selected_ - 1)], entries_[std::size_t(selected_)]);
    ++selected_;
}

void GroupList::SortByColumn(int column) {
    if (column < 0 || column > 5) return;
    if (column != sort_column_) {
        sort_column_ = column;
        sort_ascending_ = true;
    } else {
        sort_ascending_ = !sort_ascending_;
    }
    auto_sort_ = true;
    // The selection follows its entry to wherever the sort puts it.
    std::vector<std::pair<GroupEntry, bool>> rows;
    rows.reserve(entries_.size());
    for (int i = 0; i < Count(); ++i)
        rows.emplace_back(std::move(entries_[std::size_t(i)]), i + 1 == selected_);
    bool ascending = sort_ascending_;
    std::stable_sort(rows.begin(), rows.end(), [&](const auto& a, const auto& b) {
        const std::string& x = ColumnText(a.first, column);
        const std::string& y = ColumnText(b.first, column);
        return ascending ? TextLess(x, y) : TextLess(y, x);
    });
    selected_ = 0;
    for (int i = 0; i < int(rows.size()); ++i) {
        entries_[std::size_t(i)] = std::move(rows[std::size_t(i)].first);
        if (rows[std::size_t(i)].second) selected_ = i + 1;
    }
    ++revision_;
}

}  // namespace quillfin::storage
