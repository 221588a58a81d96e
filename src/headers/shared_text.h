#pragma once

#include <ostream>
#include <string>
#include <string_view>

namespace quillfin::headers {

// A posting's poster or date. Posters post many files and a group's postings fall on a few
// days, so every posting with the same text shares one copy (8 bytes each instead of a string
// and its heap block). Texts are kept for the life of the process, as group names are.
class SharedText {
  public:
    SharedText();
    SharedText(std::string_view text);                                           // NOLINT: any text
    SharedText(const std::string& text) : SharedText(std::string_view(text)) {}  // NOLINT
    SharedText(const char* text) : SharedText(std::string_view(text)) {}         // NOLINT

    const std::string& str() const { return *text_; }
    operator const std::string&() const { return *text_; }  // NOLINT
    bool empty() const { return text_->empty(); }
    std::size_t size() const { return text_->size(); }

    friend bool operator==(const SharedText& a, const SharedText& b) { return a.text_ == b.text_; }
    friend bool operator==(const SharedText& a, std::string_view b) { return *a.text_ == b; }
    friend bool operator==(const SharedText& a, const std::string& b) { return *a.text_ == b; }
    friend bool operator==(const SharedText& a, const char* b) { return *a.text_ == b; }
    friend std::string operator+(const std::string& a, const SharedText& b) { return a + *b.text_; }
    friend std::string operator+(const SharedText& a, const std::string& b) { return *a.text_ + b; }
    friend std::string operator+(const SharedText& a, const char* b) { return *a.text_ + b; }
    friend std::ostream& operator<<(std::ostream& out, const SharedText& text) {
        return out << *text.text_;
    }

  private:
    const std::string* text_;
};

}  // namespace quillfin::headers
