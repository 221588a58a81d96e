#include "headers/header_file_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>

namespace quillfin::headers {

namespace {
constexpr std::size_t kFlushSize = 1 << 20;
constexpr std::size_t kFirstBuffer = 1 << 16;
}

HeaderFileWriter::HeaderFileWriter(std::string path)
    : path_(std::move(path)), temp_(path_ + ".tmp") {}

HeaderFileWriter::~HeaderFileWriter() { Discard(); }

void HeaderFileWriter::Fail(const std::string& what) {
    if (error_.empty()) error_ = what + ": " + std::strerror(errno);
}

void HeaderFileWriter::Discard() {
    if (fd_ < 0) return;
    ::close(fd_);
    fd_ = -1;
    ::unlink(temp_.c_str());
}

bool HeaderFileWriter::Open() {
    fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd_ < 0) {
        Fail("cannot create " + temp_);
        return false;
    }
    // Grows to the flush size only for a file that needs it; most are far smaller.
    buffer_.reserve(kFirstBuffer);
    return true;
}

void HeaderFileWriter::WriteLine(std::string_view text) {
    if (fd_ < 0 || Failed()) return;
    std::size_t start = buffer_.size();
    buffer_.append(text);
    // Two vectorised searches; find_first_of walks the text one character at a time.
    if (text.find('\r') != std::string_view::npos || text.find('\n') != std::string_view::npos) {
        for (std::size_t i = start; i < buffer_.size(); ++i)
            if (buffer_[i] == '\r' || buffer_[i] == '\n') buffer_[i] = ' ';
    }
    buffer_.append("\r\n");
    if (buffer_.size() >= kFlushSize) Flush();
}

void HeaderFileWriter::WriteNumberLine(std::int64_t value) {
    char digits[24];
    char* at = digits;
    if (value >= 0) *at++ = ' ';
    at = std::to_chars(at, digits + sizeof digits, value).ptr;
    WriteLine(std::string_view(digits, std::size_t(at - digits)));
}

void HeaderFileWriter::Flush() {
    const char* data = buffer_.data();
    std::size_t left = buffer_.size();
    while (left > 0 && !Failed()) {
        ssize_t n = ::write(fd_, data, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            Fail("cannot write " + temp_);
            break;
        }
        data += n;
        left -= std::size_t(n);
    }
    buffer_.clear();
}

bool HeaderFileWriter::Commit() {
    if (fd_ < 0) {
        if (!Failed()) error_ = "cannot write " + temp_ + ": not open";
        return false;
    }
    Flush();
    if (!Failed() && ::fsync(fd_) != 0) Fail("cannot write " + temp_);
    if (Failed()) {
        Discard();
        return false;
    }
    int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) {
        Fail("cannot write " + temp_);
        ::unlink(temp_.c_str());
        return false;
    }
    if (::rename(temp_.c_str(), path_.c_str()) != 0) {
        Fail("cannot replace " + path_);
        ::unlink(temp_.c_str());
        return false;
    }
    return true;
}

}  // namespace quillfin::headers
