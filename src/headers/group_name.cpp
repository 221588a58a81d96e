#include "headers/group_name.h"

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

const std::string* Intern(std::string_view name) {
    // Parts arrive group by group, so the last name is nearly always the one asked for.
    thread_local const std::string* last = nullptr;
    if (last != nullptr && *last == name) return last;
    static std::mutex mutex;
    // Nodes never move, so the pointers handed out stay valid.
    static auto* names = new std::unordered_set<std::string, Hash, std::equal_to<>>;
    std::lock_guard lock(mutex);
    auto it = names->find(name);
    if (it == names->end()) it = names->emplace(name).first;
    last = &*it;
    return last;
}

}  // namespace

// Every new part starts with no group: that must not evict the last name from the cache.
GroupName::GroupName() {
    static const std::string* const kNone = Intern({});
    text_ = kNone;
}
GroupName::GroupName(std::string_view name) : text_(Intern(name)) {}

}  // namespace quillfin::headers
