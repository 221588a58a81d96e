#pragma once

#include <functional>
#include <string>

#include "nntp/certificate_check.h"

namespace quillfin::platform {

// What every socket of the program shares about TLS. Read at each Connect(), so a changed
// setting applies from the next connection on.
struct TlsSetup {
    // True: the connection is TLS from its first byte (implicit TLS, as on port 563).
    std::function<bool()> enabled;
    // Decides on a certificate that fails the checks; null refuses every such certificate.
    nntp::CertificateCheck* check = nullptr;
    // Told the protocol and cipher of every secure connection.
    std::function<void(const std::string& line)> log;
    // PEM authorities trusted beside the system's: a test authority. Empty in the program.
    std::string extraAuthorities;
};

}  // namespace quillfin::platform
