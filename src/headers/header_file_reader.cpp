#include "headers/header_file_reader.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace quillfin::headers {

namespace {
constexpr std::size_t kBufferSize = 1 << 20;
constexpr std::size_t kSmallestBuffer = 4096;
}

HeaderFileReader::HeaderFileReader(std::string path) : path_(std::move(path)) {}

HeaderFileReader::~HeaderFileReader() { Close(); }

bool HeaderFileReader::Open() {
    file_ = std::fopen(path_.c_str(), "rb");
    if (file_ == nullptr) {
        error_ = "cannot open " + path_ + ": " + std::strerror(errno);
        return false;
    }
    struct stat info {};
    if (::fstat(::fileno(file_), &info) == 0) size_ = info.st_size;
    // A small file gets a buffer its size: a whole megabyte zeroed for it costs more than
    // the reading. Fill doubles the buffer should the file have grown meanwhile.
    buffer_.resize(std::clamp(std::size_t(std::max<std::int64_t>(size_, 0)) + 1, kSmallestBuffer,
                              kBufferSize));
    return true;
}

void HeaderFileReader::Close() {
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
}

bool HeaderFileReader::Fill() {
    if (eof_ || file_ == nullptr) return false;
    if (begin_ > 0) {
        std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
    }
    if (end_ == buffer_.size()) buffer_.resize(buffer_.size() * 2);
    std::size_t n = std::fread(buffer_.data() + end_, 1, buffer_.size() - end_, file_);
    end_ += n;
    if (n == 0) {
        eof_ = true;
        if (std::ferror(file_)) error_ = "cannot read " + path_;
        return false;
    }
    return true;
}

bool HeaderFileReader::NextLine(std::string* line) {
    if (Failed()) return false;
    std::size_t scanned = begin_;
    for (;;) {
        const char* start = buffer_.data() + scanned;
        const void* lf = std::memchr(start, '\n', end_ - scanned);
        if (lf != nullptr) {
            std::size_t at = std::size_t(static_cast<const char*>(lf) - buffer_.data());
            std::size_t stop = at > begin_ && buffer_[at - 1] == '\r' ? at - 1 : at;
            line->assign(buffer_.data() + begin_, stop - begin_);
            consumed_ += std::int64_t(at + 1 - begin_);
            begin_ = at + 1;
            ++line_number_;
            return true;
        }
        if (end_ - begin_ > kMaxLine) {
            error_ = "line " + std::to_string(line_number_ + 1) + " is too long";
            too_long_ = true;
            return false;
        }
        std::size_t kept = end_ - begin_;
        if (!Fill()) break;
        scanned = begin_ + kept;
    }
    if (Failed() || begin_ == end_) return false;
    // The last line has no LF.
    std::size_t stop = buffer_[end_ - 1] == '\r' ? end_ - 1 : end_;
    line->assign(buffer_.data() + begin_, stop - begin_);
    consumed_ += std::int64_t(end_ - begin_);
    begin_ = end_;
    ++line_number_;
    return true;
}

}  // namespace quillfin::headers
