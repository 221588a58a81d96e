#include "download/yenc_check.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>

#include "download/yenc_decoder.h"

namespace quillfin::download {

namespace {

constexpr std::size_t kBlock = 1 << 20;

std::string Hex(std::uint32_t value) {
    char text[9] = {};
    std::to_chars(text, text + 8, value, 16);
    return text;
}

}  // namespace

std::uint32_t YencCheck::Crc32(std::uint32_t crc, std::string_view bytes) {
    return download::Crc32(crc, bytes);
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
        pending_.number = std::int64_t(YencKeyword(line, "part=", 10).value_or(0));
        // A single-part posting has no "=ypart" line: the whole file is the part.
        pending_.begin = 1;
        pending_.end = std::int64_t(YencKeyword(line, "size=", 10).value_or(0));
    } else if (line.starts_with("=ypart ")) {
        pending_.begin = std::int64_t(YencKeyword(line, "begin=", 10).value_or(0));
        pending_.end = std::int64_t(YencKeyword(line, "end=", 10).value_or(0));
    } else if (line.starts_with("=yend ")) {
        if (auto crc = YencKeyword(line, "pcrc32=", 16)) pending_.crc = std::uint32_t(*crc);
        if (auto crc = YencKeyword(line, "crc32=", 16)) file_crc_ = std::uint32_t(*crc);
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
    // No bigger than the file: a zeroed megabyte costs more than checking a small one.
    std::error_code unknown;
    const std::uintmax_t size = std::filesystem::file_size(decodedPath, unknown);
    std::vector<char> buffer(unknown ? kBlock : std::clamp<std::size_t>(size + 1, 1, kBlock));
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
