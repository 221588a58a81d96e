#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quillfin::fuzz {

// Inputs hold several pieces (network chunks, bursts, files) separated by NUL bytes: a
// server's text never holds NUL, and the starting inputs stay readable.
inline std::vector<std::string> Pieces(const std::uint8_t* data, std::size_t size,
                                       std::size_t max_pieces = 64) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> out;
    while (out.size() + 1 < max_pieces) {
        const std::size_t nul = text.find('\0');
        if (nul == std::string_view::npos) break;
        out.emplace_back(text.substr(0, nul));
        text.remove_prefix(nul + 1);
    }
    out.emplace_back(text);
    return out;
}

// A control byte at the start of the input that picks options; 0 when the input is empty.
inline std::uint8_t TakeFlags(const std::uint8_t*& data, std::size_t& size) {
    if (size == 0) return 0;
    --size;
    return *data++;
}

}  // namespace quillfin::fuzz
