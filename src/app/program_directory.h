#pragma once

#include <string>

namespace quillfin::app {

// Where the program keeps its files. The executable's folder when it can be written to (a
// portable install) and is not part of an installed package; otherwise the user's data folder.
// QUILLFIN_HOME overrides both, for the demo and the tests.
struct ProgramDirectoryChoice {
    std::string path;
    // Why that folder could not be used; empty on success.
    std::string error;
};

ProgramDirectoryChoice ChooseProgramDirectory(const std::string& executable_dir);

// The folder of the running executable, from /proc/self/exe.
std::string ExecutableDirectory();

// The shared data (sounds, help) of an installed package: <prefix>/share/quillfin beside the
// executable's <prefix>/bin. Empty when there is no such folder.
std::string InstalledDataDirectory(const std::string& executable_dir);

// Holds an exclusive lock on a file in the program directory for as long as it lives, so a
// second instance cannot overwrite the first one's files. The kernel drops the lock when the
// process ends, however it ends.
class InstanceLock {
  public:
    static constexpr const char* kFileName = "quillfin.lock";

    explicit InstanceLock(const std::string& program_dir);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    bool Held() const { return fd_ >= 0; }
    // Why the lock was not taken: another instance, or the error opening the file.
    const std::string& Error() const { return error_; }

  private:
    int fd_ = -1;
    std::string error_;
};

}  // namespace quillfin::app
