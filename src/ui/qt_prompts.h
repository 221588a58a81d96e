#pragma once

#include <QPointer>
#include <QWidget>
#include <string>

#include "common/prompts.h"

namespace quillfin::ui {

// The logic's message boxes as Qt message boxes, modal over the given window.
class QtPrompts : public common::Prompts {
  public:
    // parent: the window the boxes centre on; may be null or go away before this object.
    explicit QtPrompts(QWidget* parent = nullptr);

    // An OK box; CR in the text breaks the line.
    void Message(const std::string& text, const std::string& title = common::kProgramName) override;
    // An OK box with a warning icon.
    void Caution(const std::string& text, const std::string& title = common::kProgramName) override;
    // A Yes/No box; true for Yes. Closing the box counts as No.
    bool AskYesNo(const std::string& text,
                  const std::string& title = common::kProgramName) override;

  private:
    QPointer<QWidget> parent_;
};

}  // namespace quillfin::ui
