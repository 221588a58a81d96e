#pragma once

#include <string>
#include <vector>

namespace quillfin::storage {

// Reads and writes single keys of an INI file with the private-profile semantics: sections and
// keys match without regard to case, a missing file or key reads as the default, a value read
// is cut to 255 characters, and writing one key keeps every other line of the file as it was.
// Writes go through a temporary file renamed into place; the file is created owner-only.
class IniFile {
  public:
    static constexpr std::size_t kValueLimit = 255;  // a 256-character buffer with its NUL

    // The file loaded once and edited in memory with the same per-key rules, then written in
    // one go: saving thirty keys costs one rewrite instead of thirty.
    class Edit {
      public:
        explicit Edit(const IniFile& file);

        std::string Get(const std::string& section, const std::string& key,
                        const std::string& fallback = "") const;
        void Set(const std::string& section, const std::string& key, const std::string& value);
        // False when the file could not be written, or existed but could not be read (writing
        // then would wipe keys we never saw); the old file is then untouched.
        bool Commit();

      private:
        struct Line {
            std::string text;    // without its line end
            std::string ending;  // "\r\n", "\n", "\r" or "" for a last line without one
        };
        // Index of the header line of the first section named section; -1 when none.
        int FindSection(const std::string& section) const;
        // Index of the first line holding key inside the section starting at header; -1.
        int FindKey(int header, const std::string& key) const;
        // The index just past the section's last line (the next header or the end).
        int SectionEnd(int header) const;

        std::string path_;
        std::vector<Line> lines_;
        bool loaded_ = false;
        bool changed_ = false;
    };

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
