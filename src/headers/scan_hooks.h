#pragma once

#include <cstdint>
#include <string>

namespace quillfin::headers {

// What the overview parser needs from the scan engine. The engine implements it; the parser
// and the header table only call it, so they build and test without a connection.
class ScanHooks {
  public:
    virtual ~ScanHooks() = default;
    virtual void ReportProgress(const std::string& group, const std::string& articleText,
                                bool forced) = 0;
    // The next-burst decision, once a burst has been parsed.
    virtual void AfterBurst() = 0;
    // One more overview record handed to add_articleheader in this scan.
    virtual void HeaderAdded() = 0;
    // A long parse is activity: the watchdog must not take it for silence.
    virtual void TouchScanActivity() = 0;
    // The upper end of the range requested for this burst, as text.
    virtual std::string BurstEnd() const = 0;
    // The group's last article number from its GROUP reply.
    virtual std::int64_t GroupLast() const = 0;
};

// The incremental update of the header list after each burst.
class HeaderListUpdater {
  public:
    virtual ~HeaderListUpdater() = default;
    virtual void UpdateHeaderList() = 0;
};

}  // namespace quillfin::headers
