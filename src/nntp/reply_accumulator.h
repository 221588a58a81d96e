#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quillfin::nntp {

// The reply buffer of one window's connection. It refuses to grow past a cap, so a server
// that never sends the end line cannot eat the memory, and looks for the end line only in
// what arrived since it last looked (plus the 4 bytes before, where the line may begin).
class ReplyAccumulator {
  public:
    static constexpr std::size_t kDefaultCap = std::size_t(256) << 20;
    static constexpr std::string_view kEndLine = "\r\n.\r\n";

    explicit ReplyAccumulator(std::size_t cap = kDefaultCap) : cap_(cap) {}

    // The text itself; Connections may clear it (the login steps do).
    std::string& Text() { return text_; }
    const std::string& Text() const { return text_; }
    std::size_t Cap() const { return cap_; }

    // False, and nothing appended, when the chunk would take the text past the cap.
    bool Append(std::string_view chunk);
    // Whether the text since the last clear holds CR LF "." CR LF.
    bool HasEndLine();
    void Clear();

  private:
    std::string text_;
    std::size_t cap_;
    std::size_t searched_ = 0;    // text before this offset holds no end line
    std::size_t known_size_ = 0;  // the size after our last change; any other means cleared
};

}  // namespace quillfin::nntp
