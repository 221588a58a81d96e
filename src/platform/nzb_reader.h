#pragma once

#include <string>
#include <string_view>

#include "nzb/nzb_document.h"

namespace quillfin::platform {

struct NzbReadResult {
    nzb::NzbDocument document;
    std::string error;  // empty when the file was read
};

// An NZB file's bytes, plain or gzip-compressed (told by the magic bytes). Refused with a
// reason: XML that is not well formed, a DOCTYPE that declares entities, a file or counts
// past NzbLimits, attributes that are not numbers.
NzbReadResult ReadNzb(std::string_view bytes);
NzbReadResult ReadNzbFile(const std::string& path);

}  // namespace quillfin::platform
