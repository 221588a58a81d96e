#pragma once

#include <string>
#include <vector>

namespace quillfin::testserver {

// Makes dir a program directory that uses the demo server at host:port: QUILFN.INI with the
// server and a download folder inside dir, and favs.txt with the groups. Files that already
// exist keep the user's state; only an INI's server is pointed at the demo server again, since
// the demo's port may differ from run to run. Each step taken is appended to report.
bool PrepareDemoProgramDirectory(const std::string& dir, const std::string& host, int port,
                                 const std::vector<std::string>& groups,
                                 std::vector<std::string>* report, std::string* error);

}  // namespace quillfin::testserver
