#include "app/program_directory.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace quillfin::app {

namespace {

bool IsWritableDirectory(const std::string& path) {
    struct stat info {};
    return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
           ::access(path.c_str(), W_OK | X_OK) == 0;
}

ProgramDirectoryChoice Prepare(const std::string& path) {
    std::error_code error;
    std::filesystem::create_directories(path, error);
    if (!IsWritableDirectory(path)) {
        return {path, "cannot use " + path + ": " +
                          (error ? error.message() : std::string("not a writable folder"))};
    }
    return {path, ""};
}

}  // namespace

ProgramDirectoryChoice ChooseProgramDirectory(const std::string& executable_dir) {
    if (const char* home = std::getenv("QUILLFIN_HOME"); home != nullptr && *home != '\0') {
        return Prepare(home);
    }
    // An installed program never writes beside itself, even where it could (run as root).
    if (IsWritableDirectory(executable_dir) && InstalledDataDirectory(executable_dir).empty()) {
        return {executable_dir, ""};
    }
    std::string data_home;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && *xdg == '/') {
        data_home = xdg;
    } else if (const char* user_home = std::getenv("HOME"); user_home != nullptr && *user_home) {
        data_home = std::string(user_home) + "/.local/share";
    } else {
        return {"", "neither the program's folder nor a home folder can be written to"};
    }
    return Prepare(data_home + "/quillfin");
}

std::string ExecutableDirectory() {
    std::error_code error;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return std::filesystem::current_path(error).string();
    return exe.parent_path().string();
}

std::string InstalledDataDirectory(const std::string& executable_dir) {
    const std::filesystem::path bin(executable_dir);
    if (executable_dir.empty() || bin.filename() != "bin") return {};
    const auto share = bin.parent_path() / "share" / "quillfin";
    std::error_code error;
    return std::filesystem::is_directory(share, error) ? share.string() : std::string();
}

InstanceLock::InstanceLock(const std::string& program_dir) {
    const std::string path = program_dir + "/" + kFileName;
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0) {
        error_ = "cannot open " + path + ": " + std::strerror(errno);
        return;
    }
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        error_ = errno == EWOULDBLOCK ? "another Quillfin is already running on " + program_dir
                                      : "cannot lock " + path + ": " + std::strerror(errno);
        ::close(fd_);
        fd_ = -1;
    }
}

InstanceLock::~InstanceLock() {
    if (fd_ >= 0) ::close(fd_);
}

}  // namespace quillfin::app
