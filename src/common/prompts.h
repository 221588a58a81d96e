#pragma once

#include <string>

namespace quillfin::common {

inline constexpr const char* kProgramName = "Quillfin";

// Message boxes. The logic asks with the exact text and title; the UI shows them and tests
// answer from a script.
class Prompts {
  public:
    virtual ~Prompts() = default;
    // An OK-only message box.
    virtual void Message(const std::string& text, const std::string& title = kProgramName) = 0;
    // A Yes/No question; true for Yes.
    virtual bool AskYesNo(const std::string& text, const std::string& title = kProgramName) = 0;
    // An OK-only message box with an exclamation mark: a warning about what the user did.
    virtual void Caution(const std::string& text, const std::string& title = kProgramName) {
        Message(text, title);
    }
};

}  // namespace quillfin::common
