#pragma once

#include <cstdint>
#include <string>

#include "common/main_view_state.h"

namespace quillfin::hostgroups {

// What frmGrM shows besides its result table. The logic writes it; the window renders it.
struct HostGroupsView {
    bool visible = false;
    bool cmdGetHostGroupsEnabled = true;  // "Retrieve Groups from Host"
    bool cmdReloadEnabled = true;         // "reload HOSTGRPS.TXT from disk"
    bool cmdQueryEnabled = false;
    bool cmdQueryStops = false;   // the button reads "&Stop Search"
    bool optionsEnabled = false;  // "Starts with:" and "Contains:"
    bool txtQueryEnabled = true;
    bool resultsVisible = true;  // the table and "&Add Selections"; else "Searching..."
    bool cmdAddEnabled = false;
    bool progressVisible = false;
    common::ProgressBar progress;
    std::string panel1;  // progress and result texts
    std::string panel2;  // the loaded file's size
    std::uint64_t revision = 0;

    void Touch() { ++revision; }
};

}  // namespace quillfin::hostgroups
