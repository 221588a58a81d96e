#include "download/part_files.h"

#include <cerrno>
#include <cstdio>

#include "download/file_names.h"

namespace quillfin::download {

namespace {

constexpr int kMaxTries = 1000;

}  // namespace

std::string PartFiles::ArticleText(std::string_view reply) {
    std::string out;
    out.reserve(reply.size());
    std::size_t at = 0;
    while (at < reply.size()) {
        std::size_t end = reply.find("\r\n", at);
        const std::size_t next = end == std::string_view::npos ? reply.size() : end + 2;
        std::string_view line = reply.substr(at, next - at);
        if (line == ".\r\n" || line == ".") break;  // the end line; nothing follows it
        if (line.starts_with("..")) line.remove_prefix(1);
        out.append(line);
        at = next;
    }
    return out;
}

std::string PartFiles::Write(const headers::PartRef& part, const std::string& folder,
                             std::string_view reply) {
    std::string name = SafeName(part.ArticleNumber.str());
    if (name.empty()) name = "article";
    const std::string text = ArticleText(reply);
    // Another file may appear between choosing the name and creating it: try the next one.
    for (int tries = 0; tries < kMaxTries; ++tries) {
        const std::string path = UniquePath(folder, name + ".UUE");
        if (path.empty()) break;
        if (journal_ != nullptr) journal_->PartWriting(KeyOf(part), path);
        if (WriteNewFile(path, text)) {
            Remove(part);
            paths_[KeyOf(part)] = path;
            if (journal_ != nullptr) journal_->PartStored(KeyOf(part), path);
            return path;
        }
        const int error = errno;
        // Not written, so not ours: a start after a kill must leave that name alone.
        if (journal_ != nullptr) journal_->PartAbandoned(path);
        if (UniquePath(folder, name + ".UUE") != path) continue;
        errno = error;
        break;  // the name was free and still failed: the folder is not writable
    }
    return {};
}

std::string PartFiles::PathOf(const headers::PartRef& part) const {
    auto found = paths_.find(KeyOf(part));
    return found == paths_.end() ? std::string() : found->second;
}

void PartFiles::Remove(const headers::PartRef& part) {
    auto found = paths_.find(KeyOf(part));
    if (found == paths_.end()) return;
    std::remove(found->second.c_str());
    if (journal_ != nullptr) journal_->PartRemoved(found->first);
    paths_.erase(found);
}

}  // namespace quillfin::download
