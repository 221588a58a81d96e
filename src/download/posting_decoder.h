#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <set>
#include <string_view>
#include <utility>
#include <vector>

#include "common/event_pump.h"
#include "download/decoder_library.h"
#include "download/part_files.h"
#include "download/yenc_check.h"
#include "download/yenc_filer.h"
#include "headers/batch_queue.h"
#include "headers/header_table.h"
#include "storage/activity_log.h"
#include "storage/settings.h"

namespace quillfin::download {

// Files a posting whose parts are all retrieved: the parts wait on disk as ".UUE" files in
// the posting's output folder, the decoder library turns them into the attachment there, and
// the posting leaves the batch whatever the outcome.
class PostingDecoder {
  public:
    PostingDecoder(headers::HeaderTable& table, headers::BatchQueue& batch,
                   const storage::Settings& settings, storage::ActivityLog& log,
                   common::EventPump& pump, DecoderLibrary& library);

    // Stores a retrieved article: a yEnc one is decoded into its file as it comes, any other
    // waits on disk. Its text stays in the part's Body only when it could not be written, so
    // nothing is lost.
    void StorePart(std::int32_t index, std::int32_t part, std::string reply);
    // true when the library decoded the attachment.
    bool DecodePosting(std::int32_t index);
    // Ends a decode that is under way (the batch was stopped): its posting stays queued.
    void Cancel();

    // Keeps a journal of what the batch puts on disk in this file.
    void SetJournal(const std::string& path);
    // At start-up: queued postings take back what a batch cut short left on disk, postings
    // filed meanwhile leave the batch, and what belongs to no queued posting is removed.
    void Resume();
    // A posting taken out of the batch (by the user, or for a missing article): what was
    // fetched for it is removed, and its parts are fetched anew if it is queued again.
    void Discard(std::int32_t index);
    // When a batch has ended: the journal keeps only what is still held.
    void CompactJournal();
    // Creates Download_Path/<group> when missing; failures are ignored.
    void EnsureGroupFolder(const std::string& group);
    // The folder a posting's files go to, with a trailing '/'.
    std::string OutputFolder(const headers::HeaderEntry& entry);

    const PartFiles& Files() const { return files_; }
    // The files filed since the last call, as full paths.
    std::vector<std::string> TakeFiled() { return std::exchange(filed_since_, {}); }

    // What the batch already has of a part on disk, for a reader that would otherwise fetch
    // it again: the article as the decoder reads it, or decoded bytes (length bytes from
    // offset; -1 to the end of the file).
    struct StoredPart {
        std::string path;
        bool article = false;
        std::int64_t offset = 0;
        std::int64_t length = -1;
    };
    // The part's ".UUE", else its yEnc bytes when they were written whole and passed their
    // checks, else the file its posting was filed as this run; nullopt when none is there.
    std::optional<StoredPart> Stored(const headers::HeaderEntry& entry,
                                     const headers::PartRef& part);
    // "folder: reason" for the first write that failed since the last call; empty when none.
    // The posting it belongs to stays queued with what was fetched, in memory if need be, so
    // the batch can stop there and go on once the disk takes it.
    std::string TakeWriteFailure();

  private:
    // The safe form of an outside name; a generated one, logged, when none is left.
    std::string SafeOrGenerated(std::string_view name, const char* generated, const char* what);
    // Download_Path/<safe group>, without the trailing '/'.
    std::string GroupFolder(const std::string& group, bool logUnsafe);
    bool LoadParts(std::int32_t index, const std::string& folder, YencCheck& yenc);
    bool RunDecoder(const std::string& folder, const YencCheck& yenc, std::string& decodedName);
    bool DecodeYencPosting(std::int32_t index);
    // Logs the outcome and takes the posting out of the batch.
    bool Finish(std::int32_t index, bool ok, const std::string& decodedName);
    void RemoveTempFiles(std::int32_t index);
    void LogLibraryMessage();
    void LogLine(const std::string& text) { log_.LogEvent(text, true); }
    void NoteWriteFailure(const std::string& folder, int error);

    headers::HeaderTable& table_;
    headers::BatchQueue& batch_;
    const storage::Settings& settings_;
    storage::ActivityLog& log_;
    common::EventPump& pump_;
    DecoderLibrary& library_;
    PartFiles files_;
    YencFiler yenc_;
    // A part's text could not be written this run; its Body must survive the clean-up.
    bool keep_bodies_ = false;
    std::string write_failure_;
    bool cancelled_ = false;
    DownloadJournal journal_;
    // Parts of failed decodes kept for the user: no longer the journal's to remove.
    std::set<DownloadJournal::Key> kept_for_user_;
    // Postings filed this run, by their first part: the file each became.
    std::map<DownloadJournal::Key, std::string> filed_;
    std::vector<std::string> filed_since_;
};

}  // namespace quillfin::download
