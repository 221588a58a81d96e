#include "download/par2_files.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "common/text.h"

namespace quillfin::download {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kMagic("PAR2\0PKT", 8);
constexpr std::string_view kFileDesc("PAR 2.0\0FileDesc", 16);
constexpr std::size_t kHeaderBytes = 64;
// A file description: file id, two hashes and the length come before the name.
constexpr std::size_t kNameOffset = kHeaderBytes + 16 + 16 + 16 + 8;
// Indexes are small; a huge file named .par2 is read no further than this.
constexpr std::size_t kReadLimit = std::size_t(16) << 20;

std::uint64_t LittleEndian64(const char* p) {
    std::uint64_t value = 0;
    for (int i = 7; i >= 0; --i) value = (value << 8) | std::uint8_t(p[i]);
    return value;
}

bool EndsWithPar2(const std::string& lower) { return common::EndsWith(lower, ".par2"); }

// "set.vol03+04.par2" -> "set"; empty for a name that is no volume.
std::string VolumeBase(const std::string& name) {
    const std::string lower = common::ToLower(name);
    if (!EndsWithPar2(lower)) return {};
    const std::string stem = lower.substr(0, lower.size() - 5);
    const auto at = stem.rfind(".vol");
    if (at == std::string::npos) return {};
    const std::string range = stem.substr(at + 4);
    const auto plus = range.find('+');
    const auto digits = [](std::string_view s) {
        return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) {
            return std::isdigit(static_cast<unsigned char>(c)) != 0;
        });
    };
    if (plus == std::string::npos || !digits(std::string_view(range).substr(0, plus)) ||
        !digits(std::string_view(range).substr(plus + 1)))
        return {};
    return name.substr(0, at);
}

bool IsIndexName(const std::string& name) {
    return EndsWithPar2(common::ToLower(name)) && VolumeBase(name).empty();
}

std::vector<std::string> IndexesIn(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        if (IsIndexName(name) && entry.is_regular_file(error)) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool Triggers(const std::string& index, const std::set<std::string>& protects,
              const std::string& filed) {
    if (filed == index || protects.count(filed) != 0) return true;
    const std::string base = VolumeBase(filed);
    return !base.empty() && base == index.substr(0, index.size() - 5);
}

}  // namespace

std::vector<std::string> Par2ProtectedNames(const std::string& index_path) {
    std::error_code error;
    const auto size = fs::file_size(index_path, error);
    if (error) return {};
    std::ifstream in(index_path, std::ios::binary);
    std::string data(std::min<std::uintmax_t>(size, kReadLimit), '\0');
    in.read(data.data(), std::streamsize(data.size()));
    data.resize(std::size_t(in.gcount()));
    std::vector<std::string> names;
    std::set<std::string> seen;
    std::size_t at = data.find(kMagic);
    while (at != std::string::npos && data.size() - at >= kHeaderBytes) {
        const std::uint64_t length = LittleEndian64(data.data() + at + 8);
        // A damaged packet: look for the next one past its magic.
        if (length < kHeaderBytes || length % 4 != 0 || length > data.size() - at) {
            at = data.find(kMagic, at + 1);
            continue;
        }
        if (length > kNameOffset &&
            std::string_view(data).substr(at + 48, kFileDesc.size()) == kFileDesc) {
            std::string name = data.substr(at + kNameOffset, std::size_t(length) - kNameOffset);
            name.resize(std::strlen(name.c_str()));  // NUL padding
            if (!name.empty() && seen.insert(name).second) names.push_back(name);
        }
        at = data.find(kMagic, at + std::size_t(length));
    }
    return names;
}

std::vector<std::string> Par2IndexesFor(const std::vector<std::string>& filed) {
    std::vector<std::string> folders;
    std::map<std::string, std::vector<std::string>> names;
    for (const std::string& path : filed) {
        const fs::path file(path);
        const std::string folder = file.parent_path().string();
        if (names.find(folder) == names.end()) folders.push_back(folder);
        names[folder].push_back(file.filename().string());
    }
    std::vector<std::string> indexes;
    for (const std::string& folder : folders) {
        for (const std::string& index : IndexesIn(folder)) {
            const std::string path = (fs::path(folder) / index).string();
            const std::vector<std::string> listed = Par2ProtectedNames(path);
            if (listed.empty()) continue;  // not a par2 index after all
            const std::set<std::string> protects(listed.begin(), listed.end());
            const auto& in_folder = names[folder];
            if (std::any_of(in_folder.begin(), in_folder.end(), [&](const std::string& name) {
                    return Triggers(index, protects, name);
                }))
                indexes.push_back(path);
        }
    }
    return indexes;
}

Par2Outcome ParsePar2Output(std::string_view output, int exit_code) {
    Par2Outcome outcome;
    switch (exit_code) {
        case 0:
            outcome.kind = output.find("Repair complete.") != std::string_view::npos
                               ? Par2Outcome::kRepaired
                               : Par2Outcome::kVerified;
            return outcome;
        case 1:
            outcome.kind = Par2Outcome::kRepairNeeded;
            return outcome;
        case 2: {
            outcome.kind = Par2Outcome::kCannotRepair;
            constexpr std::string_view kNeed = "You need ";
            const auto at = output.rfind(kNeed);
            if (at != std::string_view::npos) {
                const std::string_view rest = output.substr(at + kNeed.size());
                if (rest.find(" more recovery block") != std::string_view::npos)
                    outcome.blocks_needed =
                        std::max<long>(0, std::atol(std::string(rest.substr(0, 12)).c_str()));
            }
            return outcome;
        }
        case -1:
            outcome.detail = "cannot start par2 (Debian package par2)";
            return outcome;
        case -2:
            outcome.detail = "par2 crashed";
            return outcome;
        default:
            break;
    }
    // par2's own reason is its last line.
    std::size_t end = output.size();
    while (end > 0) {
        const std::size_t start = output.find_last_of("\r\n", end - 1);
        const std::size_t from = start == std::string_view::npos ? 0 : start + 1;
        const std::string line = common::Trim(output.substr(from, end - from));
        if (!line.empty()) {
            outcome.detail = line;
            break;
        }
        if (start == std::string_view::npos) break;
        end = start;
    }
    if (outcome.detail.empty())
        outcome.detail = "par2 ended with code " + std::to_string(exit_code);
    return outcome;
}

std::optional<int> Par2LastPercent(std::string_view output, std::size_t from) {
    for (std::size_t at = output.rfind('%'); at != std::string_view::npos && at > 0 && at >= from;
         at = output.rfind('%', at - 1)) {
        std::size_t start = at;
        while (start > 0 && (std::isdigit(static_cast<unsigned char>(output[start - 1])) ||
                             output[start - 1] == '.'))
            --start;
        if (start == at || !std::isdigit(static_cast<unsigned char>(output[start]))) continue;
        int value = 0;
        for (std::size_t i = start; i < at && output[i] != '.'; ++i)
            value = std::min(100, value * 10 + (output[i] - '0'));
        return value;
    }
    return std::nullopt;
}

}  // namespace quillfin::download
