#pragma once

#include <QString>
#include <QUrl>
#include <string>
#include <vector>

namespace quillfin::ui {

// The help pages shipped with the program: help/quillfin-help.html, one section per window.
inline constexpr const char* kHelpFolder = "help";
inline constexpr const char* kHelpPage = "quillfin-help.html";

// The address of the help page at a window's topic (its section's anchor, such as "options"),
// from the first of folders that holds help/quillfin-help.html; empty when none does.
QUrl HelpTopicUrl(const std::vector<std::string>& folders, const QString& topic);

}  // namespace quillfin::ui
