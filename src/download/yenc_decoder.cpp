#include "download/yenc_decoder.h"

#include <libdeflate.h>
#include <zlib.h>

#include <charconv>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define QUILLFIN_YENC_X86 1
#endif

namespace quillfin::download {

namespace {

// How far into an article's body LooksLikeYenc looks for "=ybegin".
constexpr std::size_t kDetectWindow = 64 * 1024;

using Byte = unsigned char;

bool Special(Byte c) { return c == '=' || c == '\r' || c == '\n'; }

// Copies bytes less 42 until the first '=', CR or LF; returns how many. Each of these may
// write up to 31 bytes past the count: the caller's buffer has room for them.
std::size_t PlainRun(const Byte* in, std::size_t n, Byte* out) {
    for (std::size_t i = 0; i < n; ++i) {
        if (Special(in[i])) return i;
        out[i] = Byte(in[i] - 42);
    }
    return n;
}

#ifdef QUILLFIN_YENC_X86
std::size_t Sse2Run(const Byte* in, std::size_t n, Byte* out) {
    const __m128i eq = _mm_set1_epi8('='), cr = _mm_set1_epi8('\r'), lf = _mm_set1_epi8('\n');
    const __m128i offset = _mm_set1_epi8(42);
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_sub_epi8(v, offset));
        const __m128i hits = _mm_or_si128(
            _mm_or_si128(_mm_cmpeq_epi8(v, eq), _mm_cmpeq_epi8(v, cr)), _mm_cmpeq_epi8(v, lf));
        if (const int mask = _mm_movemask_epi8(hits)) return i + std::size_t(__builtin_ctz(mask));
    }
    return i + PlainRun(in + i, n - i, out + i);
}

__attribute__((target("avx2"))) std::size_t Avx2Run(const Byte* in, std::size_t n, Byte* out) {
    const __m256i eq = _mm256_set1_epi8('='), cr = _mm256_set1_epi8('\r');
    const __m256i lf = _mm256_set1_epi8('\n'), offset = _mm256_set1_epi8(42);
    std::size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), _mm256_sub_epi8(v, offset));
        const __m256i hits =
            _mm256_or_si256(_mm256_or_si256(_mm256_cmpeq_epi8(v, eq), _mm256_cmpeq_epi8(v, cr)),
                            _mm256_cmpeq_epi8(v, lf));
        if (const unsigned mask = unsigned(_mm256_movemask_epi8(hits)))
            return i + std::size_t(__builtin_ctz(mask));
    }
    return i + Sse2Run(in + i, n - i, out + i);
}
#endif

// The line-by-line rules around the runs: escapes (also one split by a line break), line
// breaks, NNTP's doubled dots and the lines that end the data.
template <std::size_t (*Run)(const Byte*, std::size_t, Byte*)>
std::size_t Lines(const Byte* in, std::size_t n, bool dotStuffed, Byte* out,
                  std::size_t& consumed) {
    std::size_t i = 0, o = 0;
    bool lineStart = true;
    bool escape = false;  // a line ended in "=": the next line's first byte is escaped
    while (i < n) {
        if (lineStart) {
            lineStart = false;
            if (in[i] == '=' && i + 1 < n && in[i + 1] == 'y') break;  // a keyword line
            if (dotStuffed && in[i] == '.') {
                if (i + 1 < n && in[i + 1] == '.') {
                    ++i;
                } else if (i + 1 == n || in[i + 1] == '\r' || in[i + 1] == '\n') {
                    break;  // the end line of the reply
                }
            }
            if (escape && i < n && in[i] != '\r' && in[i] != '\n') {
                out[o++] = Byte(in[i++] - 106);
                escape = false;
            }
            continue;
        }
        const std::size_t k = Run(in + i, n - i, out + o);
        i += k;
        o += k;
        if (i >= n) break;
        const Byte c = in[i];
        if (c == '\n') {
            ++i;
            lineStart = true;
        } else if (c == '\r') {
            ++i;
        } else if (i + 1 >= n) {
            ++i;  // "=" as the very last byte escapes nothing
        } else if (in[i + 1] == '\r' || in[i + 1] == '\n') {
            escape = true;
            ++i;
        } else {
            out[o++] = Byte(in[i + 1] - 106);
            i += 2;
        }
    }
    consumed = i;
    return o;
}

using LinesFunction = std::size_t (*)(const Byte*, std::size_t, bool, Byte*, std::size_t&);

LinesFunction ChooseLines() {
#ifdef QUILLFIN_YENC_X86
    if (__builtin_cpu_supports("avx2")) return &Lines<Avx2Run>;
    return &Lines<Sse2Run>;
#else
    return &Lines<PlainRun>;
#endif
}

// The start of the first line at or after from that begins with key; npos when none.
std::size_t FindLineStart(std::string_view text, std::string_view key, std::size_t from,
                          std::size_t limit) {
    for (std::size_t at = text.find(key, from); at != std::string_view::npos && at < limit;
         at = text.find(key, at + 1)) {
        if (at == 0 || text[at - 1] == '\n') return at;
    }
    return std::string_view::npos;
}

// The line at `at` without its line break; next is where the following line starts.
std::string_view LineAt(std::string_view text, std::size_t at, std::size_t& next) {
    std::size_t end = text.find('\n', at);
    next = end == std::string_view::npos ? text.size() : end + 1;
    if (end == std::string_view::npos) end = text.size();
    if (end > at && text[end - 1] == '\r') --end;
    return text.substr(at, end - at);
}

std::int64_t Number(std::string_view line, std::string_view key, std::int64_t fallback) {
    const auto value = YencKeyword(line, key, 10);
    // Past the 63-bit range no file or part exists: taken as absent.
    return value && *value <= std::uint64_t(INT64_MAX) ? std::int64_t(*value) : fallback;
}

