#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quillfin::download {

// What the keyword lines of one yEnc article say. Ranges are 1-based and inclusive, as in
// "=ypart begin= end="; a single-part article covers the whole file.
struct YencHeader {
    std::string name;
    std::int64_t size = -1;  // the whole file, from =ybegin
    std::int64_t part = 0;   // 0 when the article names none
    std::int64_t total = 0;
    std::int64_t begin = 1;
    std::int64_t end = 0;
    bool ended = false;                    // an =yend line was found
    std::int64_t endSize = -1;             // =yend size: the bytes of this part
    std::optional<std::uint32_t> partCrc;  // pcrc32 (crc32 of a single-part article)
    std::optional<std::uint32_t> fileCrc;  // crc32 of a multi-part article
};

struct YencPart {
    YencHeader header;
    std::string data;       // the decoded bytes
    std::uint32_t crc = 0;  // CRC-32 of data
    std::string problem;    // why the part cannot be trusted; empty when it can
};

// The value of "key=" in a keyword line ("crc32=" is not found inside "pcrc32="); nullopt
// when absent or not a number.
std::optional<std::uint64_t> YencKeyword(std::string_view line, std::string_view key, int base);

// The CRC-32 of zlib and yEnc, continued from crc.
std::uint32_t Crc32(std::uint32_t crc, std::string_view bytes);
// The CRC-32 of A followed by B, from the CRCs of both and B's length.
std::uint32_t Crc32Combine(std::uint32_t crcA, std::uint32_t crcB, std::int64_t lengthB);

// Whether the article carries yEnc data: an "=ybegin " line among the first bytes of its body.
// Looks no further than that, so an article that is not yEnc costs little.
bool LooksLikeYenc(std::string_view article);

// Decodes the first yEnc block of an article: a whole ARTICLE reply (dotStuffed: lines that
// begin with "." carry another, and a lone "." line ends it) or the article's text with that
// undone. False when there is no "=ybegin" line. The sizes and checksums that the keyword
// lines give are checked; what does not match is said in problem.
bool DecodeYenc(std::string_view article, bool dotStuffed, YencPart& out);

// The data lines alone: decodes from the start of a line up to the first keyword line
// ("=y..."), or the end line when dotStuffed. out must have room for in.size() + 64 bytes.
// Returns the bytes written; consumed says where the decoding stopped.
std::size_t DecodeYencLines(std::string_view in, bool dotStuffed, char* out, std::size_t& consumed);

// The same with the instructions named rather than the fastest this processor has; all give
// the same bytes. kAvx2 is used only where the processor has it (false otherwise).
enum class YencInstructions { kPlain, kSse2, kAvx2 };
bool DecodeYencLinesWith(YencInstructions instructions, std::string_view in, bool dotStuffed,
                         char* out, std::size_t& written, std::size_t& consumed);

}  // namespace quillfin::download
