#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/event_pump.h"
#include "download/download_journal.h"
#include "download/part_files.h"
#include "download/yenc_worker.h"
#include "headers/header_entry.h"
#include "storage/activity_log.h"
#include "storage/settings.h"

namespace quillfin::download {

// Files yEnc postings without the decoding library: each article is decoded as it arrives
// (on the worker's thread) into a "<article number>.part" file in the output folder, checked
// against its part checksum, and the finished file is linked into place under its own name.
// Nothing waits on disk as ".UUE" unless the posting fails and the user keeps bad decodes.
class YencFiler {
  public:
    YencFiler(const storage::Settings& settings, storage::ActivityLog& log, common::EventPump& pump,
              PartFiles& files);

    // Takes an article for decoding. False when the posting's file could not be made; the
    // reply is left untouched then, for the caller to keep.
    bool Store(const headers::HeaderEntry& entry, const headers::PartRef& part,
               const std::string& folder, std::string& reply);
    // Whether any article of the posting came this way.
    bool Holds(const headers::HeaderEntry& entry) const;
    // Each part written and each posting's file dropped is noted there.
    void SetJournal(DownloadJournal* journal) { journal_ = journal; }
    // Takes a posting's unfinished file as its own again, with the parts already in it.
    void Adopt(const headers::HeaderEntry& entry, const DownloadJournal::YencPosting& posting);
    // Forgets a posting and removes its unfinished file; returns the parts that were in it.
    std::vector<std::pair<std::string, std::string>> Discard(const headers::HeaderEntry& entry);
    // Where a part's decoded bytes lie in its posting's file, once the part was written whole
    // and passed its size and checksum checks; nullopt otherwise.
    struct Range {
        std::string path;
        std::int64_t offset = 0;
        std::int64_t length = 0;
    };
    std::optional<Range> CheckedPart(const headers::HeaderEntry& entry,
                                     const headers::PartRef& part);
    // The postings held now, as the journal keeps them.
    void Describe(DownloadJournal::State& state);

    // "folder: reason" for the first article the disk would not take since the last call;
    // the article is kept in memory and written again when its posting is filed.
    std::string TakeWriteFailure();

    enum class Result { kFiled, kFailed, kKeepBodies, kWriteFailed };
    // Files the posting whose parts are all retrieved, logging as the library's decode does;
    // safeName turns the name the data gives into the file's; decodedName is the path the file
    // has or would have had.
    using NameRule = std::function<std::string(const std::string&)>;
    Result File(headers::HeaderEntry& entry, const std::string& folder, const NameRule& safeName,
                std::string& decodedName);

  private:
    using Key = std::pair<std::string, std::string>;  // group, article number
    struct PartState {
        std::uint64_t job = 0;
        bool collected = false;
        bool savedRaw = false;  // the article failed and waits on disk as it came
        YencWorker::Outcome outcome;
    };
    struct Posting {
        std::string path;  // the file being written
        std::map<Key, PartState> parts;
    };
    // Writes again the articles the disk would not take; false when it still will not.
    bool RetryWrites(Posting& posting);
    // What the parts of one posting add up to when it is filed.
    struct Summary {
        std::string name;
        std::int64_t size = -1;
        std::string problem;
        bool complete = false;
    };

    static Key KeyOf(const headers::PartRef& part) {
        return {part.Group.str(), part.ArticleNumber};
    }
    // Takes the outcomes the worker has finished; puts the text of parts that failed on disk.
    void Collect();
    Summary Summarise(headers::HeaderEntry& entry, Posting& posting);
    bool MoveIntoPlace(const std::string& temp, const std::string& folder, const std::string& name,
                       std::string& placed);
    // One ".UUE" per part: the article as it came where it failed, else made again from the
    // decoded data; what the user keeps of a failed posting.
    // False when the disk would not take one.
    bool SaveParts(headers::HeaderEntry& entry, Posting& posting, const std::string& data,
                   const std::string& folder);
    void LogLine(const std::string& text) { log_.LogEvent(text, true); }

    const storage::Settings& settings_;
    storage::ActivityLog& log_;
    common::EventPump& pump_;
    PartFiles& files_;
    std::map<Key, Posting> postings_;  // by the key of the posting's first part
    std::string failure_;
    DownloadJournal* journal_ = nullptr;
    YencWorker worker_;
};

}  // namespace quillfin::download
