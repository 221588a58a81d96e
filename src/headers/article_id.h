#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>

namespace quillfin::headers {

// A part's article number as received, in 8 bytes. Nearly every one is a plain decimal number
// and is kept as one; any other text (leading zeros, past 2^63, a message-ID) is kept as
// written, out of line. Reads back exactly the text it was given.
class ArticleId {
  public:
    ArticleId() = default;
    ArticleId(std::string_view text);  // NOLINT: any text is an article number
    ArticleId(const std::string& text) : ArticleId(std::string_view(text)) {}  // NOLINT
    ArticleId(const char* text) : ArticleId(std::string_view(text)) {}         // NOLINT
    ArticleId(const ArticleId& other);
    ArticleId(ArticleId&& other) noexcept : bits_(other.bits_) { other.bits_ = 0; }
    ArticleId& operator=(const ArticleId& other);
    ArticleId& operator=(ArticleId&& other) noexcept;
    ~ArticleId() { Release(); }

    std::string str() const;
    operator std::string() const { return str(); }  // NOLINT
    bool empty() const { return bits_ == 0; }
    // The text with a number written into buffer; valid while both live.
    std::string_view View(char (&buffer)[24]) const;

    bool IsNumber() const { return (bits_ & 1) != 0; }
    std::uint64_t Number() const { return bits_ >> 1; }
    std::size_t Hash() const;

    friend bool operator==(const ArticleId& a, const ArticleId& b);
    friend bool operator==(const ArticleId& a, std::string_view b);
    friend bool operator==(const ArticleId& a, const std::string& b) {
        return a == std::string_view(b);
    }
    friend bool operator==(const ArticleId& a, const char* b) { return a == std::string_view(b); }
    friend std::string operator+(const std::string& a, const ArticleId& b) { return a + b.str(); }
    friend std::string operator+(const char* a, const ArticleId& b) { return a + b.str(); }
    friend std::string operator+(const ArticleId& a, const std::string& b) { return a.str() + b; }
    friend std::string operator+(const ArticleId& a, const char* b) { return a.str() + b; }
    friend std::ostream& operator<<(std::ostream& out, const ArticleId& id) {
        char buffer[24];
        return out << id.View(buffer);
    }

  private:
    const std::string* Text() const { return reinterpret_cast<const std::string*>(bits_); }
    void Release();

    // 0: empty; low bit set: the number shifted left by one; otherwise an owned string.
    std::uintptr_t bits_ = 0;
};

struct ArticleIdHash {
    std::size_t operator()(const ArticleId& id) const { return id.Hash(); }
};

}  // namespace quillfin::headers
