#include "headers/group_filter.h"

#include <algorithm>

namespace quillfin::headers {

int GroupFilter::SelectedItem() const {
    auto found = std::find(items_.begin(), items_.end(), text_);
    return found == items_.end() ? -1 : int(found - items_.begin());
}

void GroupFilter::Clear() {
    items_.clear();
    text_.clear();
    ++revision_;
}

void GroupFilter::Add(const std::string& item) {
    items_.push_back(item);
    ++revision_;
}

void GroupFilter::SetText(const std::string& text) {
    text_ = text;
    ++revision_;
}

bool GroupFilter::Passes(const std::string& group) const {
    if (text_ == kNoGroup) return false;
    return text_ == kAllNewsgroups || text_ == group;
}

bool GroupFilter::HasFilterItem(const std::string& text) const {
    return std::find(items_.begin(), items_.end(), text) != items_.end();
}

void GroupFilter::AppendFilterItem(const std::string& text) { Add(text); }

}  // namespace quillfin::headers
