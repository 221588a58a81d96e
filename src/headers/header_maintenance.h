#pragma once

#include <string>

#include "common/event_pump.h"
#include "common/main_view_state.h"
#include "common/prompts.h"
#include "headers/header_table.h"
#include "headers/header_views.h"
#include "storage/activity_log.h"
#include "storage/settings.h"

namespace quillfin::headers {

// How postings leave the header list and come back: auto-expiry after a GROUP reply, the
// Delete and Restore commands, and Find. Only flags change; the table keeps every entry.
class HeaderMaintenance {
  public:
    HeaderMaintenance(HeaderTable& table, HeaderViews& views, storage::Settings& settings,
                      common::MainViewState& view, common::Prompts& prompts,
                      common::EventPump& pump);

    // firstText: the group's lowest article number as the server sent it.
    void AutoExpire(const std::string& group, const std::string& firstText);
    // cmdDelHeaders and the Delete key in the header list.
    void DeleteCommand();
    // cmdRestore.
    void RestoreCommand();
    // cmdSearch of frmSearch. True when something matched (the window then hides).
    bool Find(const std::string& text, bool searchDeleted);

  private:
    HeaderTable& table_;
    HeaderViews& views_;
    storage::Settings& settings_;
    common::MainViewState& view_;
    common::Prompts& prompts_;
    common::EventPump& pump_;
};

}  // namespace quillfin::headers
