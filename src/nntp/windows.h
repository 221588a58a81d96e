#pragma once

namespace quillfin::nntp {

// The windows a connection attempt may have to open. The logic asks; the UI shows them, and
// tests record the requests.
class Windows {
public:
    virtual ~Windows() = default;
    virtual void ShowLoginDialog() = 0;
    virtual void HideLoginDialog() = 0;
    // The options window, opened on its newsgroups tab.
    virtual void ShowOptionsNewsgroupsTab() = 0;
    // The add-a-newsgroup dialog; returns when the user has closed it.
    virtual void ShowAddNewsgroupDialog() = 0;
};

}  // namespace quillfin::nntp
