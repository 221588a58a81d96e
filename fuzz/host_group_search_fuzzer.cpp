// The host list search over any buffer: the first piece is the query, the second the list
// as the server sent it; the first byte picks the mode and how many lines a step examines.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "headers/row_list.h"
#include "hostgroups/host_group_search.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using quillfin::hostgroups::HostGroupSearch;
    const std::uint8_t flags = quillfin::fuzz::TakeFlags(data, size);
    const std::vector<std::string> pieces = quillfin::fuzz::Pieces(data, size, 2);
    const std::string query = pieces.size() > 1 ? pieces[0] : std::string();
    const std::string& buffer = pieces.back();
    quillfin::headers::RowList rows;
    HostGroupSearch search;
    search.Start(
        buffer, query,
        (flags & 1) ? HostGroupSearch::Mode::kContains : HostGroupSearch::Mode::kStartsWith, rows);
    const std::size_t step = (flags >> 1) % 8 + 1;
    // Every step examines at least one line or ends the search, so this many steps suffice.
    std::size_t steps = 0;
    while (search.Step(step)) {
        if (++steps > buffer.size() + 2) std::abort();
    }
    if (search.Count() != std::int64_t(rows.Rows().size())) std::abort();
    if (search.Progress() > search.Length() + 1) std::abort();
    return 0;
}
