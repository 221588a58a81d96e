#pragma once

#include <string>

#include "testserver/news_spool.h"

namespace quillfin::testserver {

// Loads DIR/<group name>/<article number> files, each a whole article (head, blank line,
// body; LF or CR LF). Other entries are skipped. Returns the number of articles loaded, or -1
// with *error set when the directory cannot be read.
int LoadSpoolDirectory(const std::string& directory, NewsSpool& spool, std::string* error);

// One article file's text as a TestArticle (number left 0).
TestArticle ParseArticleText(const std::string& text);

}  // namespace quillfin::testserver
