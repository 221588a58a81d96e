#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>

#include "download/download_journal.h"
#include "headers/header_entry.h"

namespace quillfin::download {

// Where each retrieved part's text waits on disk until its posting is decoded. Writing a part
// as soon as it is complete keeps memory to the one article in flight. Parts are known by
// group and article number, which stay the same when the header table is rebuilt.
class PartFiles {
  public:
    // The article as the decoder reads it: the ARTICLE reply with the dot-stuffing of NNTP
    // undone and without its terminating "." line.
    static std::string ArticleText(std::string_view reply);

    // Writes the part to a new file "<article number>.UUE" in folder, never replacing a file;
    // returns its path, empty (errno saying why) when it could not be written.
    std::string Write(const headers::PartRef& part, const std::string& folder,
                      std::string_view reply);
    // The file of a part; empty when it has none.
    std::string PathOf(const headers::PartRef& part) const;
    // Deletes the part's file and forgets it.
    void Remove(const headers::PartRef& part);
    std::size_t Count() const { return paths_.size(); }
    const std::map<std::pair<std::string, std::string>, std::string>& All() const {
        return paths_;
    }
    // Takes a part's file as its own again (a batch cut short goes on).
    void Adopt(const headers::PartRef& part, const std::string& path) { paths_[KeyOf(part)] = path; }
    // Each file written and removed is noted there.
    void SetJournal(DownloadJournal* journal) { journal_ = journal; }

  private:
    using Key = std::pair<std::string, std::string>;  // group, article number
    static Key KeyOf(const headers::PartRef& part) {
        return {part.Group.str(), part.ArticleNumber};
    }

    std::map<Key, std::string> paths_;
    DownloadJournal* journal_ = nullptr;
};

}  // namespace quillfin::download
