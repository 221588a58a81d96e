#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "download/download_engine.h"
#include "download/download_fixture.h"
#include "nntp/scan_fixture.h"

namespace quillfin::testing {

// The download engine over a scripted connection 2, with the real decoder and library.
class DownloadEngineFixture : public DecodeFixture {
  protected:
    DownloadEngineFixture() {
        settings.News_Host = " news.example.test ";
        clock.Set(common::TimePoint{} + std::chrono::hours(24 * 365 * 50));
        connections.AttachSocket(2, &tcp2);
        connections.AttachTimer(1, &timer1);
        connections.AttachTimer(2, &timer2);
        engine =
            std::make_unique<download::DownloadEngine>(connections, table, batch, decoder, clock);
        engine->SetCallouts(&callouts);
    }

    // A posting whose parts are the uuencoded parts of a small file; returns its index.
    std::int32_t AddFilePosting(const std::string& file, const std::vector<std::string>& numbers,
                                const std::string& group = "alt.test", std::size_t size = 0) {
        // uuenview puts at least 200 lines, 9000 bytes, in a part.
        if (size == 0) size = 9000 * (numbers.size() - 1) + 4000;
        originals[file] = MakeFile(file, size, unsigned(numbers.size() * 31 + file.size()));
        const std::vector<std::string> bodies = Encode(file, "-u", 200);
        EXPECT_EQ(bodies.size(), numbers.size()) << file;
        const std::int32_t index = AddPosting(file, numbers, group);
        for (std::size_t k = 0; k < numbers.size() && k < bodies.size(); ++k)
            replies[numbers[k]] = ArticleReply(numbers[k], file, bodies[k]);
        return index;
    }

    // The decoded file in the download folder has the original's bytes.
    ::testing::AssertionResult Filed(const std::string& file) {
        const std::string bytes = ReadFile(dir.File("dl/" + file));
        if (bytes == originals[file]) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << file << ": " << bytes.size() << " bytes filed, "
                                             << originals[file].size() << " sent";
    }

    std::vector<std::string> TakeSent() { return std::exchange(tcp2.sent, {}); }
    std::vector<std::string> Say(const std::string& chunk) {
        tcp2.Deliver(chunk);
        return TakeSent();
    }
    // Starts the batch and greets on the new connection.
    std::vector<std::string> StartAndGreet() {
        engine->DownloadStep();
        return Say("200 news.example.test ready\r\n");
    }

    std::map<std::string, std::string> originals;  // file name -> bytes
    std::map<std::string, std::string> replies;    // article number -> ARTICLE reply
    RecordingWindows windows;
    storage::GroupList groups{dir.Path(), prompts};
    nntp::SessionValues session;
    FakeSocket tcp2;
    FakeTimer timer1;
    FakeTimer timer2;
    nntp::Connections connections{session, settings, groups, log, view, prompts, windows, pump};
    RecordingCallouts callouts;
    std::unique_ptr<download::DownloadEngine> engine;
};

}  // namespace quillfin::testing
