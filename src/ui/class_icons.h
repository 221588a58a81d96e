#pragma once

#include <QIcon>
#include <QPixmap>

namespace quillfin::ui {

// The small-icon set of the lists, drawn here so the program needs no image files.
// 1 incomplete posting, 2 complete, 3 unknown completeness, 4 a part, 5 a queued posting,
// 6 a text posting. Any other number gives an empty icon.
QIcon ClassIcon(int number);
// Newsgroup table: 1 idle, 2 the group being scanned. Any other number gives an empty icon.
QIcon GroupStateIcon(int number);
// The window icon.
QIcon AppIcon();
// The picture of the splash and about windows (96 x 96).
QPixmap SplashPicture();
// The same picture at size x size, for the desktop's icon files.
QPixmap EmblemPicture(int size);

}  // namespace quillfin::ui
