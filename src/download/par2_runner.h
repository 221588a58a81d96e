#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace quillfin::download {

// Runs the par2 program as a child process; the Qt layer supplies it, tests fake it.
class Par2Runner {
  public:
    using Output = std::function<void(std::string_view chunk)>;
    // The exit code; -1 when par2 could not start, -2 when it crashed or was killed.
    using Finished = std::function<void(int code)>;

    virtual ~Par2Runner() = default;
    // Starts `par2 args...` in folder at low priority. output gets what it prints (both
    // streams) as it comes, finished is called once it has ended. One child at a time.
    virtual void Start(const std::string& folder, const std::vector<std::string>& args,
                       Output output, Finished finished) = 0;
    // Ends the child; neither callback is called for it afterwards.
    virtual void Stop() = 0;
};

}  // namespace quillfin::download
