#pragma once

#include <QWidget>
#include <functional>

#include "headers/header_maintenance.h"

class QCheckBox;
class QLineEdit;

namespace quillfin::ui {

// frmSearch, "Find": narrows the header list to postings whose subject holds a text. Created
// once; closing only hides it.
class FindWindow : public QWidget {
    Q_OBJECT

  public:
    // after_find: the main window repaints the list.
    FindWindow(headers::HeaderMaintenance& maintenance, std::function<void()> after_find,
               QWidget* parent = nullptr);

  protected:
    void showEvent(QShowEvent* event) override;
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void Search();

    headers::HeaderMaintenance& maintenance_;
    std::function<void()> after_find_;
    QLineEdit* txt_search_;
    QCheckBox* chk_search_deleted_;
};

}  // namespace quillfin::ui
