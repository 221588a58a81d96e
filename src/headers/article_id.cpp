#include "headers/article_id.h"

#include <charconv>
#include <optional>

namespace quillfin::headers {

namespace {

static_assert(sizeof(std::uintptr_t) == 8, "numbers take 63 bits");

// The value of text that is a decimal number written the one way str() would write it.
std::optional<std::uint64_t> CanonicalNumber(std::string_view text) {
    if (text.empty() || text.size() > 19 || (text[0] == '0' && text.size() > 1)) return {};
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return {};
        value = value * 10 + std::uint64_t(c - '0');
    }
    if (value >> 63 != 0) return {};
    return value;
}

}  // namespace

ArticleId::ArticleId(std::string_view text) {
    if (text.empty()) return;
    if (auto number = CanonicalNumber(text))
        bits_ = (*number << 1) | 1;
    else
        bits_ = reinterpret_cast<std::uintptr_t>(new std::string(text));
}

ArticleId::ArticleId(const ArticleId& other) : bits_(other.bits_) {
    if (bits_ != 0 && !IsNumber())
        bits_ = reinterpret_cast<std::uintptr_t>(new std::string(*Text()));
}

ArticleId& ArticleId::operator=(const ArticleId& other) {
    if (this != &other) *this = ArticleId(other);
    return *this;
}

ArticleId& ArticleId::operator=(ArticleId&& other) noexcept {
    if (this != &other) {
        Release();
        bits_ = other.bits_;
        other.bits_ = 0;
    }
    return *this;
}

void ArticleId::Release() {
    if (bits_ != 0 && !IsNumber()) delete Text();
    bits_ = 0;
}

std::string_view ArticleId::View(char (&buffer)[24]) const {
    if (bits_ == 0) return {};
    if (!IsNumber()) return *Text();
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, Number()).ptr;
    return {buffer, std::size_t(end - buffer)};
}

std::string ArticleId::str() const {
    char buffer[24];
    return std::string(View(buffer));
}

std::size_t ArticleId::Hash() const {
    if (IsNumber() || bits_ == 0) return std::hash<std::uint64_t>{}(bits_);
    return std::hash<std::string_view>{}(*Text());
}

bool operator==(const ArticleId& a, const ArticleId& b) {
    if (a.IsNumber() || b.IsNumber() || a.empty() || b.empty()) return a.bits_ == b.bits_;
    return std::string_view(*a.Text()) == std::string_view(*b.Text());
}

bool operator==(const ArticleId& a, std::string_view b) {
    if (a.empty()) return b.empty();
    if (!a.IsNumber()) return std::string_view(*a.Text()) == b;
    auto number = CanonicalNumber(b);
    return number && *number == a.Number();
}

}  // namespace quillfin::headers
