// NZB files from the main window and the command line.
#include <QFileDialog>
#include <QFileInfo>

#include "common/text.h"
#include "platform/nzb_reader.h"
#include "platform/nzb_writer.h"
#include "ui/application.h"
#include "ui/display_text.h"
#include "ui/main_window.h"

namespace quillfin::ui {

void Application::ImportNzbFile(const std::string& path) {
    const std::string name = QFileInfo(QString::fromLocal8Bit(path)).fileName().toStdString();
    program_->log.LogEvent("Reading NZB file " + path, false);
    platform::NzbReadResult read = platform::ReadNzbFile(path);
    if (!read.error.empty()) {
        program_->log.LogEvent("NZB file not queued: " + name + ": " + read.error, true);
        prompts_.Message("The NZB file " + name + " cannot be read: " + read.error +
                         ".\n\nNothing from it was added to the batch.");
        return;
    }
    program_->ImportNzb(read.document, name);
}

void Application::ImportNzbCommand() {
    const std::string path =
        nzb_chooser_ ? nzb_chooser_(false)
                     : QFileDialog::getOpenFileName(main_.get(), "Import NZB", QString(),
                                                    "NZB files (*.nzb *.nzb.gz);;All files (*)")
                           .toLocal8Bit()
                           .toStdString();
    if (!path.empty()) ImportNzbFile(path);
}

void Application::ExportNzbCommand(bool from_batch) {
    const headers::RowList& rows = from_batch ? program_->batch.Rows() : program_->views.Rows();
    std::string path;
    // Nothing selected: the program says so before any file is asked for.
    if (rows.SelectedCount() > 0 && !program_->ExportingNzb()) {
        path = nzb_chooser_ ? nzb_chooser_(true)
                            : QFileDialog::getSaveFileName(main_.get(), "Export NZB",
                                                           "postings.nzb", "NZB files (*.nzb)")
                                  .toLocal8Bit()
                                  .toStdString();
        if (path.empty()) return;
    }
    program_->ExportNzbCommand(from_batch, [this, path](const nzb::NzbDocument& document) {
        std::string error;
        if (!platform::WriteNzbFile(path, document, &error)) {
            program_->log.LogEvent("NZB export failed: " + error, true);
            prompts_.Message("The NZB file " + path + " could not be written: " + error + ".");
            return;
        }
        program_->log.LogEvent(
            "Exported" + common::Str(std::int64_t(document.files.size())) + " postings to " + path,
            true);
    });
}

}  // namespace quillfin::ui
