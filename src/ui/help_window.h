#pragma once

#include <QUrl>
#include <QWidget>

class QTextBrowser;

namespace quillfin::ui {

// The help page in a window of our own, for a desktop that has nothing to show it with.
// Created once and hidden, like the other helper windows.
class HelpWindow : public QWidget {
  public:
    explicit HelpWindow(QWidget* parent = nullptr);

    // Shows the page of url, scrolled to the section its fragment names.
    void ShowTopic(const QUrl& url);

  private:
    QTextBrowser* browser_;
};

}  // namespace quillfin::ui
