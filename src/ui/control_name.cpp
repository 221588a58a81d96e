#include "ui/control_name.h"

#include <QLabel>
#include <QWidget>

#include "ui/display_text.h"

namespace quillfin::ui {

void NameControl(QWidget* control, const char* object_name, const QString& caption) {
    control->setObjectName(QString::fromLatin1(object_name));
    QString spoken = PlainCaption(caption).trimmed();
    if (spoken.endsWith(u':')) spoken.chop(1);
    // A label is read by the text it shows now: a fixed name would repeat its first text for
    // ever. Only pictures (img...) have no text to read. A caption that says what the text is
    // ("Status") stays as the description.
    if (qobject_cast<QLabel*>(control) != nullptr && !control->objectName().startsWith("img")) {
        if (spoken != PlainCaption(static_cast<QLabel*>(control)->text()).trimmed())
            control->setAccessibleDescription(spoken);
        return;
    }
    control->setAccessibleName(spoken);
}

}  // namespace quillfin::ui
