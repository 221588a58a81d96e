#pragma once

#include <QDir>
#include <QString>
#include <QWidget>
#include <cstdlib>

namespace quillfin::ui {

// Finds a control of a window by its object name; only the window's own controls, never
// those of a dialog it owns.
template <typename T>
T* Control(QWidget* window, const char* name) {
    for (QWidget* child : window->findChildren<T*>(QString::fromLatin1(name))) {
        if (child->window() == window) return static_cast<T*>(child);
    }
    return nullptr;
}

// With QUILLFIN_SHOTS set to a folder, saves a picture of the window there to look at.
inline void SaveShot(QWidget* window, const char* name) {
    const char* folder = std::getenv("QUILLFIN_SHOTS");
    if (folder == nullptr || *folder == '\0') return;
    QDir().mkpath(QString::fromLocal8Bit(folder));
    window->grab().save(QString::fromLocal8Bit(folder) + u'/' + QString::fromLatin1(name) +
                        QStringLiteral(".png"));
}

}  // namespace quillfin::ui
