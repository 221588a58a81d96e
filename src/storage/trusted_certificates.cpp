#include "storage/trusted_certificates.h"

#include <cctype>
#include <sstream>
#include <vector>

#include "common/text.h"
#include "storage/program_files.h"

namespace quillfin::storage {

namespace {

constexpr std::size_t kFingerprintDigits = 64;

// Upper-case hex digits only; empty unless it is a whole SHA-256 fingerprint.
std::string Digits(const std::string& fingerprint) {
    std::string digits;
    for (char c : fingerprint) {
        if (std::isxdigit(static_cast<unsigned char>(c)))
            digits += char(std::toupper(static_cast<unsigned char>(c)));
        else if (c != ':' && c != ' ')
            return {};
    }
    return digits.size() == kFingerprintDigits ? digits : std::string();
}

std::string Lower(std::string text) {
    for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// Host names are kept lower-case; one with blanks or control bytes could not be read back.
bool UsableHost(const std::string& host) {
    if (host.empty()) return false;
    for (char c : host)
        if (static_cast<unsigned char>(c) <= ' ') return false;
    return true;
}

struct Entry {
    std::string host;
    int port = 0;
    std::string digits;
};

// False for a line that is not a well-formed entry (kept as it is, but never trusted).
bool ParseLine(const std::string& line, Entry* entry) {
    std::istringstream in(line);
    std::string port, fingerprint, rest;
    if (!(in >> entry->host >> port >> fingerprint) || (in >> rest)) return false;
    if (port.empty() || port.size() > 5 ||
        port.find_first_not_of("0123456789") != std::string::npos)
        return false;
    entry->host = Lower(entry->host);
    entry->port = std::stoi(port);
    entry->digits = Digits(fingerprint);
    return !entry->digits.empty();
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

}  // namespace

TrustedCertificates::TrustedCertificates(const std::string& program_dir)
    : path_(ProgramFile(program_dir, kFileName)) {}

std::string TrustedCertificates::KeptDigits(const std::string& host, int port) const {
    std::string text;
    if (!ReadWholeFile(path_, &text)) return {};
    const std::string name = Lower(common::Trim(host));
    for (const std::string& line : Lines(text)) {
        Entry entry;
        if (ParseLine(line, &entry) && entry.host == name && entry.port == port)
            return entry.digits;
    }
    return {};
}

bool TrustedCertificates::IsTrusted(const std::string& host, int port,
                                    const std::string& fingerprint) const {
    const std::string digits = Digits(fingerprint);
    return !digits.empty() && KeptDigits(host, port) == digits;
}

bool TrustedCertificates::HasEntry(const std::string& host, int port) const {
    return !KeptDigits(host, port).empty();
}

bool TrustedCertificates::Trust(const std::string& host, int port, const std::string& fingerprint,
                                std::string* error) {
    const std::string name = Lower(common::Trim(host));
    const std::string digits = Digits(fingerprint);
    if (!UsableHost(name) || digits.empty() || port < 0 || port > 65535) {
        if (error != nullptr) *error = "cannot keep a certificate for \"" + host + "\"";
        return false;
    }
    std::string old_text;
    // A file that exists but cannot be read is not replaced: its entries would be lost.
    if (FileExists(path_) && !ReadWholeFile(path_, &old_text, error)) return false;
    std::string text;
    for (const std::string& line : Lines(old_text)) {
        Entry entry;
        if (ParseLine(line, &entry) && entry.host == name && entry.port == port) continue;
        text += line + "\n";
    }
    text += name + " " + std::to_string(port) + " " + digits + "\n";
    return WriteFileAtomically(path_, text, false, error);
}

}  // namespace quillfin::storage
