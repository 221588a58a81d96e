// The yEnc decoder over any bytes: every instruction set must give the same bytes and stop at
// the same place, never writing past the room it was given, and a decoded part's checksum
// must be that of its data.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "download/yenc_decoder.h"

using quillfin::download::YencInstructions;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const bool stuffed = data[0] & 1;
    const std::string_view in(reinterpret_cast<const char*>(data) + 1, size - 1);
    // Exactly the room promised, so AddressSanitizer sees a write past it.
    std::vector<char> plain(in.size() + 64), other(in.size() + 64);
    std::size_t plainWritten = 0, plainConsumed = 0;
    quillfin::download::DecodeYencLinesWith(YencInstructions::kPlain, in, stuffed, plain.data(),
                                            plainWritten, plainConsumed);
    if (plainWritten > in.size() || plainConsumed > in.size()) std::abort();
    for (YencInstructions set : {YencInstructions::kSse2, YencInstructions::kAvx2}) {
        std::size_t written = 0, consumed = 0;
        if (!quillfin::download::DecodeYencLinesWith(set, in, stuffed, other.data(), written,
                                                     consumed))
            continue;
        if (written != plainWritten || consumed != plainConsumed ||
            std::string_view(other.data(), written) != std::string_view(plain.data(), written))
            std::abort();
    }
    quillfin::download::YencPart part;
    if (quillfin::download::DecodeYenc(in, stuffed, part)) {
        if (part.crc != quillfin::download::Crc32(0, part.data)) std::abort();
        if (part.problem.empty() &&
            std::int64_t(part.data.size()) != part.header.end - part.header.begin + 1)
            std::abort();
    }
    return 0;
}
