#pragma once

#include <string>
#include <string_view>

namespace quillfin::download {

// Names that come from outside (an attachment's file name, an article number, a newsgroup)
// become one plain name inside the download folder: no separators, no control characters or
// NUL, no leading "." or "-" or blank. Empty when nothing usable is left.
std::string SafeName(std::string_view name);

// A printable form of a name for the log: control characters and bytes that are not
// printable become '?'.
std::string PrintableName(std::string_view name);

// The folder as a prefix: with one trailing '/'. An empty folder stays empty (the current
// folder), as the settings leave it.
std::string FolderPrefix(const std::string& folder);

// folder + name when nothing of that name exists there; otherwise the first free of
// "stem (1).ext", "stem (2).ext", ... A dangling link counts as taken.
std::string UniquePath(const std::string& folder, const std::string& name);

// Creates a file that did not exist (never follows or replaces anything) and writes text.
// False when the file could not be created or fully written, errno saying why; nothing is left
// behind then.
bool WriteNewFile(const std::string& path, std::string_view text);

}  // namespace quillfin::download
