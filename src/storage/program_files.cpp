#include "storage/program_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace quillfin::storage {

std::string ProgramFile(std::string_view program_dir, std::string_view name) {
    std::string path(program_dir);
    if (!path.empty() && path.back() != '/') path += '/';
    path += name;
    return path;
}

bool FileExists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

static bool Fail(std::string* error, const std::string& what) {
    if (error != nullptr) *error = what + ": " + std::strerror(errno);
    return false;
}

bool WriteFileAtomically(const std::string& path, std::string_view content, bool owner_only,
                         std::string* error) {
    std::string temp = path + ".tmp";
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC,
                    owner_only ? 0600 : 0644);
    if (fd < 0) return Fail(error, "cannot create " + temp);
    if (owner_only) ::fchmod(fd, 0600);  // an old temporary file may have had wider rights
    const char* data = content.data();
    std::size_t left = content.size();
    while (left > 0) {
        ssize_t n = ::write(fd, data, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            int saved = errno;
            ::close(fd);
            ::unlink(temp.c_str());
            errno = saved;
            return Fail(error, "cannot write " + temp);
        }
        data += n;
        left -= std::size_t(n);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        int saved = errno;
        ::unlink(temp.c_str());
        errno = saved;
        return Fail(error, "cannot write " + temp);
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        int saved = errno;
        ::unlink(temp.c_str());
        errno = saved;
        return Fail(error, "cannot replace " + path);
    }
    return true;
}

bool ReadWholeFile(const std::string& path, std::string* content, std::string* error) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return Fail(error, "cannot open " + path);
    content->clear();
    char buffer[65536];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) content->append(buffer, n);
    bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) return Fail(error, "cannot read " + path);
    return true;
}

}  // namespace quillfin::storage
