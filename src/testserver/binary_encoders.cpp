#include "testserver/binary_encoders.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace quillfin::testserver {
namespace {

constexpr std::size_t kUuBytesPerLine = 45;
constexpr std::size_t kYencLineLength = 128;

char UuChar(unsigned value) { return value == 0 ? '`' : char(' ' + (value & 0x3f)); }

std::string Hex8(std::uint32_t value) {
    char text[9];
    std::snprintf(text, sizeof text, "%08x", unsigned(value));
    return text;
}

// Units (lines or bytes) per part, so that no part is left empty.
std::size_t PartSize(int wanted_parts, std::size_t units) {
    const std::size_t parts = std::size_t(std::max(wanted_parts, 1));
    return std::max<std::size_t>(1, (units + parts - 1) / parts);
}
int PartCount(std::size_t per_part, std::size_t units) {
    return int(std::max<std::size_t>(1, (units + per_part - 1) / per_part));
}

}  // namespace

std::uint32_t Crc32(std::string_view data, std::uint32_t crc) {
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xedb88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    crc = ~crc;
    for (unsigned char byte : data) crc = table[(crc ^ byte) & 0xff] ^ (crc >> 8);
    return ~crc;
}

std::string UuencodeLines(std::string_view data) {
    std::string out;
    out.reserve(data.size() / kUuBytesPerLine * 63 + 64);
    for (std::size_t at = 0; at < data.size(); at += kUuBytesPerLine) {
        const std::size_t length = std::min(kUuBytesPerLine, data.size() - at);
        out += UuChar(unsigned(length));
        for (std::size_t i = 0; i < length; i += 3) {
            unsigned char b[3] = {0, 0, 0};
            for (std::size_t k = 0; k < 3 && i + k < length; ++k) {
                b[k] = static_cast<unsigned char>(data[at + i + k]);
            }
            out += UuChar(b[0] >> 2);
            out += UuChar(((b[0] << 4) | (b[1] >> 4)) & 0x3f);
            out += UuChar(((b[1] << 2) | (b[2] >> 6)) & 0x3f);
            out += UuChar(b[2] & 0x3f);
        }
        out += "\r\n";
    }
    return out;
}

std::vector<std::string> UuencodeParts(const std::string& name, std::string_view data,
                                       int parts) {
    const std::size_t lines = (data.size() + kUuBytesPerLine - 1) / kUuBytesPerLine;
    const std::size_t per_part = PartSize(parts, lines);
    parts = PartCount(per_part, lines);
    std::vector<std::string> bodies;
    for (int part = 0; part < parts; ++part) {
        const std::size_t first = std::min(data.size(), part * per_part * kUuBytesPerLine);
        const std::size_t last = std::min(data.size(), (part + 1) * per_part * kUuBytesPerLine);
        std::string body;
        if (part == 0) body += "begin 644 " + name + "\r\n";
        body += UuencodeLines(data.substr(first, last - first));
        if (part == parts - 1) body += "`\r\nend\r\n";
        bodies.push_back(std::move(body));
    }
    return bodies;
}

std::string YencLines(std::string_view data) {
    std::string out;
    out.reserve(data.size() + data.size() / 40 + 16);
    std::size_t column = 0;
    for (std::size_t i = 0; i < data.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(data[i] + 42);
        bool escape = c == 0 || c == '\n' || c == '\r' || c == '=';
        // Blanks at either end of a line may be stripped in transit, and a leading dot is
        // the NNTP terminator's first character.
        const bool blank = c == ' ' || c == '\t';
        const bool line_end = column + 1 >= kYencLineLength || i + 1 == data.size();
        if ((column == 0 && (blank || c == '.')) || (line_end && blank)) escape = true;
        if (escape) {
            out += '=';
            out += char(c + 64);
            column += 2;
        } else {
            out += char(c);
            ++column;
        }
        if (column >= kYencLineLength) {
            out += "\r\n";
            column = 0;
        }
    }
    if (column > 0) out += "\r\n";
    return out;
}

std::vector<std::string> YencParts(const std::string& name, std::string_view data, int parts) {
    const std::string size = std::to_string(data.size());
    const std::string line = std::to_string(kYencLineLength);
    const std::size_t per_part = PartSize(parts, data.size());
    parts = PartCount(per_part, data.size());
    if (parts == 1) {
        return {"=ybegin line=" + line + " size=" + size + " name=" + name + "\r\n" +
                YencLines(data) + "=yend size=" + size + " crc32=" + Hex8(Crc32(data)) + "\r\n"};
    }
    const std::string total = std::to_string(parts);
    std::vector<std::string> bodies;
    for (int part = 1; part <= parts; ++part) {
        const std::size_t begin = std::min(data.size(), (part - 1) * per_part);
        const std::size_t end = std::min(data.size(), part * per_part);
        const std::string_view piece = data.substr(begin, end - begin);
        const std::string number = std::to_string(part);
        std::string body = "=ybegin part=" + number + " total=" + total + " line=" + line +
                           " size=" + size + " name=" + name + "\r\n";
        body += "=ypart begin=" + std::to_string(begin + 1) + " end=" + std::to_string(end) +
                "\r\n";
        body += YencLines(piece);
        body += "=yend size=" + std::to_string(piece.size()) + " part=" + number +
                " pcrc32=" + Hex8(Crc32(piece));
        if (part == parts) body += " crc32=" + Hex8(Crc32(data));
        body += "\r\n";
        bodies.push_back(std::move(body));
    }
    return bodies;
}

}  // namespace quillfin::testserver
