#include "storage/ini_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <string_view>

#include "storage/program_files.h"

namespace quillfin::storage {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimBlanks(std::string_view text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && IsBlank(text[begin])) ++begin;
    while (end > begin && IsBlank(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

bool SameText(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i];
        char y = b[i];
        if (x >= 'A' && x <= 'Z') x = char(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = char(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

// "[name]" after optional blanks; text after the closing bracket is ignored.
bool ParseSection(std::string_view text, std::string_view* name) {
    text = TrimBlanks(text);
    if (text.empty() || text.front() != '[') return false;
    std::size_t close = text.find(']');
    if (close == std::string_view::npos) return false;
    *name = TrimBlanks(text.substr(1, close - 1));
    return true;
}

// "key=value"; comment lines (starting with ';') and lines without '=' are no keys.
bool ParseKey(std::string_view text, std::string_view* key, std::string_view* value) {
    std::string_view trimmed = TrimBlanks(text);
    if (trimmed.empty() || trimmed.front() == ';' || trimmed.front() == '[') return false;
    std::size_t equals = text.find('=');
    if (equals == std::string_view::npos) return false;
    *key = TrimBlanks(text.substr(0, equals));
    *value = text.substr(equals + 1);
    return true;
}

// A value must stay on its line, or it would end the line and inject others.
std::string SingleLine(const std::string& value) {
    std::string out = value;
    for (char& c : out)
        if (c == '\r' || c == '\n') c = ' ';
    return out;
}

std::string CutToLimit(std::string_view value) {
    return std::string(value.substr(0, IniFile::kValueLimit));
}

}  // namespace

IniFile::Edit::Edit(const IniFile& file) : path_(file.Path()) {
    std::string content;
    if (!ReadWholeFile(path_, &content)) {
        struct stat info {};
        // A missing file reads as empty; one that exists but cannot be read must not be
        // overwritten with only the keys we set.
        loaded_ = ::stat(path_.c_str(), &info) != 0 && errno == ENOENT;
        return;
    }
    loaded_ = true;
    std::size_t start = 0;
    while (start < content.size()) {
        std::size_t lf = content.find('\n', start);
        Line line;
        if (lf == std::string::npos) {
            line.text = content.substr(start);
            start = content.size();
        } else {
            line.text = content.substr(start, lf - start);
            line.ending = "\n";
            start = lf + 1;
        }
        if (!line.text.empty() && line.text.back() == '\r') {
            line.text.pop_back();
            line.ending.insert(0, "\r");
        }
        lines_.push_back(std::move(line));
    }
}

int IniFile::Edit::FindSection(const std::string& section) const {
    std::string_view name;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        if (ParseSection(lines_[i].text, &name) && SameText(name, section)) return int(i);
    }
    return -1;
}

int IniFile::Edit::SectionEnd(int header) const {
    std::string_view name;
    int i = header + 1;
    while (i < int(lines_.size()) && !ParseSection(lines_[std::size_t(i)].text, &name)) ++i;
    return i;
}

int IniFile::Edit::FindKey(int header, const std::string& key) const {
    std::string_view name;
    std::string_view value;
    int end = SectionEnd(header);
    for (int i = header + 1; i < end; ++i) {
        if (ParseKey(lines_[std::size_t(i)].text, &name, &value) && SameText(name, key)) return i;
    }
    return -1;
}

std::string IniFile::Edit::Get(const std::string& section, const std::string& key,
                               const std::string& fallback) const {
    int header = FindSection(section);
    if (header < 0) return CutToLimit(fallback);
    int at = FindKey(header, key);
    if (at < 0) return CutToLimit(fallback);
    std::string_view name;
    std::string_view value;
    ParseKey(lines_[std::size_t(at)].text, &name, &value);
    return CutToLimit(TrimBlanks(value));
}

void IniFile::Edit::Set(const std::string& section, const std::string& key,
                        const std::string& value) {
    std::string text = SingleLine(value);
    int header = FindSection(section);
    if (header >= 0) {
        int at = FindKey(header, key);
        if (at >= 0) {
            // Keep the key as the file spells it and the line's own line end.
            std::string_view name;
            std::string_view old_value;
            ParseKey(lines_[std::size_t(at)].text, &name, &old_value);
            lines_[std::size_t(at)].text = std::string(name) + "=" + text;
            return;
        }
        // After the section's last key, so comments and blank lines before the next
        // section stay with that section.
        int insert_at = header + 1;
        std::string_view name;
        std::string_view old_value;
        int end = SectionEnd(header);
        for (int i = header + 1; i < end; ++i) {
            if (ParseKey(lines_[std::size_t(i)].text, &name, &old_value)) insert_at = i + 1;
        }
        Line& before = lines_[std::size_t(insert_at - 1)];
        if (before.ending.empty() || before.ending == "\r") before.ending = "\r\n";
        lines_.insert(lines_.begin() + insert_at, Line{key + "=" + text, "\r\n"});
        return;
    }
    if (!lines_.empty() && (lines_.back().ending.empty() || lines_.back().ending == "\r"))
        lines_.back().ending = "\r\n";
    lines_.push_back(Line{"[" + section + "]", "\r\n"});
    lines_.push_back(Line{key + "=" + text, "\r\n"});
}

bool IniFile::Edit::Commit() {
    if (!loaded_) return false;
    std::string content;
    for (const Line& line : lines_) {
        content += line.text;
        content += line.ending;
    }
    return WriteFileAtomically(path_, content, /*owner_only=*/true);
}

std::string IniFile::Get(const std::string& section, const std::string& key,
                         const std::string& fallback) const {
    return Edit(*this).Get(section, key, fallback);
}

bool IniFile::Set(const std::string& section, const std::string& key, const std::string& value) {
    Edit edit(*this);
    edit.Set(section, key, value);
    return edit.Commit();
}

}  // namespace quillfin::storage
