#pragma once

#include <QDialog>
#include <functional>
#include <string>

namespace quillfin::ui {

// frmAbout2: the program's picture and version. Plays its greeting each time it is activated.
class AboutBox : public QDialog {
    Q_OBJECT

  public:
    // version: as the splash shows it ("v1.0.171"); on_activated plays the greeting.
    AboutBox(const std::string& version, std::function<void()> on_activated,
             QWidget* parent = nullptr);

  protected:
    void changeEvent(QEvent* event) override;

  private:
    std::function<void()> on_activated_;
};

}  // namespace quillfin::ui
