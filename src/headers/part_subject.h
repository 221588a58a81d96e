#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>

namespace quillfin::headers {

// A part's subject in 16 bytes. The parts of one posting mostly differ from its first part's
// subject in a byte or two ("(07/50)"), so a subject made like another shares that one's text
// and keeps only the bytes that differ; any other holds a text of its own. Texts are shared by
// count, so copies are cheap and may be used from other threads.
class PartSubject {
  public:
    PartSubject() = default;
    PartSubject(std::string_view text);  // NOLINT: any text is a subject
    PartSubject(const std::string& text) : PartSubject(std::string_view(text)) {}  // NOLINT
    PartSubject(const char* text) : PartSubject(std::string_view(text)) {}         // NOLINT
    // text, sharing like's text where the two differ in few enough bytes.
    PartSubject(std::string_view text, const PartSubject& like);
    PartSubject(const PartSubject& other);
    PartSubject(PartSubject&& other) noexcept;
    PartSubject& operator=(const PartSubject& other);
    PartSubject& operator=(PartSubject&& other) noexcept;
    ~PartSubject();

    std::size_t size() const;
    bool empty() const { return size() == 0; }
    std::string str() const;
    operator std::string() const { return str(); }  // NOLINT
    // Replaces out's contents with the text, reusing its storage.
    void CopyTo(std::string& out) const;

    friend bool operator==(const PartSubject& a, std::string_view b);
    friend bool operator==(const PartSubject& a, const std::string& b) {
        return a == std::string_view(b);
    }
    friend bool operator==(const PartSubject& a, const char* b) { return a == std::string_view(b); }
    friend bool operator==(const PartSubject& a, const PartSubject& b) { return a == b.str(); }
    friend std::string operator+(const std::string& a, const PartSubject& b) { return a + b.str(); }
    friend std::string operator+(const char* a, const PartSubject& b) { return a + b.str(); }
    friend std::string operator+(const PartSubject& a, const std::string& b) { return a.str() + b; }
    friend std::string operator+(const PartSubject& a, const char* b) { return a.str() + b; }
    friend std::ostream& operator<<(std::ostream& out, const PartSubject& subject) {
        return out << subject.str();
    }

    struct Shared;

  private:
    static constexpr std::uint8_t kWhole = 0xff;
    static constexpr std::size_t kMiddle = 3;

    std::string_view Base() const;

    Shared* base_ = nullptr;  // nullptr: no text
    // The text is base[0, head) + middle + the last tail bytes of base, or base itself.
    std::uint16_t head_ = 0;
    std::uint16_t tail_ = 0;
    std::uint8_t middle_size_ = kWhole;
    char middle_[kMiddle] = {};
};

}  // namespace quillfin::headers
