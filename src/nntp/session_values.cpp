#include "nntp/session_values.h"

namespace quillfin::nntp {

void SessionValues::SetScanState(std::int32_t value) {
    scan_state_ = value;
    if (onScanSignal) onScanSignal();
}

void SessionValues::SetScanStop(bool value) {
    scan_stop_ = value;
    if (onScanSignal) onScanSignal();
}

}  // namespace quillfin::nntp
