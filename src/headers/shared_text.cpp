#include "headers/shared_text.h"

#include <mutex>
#include <unordered_set>

namespace quillfin::headers {

namespace {

struct Hash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const {
        return std::hash<std::string_view>{}(text);
    }
};

const std::string* Intern(std::string_view text) {
    // A poster's parts often arrive together.
    thread_local const std::string* last = nullptr;
    if (last != nullptr && *last == text) return last;
    static std::mutex mutex;
    // Nodes never move, so the pointers handed out stay valid.
    static auto* texts = new std::unordered_set<std::string, Hash, std::equal_to<>>;
    std::lock_guard lock(mutex);
    auto it = texts->find(text);
    if (it == texts->end()) it = texts->emplace(text).first;
    last = &*it;
    return last;
}

}  // namespace

SharedText::SharedText() {
    static const std::string* const kNone = Intern({});
    text_ = kNone;
}
SharedText::SharedText(std::string_view text) : text_(Intern(text)) {}

}  // namespace quillfin::headers
