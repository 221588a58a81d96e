#include "download/posting_decoder.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <filesystem>
#include <system_error>
#include <utility>

#include "common/text.h"
#include "download/child_decoder_library.h"
#include "download/file_names.h"
#include "download/download_journal.h"
#include "download/yenc_decoder.h"

namespace quillfin::download {

namespace {

DownloadJournal::Key KeyOf(const headers::PartRef& part) {
    return {part.Group.str(), part.ArticleNumber};
}

}  // namespace

PostingDecoder::PostingDecoder(headers::HeaderTable& table, headers::BatchQueue& batch,
                               const storage::Settings& settings, storage::ActivityLog& log,
                               common::EventPump& pump, DecoderLibrary& library)
    : table_(table),
      batch_(batch),
      settings_(settings),
      log_(log),
      pump_(pump),
      library_(library),
      yenc_(settings, log, pump, files_) {}

std::string PostingDecoder::SafeOrGenerated(std::string_view name, const char* generated,
                                            const char* what) {
    std::string safe = SafeName(name);
    if (safe == name) return safe;
    if (safe.empty()) safe = generated;
    LogLine(std::string("Unsafe ") + what + " \"" + PrintableName(name) + "\" saved as " + safe);
    return safe;
}

std::string PostingDecoder::GroupFolder(const std::string& group, bool logUnsafe) {
    std::string name =
        logUnsafe ? SafeOrGenerated(group, "newsgroup", "group name") : SafeName(group);
    if (name.empty()) name = "newsgroup";
    return FolderPrefix(settings_.Download_Path) + name;
}

void PostingDecoder::EnsureGroupFolder(const std::string& group) {
    std::error_code ignored;
    if (std::filesystem::is_directory(GroupFolder(group, false), ignored)) return;
    std::filesystem::create_directory(GroupFolder(group, true), ignored);
}

std::string PostingDecoder::OutputFolder(const headers::HeaderEntry& entry) {
    if (settings_.chkMakeSubDirs != 1 || entry.Parts.empty())
        return FolderPrefix(settings_.Download_Path);
    const std::string& group = entry.Parts.front().Group.str();
    EnsureGroupFolder(group);
    return GroupFolder(group, false) + "/";
}

void PostingDecoder::StorePart(std::int32_t index, std::int32_t part, std::string reply) {
    headers::HeaderEntry& entry = table_.Entry(index);
    headers::PartRef& ref = entry.Part(part);
    const std::string folder = OutputFolder(entry);
    if (LooksLikeYenc(reply) && yenc_.Store(entry, ref, folder, reply)) {
        ref.Body.clear();
        ref.Retrieved = true;
        return;
    }
    const std::string path = files_.Write(ref, folder, reply);
    if (path.empty()) {
        const int error = errno;
        LogLine("Error, cannot write temp file in " + folder + "; the article stays in memory");
        NoteWriteFailure(folder, error);
        ref.Body = std::move(reply);
    } else {
        LogLine("writing temp file:" + path);
        ref.Body.clear();
    }
    ref.Retrieved = true;
}

bool PostingDecoder::LoadParts(std::int32_t index, const std::string& folder, YencCheck& yenc) {
    headers::HeaderEntry& entry = table_.Entry(index);
    for (std::int32_t i = 1; i <= entry.PartCount(); ++i) {
        headers::PartRef& part = entry.Part(i);
        std::string path = files_.PathOf(part);
        if (path.empty() && !part.Body.empty()) {
            path = files_.Write(part, folder, part.Body.str());
            if (path.empty()) {
                // The text stays in memory for a later try: the user chose to drop failed
                // decodes, not articles the disk would not take.
                const int error = errno;
                LogLine("Error, cannot write temp file in " + folder);
                NoteWriteFailure(folder, error);
                keep_bodies_ = true;
                return false;
            }
            LogLine("writing temp file:" + path);
        } else if (path.empty()) {
            // Never the previous part's file again: that would load it twice.
            LogLine("decode_set error, no body for head item!");
        }
        log_.LogEvent("loading " + path + " into decoder...", false);
        const int code = library_.LoadFile(path);
        if (code != 0) {
            LogLine("decode err (UULoadFile) " + common::Str(code));
            if (code == ChildDecoderLibrary::kChildFailed) LogLibraryMessage();
            return false;
        }
        yenc.AddPartFile(path);
        pump_.Pump();
    }
    return true;
}

bool PostingDecoder::RunDecoder(const std::string& folder, const YencCheck& yenc,
                                std::string& decodedName) {
    const int item = library_.FirstItem();
    if (item == 0) {
        LogLine("decode err -- uud reports nothing to decode");
        return false;
    }
    LogLine("Decoder ready, attachment found.");
    const std::string name = library_.ItemFileName(item);
    const std::string filtered = name.empty() ? name : library_.FilterFileName(name);
    decodedName = UniquePath(folder, SafeOrGenerated(filtered, "attachment", "file name"));
    const DecoderLibrary::DecodeResult result = library_.Decode(item, decodedName);
    if (result.ok) {
        // The library leaves its output readable by the owner alone; a downloaded file gets
        // the permissions any new file of the user's gets.
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::chmod(decodedName.c_str(), 0666 & ~mask);
        const std::string problem = yenc.Verify(decodedName, &pump_);
        if (problem.empty()) return true;
        // The damaged file stays for the user to judge; the log says what is wrong with it.
        LogLine("decode err -- " + problem);
        return false;
    }
    LogLine("decode err (uuret:" + common::Str(result.code) +
            "  mvret:" + common::Str(result.moveCode) + ")");
    // The library could not write the file: the disk's fault, not the posting's.
    if (result.code == 1) NoteWriteFailure(folder, result.moveCode);
    // An I/O error, or the decoder's process lost: the library says what happened.
    if (result.code == 1 || result.code == ChildDecoderLibrary::kChildFailed) LogLibraryMessage();
    return false;
}

void PostingDecoder::LogLibraryMessage() {
    std::string message;
    int severity = 0;
    if (library_.Message(message, severity))
        LogLine(message + " (severity:" + common::Str(severity) + ")");
}

void PostingDecoder::RemoveTempFiles(std::int32_t index) {
    headers::HeaderEntry& entry = table_.Entry(index);
    for (headers::PartRef& part : entry.Parts) {
        const std::string path = files_.PathOf(part);
        if (!path.empty()) {
            LogLine("Removing temp file:" + path);
            files_.Remove(part);
        }
        if (!keep_bodies_) part.Body.clear();
    }
}

void PostingDecoder::NoteWriteFailure(const std::string& folder, int error) {
    if (!write_failure_.empty()) return;
    write_failure_ = folder + ": " + (error != 0 ? std::strerror(error) : "input/output error");
}

std::string PostingDecoder::TakeWriteFailure() {
    if (write_failure_.empty()) write_failure_ = yenc_.TakeWriteFailure();
    return std::exchange(write_failure_, std::string());
}

void PostingDecoder::SetJournal(const std::string& path) {
    journal_ = DownloadJournal(path);
    files_.SetJournal(&journal_);
    yenc_.SetJournal(&journal_);
}

void PostingDecoder::Resume() {
    DownloadJournal::State saved = journal_.Load();
    DownloadJournal::State kept;
    std::error_code ignored;
    for (std::int32_t i = 1; i <= table_.HeaderCount(); ++i) {
        headers::HeaderEntry& entry = table_.Entry(i);
        if (entry.Parts.empty() || !entry.InBatch) continue;
        const DownloadJournal::Key first = KeyOf(entry.Parts.front());
        if (auto filed = saved.filed.find(first); filed != saved.filed.end()) {
            // Filed, and the program stopped before the batch could say so.
            LogLine(filed->second + " was filed before the program stopped");
            filed_.insert(*filed);
            batch_.RemoveFromBatch(i);
            continue;
        }
        for (headers::PartRef& part : entry.Parts) {
            auto found = saved.partFiles.find(KeyOf(part));
            if (found == saved.partFiles.end()) continue;
            if (std::filesystem::is_regular_file(found->second, ignored)) {
                files_.Adopt(part, found->second);
                part.Retrieved = true;
                kept.partFiles.insert(*found);
            }
            saved.partFiles.erase(found);
        }
        auto yenc = saved.yencPostings.find(first);
        if (yenc == saved.yencPostings.end()) continue;
        if (std::filesystem::is_regular_file(yenc->second.path, ignored)) {
            yenc_.Adopt(entry, yenc->second);
            for (headers::PartRef& part : entry.Parts)
                if (yenc->second.parts.contains(KeyOf(part))) part.Retrieved = true;
            kept.yencPostings.insert(*yenc);
        }
        saved.yencPostings.erase(yenc);
    }
    // What belongs to no queued posting any more would lie there for ever.
    for (const auto& [key, path] : saved.partFiles) std::remove(path.c_str());
    for (const auto& [path, key] : saved.unfinished) std::remove(path.c_str());
    for (const auto& [key, posting] : saved.yencPostings) std::remove(posting.path.c_str());
    journal_.Rewrite(kept);
}

void PostingDecoder::Discard(std::int32_t index) {
    if (index < 1 || index > table_.HeaderCount()) return;
    headers::HeaderEntry& entry = table_.Entry(index);
    const std::vector<DownloadJournal::Key> held = yenc_.Discard(entry);
    for (headers::PartRef& part : entry.Parts) {
        const bool inFile = std::find(held.begin(), held.end(), KeyOf(part)) != held.end();
        if (!inFile && files_.PathOf(part).empty() && part.Body.empty()) continue;
        if (!kept_for_user_.contains(KeyOf(part))) files_.Remove(part);
        part.Body.clear();
        part.Retrieved = false;
    }
}

std::optional<PostingDecoder::StoredPart> PostingDecoder::Stored(const headers::HeaderEntry& entry,
                                                                 const headers::PartRef& part) {
    std::error_code ignored;
    // The user may have moved or deleted any of these since.
    const auto there = [&](const std::string& path) {
        return !path.empty() && std::filesystem::is_regular_file(path, ignored);
    };
    if (const std::string path = files_.PathOf(part); there(path))
        return StoredPart{path, true, 0, -1};
    if (auto range = yenc_.CheckedPart(entry, part); range && there(range->path))
        return StoredPart{range->path, false, range->offset, range->length};
    if (entry.Parts.empty()) return std::nullopt;
    auto filed = filed_.find(KeyOf(entry.Parts.front()));
    if (filed != filed_.end() && there(filed->second))
        return StoredPart{filed->second, false, 0, -1};
    return std::nullopt;
}

void PostingDecoder::CompactJournal() {
    DownloadJournal::State state;
    for (const auto& [key, path] : files_.All())
        if (!kept_for_user_.contains(key)) state.partFiles[key] = path;
    yenc_.Describe(state);
    journal_.Rewrite(state);
}

void PostingDecoder::Cancel() {
    cancelled_ = true;
    library_.Cancel();
}

bool PostingDecoder::DecodeYencPosting(std::int32_t index) {
    std::string decodedName;
    const auto rule = [this](const std::string& name) {
        return SafeOrGenerated(name, "attachment", "file name");
    };
    const YencFiler::Result result =
        yenc_.File(table_.Entry(index), OutputFolder(table_.Entry(index)), rule, decodedName);
    keep_bodies_ = result == YencFiler::Result::kKeepBodies;
    if (result == YencFiler::Result::kWriteFailed) {
        if (write_failure_.empty()) write_failure_ = yenc_.TakeWriteFailure();
        return false;  // queued still, with all it has: the next try writes it
    }
    return Finish(index, result == YencFiler::Result::kFiled, decodedName);
}

bool PostingDecoder::Finish(std::int32_t index, bool ok, const std::string& decodedName) {
    // A disk that would not take the posting, or a stop, is no bad decode: it stays queued
    // with its parts.
    if (!ok && (!write_failure_.empty() || cancelled_)) return false;
    const headers::HeaderEntry& entry = table_.Entry(index);
    if (ok && !entry.Parts.empty()) {
        journal_.Filed(KeyOf(entry.Parts.front()), decodedName);
        filed_[KeyOf(entry.Parts.front())] = decodedName;
        filed_since_.push_back(decodedName);
    }
    if (!ok && settings_.chkSaveDecodes == 1) {
        for (const headers::PartRef& part : entry.Parts) {
            if (files_.PathOf(part).empty()) continue;
            kept_for_user_.insert(KeyOf(part));
            journal_.PartRemoved(KeyOf(part));
        }
    }
    if (ok || settings_.chkSaveDecodes != 1) RemoveTempFiles(index);
    LogLine(decodedName + (ok ? " decode successful... " : " decode error... "));
    batch_.RemoveFromBatch(index);
    return ok;
}

bool PostingDecoder::DecodePosting(std::int32_t index) {
    if (index < 1 || index > table_.HeaderCount()) return false;
    write_failure_.clear();  // what is decided below is about this decode alone
    cancelled_ = false;
    if (yenc_.Holds(table_.Entry(index))) return DecodeYencPosting(index);
    library_.ExpectSize(table_.Entry(index).Size);
    if (!library_.StartRun()) {
        // The posting stays queued with its parts: a later batch decodes it.
        LogLine("decode err -- the decoder is busy with another posting");
        return false;
    }
    const std::string folder = OutputFolder(table_.Entry(index));
    std::string decodedName;
    bool ok = false;
    keep_bodies_ = false;
    try {
        YencCheck yenc;
        ok = LoadParts(index, folder, yenc) && RunDecoder(folder, yenc, decodedName);
    } catch (const std::exception& e) {
        LogLine(std::string("decode err -- ") + e.what());
        ok = false;
    }
    library_.EndRun();
    return Finish(index, ok, decodedName);
}

}  // namespace quillfin::download
