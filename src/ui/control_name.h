#pragma once

#include <QString>

class QWidget;

namespace quillfin::ui {

// Gives a control its program name (for tests and UI automation) and its caption as the
// accessible name screen readers speak (without "&" markers or a trailing colon). Labels are
// spoken by their current text instead; see the definition.
void NameControl(QWidget* control, const char* object_name, const QString& caption);

}  // namespace quillfin::ui
