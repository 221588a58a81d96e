#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>

#include "download/yenc_worker.h"

namespace quillfin::download {

// What the batch has put on disk and not yet filed, one line a step, appended as it happens.
// A batch cut short by a crash or a kill then goes on from what is safely there instead of
// fetching and filing it again; what belongs to no queued posting any more is removed.
// Appending needs no flush to survive a killed program: the system holds what was written.
class DownloadJournal {
  public:
    using Key = std::pair<std::string, std::string>;  // group, article number

    struct YencPart {
        YencWorker::Outcome outcome;  // without the article
    };
    struct YencPosting {
        std::string path;
        std::map<Key, YencPart> parts;
    };
    struct State {
        std::map<Key, std::string> partFiles;     // part -> its ".UUE"
        std::map<Key, YencPosting> yencPostings;  // first part -> its ".part"
        std::map<Key, std::string> filed;         // first part -> the filed file
        std::map<std::string, Key> unfinished;    // files begun and never finished
    };

    // An empty path keeps no journal (the tests' decoders).
    explicit DownloadJournal(std::string path = {}) : path_(std::move(path)) {}

    // Before a part's file is written, and once it is whole: a file cut short by a kill is
    // known as such and removed.
    void PartWriting(const Key& part, const std::string& path);
    void PartStored(const Key& part, const std::string& path);
    void PartAbandoned(const std::string& path);
    void PartRemoved(const Key& part);
    // Before anything is written into it: a kill right after must not leave it unknown.
    void YencCreated(const Key& posting, const std::string& path);
    void YencWritten(const Key& posting, const std::string& path, const Key& part,
                     const YencWorker::Outcome& outcome);
    void YencDropped(const Key& posting);
    void Filed(const Key& posting, const std::string& path);

    // Replays the file; a damaged line is passed over.
    State Load() const;
    // Replaces the file with what state holds (filed postings are not kept).
    bool Rewrite(const State& state) const;

  private:
    void Append(const std::string& line) const;

    std::string path_;
};

}  // namespace quillfin::download
