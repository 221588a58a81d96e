#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/event_pump.h"

namespace quillfin::download {

// The decoding library writes yEnc data without checking its checksums, so a damaged byte
// would be filed as a good download. This reads the checksums from the parts' trailer lines
// and checks the decoded file against them.
class YencCheck {
  public:
    static std::uint32_t Crc32(std::uint32_t crc, std::string_view bytes);

    // Takes the yEnc header and trailer lines of one part file; other text is skipped.
    void AddPartFile(const std::string& path);
    // Empty when the file matches every checksum found (or none was found); otherwise the
    // reason, for the log. Reads the file once; pump, when given, lets events run meanwhile.
    std::string Verify(const std::string& decodedPath, common::EventPump* pump = nullptr) const;

  private:
    struct Part {
        std::int64_t number = 0;
        std::int64_t begin = 0;  // 1-based, inclusive, as in "=ypart begin="
        std::int64_t end = 0;
        std::optional<std::uint32_t> crc;
    };

    void TakeLine(std::string_view line);

    std::vector<Part> parts_;
    std::optional<std::uint32_t> file_crc_;
    Part pending_;
};

}  // namespace quillfin::download
