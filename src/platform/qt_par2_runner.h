#pragma once

#include <string>

#include "download/par2_runner.h"

class QProcess;

namespace quillfin::platform {

// download::Par2Runner over QProcess: par2 runs at the lowest priority (nice 19), so a repair
// does not slow the program or the desktop.
class QtPar2Runner : public download::Par2Runner {
  public:
    // program: the par2 executable, looked up in PATH when it has no '/'.
    explicit QtPar2Runner(std::string program = "par2");
    ~QtPar2Runner() override;
    QtPar2Runner(const QtPar2Runner&) = delete;
    QtPar2Runner& operator=(const QtPar2Runner&) = delete;

    void Start(const std::string& folder, const std::vector<std::string>& args, Output output,
               Finished finished) override;
    void Stop() override;

  private:
    std::string program_;
    QProcess* process_ = nullptr;
};

}  // namespace quillfin::platform
