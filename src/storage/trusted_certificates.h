#pragma once

#include <string>

namespace quillfin::storage {

// CERTS.TXT in the program directory: the certificates the user chose to trust although they
// failed a check, one line per server ("host port SHA-256 fingerprint"). Only that exact
// certificate is trusted; a server that later shows another one is asked about again.
class TrustedCertificates {
  public:
    static constexpr const char* kFileName = "CERTS.TXT";

    explicit TrustedCertificates(const std::string& program_dir);

    // Fingerprints compare as hex digits, whatever their case and separators.
    bool IsTrusted(const std::string& host, int port, const std::string& fingerprint) const;
    // A certificate of the server is kept, whichever it is.
    bool HasEntry(const std::string& host, int port) const;
    // Replaces what was kept for the server; every other line stays as it was. False (with
    // error) when the file could not be written or the host name cannot be kept in it.
    bool Trust(const std::string& host, int port, const std::string& fingerprint,
               std::string* error = nullptr);

    const std::string& Path() const { return path_; }

  private:
    // The kept fingerprint's hex digits; empty when none is kept for the server.
    std::string KeptDigits(const std::string& host, int port) const;

    std::string path_;
};

}  // namespace quillfin::storage
