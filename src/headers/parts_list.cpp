#include "headers/parts_list.h"

#include "common/text.h"
#include "headers/posting_text.h"

namespace quillfin::headers {

void PartsList::Hide() {
    visible_ = false;
    ++revision_;
}

void PartsList::ViewParts(std::int32_t index) {
    if (index < 1 || index > table_.HeaderCount()) return;
    const HeaderEntry& entry = table_.Entry(index);
    rows_.clear();
    visible_ = true;
    const std::string from = ReducedFrom(entry.From.str());
    rows_.reserve(entry.Parts.size());
    for (const PartRef& part : entry.Parts) {
        rows_.push_back({part.ArticleNumber, common::FormatNumber(part.Bytes / 1000.0, "000.0"),
                         part.Subject, from, part.Group});
    }
    ++revision_;
}

void PartsList::ViewFirstSelected(const RowList& rows) {
    int first = rows.FirstSelected();
    if (first >= 0) ViewParts(rows.At(first).tag);
}

void PartsList::OpenHeaderRow(const RowList& header_rows, Mp3Previewer* preview) {
    int first = header_rows.FirstSelected();
    if (first < 0) return;
    std::int32_t index = header_rows.At(first).tag;
    if (index < 1 || index > table_.HeaderCount()) return;
    std::string listed = common::ToUpper(ListedSubject(table_.Entry(index).Subject));
    if (common::EndsWith(listed, ".MP3") && preview != nullptr)
        preview->PreviewMp3(index);
    else
        ViewParts(index);
}

}  // namespace quillfin::headers
