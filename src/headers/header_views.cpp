#include "headers/header_views.h"

#include <utility>

#include "common/text.h"
#include "headers/posting_text.h"

namespace quillfin::headers {

namespace {

constexpr int kRowsPerPump = 1000;

// Counts the busy pointer up for the length of a scope, so nested rebuilds keep it shown.
class BusyScope {
  public:
    BusyScope(int& depth, std::uint64_t& revision) : depth_(depth), revision_(revision) {
        ++depth_;
        ++revision_;
    }
    ~BusyScope() {
        --depth_;
        ++revision_;
    }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

  private:
    int& depth_;
    std::uint64_t& revision_;
};

}  // namespace

HeaderViews::HeaderViews(HeaderTable& table, storage::Settings& settings,
                         const std::vector<storage::GroupEntry>& groups, common::EventPump& pump)
    : table_(table), settings_(settings), groups_(groups), pump_(pump) {}

Completeness HeaderViews::ClassOf(const HeaderEntry& entry) {
    const std::int64_t count = entry.PartCount();
    const std::int64_t total = entry.PartTotal;
    Completeness result;
    if (count == total || count == total + 1)
        result = Completeness::kComplete;
    else
        result = count < total + 1 ? Completeness::kIncomplete : Completeness::kUnknown;
    if (total == 0 && count == 1 && entry.Size < 10000) {
        std::string ending =
            common::ToUpper(entry.Subject.size() >= 4
                                ? std::string_view(entry.Subject).substr(entry.Subject.size() - 4)
                                : std::string_view(entry.Subject));
        bool info = ending == ".NFO" || ending == ".DIZ" || ending == ".ZIP";
        result = info ? Completeness::kComplete : Completeness::kText;
    }
    return result;
}

int HeaderViews::ClassifyPosting(std::int32_t index) const {
    return int(ClassOf(table_.Entry(index)));
}

bool HeaderViews::ClassShown(Completeness completeness) const {
    switch (completeness) {
        case Completeness::kIncomplete:
            return settings_.togtsIncomplete;
        case Completeness::kComplete:
            return settings_.togtsComplete;
        case Completeness::kUnknown:
            return settings_.togtsUnknown;
        case Completeness::kText:
            return settings_.togtsText;
    }
    return false;
}

bool HeaderViews::Passes(const HeaderEntry& entry, Completeness* completeness) const {
    if (!filter_.Passes(entry.Group)) return false;
    *completeness = ClassOf(entry);
    return ClassShown(*completeness);
}

ListRow HeaderViews::MakeRow(const HeaderEntry& entry, std::int32_t index, int icon) {
    ListRow row;
    row.text = ListedSubject(entry.Subject);
    row.columns = {PartsText(entry), MegabytesText(entry.Size), entry.From, entry.Date,
                   entry.Group};
    row.icon = icon;
    row.tag = index;
    return row;
}

void HeaderViews::RebuildHeaderList(bool restoreDeleted) {
    BusyScope busy(busy_depth_, revision_);
    pump_.Pump();
    const std::uint64_t generation = ++rebuild_generation_;

    rows_.Clear();
    const std::int32_t count = table_.HeaderCount();
    if (restoreDeleted) {
        // Expired postings are never restored.
        for (std::int32_t i = 1; i <= count; ++i) {
            HeaderEntry& entry = table_.Entry(i);
            if (entry.Deleted && !entry.Expired) entry.Deleted = false;
        }
    }
    int since_pump = 0;
    for (std::int32_t i = 1; i <= count; ++i) {
        const HeaderEntry& entry = table_.Entry(i);
        Completeness completeness;
        if (entry.Deleted || !Passes(entry, &completeness)) continue;
        // Append refreshes instead when an update during a pause has listed it already.
        rows_.Append(MakeRow(entry, i, int(completeness)));
        if (++since_pump == kRowsPerPump) {
            since_pump = 0;
            pump_.Pump();
            if (generation != rebuild_generation_) return;  // a newer rebuild took over
        }
    }
    rows_.Resort();
}

void HeaderViews::UpdateHeaderList() {
    for (std::int32_t index : table_.TakeUnshown()) {
        const HeaderEntry& entry = table_.Entry(index);
        Completeness completeness;
        if (!Passes(entry, &completeness)) continue;
        rows_.Append(MakeRow(entry, index, int(completeness)));
    }
}

void HeaderViews::FillGroupFilter() {
    filter_.Clear();
    filter_.Add(GroupFilter::kAllNewsgroups);
    filter_.Add(GroupFilter::kNoGroup);
    for (const storage::GroupEntry& group : groups_)
        if (!group.disabled) filter_.Add(group.name);
    // A large saved table starts with the list switched off; the user picks a group.
    SelectFilter(table_.HeadersRead > 1000 ? GroupFilter::kNoGroup : GroupFilter::kAllNewsgroups);
}

void HeaderViews::SelectFilter(const std::string& text) {
    filter_.SetText(text);
    RebuildHeaderList(false);
}

void HeaderViews::ToolbarClick(Completeness button, bool pressed) {
    switch (button) {
        case Completeness::kIncomplete:
            settings_.togtsIncomplete = pressed;
            break;
        case Completeness::kComplete:
            settings_.togtsComplete = pressed;
            break;
        case Completeness::kUnknown:
            settings_.togtsUnknown = pressed;
            break;
        case Completeness::kText:
            settings_.togtsText = pressed;
            break;
    }
    ++revision_;
    RebuildHeaderList(false);
}

}  // namespace quillfin::headers
