#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "download/posting_decoder.h"
#include "download/uu_decoder_library.h"
#include "headers/batch_queue.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

namespace quillfin::testing {

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

// Lines end in CR LF and a line that begins with "." gets another, as a server sends them.
inline std::string NetworkText(const std::string& text) {
    std::string out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.starts_with(".")) out += ".";
        out += line + "\r\n";
    }
    return out;
}

// The whole ARTICLE reply for one part.
inline std::string ArticleReply(const std::string& number, const std::string& subject,
                                const std::string& body) {
    return "220 " + number + " <" + number +
           "@example.test> article\r\nPath: x\r\n"
           "From: poster@example.test\r\nNewsgroups: alt.test\r\nSubject: " +
           subject + "\r\nMessage-ID: <" + number + "@example.test>\r\n\r\n" + NetworkText(body) +
           ".\r\n";
}

// Decoding and filing over the real libuu, with a real header table and batch.
class DecodeFixture : public ::testing::Test {
  protected:
    DecodeFixture() {
        settings.chkEnableLogging = 1;
        settings.Download_Path = dir.File("dl") + "/";
        settings.chkMakeSubDirs = 0;
        settings.chkSaveDecodes = 0;
        std::filesystem::create_directory(dir.File("dl"));
        std::filesystem::create_directory(dir.File("src"));
    }

    // Random bytes written to src/<name>; returns them.
    std::string MakeFile(const std::string& name, std::size_t size, unsigned seed = 7) {
        std::string data(size, '\0');
        for (std::size_t i = 0; i < size; ++i) {
            seed = seed * 1103515245u + 12345u;
            data[i] = char(seed >> 16);
        }
        dir.Write("src/" + name, data);
        return data;
    }
    // uuenview's parts of src/<name> in part order; flag "-u", "-y" or "-b".
    std::vector<std::string> Encode(const std::string& name, const std::string& flag,
                                    int lines = 1000) {
        const std::string out = dir.File("enc-" + name + flag);
        std::filesystem::create_directories(out);
        const std::string command = "cd " + dir.File("src") + " && uuenview " + flag + " -" +
                                    std::to_string(lines) + " -od " + out + " " + name +
                                    " >/dev/null 2>&1";
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        std::vector<std::string> files;
        for (const auto& file : std::filesystem::directory_iterator(out))
            files.push_back(file.path().string());
        std::sort(files.begin(), files.end());
        std::vector<std::string> parts;
        for (const std::string& file : files) parts.push_back(ReadFile(file));
        return parts;
    }

    // A posting with one part per article number.
    static headers::HeaderEntry Posting(const std::string& subject,
                                        const std::vector<std::string>& numbers,
                                        const std::string& group = "alt.test") {
        headers::HeaderEntry entry;
        entry.Subject = subject;
        entry.Group = group;
        for (const std::string& number : numbers) {
            headers::PartRef& part = entry.Parts.emplace_back();
            part.ArticleNumber = number;
            part.Subject = subject;
            part.Group = group;
            part.Bytes = 1000;
        }
        entry.PartTotal = entry.PartCount();
        entry.Size = 1000 * std::int64_t(numbers.size());
        return entry;
    }
    // Posting queued; returns its table index.
    std::int32_t AddPosting(const std::string& subject, const std::vector<std::string>& numbers,
                            const std::string& group = "alt.test") {
        entries.push_back(Posting(subject, numbers, group));
        headers::HeaderEntryList list;
        for (const headers::HeaderEntry& e : entries) list.push_back(e);
        table.Replace(std::move(list));
        const std::int32_t index = table.HeaderCount();
        // The copies in entries lost their flags: the batch list knows which are queued.
        for (const headers::ListRow& row : batch.Rows().Rows()) table.Entry(row.tag).InBatch = true;
        batch.BuildBatchList();
        batch.AddToBatch(index);
        return index;
    }

    std::vector<std::string> TakeLogged() {
        auto out = Untimed(log);
        log.Clear();
        return out;
    }
    std::vector<std::string> DownloadFolder(const std::string& sub = "") const {
        std::vector<std::string> names;
        for (const auto& file : std::filesystem::directory_iterator(dir.File("dl" + sub)))
            names.push_back(file.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    TempDir dir;
    storage::Settings settings;
    common::ManualClock clock;
    storage::ActivityLog log{settings, clock, dir.Path()};
    ScriptedPrompts prompts;
    headers::HeaderTable table{log};
    common::MainViewState view;
    headers::BatchQueue batch{table, view, log, prompts};
    HookPump pump;
    download::UuDecoderLibrary library{&pump};
    download::PostingDecoder decoder{table, batch, settings, log, pump, library};
    std::vector<headers::HeaderEntry> entries;
};

}  // namespace quillfin::testing
