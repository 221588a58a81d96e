#include "download/yenc_check.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cstring>
#include <fstream>

namespace quillfin::download {

namespace {

// The value of "key=" in a yEnc keyword line; nullopt when absent or not a number.
std::optional<std::uint64_t> Keyword(std::string_view line, std::string_view key, int base) {
    for (std::size_t at = line.find(key); at != std::string_view::npos;
         at = line.find(key, at + 1)) {
        if (at > 0 && line[at - 1] != ' ') continue;  // "crc32=" inside "pcrc32="
        const char* first = line.data() + at + key.size();
        std::uint64_t value = 0;
        auto [ptr, ec] = std::from_chars(first, line.data() + line.size(), value, base);
        if (ec == std::errc() && ptr != first) return value;
        return std::nullopt;
    }
    return std::nullopt;
}

// Slicing by eight: table k advances the CRC over a byte followed by k zero bytes.
using CrcTables = std::array<std::array<std::uint32_t, 256>, 8>;

CrcTables MakeTables() {
    CrcTables t{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        t[0][n] = c;
    }
    for (std::size_t k = 1; k < 8; ++k) {
        for (std::uint32_t n = 0; n < 256; ++n)
            t[k][n] = (t[k - 1][n] >> 8) ^ t[0][t[k - 1][n] & 0xFF];
    }
    return t;
}

std::string Hex(std::uint32_t value) {
    char text[9] = {};
    std::to_chars(text, text + 8, value, 16);
    return text;
}

}  // namespace

std::uint32_t YencCheck::Crc32(std::uint32_t crc, std::string_view bytes) {
    static const CrcTables t = MakeTables();
    crc = ~crc;
    const char* p = bytes.data();
    std::size_t n = bytes.size();
    // A byte at a time is too slow for a file of some hundred megabytes checked between two
    // turns of the event loop.
    if constexpr (std::endian::native == std::endian::little) {
        for (; n >= 8; p += 8, n -= 8) {
            std::uint32_t lo, hi;
            std::memcpy(&lo, p, 4);
            std::memcpy(&hi, p + 4, 4);
            lo ^= crc;
            crc = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^
                  t[4][lo >> 24] ^ t[3][hi & 0xFF] ^ t[2][(hi >> 8) & 0xFF] ^
                  t[1][(hi >> 16) & 0xFF] ^ t[0][hi >> 24];
        }
    }
    for (; n > 0; ++p, --n) crc = t[0][(crc ^ static_cast<unsigned char>(*p)) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

void YencCheck::AddPartFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with("=y")) TakeLine(line);
    }
}

void YencCheck::TakeLine(std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.starts_with("=ybegin ")) {
        pending_ = Part{};
        pending_.number = std::int64_t(Keyword(line, "part=", 10).value_or(0));
        // A single-part posting has no "=ypart" line: the whole file is the part.
        pending_.begin = 1;
        pending_.end = std::int64_t(Keyword(line, "size=", 10).value_or(0));
    } else if (line.starts_with("=ypart ")) {
        pending_.begin = std::int64_t(Keyword(line, "begin=", 10).value_or(0));
        pending_.end = std::int64_t(Keyword(line, "end=", 10).value_or(0));
    } else if (line.starts_with("=yend ")) {
        if (auto crc = Keyword(line, "pcrc32=", 16)) pending_.crc = std::uint32_t(*crc);
        if (auto crc = Keyword(line, "crc32=", 16)) file_crc_ = std::uint32_t(*crc);
        if (pending_.crc && pending_.begin >= 1 && pending_.end >= pending_.begin)
            parts_.push_back(pending_);
        pending_ = Part{};
    }
}

std::string YencCheck::Verify(const std::string& decodedPath, common::EventPump* pump) const {
    if (parts_.empty() && !file_crc_) return {};
    std::ifstream in(decodedPath, std::ios::binary);
    if (!in) return "yEnc check cannot read " + decodedPath;
    // One read of the file feeds every checksum: each part's over its range, and the file's.
    std::vector<std::uint32_t> crcs(parts_.size(), 0);
    std::vector<std::int64_t> counted(parts_.size(), 0);
    std::uint32_t file_crc = 0;
    std::vector<char> buffer(1 << 20);
    for (std::int64_t offset = 0;;) {
        in.read(buffer.data(), std::streamsize(buffer.size()));
        const std::int64_t got = in.gcount();
        if (got <= 0) break;
        const std::string_view block(buffer.data(), std::size_t(got));
        if (file_crc_) file_crc = Crc32(file_crc, block);
        for (std::size_t i = 0; i < parts_.size(); ++i) {
            const std::int64_t from = std::max(parts_[i].begin - 1, offset);
            const std::int64_t to = std::min(parts_[i].end, offset + got);
            if (from >= to) continue;
            const std::size_t at = std::size_t(from - offset);
            crcs[i] = Crc32(crcs[i], block.substr(at, std::size_t(to - from)));
            counted[i] += to - from;
        }
        offset += got;
        if (pump != nullptr) pump->PumpIfDue();
    }
    for (std::size_t i = 0; i < parts_.size(); ++i) {
        const Part& part = parts_[i];
        // A part reaching past the end of the file is missing from it.
        if (counted[i] != part.end - part.begin + 1 || crcs[i] != part.crc)
            return "yEnc checksum mismatch in part " + std::to_string(part.number);
    }
    if (file_crc_ && file_crc != *file_crc_)
        return "yEnc checksum mismatch in the file (expected " + Hex(*file_crc_) + ")";
    return {};
}

}  // namespace quillfin::download
