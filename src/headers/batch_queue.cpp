#include "headers/batch_queue.h"

#include "common/text.h"
#include "headers/posting_text.h"

namespace quillfin::headers {

namespace {

std::int64_t Kilobytes(std::int64_t size) { return common::RoundHalfEven(double(size) / 1000.0); }

}  // namespace

BatchQueue::BatchQueue(HeaderTable& table, common::MainViewState& view, storage::ActivityLog& log,
                       common::Prompts& prompts)
    : table_(table), view_(view), log_(log), prompts_(prompts) {}

std::string BatchQueue::TotalText() const {
    return "Total batch size: " + common::FormatNumber(double(batch_size_kb_) / 1000.0, "0.0") +
           "mb";
}

bool BatchQueue::ValidIndex(std::int32_t index) const {
    return index >= 1 && index <= table_.HeaderCount();
}

ListRow BatchQueue::MakeRow(std::int32_t index, std::int32_t parts) const {
    const HeaderEntry& entry = table_.Entry(index);
    ListRow row;
    row.text = ListedSubject(entry.Subject);
    row.columns[0] = common::FormatNumber(parts, "000");
    row.columns[1] = MegabytesText(entry.Size);
    row.icon = kRowIcon;
    row.tag = index;
    return row;
}

void BatchQueue::ShowTotal(bool status_line) {
    view_.lblTotalBatchSize = TotalText();
    view_.Touch();
    if (status_line) log_.LogEvent(view_.lblTotalBatchSize, false);
}

void BatchQueue::AddToBatch(std::int32_t index) {
    // A second add of a queued posting would list it twice and count it twice.
    if (!ValidIndex(index) || table_.Entry(index).InBatch) return;
    HeaderEntry& entry = table_.Entry(index);
    entry.InBatch = true;
    table_.HeadersChanged = true;
    rows_.Append(MakeRow(index, entry.PartTotal));
    std::int64_t kb = Kilobytes(entry.Size);
    queued_kb_[index] = kb;
    batch_size_kb_ += kb;
    ShowTotal(true);
}

bool BatchQueue::Unqueue(std::int32_t index) {
    if (!ValidIndex(index)) return false;
    HeaderEntry& entry = table_.Entry(index);
    auto queued = queued_kb_.find(index);
    if (queued == queued_kb_.end() && !entry.InBatch) return false;  // not queued: no change
    std::int64_t kb = queued == queued_kb_.end() ? Kilobytes(entry.Size) : queued->second;
    if (queued != queued_kb_.end()) queued_kb_.erase(queued);
    entry.InBatch = false;
    batch_size_kb_ -= kb;
    table_.HeadersChanged = true;
    return true;
}

void BatchQueue::RemoveFromBatch(std::int32_t index) {
    if (!Unqueue(index)) return;
    rows_.RemoveAt(rows_.PositionOfTag(index));
    ShowTotal(true);
}

void BatchQueue::BuildBatchList() {
    rows_.Clear();
    queued_kb_.clear();
    for (std::int32_t i = 1; i <= table_.HeaderCount(); ++i) {
        const HeaderEntry& entry = table_.Entry(i);
        if (!entry.InBatch) continue;
        rows_.Append(MakeRow(i, entry.PartCount()));
        queued_kb_[i] = Kilobytes(entry.Size);
    }
}

void BatchQueue::AddLoadedSize(std::int64_t size) {
    batch_size_kb_ += Kilobytes(size);
    ShowTotal(false);
}

void BatchQueue::AddSelected(const RowList& header_rows) {
    for (std::int32_t tag : header_rows.SelectedTags()) AddToBatch(tag);
}

void BatchQueue::RemoveSelected() {
    if (rows_.SelectedCount() == 0) {
        prompts_.Message("Nothing selected.");
        return;
    }
    std::vector<std::int32_t> tags = rows_.SelectedTags();
    for (auto tag = tags.rbegin(); tag != tags.rend(); ++tag) {
        Unqueue(*tag);
        if (onRemovedByUser) onRemovedByUser(*tag);
    }
    // One pass over the rows instead of one erase per selected row.
    rows_.RemoveSelected();
    ShowTotal(true);
}

void BatchQueue::MoveFirstSelected(int direction) {
    int from = rows_.FirstSelected();
    int to = from + direction;
    if (from < 0 || to < 0 || to >= rows_.Count()) return;
    rows_.Swap(from, to);
    rows_.ScrollTo(to);
}

void BatchQueue::MoveUp() { MoveFirstSelected(-1); }
void BatchQueue::MoveDown() { MoveFirstSelected(+1); }

}  // namespace quillfin::headers
