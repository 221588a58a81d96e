#include "headers/header_maintenance.h"

#include <algorithm>
#include <cstdint>
#include <string_view>

#include "common/leading_integer.h"
#include "common/text.h"
#include "headers/message_id.h"

namespace quillfin::headers {

namespace {

char Upper(char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; }

// Case-insensitive substring test without an upper-case copy of every subject.
bool ContainsUpper(std::string_view subject, std::string_view upperNeedle) {
    if (upperNeedle.empty()) return true;
    auto found = std::search(subject.begin(), subject.end(), upperNeedle.begin(), upperNeedle.end(),
                             [](char a, char b) { return Upper(a) == b; });
    return found != subject.end();
}

// Find's icon: the class rule without its exception for small .NFO/.DIZ/.ZIP postings.
int FindIcon(const HeaderEntry& entry) {
    if (entry.PartTotal == 0 && entry.PartCount() == 1 && entry.Size < 10000)
        return int(Completeness::kText);
    return int(HeaderViews::ClassOf(entry));
}

std::int64_t LeadingNumber(const ArticleId& id) {
    if (id.IsNumber()) return std::int64_t(id.Number());
    char buffer[24];
    return common::LeadingInteger(id.View(buffer));
}

}  // namespace

HeaderMaintenance::HeaderMaintenance(HeaderTable& table, HeaderViews& views,
                                     storage::Settings& settings, common::MainViewState& view,
                                     common::Prompts& prompts, common::EventPump& pump)
    : table_(table),
      views_(views),
      settings_(settings),
      view_(view),
      prompts_(prompts),
      pump_(pump) {}

void HeaderMaintenance::AutoExpire(const std::string& group, const std::string& firstText) {
    if (settings_.chkAutoExpire != 1) return;
    const std::int64_t first = common::LeadingInteger(firstText);
    table_.Log().LogEvent("Auto-expire: " + group, false);
    const GroupName name(group);
    std::int64_t expired = 0;
    const std::int32_t count = table_.HeaderCount();
    for (std::int32_t i = 1; i <= count; ++i) {
        HeaderEntry& entry = table_.Entry(i);
        // A posting from an NZB file has no numbers to expire by.
        if (entry.Expired || !(entry.Group == name) || IsImportedPosting(entry)) continue;
        for (const PartRef& part : entry.Parts) {
            if (part.Group == name && LeadingNumber(part.ArticleNumber) < first) {
                entry.Deleted = true;
                entry.Expired = true;
                ++expired;
                break;
            }
        }
    }
    if (expired == 0) return;
    views_.RebuildHeaderList(false);
    table_.Log().LogEvent(
        expired == 1 ? "Auto-expire: " + group + ", 1 article expired"
                     : "Auto-expire: " + group + "," + common::Str(expired) + " articles expired",
        true);
}

void HeaderMaintenance::DeleteCommand() {
    RowList& rows = views_.Rows();
    const int selected = rows.SelectedCount();
    bool rebuild = true;
    if (selected == 0) {
        if (!prompts_.AskYesNo(
                "Nothing selected, delete all" + common::Str(table_.HeadersRead) + " headers?",
                "Delete"))
            return;
        for (std::int32_t i = 1; i <= table_.HeaderCount(); ++i) table_.Entry(i).Deleted = true;
    } else {
        for (std::int32_t tag : rows.SelectedTags())
            if (tag >= 1 && tag <= table_.HeaderCount()) table_.Entry(tag).Deleted = true;
        // A few rows go one by one; many at once are cheaper to rebuild.
        if (std::int64_t(selected) * 5 <= rows.Count()) {
            rows.RemoveSelected();
            rebuild = false;
        }
    }
    if (rebuild) views_.RebuildHeaderList(false);
    table_.HeadersChanged = true;
    if (!view_.cmdRestoreEnabled) {
        view_.cmdRestoreEnabled = true;
        view_.Touch();
    }
}

void HeaderMaintenance::RestoreCommand() {
    if (!prompts_.AskYesNo("Restore all deleted headers?")) return;
    pump_.Pump();
    // The rebuild clears the marks; a posting that comes back differs from a file saved
    // without it, so the table must count as changed.
    bool restoring = false;
    for (std::int32_t i = 1; i <= table_.HeaderCount() && !restoring; ++i) {
        const HeaderEntry& entry = table_.Entry(i);
        restoring = entry.Deleted && !entry.Expired;
    }
    views_.RebuildHeaderList(true);
    if (restoring) table_.HeadersChanged = true;
    view_.cmdRestoreEnabled = false;
    view_.Touch();
}

bool HeaderMaintenance::Find(const std::string& text, bool searchDeleted) {
    RowList& rows = views_.Rows();
    rows.Clear();
    views_.SelectFilter(GroupFilter::kNoGroup);
    const std::string needle = common::ToUpper(text);
    int matches = 0;
    for (std::int32_t i = 1; i <= table_.HeaderCount(); ++i) {
        HeaderEntry& entry = table_.Entry(i);
        if (entry.Deleted && !searchDeleted) continue;
        if (!ContainsUpper(entry.Subject, needle)) continue;
        if (entry.Deleted) {
            entry.Deleted = false;
            table_.HeadersChanged = true;
        }
        rows.Append(HeaderViews::MakeRow(entry, i, FindIcon(entry)));
        ++matches;
    }
    rows.Resort();
    if (matches > 0) return true;
    prompts_.Message("No matching headers");
    return false;
}

}  // namespace quillfin::headers
