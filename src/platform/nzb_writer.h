#pragma once

#include <string>

#include "nzb/nzb_document.h"

namespace quillfin::platform {

// The document as NZB 1.1 XML, UTF-8 (texts that are not UTF-8 are taken as Latin-1).
std::string WriteNzb(const nzb::NzbDocument& document);
// Written under a temporary name and renamed into place; false with the reason when not.
bool WriteNzbFile(const std::string& path, const nzb::NzbDocument& document, std::string* error);

}  // namespace quillfin::platform
