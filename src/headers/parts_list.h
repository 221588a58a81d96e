#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "headers/header_table.h"
#include "headers/mp3_previewer.h"
#include "headers/row_list.h"

namespace quillfin::headers {

// One row of the parts list; the article number is both its text and its tag.
struct PartRow {
    std::string articleNumber;
    std::string sizeKB;  // "000.0"
    std::string subject;
    std::string from;
    std::string group;
    int icon = 4;
};

// The parts list window (frmViewParts, "View Parts"): the articles of one posting in arrival
// order. The window is not modal; it shows whatever ViewParts put here last.
class PartsList {
  public:
    static constexpr const char* kCaption = "View Parts";

    explicit PartsList(const HeaderTable& table) : table_(table) {}

    const std::vector<PartRow>& Rows() const { return rows_; }
    bool Visible() const { return visible_; }
    void Hide();
    std::uint64_t Revision() const { return revision_; }

    void ViewParts(std::int32_t index);
    // View Parts on the header or batch list: the first selected row; nothing without one.
    void ViewFirstSelected(const RowList& rows);
    // Double-click on the header list: an MP3 posting goes to the preview, any other to the
    // parts list.
    void OpenHeaderRow(const RowList& header_rows, Mp3Previewer* preview);

  private:
    const HeaderTable& table_;
    std::vector<PartRow> rows_;
    bool visible_ = false;
    std::uint64_t revision_ = 0;
};

}  // namespace quillfin::headers
