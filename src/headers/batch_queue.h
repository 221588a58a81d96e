#pragma once

#include <cstdint>
#include <functional>
#include <unordered_map>

#include "common/main_view_state.h"
#include "common/prompts.h"
#include "headers/header_table.h"
#include "headers/row_list.h"
#include "storage/activity_log.h"

namespace quillfin::headers {

// The batch list (ListView3): queued postings top to bottom in download order, each row
// tagged with its HeaderTable index, and the running total of their sizes.
class BatchQueue {
  public:
    static constexpr int kRowIcon = 5;

    BatchQueue(HeaderTable& table, common::MainViewState& view, storage::ActivityLog& log,
               common::Prompts& prompts);

    RowList& Rows() { return rows_; }
    const RowList& Rows() const { return rows_; }
    // Sum of the queued postings' sizes in units of 1000 bytes.
    std::int64_t BatchSizeKB() const { return batch_size_kb_; }
    // "Total batch size: 4.1mb"
    std::string TotalText() const;

    void AddToBatch(std::int32_t index);
    void RemoveFromBatch(std::int32_t index);
    // The start-up batch, in table order, from the loaded InBatch flags.
    void BuildBatchList();
    // The header file's load adds each queued posting's size as it reads it.
    void AddLoadedSize(std::int64_t size);

    // Add to Batch: every selected header row whose posting is not queued yet, in list order.
    void AddSelected(const RowList& header_rows);
    // Remove: the selected batch rows, or the message "Nothing selected.".
    void RemoveSelected();
    // Told of each posting the user takes out of the batch: what was fetched for it can go.
    std::function<void(std::int32_t index)> onRemovedByUser;
    // Move Up / Move Down: the first selected row one place; nothing at the ends.
    void MoveUp();
    void MoveDown();

  private:
    ListRow MakeRow(std::int32_t index, std::int32_t parts) const;
    bool ValidIndex(std::int32_t index) const;
    // Clears InBatch and lowers the total; the row is left to the caller.
    bool Unqueue(std::int32_t index);
    void ShowTotal(bool status_line);
    void MoveFirstSelected(int direction);

    HeaderTable& table_;
    common::MainViewState& view_;
    storage::ActivityLog& log_;
    common::Prompts& prompts_;
    RowList rows_;
    std::int64_t batch_size_kb_ = 0;
    // What each queued posting added to the total: a posting that gains parts while queued
    // takes off what it put on, so the total never drifts below zero.
    std::unordered_map<std::int32_t, std::int64_t> queued_kb_;
};

}  // namespace quillfin::headers
