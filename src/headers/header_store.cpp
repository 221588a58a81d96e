#include "headers/header_store.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>
#include <vector>

#include "common/heap.h"
#include "common/text.h"
#include "headers/header_file_reader.h"
#include "headers/header_file_writer.h"
#include "headers/message_id.h"
#include "storage/program_files.h"

namespace quillfin::headers {

namespace {

constexpr std::int32_t kInt32Max = std::numeric_limits<std::int32_t>::max();

// The progress bar moves about 90 times whatever the size.
std::int64_t ProgressStep(std::int64_t count) {
    return std::max<std::int64_t>(1, common::RoundHalfEven(double(count) / 90.0));
}

// A number line as this program writes it, blanks around allowed. Anything else is damage:
// reading it by its leading number would silently shift every later record.
bool ParseNumber(std::string_view text, std::int64_t* value) {
    std::string_view t = common::TrimView(text);
    if (!common::IsDecimalNumber(t)) return false;
    *value = common::WholeValue(t);
    return true;
}

bool ParseInt32(std::string_view text, std::int32_t* value) {
    std::int64_t wide = 0;
    if (!ParseNumber(text, &wide) || wide > kInt32Max ||
        wide < std::numeric_limits<std::int32_t>::min())
        return false;
    *value = std::int32_t(wide);
    return true;
}

enum class Outcome { kWhole, kPartial, kNothing };

class PostingReader {
  public:
    PostingReader(HeaderFileReader& reader, std::string* problem)
        : reader_(reader), problem_(*problem) {}

    // Reads one posting record with its parts. kPartial: the parts read before the damage
    // are in entry and worth keeping.
    Outcome Read(HeaderEntry* entry) {
        std::string line;
        if (!Next(&entry->Subject) || !Next(&line)) return Outcome::kNothing;
        entry->Group = line;
        if (!Next(&line)) return Outcome::kNothing;
        entry->Date = line;
        if (!Next(&line)) return Outcome::kNothing;
        entry->From = line;
        if (!Next(&line)) return Outcome::kNothing;
        std::optional<bool> in_batch = common::ParseBoolean(common::TrimView(line));
        if (!in_batch) return Bad("is neither True nor False");
        entry->InBatch = *in_batch;
        std::int32_t count = 0;
        if (!Next(&line)) return Outcome::kNothing;
        if (!ParseInt32(line, &entry->PartTotal)) return Bad("is not a part total");
        if (!Next(&line)) return Outcome::kNothing;
        if (!ParseInt32(line, &count) || count < 0) return Bad("is not a part count");
        // Each part takes at least four bytes, so a bogus count cannot reserve much.
        entry->Parts.reserve(std::size_t(std::min<std::int64_t>(count, reader_.BytesLeft() / 4)));
        std::string group;
        std::string number;
        for (std::int32_t p = 1; p <= count; ++p) {
            PartRef part;
            bool whole = Next(&line);
            if (whole && !ParseInt32(line, &part.Bytes)) {
                Bad("is not a byte count");
                whole = false;
            }
            whole = whole && Next(&number) && Next(&group) && Next(&line);
            if (!whole) return entry->Parts.empty() ? Outcome::kNothing : Outcome::kPartial;
            part.ArticleNumber = number;
            part.Subject = entry->Parts.empty() ? PartSubject(line)
                                                : PartSubject(line, entry->Parts.front().Subject);
            part.Group = group.empty() ? entry->Group : GroupName(group);
            entry->Size += part.Bytes;
            entry->Parts.push_back(std::move(part));
        }
        return Outcome::kWhole;
    }

  private:
    bool Next(std::string* line) {
        if (reader_.NextLine(line)) return true;
        problem_ = reader_.Failed()
                       ? reader_.Error()
                       : "it ends early after line " + std::to_string(reader_.LineNumber());
        return false;
    }
    Outcome Bad(const char* what) {
        problem_ = "line " + std::to_string(reader_.LineNumber()) + " " + what;
        return Outcome::kNothing;
    }

