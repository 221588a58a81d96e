#pragma once

#include <QString>
#include <string>

namespace quillfin::ui {

// Text from the wire or from disk is 8-bit: shown as UTF-8 when it is valid UTF-8, else as
// Latin-1, so every byte shows as some character and nothing is dropped.
QString DisplayText(const std::string& bytes);

// What the user typed, as the bytes the program stores (UTF-8).
std::string StoredText(const QString& text);

// A caption without its mnemonic markers: "Clea&r" -> "Clear", "&&" -> "&".
QString PlainCaption(const QString& caption);

// Message box text: the program breaks lines with CR (sometimes CR LF); Qt wants LF.
QString MessageText(const std::string& bytes);

}  // namespace quillfin::ui
