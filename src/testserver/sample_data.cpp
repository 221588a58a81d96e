#include "testserver/sample_data.h"

#include <cstdio>
#include <vector>

namespace quillfin::testserver {
namespace {

std::string Padded(int value, int width) {
    char text[32];
    std::snprintf(text, sizeof text, "%0*d", width, value);
    return text;
}

// Deterministic bytes, so that the demo data set is the same at every start.
std::string PseudoRandomBytes(std::size_t size, std::uint32_t seed) {
    std::string bytes(size, '\0');
    std::uint32_t state = seed * 2654435761u + 1;
    for (char& c : bytes) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        c = char(state & 0xff);
    }
    return bytes;
}

char UuChar(unsigned value) { return value == 0 ? '`' : char(' ' + (value & 0x3f)); }

void AddUuencodedPosting(NewsSpool& spool, const std::string& group, const std::string& name,
                         std::size_t size, int parts, std::uint32_t seed) {
    const std::string lines = UuencodeLines(PseudoRandomBytes(size, seed));
    std::vector<std::string> all;
    for (std::size_t at = 0; at < lines.size();) {
        const std::size_t end = lines.find('\n', at) + 1;
        all.push_back(lines.substr(at, end - at));
        at = end;
    }
    const std::size_t per_part = (all.size() + std::size_t(parts) - 1) / std::size_t(parts);
    const int width = parts > 9 ? 2 : 1;
    for (int part = 1; part <= parts; ++part) {
        TestArticle article;
        article.subject = name + " (" + Padded(part, width) + "/" + Padded(parts, width) + ")";
        article.from = "\"Demo Poster\" <demo@example.test>";
        if (part == 1) article.body += "begin 644 " + name + "\r\n";
        for (std::size_t i = std::size_t(part - 1) * per_part;
             i < std::min(all.size(), std::size_t(part) * per_part); ++i) {
            article.body += all[i];
        }
        if (part == parts) article.body += "`\r\nend\r\n";
        spool.AddArticle(group, std::move(article));
    }
}

}  // namespace

std::string UuencodeLines(const std::string& data) {
    std::string out;
    for (std::size_t at = 0; at < data.size(); at += 45) {
        const std::size_t length = std::min<std::size_t>(45, data.size() - at);
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

void AddOverviewPostings(NewsSpool& spool, const std::string& group, std::int64_t articles,
                         int parts_per_posting) {
    if (parts_per_posting < 1) parts_per_posting = 1;
    const std::string total = Padded(parts_per_posting, 2);
    for (std::int64_t i = 0; i < articles; ++i) {
        const int posting = int(i / parts_per_posting) + 1;
        const int part = int(i % parts_per_posting) + 1;
        TestArticle article;
        if (posting % 2 == 0) {
            article.subject = "[" + std::to_string(posting % 50 + 1) + "/50] - \"file" +
                              std::to_string(posting) + ".r00\" yEnc (" + std::to_string(part) +
                              "/" + std::to_string(parts_per_posting) + ")";
        } else {
            article.subject = "archive" + std::to_string(posting) + ".rar (" + Padded(part, 2) +
                              "/" + total + ")";
        }
        article.bytes = 396000 + (i % 7) * 113;
        article.lines = 3040;
        spool.AddArticle(group, std::move(article));
    }
}

void AddSampleData(NewsSpool& spool) {
    spool.AddGroup("alt.binaries.quillfin.demo");
    spool.AddGroup("alt.binaries.quillfin.sounds");
    spool.AddGroup("alt.binaries.quillfin.empty");
    std::uint32_t seed = 1;
    for (int i = 1; i <= 6; ++i) {
        AddUuencodedPosting(spool, "alt.binaries.quillfin.demo",
                            "picture" + std::to_string(i) + ".jpg", 20000 + i * 3000, 1 + i % 4,
                            seed++);
    }
    AddUuencodedPosting(spool, "alt.binaries.quillfin.demo", "holiday.rar", 120000, 12, seed++);
    for (int i = 1; i <= 3; ++i) {
        AddUuencodedPosting(spool, "alt.binaries.quillfin.sounds",
                            "tune" + std::to_string(i) + ".mp3", 60000, 3, seed++);
    }
}

}  // namespace quillfin::testserver
