#include "ui/control_name.h"

#include <QWidget>

#include "ui/display_text.h"

namespace quillfin::ui {

void NameControl(QWidget* control, const char* object_name, const QString& caption) {
    control->setObjectName(QString::fromLatin1(object_name));
    QString spoken = PlainCaption(caption).trimmed();
    if (spoken.endsWith(u':')) spoken.chop(1);
    control->setAccessibleName(spoken);
}

}  // namespace quillfin::ui
