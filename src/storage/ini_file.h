#pragma once

#include <string>

namespace quillfin::storage {

// Reads and writes single keys of an INI file with the private-profile semantics: sections and
// keys match without regard to case, a missing file or key reads as the default, a value read
// is cut to 255 characters, and writing one key keeps every other line of the file as it was.
// Writes go through a temporary file renamed into place; the file is created owner-only.
class IniFile {
public:
    static constexpr std::size_t kValueLimit = 255;  // a 256-character buffer with its NUL

    explicit IniFile(std::string path) : path_(std::move(path)) {}

    std::string Get(const std::string& section, const std::string& key,
                    const std::string& fallback = "") const;
    // False when the file could not be written; the old file is then untouched.
    bool Set(const std::string& section, const std::string& key, const std::string& value);

    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

}  // namespace quillfin::storage
