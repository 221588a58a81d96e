#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace quillfin::headers {

// Reads the header file line by line through a fixed buffer, so a large file is never held
// whole. Lines end in LF; a CR before it is dropped; a last line without LF still counts.
class HeaderFileReader {
  public:
    // Longer lines are damage (binary junk), not text this program wrote.
    static constexpr std::size_t kMaxLine = 1 << 24;

    explicit HeaderFileReader(std::string path);
    ~HeaderFileReader();
    HeaderFileReader(const HeaderFileReader&) = delete;
    HeaderFileReader& operator=(const HeaderFileReader&) = delete;

    bool Open();
    void Close();
    // False at the end of the file or on an error (see Failed).
    bool NextLine(std::string* line);

    bool Failed() const { return !error_.empty(); }
    // The failure was a line over kMaxLine, not the file system.
    bool LineTooLong() const { return too_long_; }
    const std::string& Error() const { return error_; }
    // Lines handed out so far.
    std::int64_t LineNumber() const { return line_number_; }
    // Bytes not yet handed out; bounds how much a count read from the file may reserve.
    std::int64_t BytesLeft() const { return size_ - consumed_; }

  private:
    bool Fill();

    std::string path_;
    std::FILE* file_ = nullptr;
    std::vector<char> buffer_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    bool eof_ = false;
    std::int64_t size_ = 0;
    std::int64_t consumed_ = 0;
    std::int64_t line_number_ = 0;
    std::string error_;
    bool too_long_ = false;
};

}  // namespace quillfin::headers
