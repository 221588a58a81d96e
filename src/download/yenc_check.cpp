#include "download/yenc_check.h"

#include <algorithm>
#include <array>
#include <charconv>
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

std::array<std::uint32_t, 256> MakeTable() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}

std::string Hex(std::uint32_t value) {
    char text[9] = {};
    std::to_chars(text, text + 8, value, 16);
    return text;
}

}  // namespace

std::uint32_t YencCheck::Crc32(std::uint32_t crc, std::string_view bytes) {
    static const std::array<std::uint32_t, 256> kTable = MakeTable();
    crc = ~crc;
    for (char b : bytes) crc = kTable[(crc ^ static_cast<unsigned char>(b)) & 0xFF] ^ (crc >> 8);
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

std::string YencCheck::Verify(const std::string& decodedPath) const {
    if (parts_.empty() && !file_crc_) return {};
    std::ifstream in(decodedPath, std::ios::binary);
    if (!in) return "yEnc check cannot read " + decodedPath;
    std::vector<char> buffer(1 << 16);
    auto crcOf = [&](std::int64_t from, std::int64_t count) -> std::optional<std::uint32_t> {
        in.clear();
        in.seekg(from);
        std::uint32_t crc = 0;
        while (count > 0) {
            const std::streamsize want = std::streamsize(std::min<std::int64_t>(count, 1 << 16));
            in.read(buffer.data(), want);
            const std::streamsize got = in.gcount();
            if (got <= 0) return std::nullopt;  // the file is shorter than the part
            crc = Crc32(crc, std::string_view(buffer.data(), std::size_t(got)));
            count -= got;
        }
        return crc;
    };
    for (const Part& part : parts_) {
        if (crcOf(part.begin - 1, part.end - part.begin + 1) != part.crc)
            return "yEnc checksum mismatch in part " + std::to_string(part.number);
    }
    if (file_crc_) {
        in.clear();
        in.seekg(0, std::ios::end);
        const std::int64_t size = std::int64_t(in.tellg());
        if (crcOf(0, size) != file_crc_)
            return "yEnc checksum mismatch in the file (expected " + Hex(*file_crc_) + ")";
    }
    return {};
}

}  // namespace quillfin::download
