#include "download/download_journal.h"

#include <fcntl.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <vector>

namespace quillfin::download {

namespace {

// Fields are tab-separated; a name from outside cannot break a line or a field.
std::string Field(std::string text) {
    for (char& c : text)
        if (c == '\t' || c == '\n' || c == '\r') c = ' ';
    return text;
}

std::string Join(const std::vector<std::string>& fields) {
    std::string line;
    for (const std::string& f : fields) line += (line.empty() ? "" : "\t") + Field(f);
    return line + "\n";
}

std::vector<std::string> Split(const std::string& line) {
    std::vector<std::string> out;
    std::istringstream in(line);
    for (std::string field; std::getline(in, field, '\t');) out.push_back(field);
    if (!line.empty() && line.back() == '\t') out.emplace_back();
    return out;
}

std::int64_t Number(const std::string& text) {
    std::int64_t value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

std::vector<std::string> YencFields(const DownloadJournal::Key& posting, const std::string& path,
                                    const DownloadJournal::Key& part,
                                    const YencWorker::Outcome& o) {
    const YencHeader& h = o.header;
    return {"Y",
            posting.first,
            posting.second,
            path,
            part.first,
            part.second,
            std::to_string(h.begin),
            std::to_string(h.end),
            std::to_string(o.crc),
            std::to_string(h.size),
            std::to_string(h.part),
            std::to_string(h.total),
            h.fileCrc ? std::to_string(*h.fileCrc) : "-",
            o.problem,
            h.name};
}

}  // namespace

void DownloadJournal::Append(const std::string& line) const {
    if (path_.empty()) return;
    // One write a record: a kill leaves whole lines, at most one cut short at the end.
    const int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) return;
    const ssize_t written = ::write(fd, line.data(), line.size());
    (void)written;
    ::close(fd);
}

void DownloadJournal::PartWriting(const Key& part, const std::string& path) {
    Append(Join({"W", part.first, part.second, path}));
}

void DownloadJournal::PartStored(const Key& part, const std::string& path) {
    Append(Join({"P", part.first, part.second, path}));
}

void DownloadJournal::PartAbandoned(const std::string& path) { Append(Join({"X", path})); }

void DownloadJournal::PartRemoved(const Key& part) { Append(Join({"R", part.first, part.second})); }

void DownloadJournal::YencWritten(const Key& posting, const std::string& path, const Key& part,
                                  const YencWorker::Outcome& outcome) {
    Append(Join(YencFields(posting, path, part, outcome)));
}

void DownloadJournal::YencCreated(const Key& posting, const std::string& path) {
    Append(Join({"T", posting.first, posting.second, path}));
}

void DownloadJournal::YencDropped(const Key& posting) {
    Append(Join({"Z", posting.first, posting.second}));
}

void DownloadJournal::Filed(const Key& posting, const std::string& path) {
    Append(Join({"F", posting.first, posting.second, path}));
}

DownloadJournal::State DownloadJournal::Load() const {
    State state;
    if (path_.empty()) return state;
    std::ifstream in(path_, std::ios::binary);
    for (std::string line; std::getline(in, line);) {
        if (in.eof()) break;  // no line break: cut short by a kill
        const std::vector<std::string> f = Split(line);
        if (f.size() == 2 && f[0] == "X") state.unfinished.erase(f[1]);
        if (f.size() < 3) continue;
        const Key key{f[1], f[2]};
        if (f[0] == "W" && f.size() == 4) {
            state.unfinished[f[3]] = key;
        } else if (f[0] == "P" && f.size() == 4) {
            state.partFiles[key] = f[3];
            state.unfinished.erase(f[3]);
        } else if (f[0] == "R") {
            state.partFiles.erase(key);
        } else if (f[0] == "Y" && f.size() == 15) {
            YencPosting& posting = state.yencPostings[key];
            posting.path = f[3];
            YencWorker::Outcome& o = posting.parts[{f[4], f[5]}].outcome;
            o.header.begin = Number(f[6]);
            o.header.end = Number(f[7]);
            o.crc = std::uint32_t(Number(f[8]));
            o.header.size = Number(f[9]);
            o.header.part = Number(f[10]);
            o.header.total = Number(f[11]);
            if (f[12] != "-") o.header.fileCrc = std::uint32_t(Number(f[12]));
            o.problem = f[13];
            o.header.name = f[14];
            o.length = o.header.end - o.header.begin + 1;
        } else if (f[0] == "T" && f.size() == 4) {
            state.yencPostings[key].path = f[3];
        } else if (f[0] == "Z") {
            state.yencPostings.erase(key);
        } else if (f[0] == "F" && f.size() == 4) {
            state.filed[key] = f[3];
        }
    }
    return state;
}

bool DownloadJournal::Rewrite(const State& state) const {
    if (path_.empty()) return true;
    std::string text;
    for (const auto& [part, path] : state.partFiles)
        text += Join({"P", part.first, part.second, path});
    for (const auto& [key, posting] : state.yencPostings) {
        text += Join({"T", key.first, key.second, posting.path});
        for (const auto& [part, p] : posting.parts)
            text += Join(YencFields(key, posting.path, part, p.outcome));
    }
    const std::string temp = path_ + ".new";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out << text;
        if (!out.flush()) return false;
    }
    return std::rename(temp.c_str(), path_.c_str()) == 0;
}

}  // namespace quillfin::download
