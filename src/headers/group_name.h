#pragma once

#include <ostream>
#include <string>
#include <string_view>

namespace quillfin::headers {

// A newsgroup name that every part from that group shares. A table of a million parts from a
// few groups would otherwise hold a million copies of a few names. Names are kept for the
// life of the process; a user has at most some thousands.
class GroupName {
  public:
    GroupName();
    GroupName(std::string_view name);  // NOLINT: a name is a group name
    GroupName(const std::string& name) : GroupName(std::string_view(name)) {}
    GroupName(const char* name) : GroupName(std::string_view(name)) {}

    const std::string& str() const { return *text_; }
    operator const std::string&() const { return *text_; }  // NOLINT
    bool empty() const { return text_->empty(); }

    // Equal names are one stored text, so comparing two is comparing where they are.
    friend bool operator==(const GroupName& a, const GroupName& b) { return a.text_ == b.text_; }
    friend bool operator==(const GroupName& a, std::string_view b) { return *a.text_ == b; }
    friend bool operator==(const GroupName& a, const std::string& b) { return *a.text_ == b; }
    friend bool operator==(const GroupName& a, const char* b) { return *a.text_ == b; }
    friend std::ostream& operator<<(std::ostream& out, const GroupName& name) {
        return out << *name.text_;
    }

  private:
    const std::string* text_;
};

}  // namespace quillfin::headers
