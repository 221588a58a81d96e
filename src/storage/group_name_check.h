#pragma once

#include <string>

namespace quillfin::storage {

// Why a newsgroup name typed by the user cannot be used, or empty when it can. Blanks around
// the name are allowed (the list keeps them and compares without them); a name that could not
// be sent in a GROUP command or used as a download sub-folder is refused.
std::string GroupNameProblem(const std::string& name);

}  // namespace quillfin::storage
