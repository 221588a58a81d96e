#pragma once

#include <string>
#include <string_view>

#include "headers/header_entry.h"

namespace quillfin::headers {

// The texts the lists show for a posting.

// The join key without its " [xx/0000010]" ending, so a multipart posting shows its base.
std::string ListedSubject(std::string_view subject);
// "003/010"; "002/???" without a total; empty for a single part without a total.
std::string PartsText(const HeaderEntry& entry);
// Size in megabytes, "01.235".
std::string MegabytesText(std::int64_t size);
// The poster without decoration: the address inside "<...>", else the text before "(".
std::string ReducedFrom(std::string_view from);

}  // namespace quillfin::headers