    HeaderFileReader& reader_;
    std::string& problem_;
};

}  // namespace

struct HeaderStore::LoadResult {
    HeaderTable::EntryList entries;
    std::string problem;
};

HeaderStore::HeaderStore(HeaderTable& table, BatchQueue& batch, common::MainViewState& view,
                         storage::ActivityLog& log, common::Prompts& prompts,
                         common::EventPump& pump, const common::Clock& clock,
                         std::string program_dir)
    : table_(table),
      batch_(batch),
      view_(view),
      log_(log),
      prompts_(prompts),
      pump_(pump),
      clock_(clock),
      program_dir_(std::move(program_dir)) {}

std::string HeaderStore::FilePath() const { return storage::ProgramFile(program_dir_, kFileName); }

std::string HeaderStore::ImportedFilePath() const {
    return storage::ProgramFile(program_dir_, kImportedFileName);
}

std::string HeaderStore::DamagedCopyPath() const { return FilePath() + ".damaged"; }

void HeaderStore::Report(const std::string& text) {
    log_.LogEvent(text, true);
    prompts_.Message(text);
}

void HeaderStore::SaveHeadersCommand(const std::function<void()>& save_group_list) {
    if (!table_.HeadersChanged &&
        !prompts_.AskYesNo("Headers not changed since last save.  Save anyway?", "Save Headers"))
        return;
    // The newsgroup list holds each group's lastRead: ahead of the header file it would make
    // the next scan skip articles whose headers never reached the disk.
    if (SaveHeaders() && save_group_list) save_group_list();
}

bool HeaderStore::SaveFailed(const std::string& text) {
    last_failure_ = text;
    log_.LogEvent("Headers could not be saved: " + text, true);
    if (show_failure_) prompts_.Message("Headers could not be saved: " + text);
    return false;
}

bool HeaderStore::DeleteFile(const std::string& path) {
    if (::unlink(path.c_str()) == 0 || errno == ENOENT) return true;
    return SaveFailed("cannot delete " + path + ": " + std::strerror(errno));
}

bool HeaderStore::FailSave(const std::string& reason) {
    table_.HeadersChanged = true;
    return SaveFailed(reason);
}

bool HeaderStore::SaveHeaders(bool show_failure) {
    if (saving_) {  // a Save reached again while this one pumps events
        last_failure_ = "a save is already running";
        return false;
    }
    saving_ = true;
    show_failure_ = show_failure;
    const common::TimePoint started = clock_.Now();
    view_.cmdSaveHeadersEnabled = false;
    view_.Touch();
    auto finish = [this](bool ok) {
        view_.cmdSaveHeadersEnabled = true;
        view_.Touch();
        wait_.visible = false;
        wait_.Touch();
        saving_ = false;
        return ok;
    };

    // Chosen up front, so the count line matches the records even when a command handled
    // during a pause deletes or queues postings. Postings from NZB files go to a file of their
    // own: npending.dat keeps article numbers only.
    std::vector<std::int32_t> chosen;
    std::vector<std::int32_t> imported;
    for (std::int32_t i = 1; i <= table_.HeaderCount(); ++i) {
        const HeaderEntry& entry = table_.Entry(i);
        if (entry.InBatch || !entry.Deleted)
            (IsImportedPosting(entry) ? imported : chosen).push_back(i);
    }
    if (chosen.empty() && imported.empty())  // an empty table is no file
        return finish(DeleteFile(FilePath()) && DeleteFile(ImportedFilePath()));
    std::int64_t parts = 0;
    if (!WritePostings(FilePath(), kMagic, chosen, &parts) ||
        !WritePostings(ImportedFilePath(), kImportedMagic, imported, &parts))
        return finish(false);
    LogSaved(parts, started);
    return finish(true);
}

bool HeaderStore::WritePostings(const std::string& path, const char* magic,
                                const std::vector<std::int32_t>& chosen, std::int64_t* parts) {
    if (chosen.empty()) return DeleteFile(path);
    HeaderFileWriter writer(path);
    if (!writer.Open()) return FailSave(writer.Error());
    writer.WriteLine(magic);
    writer.WriteNumberLine(std::int64_t(chosen.size()));
    wait_ = {true, "Saving Headers", {0, table_.HeaderCount()}, wait_.revision + 1};

    // Cleared before the pauses: a change made meanwhile sets it again and is not lost.
    table_.HeadersChanged = false;
    const std::int64_t step = ProgressStep(table_.HeaderCount());
    std::int64_t since_progress = 0;
    char number[24];
    std::string subject;
    for (std::int32_t index : chosen) {
        if (writer.Failed()) break;
        const HeaderEntry& entry = table_.Entry(index);
        writer.WriteLine(entry.Subject);
        writer.WriteLine(entry.Group.str());
        writer.WriteLine(entry.Date.str());
        writer.WriteLine(entry.From.str());
        writer.WriteLine(entry.InBatch ? "True" : "False");
        writer.WriteNumberLine(entry.PartTotal);
        writer.WriteNumberLine(entry.PartCount());
        for (const PartRef& part : entry.Parts) {
            writer.WriteNumberLine(part.Bytes);
            writer.WriteLine(part.ArticleNumber.View(number));
            writer.WriteLine(part.Group == entry.Group ? std::string_view()
                                                       : std::string_view(part.Group.str()));
            part.Subject.CopyTo(subject);
            writer.WriteLine(subject);
        }
        *parts += entry.PartCount();
        if (++since_progress >= step) {
            since_progress = 0;
            wait_.progress.value = index;
            wait_.Touch();
            pump_.Pump();
        }
    }
    if (!writer.Commit()) return FailSave(writer.Error());
    return true;
}

void HeaderStore::LogSaved(std::int64_t parts, common::TimePoint started) {
    std::int64_t seconds =
        std::chrono::duration_cast<std::chrono::seconds>(clock_.Now() - started).count();
    if (seconds < 2) {
        log_.LogEvent("Saved" + common::Str(parts) + " headers in about 1 second", true);
        return;
    }
    log_.LogEvent("Saved" + common::Str(parts) + " headers in" + common::Str(seconds) +
                      " seconds (" + common::Decimal(parts / seconds) + " headers per second)",
                  true);
}

void HeaderStore::LoadHeaders() {
    LoadResult result;
    const bool scanned = LoadScanned(&result);
    const bool imported = LoadImported(&result);
    if (!scanned && !imported) return;
    for (const HeaderEntry& entry : result.entries)
        if (entry.InBatch) batch_.AddLoadedSize(entry.Size);
    table_.Replace(std::move(result.entries));
    view_.Touch();  // lblMCount shows the new HeadersRead
    batch_.BuildBatchList();
}

bool HeaderStore::LoadScanned(LoadResult* result) {
    const std::string path = FilePath();
    if (!storage::FileExists(path)) return false;
    HeaderFileReader reader(path);
    std::string line;
    if (!reader.Open()) {
        Report("Saved headers could not be loaded: " + reader.Error());
        return false;
    }
    if (!reader.NextLine(&line) || line != kMagic) {
        if (reader.Failed() && !reader.LineTooLong()) {  // unreadable, not another version
            Report("Saved headers could not be loaded: " + reader.Error());
            return false;
        }
        reader.Close();
        prompts_.Message("Saved headers are old version, cannot be loaded (sorry).");
        ::unlink(path.c_str());
        return false;
    }

    std::int64_t announced = 0;
    table_.HeadersRead = 0;
    if (!reader.NextLine(&line)) {
        result->problem = reader.Failed() ? reader.Error() : "it ends after line 1";
    } else if (!ParseNumber(line, &announced)) {
        result->problem = "line 2 is not a count of postings";
    } else if (announced <= 0) {
        result->problem = announced == 0 ? "it announces no postings"
                                         : "it announces a negative count of postings";
    } else {
        ReadPostings(reader, announced, result);
    }
    reader.Close();
    if (!result->problem.empty()) ReportDamage(*result, announced);
    return true;
}

bool HeaderStore::LoadImported(LoadResult* result) {
    const std::string path = ImportedFilePath();
    if (!storage::FileExists(path)) return false;
    HeaderFileReader reader(path);
    std::string line;
    LoadResult own;
    std::int64_t announced = 0;
    if (!reader.Open() || !reader.NextLine(&line)) {
        own.problem = reader.Failed() ? reader.Error() : "it is empty";
    } else if (line != kImportedMagic) {
        own.problem = "line 1 is not " + std::string(kImportedMagic);
    } else if (!reader.NextLine(&line) || !ParseNumber(line, &announced) || announced <= 0) {
        own.problem = "line 2 is not a count of postings";
    } else {
        ReadPostings(reader, announced, &own);
    }
    reader.Close();
    // Only postings fetched by message-ID: anything else would be asked for by a number
    // that means nothing on the server.
    std::int64_t kept = 0;
    for (HeaderEntry& entry : own.entries) {
        if (!IsImportedPosting(entry)) {
            if (own.problem.empty()) own.problem = "a posting has no message-IDs";
            continue;
        }
        result->entries.push_back(std::move(entry));
        ++kept;
    }
    if (!own.problem.empty()) {
        std::string text = "Saved NZB postings are damaged (" + own.problem +
                           "):" + common::Str(kept) + " of" +
                           common::Str(std::max<std::int64_t>(announced, 0)) + " postings loaded.";
        if (KeepDamagedCopy(path)) text += " The file is kept as " + path + ".damaged.";
        Report(text);
    }
    return true;
}

void HeaderStore::ReadPostings(HeaderFileReader& reader, std::int64_t announced,
                               LoadResult* result) {
    const std::int64_t count = std::min<std::int64_t>(announced, kInt32Max);
    wait_.lblNFO = "Loading Headers";
    wait_.progress = {0, common::ClampTo32(count)};
    wait_.Touch();
    // Seven lines of at least one byte per posting bound what the file can really hold.
    result->entries.reserve(std::size_t(std::min<std::int64_t>(count, reader.BytesLeft() / 7)));
    const std::int64_t step = ProgressStep(count);
    std::int64_t since_progress = 0;
    PostingReader postings(reader, &result->problem);
    for (std::int64_t i = 1; i <= count; ++i) {
        HeaderEntry entry;
        Outcome outcome = postings.Read(&entry);
        if (outcome != Outcome::kNothing) {
            std::int64_t read = std::int64_t(table_.HeadersRead) + entry.PartCount();
            table_.HeadersRead = common::ClampTo32(read);
            result->entries.push_back(std::move(entry));
            common::AdviseHeapGrowth();
        }
        if (outcome != Outcome::kWhole) return;
        if (++since_progress >= step) {
            since_progress = 0;
            wait_.progress.value = common::ClampTo32(i);
            wait_.Touch();
            pump_.Pump();
        }
    }
    std::string line;
    while (reader.NextLine(&line)) {
        if (!common::TrimView(line).empty()) {
            result->problem =
                "it holds more than the" + common::Str(count) + " postings it announces";
            return;
        }
    }
    if (reader.Failed()) result->problem = reader.Error();
}

void HeaderStore::ReportDamage(const LoadResult& result, std::int64_t announced) {
    std::string text = "Saved headers are damaged (" + result.problem +
                       "):" + common::Str(std::int64_t(result.entries.size())) + " of" +
                       common::Str(std::max<std::int64_t>(announced, 0)) + " postings loaded.";
    if (KeepDamagedCopy(FilePath()))
        text += " The file is kept as " + DamagedCopyPath() + ".";
    else
        text += " A copy of the file could not be kept.";
    Report(text);
}

bool HeaderStore::KeepDamagedCopy(const std::string& path) {
    const std::string aside = path + ".damaged";
    ::unlink(aside.c_str());
    // A second name for the same data: the next save renames a new file over npending.dat.
    if (::link(path.c_str(), aside.c_str()) == 0) return true;
    std::FILE* in = std::fopen(path.c_str(), "rb");
    if (in == nullptr) return false;
    std::FILE* out = std::fopen(aside.c_str(), "wb");
    bool ok = out != nullptr;
    std::vector<char> buffer(1 << 16);
    std::size_t n;
    while (ok && (n = std::fread(buffer.data(), 1, buffer.size(), in)) > 0)
        ok = std::fwrite(buffer.data(), 1, n, out) == n;
    ok = ok && !std::ferror(in);
    if (out != nullptr && std::fclose(out) != 0) ok = false;
    std::fclose(in);
    if (!ok) ::unlink(aside.c_str());
    return ok;
}

}  // namespace quillfin::headers
