#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quillfin::testserver {

// The CRC-32 that yEnc's crc32= and pcrc32= carry (the zlib one).
std::uint32_t Crc32(std::string_view data, std::uint32_t crc = 0);

// The uuencoded lines (each ending in CR LF) of data, without "begin" and "end".
std::string UuencodeLines(std::string_view data);

// The article bodies of a file uuencoded and cut into parts at line boundaries: "begin 644"
// opens the first, "end" closes the last. Lines end in CR LF.
std::vector<std::string> UuencodeParts(const std::string& name, std::string_view data,
                                       int parts);

// The article bodies of a file yEnc-encoded into parts of nearly equal size, with
// =ybegin/=ypart/=yend lines; one part gives the single-part form. Lines end in CR LF.
std::vector<std::string> YencParts(const std::string& name, std::string_view data, int parts);

// The encoded data lines alone, 128 characters a line (one more when its last byte is escaped).
std::string YencLines(std::string_view data);

}  // namespace quillfin::testserver
