// Writes the program's icon for the desktop's hicolor theme: <folder>/<N>x<N>/apps/quillfin.png
// for each size N given, drawn by the same code as the window icon. Run by the build.
#include <QDir>
#include <QGuiApplication>
#include <QPixmap>
#include <cstdio>
#include <cstdlib>

#include "ui/class_icons.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s FOLDER SIZE...\n", argv[0]);
        return 2;
    }
    // Drawing needs no display; the build machine may have none.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    const QString root = QString::fromLocal8Bit(argv[1]);
    for (int i = 2; i < argc; ++i) {
        const int size = std::atoi(argv[i]);
        const QString folder = QStringLiteral("%1/%2x%2/apps").arg(root).arg(size);
        if (size <= 0 || !QDir().mkpath(folder) ||
            !quillfin::ui::EmblemPicture(size).save(folder + QStringLiteral("/quillfin.png"))) {
            std::fprintf(stderr, "cannot write the %s pixel icon under %s\n", argv[i], argv[1]);
            return 1;
        }
    }
    return 0;
}
