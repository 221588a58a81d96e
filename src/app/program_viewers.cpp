// The main window's command that opens the article text viewer.
#include "app/program.h"

namespace quillfin::app {

void Program::ViewTextCommand() {
    if (exiting_) return;
    for (const headers::ListRow& row : views.Rows().Rows()) {
        if (!row.selected || row.tag < 1 || row.tag > table.HeaderCount()) continue;
        const headers::HeaderEntry& entry = table.Entry(row.tag);
        if (entry.InBatch || entry.Parts.empty()) continue;
        const headers::PartRef& part = entry.Part(1);
        services_.windows.ShowArticleViewer();
        viewer.Open({part.Group, part.ArticleNumber, part.Subject});
        return;
    }
}

}  // namespace quillfin::app
