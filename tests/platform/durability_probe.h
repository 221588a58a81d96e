#pragma once

#include <string>

namespace quillfin::platform {

inline constexpr const char* kDurabilityGroups[] = {"alt.binaries.quillfin.durable.a",
                                                    "alt.binaries.quillfin.durable.b"};

// Runs the program on dir against the server on port, scanning, queueing, saving and
// downloading, and kills itself at point ("scan:N", "save:N", "fetched:N", "decode:N",
// "filed:N"; "none" runs to the end). The exit code says how far a run without a kill got.
int RunDurabilityProbe(const std::string& dir, int port, const std::string& point);

}  // namespace quillfin::platform