void ReadBegin(std::string_view line, YencHeader& header) {
    header.size = Number(line, "size=", -1);
    header.part = Number(line, "part=", 0);
    header.total = Number(line, "total=", 0);
    // The name is the rest of the line, blanks and all.
    const std::size_t at = line.find(" name=");
    if (at != std::string_view::npos) header.name = std::string(line.substr(at + 6));
    header.begin = 1;
    header.end = header.size;
}

void ReadEnd(std::string_view line, YencHeader& header) {
    header.ended = true;
    header.endSize = Number(line, "size=", -1);
    const auto partCrc = YencKeyword(line, "pcrc32=", 16);
    const auto fileCrc = YencKeyword(line, "crc32=", 16);
    if (partCrc && *partCrc <= UINT32_MAX) header.partCrc = std::uint32_t(*partCrc);
    if (fileCrc && *fileCrc <= UINT32_MAX) header.fileCrc = std::uint32_t(*fileCrc);
}

std::string Problem(const YencPart& part) {
    const YencHeader& h = part.header;
    const std::string which = "part " + std::to_string(h.part == 0 ? 1 : h.part);
    if (h.begin < 1 || h.end < h.begin) return "yEnc " + which + " has no valid range";
    const auto length = std::int64_t(part.data.size());
    if (length != h.end - h.begin + 1 || (h.endSize >= 0 && h.endSize != length))
        return "yEnc " + which + " has " + std::to_string(length) + " bytes, expected " +
               std::to_string(h.end - h.begin + 1);
    if (h.partCrc && *h.partCrc != part.crc) return "yEnc checksum mismatch in " + which;
    return {};
}

}  // namespace

std::optional<std::uint64_t> YencKeyword(std::string_view line, std::string_view key, int base) {
    for (std::size_t at = line.find(key); at != std::string_view::npos;
         at = line.find(key, at + 1)) {
        if (at > 0 && line[at - 1] != ' ') continue;  // "crc32=" inside "pcrc32="
        const char* first = line.data() + at + key.size();
        std::uint64_t value = 0;
        auto [ptr, ec] = std::from_chars(first, line.data() + line.size(), value, base);
        if (ec == std::errc() && ptr != first) return value;
        return std::nullopt;
    }
    return std::nullopt;
}

std::uint32_t Crc32(std::uint32_t crc, std::string_view bytes) {
    return libdeflate_crc32(crc, bytes.data(), bytes.size());
}

std::uint32_t Crc32Combine(std::uint32_t crcA, std::uint32_t crcB, std::int64_t lengthB) {
    return std::uint32_t(crc32_combine64(crcA, crcB, lengthB));
}

bool LooksLikeYenc(std::string_view article) {
    std::size_t body = article.find("\r\n\r\n");
    body = body == std::string_view::npos ? 0 : body + 2;
    return FindLineStart(article, "=ybegin ", body, body + kDetectWindow) != std::string_view::npos;
}

std::size_t DecodeYencLines(std::string_view in, bool dotStuffed, char* out,
                            std::size_t& consumed) {
    static const LinesFunction lines = ChooseLines();
    return lines(reinterpret_cast<const Byte*>(in.data()), in.size(), dotStuffed,
                 reinterpret_cast<Byte*>(out), consumed);
}

bool DecodeYencLinesWith(YencInstructions instructions, std::string_view in, bool dotStuffed,
                         char* out, std::size_t& written, std::size_t& consumed) {
    LinesFunction lines = &Lines<PlainRun>;
#ifdef QUILLFIN_YENC_X86
    if (instructions == YencInstructions::kSse2) lines = &Lines<Sse2Run>;
    if (instructions == YencInstructions::kAvx2) {
        if (!__builtin_cpu_supports("avx2")) return false;
        lines = &Lines<Avx2Run>;
    }
#else
    if (instructions != YencInstructions::kPlain) return false;
#endif
    written = lines(reinterpret_cast<const Byte*>(in.data()), in.size(), dotStuffed,
                    reinterpret_cast<Byte*>(out), consumed);
    return true;
}

bool DecodeYenc(std::string_view article, bool dotStuffed, YencPart& out) {
    // The data buffer is kept: a caller decoding many articles reuses its memory.
    out.header = YencHeader{};
    out.crc = 0;
    out.problem.clear();
    const std::size_t begin = FindLineStart(article, "=ybegin ", 0, std::string_view::npos);
    if (begin == std::string_view::npos) return false;
    YencHeader& header = out.header;
    std::size_t next = 0;
    ReadBegin(LineAt(article, begin, next), header);
    if (article.substr(next).starts_with("=ypart ")) {
        const std::string_view line = LineAt(article, next, next);
        header.begin = Number(line, "begin=", 0);
        header.end = Number(line, "end=", -1);
    }
    // A single-part article gives the file's checksum as crc32: it is the part's too.
    const std::string_view data = article.substr(next);
    // Only what the last article did not need is cleared: growing a string writes zeros.
    out.data.resize(data.size() + 64);
    std::size_t consumed = 0;
    out.data.resize(DecodeYencLines(data, dotStuffed, out.data.data(), consumed));
    out.crc = Crc32(0, out.data);
    if (data.substr(consumed).starts_with("=yend")) {
        std::size_t ignored = 0;
        ReadEnd(LineAt(data, consumed, ignored), header);
        if (header.part == 0 && !header.partCrc) header.partCrc = header.fileCrc;
    }
    out.problem = Problem(out);
    return true;
}

}  // namespace quillfin::download
