// Quillfin: one instance per program directory, on a display.
#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QStringList>
#include <cstdio>
#include <cstdlib>

#include "app/program_directory.h"
#include "ui/application.h"
#include "ui/class_icons.h"

namespace {

bool HasDisplay() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (!HasDisplay()) {
        std::fprintf(stderr, "quillfin: no display to show the window on (DISPLAY is not set)\n");
        return 1;
    }
    QApplication application(argc, argv);
    QApplication::setApplicationName("Quillfin");
    QApplication::setWindowIcon(quillfin::ui::AppIcon());

    const auto directory =
        quillfin::app::ChooseProgramDirectory(quillfin::app::ExecutableDirectory());
    if (!directory.error.empty()) {
        std::fprintf(stderr, "quillfin: %s\n", directory.error.c_str());
        QMessageBox::critical(nullptr, "Quillfin", QString::fromLocal8Bit(directory.error));
        return 1;
    }
    quillfin::app::InstanceLock lock(directory.path);
    if (!lock.Held()) {
        std::fprintf(stderr, "quillfin: %s\n", lock.Error().c_str());
        QMessageBox::warning(nullptr, "Quillfin", QString::fromLocal8Bit(lock.Error()));
        return 1;
    }
    // Files named on the command line (the desktop opens NZB files this way) are queued once
    // the saved batch is loaded, their paths made absolute first: the start changes into the
    // program folder.
    QStringList nzb_files;
    const QStringList arguments = QApplication::arguments();
    for (qsizetype i = 1; i < arguments.size(); ++i)
        if (!arguments[i].startsWith('-')) nzb_files << QFileInfo(arguments[i]).absoluteFilePath();
    quillfin::ui::Application quillfin(directory.path);
    quillfin.Start();
    quillfin.EndOnSignals();
    for (const QString& file : nzb_files) quillfin.ImportNzbFile(file.toLocal8Bit().toStdString());
    return QApplication::exec();
}
