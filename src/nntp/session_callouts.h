#pragma once

#include <string>

namespace quillfin::nntp {

// Work of other subsystems that the scan connection sets off: the watchdog's restart, header
// expiry after a GROUP reply, and the batch download after a scan. The application wires them
// to their owners, which live above or beside this layer.
class SessionCallouts {
public:
    virtual ~SessionCallouts() = default;
    // connection 1 (scan) or 2 (download).
    virtual void EmergencyRestart(int connection) = 0;
    // The group's lowest article number as the server sent it.
    virtual void AutoExpire(const std::string& group, const std::string& firstText) = 0;
    virtual void DownloadStep() = 0;
};

}  // namespace quillfin::nntp
