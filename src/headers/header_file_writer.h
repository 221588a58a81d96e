#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quillfin::headers {

// Streams the header file to a temporary name beside it and renames it into place on Commit,
// so a crash or a full disk mid-save leaves the previous file whole.
class HeaderFileWriter {
  public:
    explicit HeaderFileWriter(std::string path);
    ~HeaderFileWriter();  // removes the temporary file unless committed
    HeaderFileWriter(const HeaderFileWriter&) = delete;
    HeaderFileWriter& operator=(const HeaderFileWriter&) = delete;

    bool Open();
    // One line ending in CR LF; CR and LF inside the text become blanks, since each value
    // must stay on its own line.
    void WriteLine(std::string_view text);
    // A number with its sign blank (" 12", "-12") on a line of its own.
    void WriteNumberLine(std::int64_t value);
    // Flushes, syncs and renames into place; false (see Error) when any step failed.
    bool Commit();

    bool Failed() const { return !error_.empty(); }
    const std::string& Error() const { return error_; }
    std::string TemporaryPath() const { return temp_; }

  private:
    void Flush();
    void Fail(const std::string& what);
    void Discard();

    std::string path_;
    std::string temp_;
    int fd_ = -1;
    std::string buffer_;
    std::string error_;
};

}  // namespace quillfin::headers
