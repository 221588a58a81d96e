#pragma once

#include <cstdint>

namespace quillfin::headers {

// Starts the MP3 preview of a posting. The viewers implement it; the header list's
// double-click only routes to it, so the header logic does not depend on the viewers.
class Mp3Previewer {
  public:
    virtual ~Mp3Previewer() = default;
    virtual void PreviewMp3(std::int32_t index) = 0;
};

}  // namespace quillfin::headers
