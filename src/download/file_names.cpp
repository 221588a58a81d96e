#include "download/file_names.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace quillfin::download {

namespace {

// File systems refuse names past 255 bytes; keep room for " (999).ext".
constexpr std::size_t kMaxName = 200;
constexpr int kMaxTries = 100000;

bool Unsafe(unsigned char c) { return c < 0x20 || c == 0x7f || c == '/' || c == '\\'; }

bool Taken(const std::string& path) {
    std::error_code error;
    return std::filesystem::symlink_status(path, error).type() !=
           std::filesystem::file_type::not_found;
}

}  // namespace

std::string SafeName(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    for (char c : name) out += Unsafe(static_cast<unsigned char>(c)) ? '_' : c;
    const std::size_t start = out.find_first_not_of(".- ");
    if (start == std::string::npos) return {};
    out.erase(0, start);
    while (!out.empty() && out.back() == ' ') out.pop_back();
    if (out.size() > kMaxName) {
        // Keep a short extension: it is what the system opens the file by.
        const std::size_t dot = out.rfind('.');
        const std::string ext =
            dot != std::string::npos && out.size() - dot <= 16 ? out.substr(dot) : std::string();
        out = out.substr(0, kMaxName - ext.size()) + ext;
    }
    return out;
}

std::string PrintableName(std::string_view name) {
    std::string out;
    for (char c : name) {
        const auto u = static_cast<unsigned char>(c);
        out += u < 0x20 || u == 0x7f ? '?' : c;
    }
    return out;
}

std::string FolderPrefix(const std::string& folder) {
    if (folder.empty() || folder.back() == '/') return folder;
    return folder + "/";
}

std::string UniquePath(const std::string& folder, const std::string& name) {
    const std::string prefix = FolderPrefix(folder);
    if (!Taken(prefix + name)) return prefix + name;
    const std::size_t dot = name.rfind('.');
    const bool has_ext = dot != std::string::npos && dot > 0;
    const std::string stem = has_ext ? name.substr(0, dot) : name;
    const std::string ext = has_ext ? name.substr(dot) : std::string();
    for (int k = 1; k < kMaxTries; ++k) {
        std::string candidate = prefix + stem + " (" + std::to_string(k) + ")" + ext;
        if (!Taken(candidate)) return candidate;
    }
    return {};
}

bool WriteNewFile(const std::string& path, std::string_view text) {
    if (path.empty()) return false;
    // "x": O_EXCL, so an existing file or link is never opened.
    std::FILE* file = std::fopen(path.c_str(), "wbx");
    if (file == nullptr) return false;
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    int error = errno;
    const bool closed = std::fclose(file) == 0;
    if (written && closed) return true;
    if (written) error = errno;
    std::remove(path.c_str());
    errno = error;  // the caller reports why
    return false;
}

}  // namespace quillfin::download
