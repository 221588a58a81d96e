#include "download/yenc_filer.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <utility>
#include <vector>

#include "download/file_names.h"

namespace quillfin::download {

namespace {

constexpr int kMaxTries = 100;

std::string Hex(std::uint32_t value) {
    char text[9] = {};
    std::to_chars(text, text + 8, value, 16);
    return text;
}

// A yEnc article of one part of a file, as a decoder reads it: what is kept of a good part
// when its posting fails, since the article itself was never stored.
std::string EncodePart(const headers::PartRef& ref, const YencHeader& h, std::string_view data,
                       std::uint32_t crc) {
    std::string out =
        "Subject: " + ref.Subject.str() + "\r\n\r\n=ybegin part=" + std::to_string(h.part) +
        " total=" + std::to_string(h.total) + " line=128 size=" + std::to_string(h.size) +
        " name=" + h.name + "\r\n=ypart begin=" + std::to_string(h.begin) +
        " end=" + std::to_string(h.end) + "\r\n";
    int column = 0;
    for (unsigned char c : data) {
        const auto e = static_cast<unsigned char>(c + 42);
        // Escaped as yEnc asks: NUL, LF, CR, '=', and a blank, tab or dot that starts a line.
        if (e == 0 || e == '\n' || e == '\r' || e == '=' ||
            (column == 0 && (e == ' ' || e == '\t' || e == '.'))) {
            out += '=';
            out += char(e + 64);
            column += 2;
        } else {
            out += char(e);
            ++column;
        }
        if (column >= 128) {
            out += "\r\n";
            column = 0;
        }
    }
    if (column > 0) out += "\r\n";
    return out + "=yend size=" + std::to_string(data.size()) + " part=" + std::to_string(h.part) +
           " pcrc32=" + Hex(crc) + "\r\n";
}

// Creates a new, empty file: never one that exists, never through a link.
bool CreateNew(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

}  // namespace

YencFiler::YencFiler(const storage::Settings& settings, storage::ActivityLog& log,
                     common::EventPump& pump, PartFiles& files)
    : settings_(settings), log_(log), pump_(pump), files_(files) {}

bool YencFiler::Holds(const headers::HeaderEntry& entry) const {
    return !entry.Parts.empty() && postings_.contains(KeyOf(entry.Parts.front()));
}

bool YencFiler::Store(const headers::HeaderEntry& entry, const headers::PartRef& part,
                      const std::string& folder, std::string& reply) {
    if (entry.Parts.empty()) return false;
    const Key key = KeyOf(entry.Parts.front());
    auto found = postings_.find(key);
    if (found == postings_.end()) {
        std::string name = SafeName(entry.Parts.front().ArticleNumber.str());
        if (name.empty()) name = "article";
        std::string path;
        for (int tries = 0; tries < kMaxTries && path.empty(); ++tries) {
            path = UniquePath(folder, name + ".part");
            if (path.empty()) break;
            if (!CreateNew(path)) {
                // Taken meanwhile: the next name. Free and still failing: the folder is not ours.
                if (UniquePath(folder, name + ".part") == path) return false;
                path.clear();
            }
        }
        if (path.empty()) return false;
        if (journal_ != nullptr) journal_->YencCreated(key, path);
        found = postings_.emplace(key, Posting{path, {}}).first;
    }
    Collect();
    PartState& state = found->second.parts[KeyOf(part)];
    state = PartState{};
    state.job = worker_.Submit(found->second.path, std::move(reply));
    reply.clear();
    return true;
}

void YencFiler::Collect() {
    for (auto& [key, posting] : postings_) {
        for (auto& [partKey, state] : posting.parts) {
            if (state.collected) continue;
            auto outcome = worker_.Take(state.job);
            if (!outcome) continue;
            state.collected = true;
            state.outcome = std::move(*outcome);
            if (journal_ != nullptr && state.outcome.writeError.empty())
                journal_->YencWritten(key, posting.path, partKey, state.outcome);
            std::string& article = state.outcome.article;
            if (!state.outcome.writeError.empty()) {
                // A part the disk would not take stays in memory: that is no bad decode.
                if (failure_.empty())
                    failure_ = posting.path.substr(0, posting.path.rfind('/') + 1) + ": " +
                               state.outcome.writeError;
                continue;
            }
            if (article.empty()) continue;
            if (settings_.chkSaveDecodes == 1) {
                // The article the user may want to look at, as the library's path keeps it;
                // logged with the others when the posting fails, which it now will.
                headers::PartRef ref;
                ref.Group = headers::GroupName(partKey.first);
                ref.ArticleNumber = partKey.second;
                const std::string folder = posting.path.substr(0, posting.path.rfind('/') + 1);
                state.savedRaw = !files_.Write(ref, folder, article).empty();
                if (!state.savedRaw) continue;
            }
            std::string().swap(article);
        }
    }
}

void YencFiler::Adopt(const headers::HeaderEntry& entry,
                      const DownloadJournal::YencPosting& saved) {
    if (entry.Parts.empty()) return;
    Posting& posting = postings_[KeyOf(entry.Parts.front())];
    posting.path = saved.path;
    for (const auto& [key, part] : saved.parts) {
        PartState& state = posting.parts[key];
        state.collected = true;
        state.outcome = part.outcome;
    }
}

std::vector<YencFiler::Key> YencFiler::Discard(const headers::HeaderEntry& entry) {
    std::vector<Key> held;
    auto found = entry.Parts.empty() ? postings_.end() : postings_.find(KeyOf(entry.Parts.front()));
    if (found == postings_.end()) return held;
    // Called from inside a reply handler: no events run here, the worker's queue is short.
    common::NoEventPump none;
    worker_.WaitIdle(none);
    Collect();
    for (const auto& [key, state] : found->second.parts) held.push_back(key);
    std::remove(found->second.path.c_str());
    if (journal_ != nullptr) journal_->YencDropped(found->first);
    postings_.erase(found);
    return held;
}

std::optional<YencFiler::Range> YencFiler::CheckedPart(const headers::HeaderEntry& entry,
                                                       const headers::PartRef& part) {
    auto found = entry.Parts.empty() ? postings_.end() : postings_.find(KeyOf(entry.Parts.front()));
    if (found == postings_.end()) return std::nullopt;
    auto state = found->second.parts.find(KeyOf(part));
    if (state == found->second.parts.end()) return std::nullopt;
    if (!state->second.collected) {
        // Asked from the GUI thread: no events run here, the worker's queue is short.
        common::NoEventPump none;
        worker_.WaitIdle(none);
        Collect();
    }
    const YencWorker::Outcome& o = state->second.outcome;
    if (!state->second.collected || !o.writeError.empty() || !o.problem.empty() ||
        o.header.begin < 1 || o.length != o.header.end - o.header.begin + 1)
        return std::nullopt;
    return Range{found->second.path, o.header.begin - 1, o.length};
}

void YencFiler::Describe(DownloadJournal::State& state) {
    for (const auto& [key, posting] : postings_) {
        DownloadJournal::YencPosting& saved = state.yencPostings[key];
        saved.path = posting.path;
        for (const auto& [partKey, part] : posting.parts) {
            if (!part.collected || !part.outcome.writeError.empty()) continue;
            saved.parts[partKey].outcome = part.outcome;
            saved.parts[partKey].outcome.article.clear();
        }
    }
}

std::string YencFiler::TakeWriteFailure() {
    Collect();
    return std::exchange(failure_, std::string());
}

bool YencFiler::RetryWrites(Posting& posting) {
    bool retried = false;
    for (auto& [key, state] : posting.parts) {
        if (!state.collected || state.outcome.writeError.empty()) continue;
        state.job = worker_.Submit(posting.path, std::move(state.outcome.article));
        state.collected = false;
        retried = true;
    }
    if (!retried) return true;
    worker_.WaitIdle(pump_);
    Collect();
    for (auto& [key, state] : posting.parts)
        if (!state.outcome.writeError.empty()) return false;
    failure_.clear();
    return true;
}

YencFiler::Summary YencFiler::Summarise(headers::HeaderEntry& entry, Posting& posting) {
    Summary s;
    std::optional<std::uint32_t> fileCrc;
    struct Range {
        std::int64_t begin, end;
        std::uint32_t crc;
    };
    std::vector<Range> ranges;
    for (headers::PartRef& part : entry.Parts) {
        auto found = posting.parts.find(KeyOf(part));
        if (found == posting.parts.end() || !found->second.collected) {
            if (files_.PathOf(part).empty() && part.Body.empty())
                LogLine("decode_set error, no body for head item!");
            continue;
        }
        const YencWorker::Outcome& o = found->second.outcome;
        if (s.problem.empty()) s.problem = o.writeError.empty() ? o.problem : o.writeError;
        if (s.name.empty()) s.name = o.header.name;
        if (s.size < 0) s.size = o.header.size;
        if (!fileCrc && o.header.part != 0) fileCrc = o.header.fileCrc;
        if (o.header.begin >= 1 && o.header.end >= o.header.begin && o.writeError.empty())
            ranges.push_back({o.header.begin, o.header.end, o.crc});
    }
    std::sort(ranges.begin(), ranges.end(),
              [](const Range& a, const Range& b) { return a.begin < b.begin; });
    // Complete when the ranges cover the file from its first byte to its last.
    std::int64_t covered = 0;
    std::uint32_t crc = 0;
    bool tiled = true;
    for (const Range& r : ranges) {
        if (r.begin > covered + 1) break;
        tiled = tiled && r.begin == covered + 1;
        if (tiled) crc = Crc32Combine(crc, r.crc, r.end - r.begin + 1);
        covered = std::max(covered, r.end);
    }
    s.complete = s.size >= 0 && covered >= s.size;
    if (covered > s.size && s.size >= 0 && s.problem.empty())
        s.problem = "yEnc parts reach past the file's " + std::to_string(s.size) + " bytes";
    if (!s.complete) {
        s.problem = "yEnc data incomplete: " + std::to_string(covered) + " of " +
                    std::to_string(std::max<std::int64_t>(s.size, 0)) + " bytes";
    } else if (s.problem.empty() && fileCrc && tiled && crc != *fileCrc) {
        s.problem = "yEnc checksum mismatch in the file (expected " + Hex(*fileCrc) + ")";
    }
    return s;
}

YencFiler::Result YencFiler::File(headers::HeaderEntry& entry, const std::string& folder,
                                  const NameRule& safeName, std::string& decodedName) {
    auto found = entry.Parts.empty() ? postings_.end() : postings_.find(KeyOf(entry.Parts.front()));
    if (found == postings_.end()) return Result::kFailed;
    worker_.WaitIdle(pump_);
    Collect();
    Posting& posting = found->second;
    if (!RetryWrites(posting)) return Result::kWriteFailed;
    for (headers::PartRef& part : entry.Parts) {
        auto state = posting.parts.find(KeyOf(part));
        if (state != posting.parts.end() && !state->second.outcome.article.empty())
            part.Body = std::move(state->second.outcome.article);
    }
    Summary s = Summarise(entry, posting);
    LogLine("Decoder ready, attachment found.");
    // Folders in the name are dropped, as the library drops them from the names it reads.
    const std::size_t slash = s.name.find_last_of("/\\");
    const std::string name =
        safeName(slash == std::string::npos ? s.name : s.name.substr(slash + 1));
    // What the disk refuses leaves the posting as it is, for the next try.
    auto refused = [&] {
        failure_ = folder + ": " + std::strerror(errno);
        return Result::kWriteFailed;
    };
    bool placed = false;
    if (s.complete) {
        // The data is all there, damaged or not: the user judges a damaged file, as ever.
        // A part that reached past the end (a damaged =ypart line) must not lengthen the file.
        if (::truncate(posting.path.c_str(), off_t(s.size)) != 0) return refused();
        placed = MoveIntoPlace(posting.path, folder, name, decodedName);
        if (!placed) return refused();
    } else {
        decodedName = UniquePath(folder, name);
    }
    const bool ok = placed && s.problem.empty();
    if (!s.problem.empty()) LogLine("decode err -- " + s.problem);
    if (!ok && settings_.chkSaveDecodes == 1 &&
        !SaveParts(entry, posting, placed ? decodedName : posting.path, folder))
        return refused();
    if (!placed) std::remove(posting.path.c_str());
    bool bodies = false;
    for (const headers::PartRef& part : entry.Parts) bodies = bodies || !part.Body.empty();
    if (journal_ != nullptr) journal_->YencDropped(found->first);
    postings_.erase(found);
    if (ok) return Result::kFiled;
    return bodies ? Result::kKeepBodies : Result::kFailed;
}

bool YencFiler::MoveIntoPlace(const std::string& temp, const std::string& folder,
                              const std::string& name, std::string& placed) {
    for (int tries = 0; tries < kMaxTries; ++tries) {
        placed = UniquePath(folder, name);
        if (placed.empty()) break;
        // A hard link never replaces anything, not even a link of that name made meanwhile.
        if (::link(temp.c_str(), placed.c_str()) == 0) {
            ::unlink(temp.c_str());
            return true;
        }
        if (errno == EEXIST) continue;
        if (errno != EPERM && errno != ENOTSUP && errno != EMLINK) return false;
        // A file system without hard links: a rename that refuses to replace.
        if (::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, placed.c_str(), RENAME_NOREPLACE) == 0)
            return true;
        if (errno == EEXIST) continue;
        return false;
    }
    errno = EEXIST;
    return false;
}

bool YencFiler::SaveParts(headers::HeaderEntry& entry, Posting& posting, const std::string& data,
                          const std::string& folder) {
    std::ifstream in(data, std::ios::binary);
    for (headers::PartRef& part : entry.Parts) {
        auto found = posting.parts.find(KeyOf(part));
        if (found == posting.parts.end()) continue;
        if (found->second.savedRaw) {
            LogLine("writing temp file:" + files_.PathOf(part));
            continue;
        }
        const YencWorker::Outcome& o = found->second.outcome;
        const YencHeader& h = o.header;
        if (!o.writeError.empty() || h.begin < 1 || h.end < h.begin) continue;
        std::string bytes(std::size_t(h.end - h.begin + 1), '\0');
        in.clear();
        in.seekg(h.begin - 1);
        in.read(bytes.data(), std::streamsize(bytes.size()));
        bytes.resize(std::size_t(in.gcount()));
        const std::string path = files_.Write(part, folder, EncodePart(part, h, bytes, o.crc));
        if (path.empty()) return false;
        LogLine("writing temp file:" + path);
        pump_.PumpIfDue();
    }
    return true;
}

}  // namespace quillfin::download
