#include "ui/qt_prompts.h"

#include <QMessageBox>

#include "ui/display_text.h"

namespace quillfin::ui {

namespace {

int Ask(QWidget* parent, QMessageBox::Icon icon, const std::string& text, const std::string& title,
        QMessageBox::StandardButtons buttons) {
    QMessageBox box(icon, DisplayText(title), MessageText(text), buttons, parent);
    // Texts can carry server data such as "<user@host>": never read them as markup.
    box.setTextFormat(Qt::PlainText);
    box.setObjectName(QStringLiteral("msgPrompt"));
    return box.exec();
}

}  // namespace

QtPrompts::QtPrompts(QWidget* parent) : parent_(parent) {}

void QtPrompts::Message(const std::string& text, const std::string& title) {
    Ask(parent_.data(), QMessageBox::Information, text, title, QMessageBox::Ok);
}

void QtPrompts::Caution(const std::string& text, const std::string& title) {
    Ask(parent_.data(), QMessageBox::Warning, text, title, QMessageBox::Ok);
}

bool QtPrompts::AskYesNo(const std::string& text, const std::string& title) {
    int answer =
        Ask(parent_.data(), QMessageBox::Question, text, title, QMessageBox::Yes | QMessageBox::No);
    return answer == QMessageBox::Yes;
}

}  // namespace quillfin::ui
