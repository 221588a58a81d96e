#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillfin::download {

// Reading par2's index files and its printed output.

// The names of the files a par2 index protects, from its file description packets; empty
// when the file is no par2 file (or names nothing).
std::vector<std::string> Par2ProtectedNames(const std::string& index_path);

// The indexes (main .par2 files, not their .volNN+MM volumes) of the sets that the files just
// filed belong to: an index in a filed file's folder that names it, or whose volume or self it
// is. Each once, in the order first met.
std::vector<std::string> Par2IndexesFor(const std::vector<std::string>& filed);

// What a par2 run's output says.
struct Par2Outcome {
    enum Kind { kVerified, kRepairNeeded, kRepaired, kCannotRepair, kFailed };
    Kind kind = kFailed;
    // kCannotRepair: the recovery blocks still missing (0 when par2 did not say).
    long blocks_needed = 0;
    // kFailed: par2's last line, or its exit code.
    std::string detail;
};
Par2Outcome ParsePar2Output(std::string_view output, int exit_code);

// The last progress figure ("Scanning: 45.2%" gives 45) in the output whose '%' is at or
// after from; nullopt when there is none.
std::optional<int> Par2LastPercent(std::string_view output, std::size_t from = 0);

}  // namespace quillfin::download
