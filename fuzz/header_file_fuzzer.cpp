// npending.dat as a crash or a hand edit may leave it: loaded, saved, and loaded again. What
// a load accepts, the save must write so that the next load reads it back whole.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/clock.h"
#include "common/main_view_state.h"
#include "headers/batch_queue.h"
#include "headers/header_store.h"
#include "headers/header_table.h"
#include "storage/activity_log.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

namespace {

using namespace quillfin;

// One program folder for the whole run; scripts/fuzz points TMPDIR at memory.
const testing::TempDir& Folder() {
    static const testing::TempDir dir;
    return dir;
}

struct Program {
    Program() { settings.chkEnableLogging = 1; }

    storage::Settings settings;
    common::ManualClock clock;
    storage::ActivityLog log{settings, clock, Folder().Path()};
    headers::HeaderTable table{log};
    common::MainViewState view;
    testing::ScriptedPrompts prompts;
    testing::HookPump pump;
    headers::BatchQueue batch{table, view, log, prompts};
    headers::HeaderStore store{table, batch, view, log, prompts, pump, clock, Folder().Path()};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Folder().Write(headers::HeaderStore::kFileName,
                   std::string(reinterpret_cast<const char*>(data), size));
    Program first;
    first.store.LoadHeaders();
    std::int32_t kept = 0;
    for (const headers::HeaderEntry& entry : first.table.Entries())
        kept += entry.InBatch || !entry.Deleted;
    if (!first.store.SaveHeaders()) std::abort();

    Program second;
    second.store.LoadHeaders();
    if (!second.prompts.shown.empty() || second.table.HeaderCount() != kept) std::abort();
    return 0;
}
