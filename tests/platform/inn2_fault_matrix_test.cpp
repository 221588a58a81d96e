// A subset of the fault matrix against the real INN2 reader: the test server passes every
// command on to INN2 and shapes its replies, so the faults hit real overview lines and real
// articles. Each case must end as a run without faults did: the same header file when the scan
// recovered by itself, the same table otherwise, the same decoded files from a batch.
#include <gtest/gtest.h>

#include <cstdio>

#include "platform/inn2_support.h"
#include "platform/program_rig.h"
#include "testserver/nntp_test_server.h"
#include "testserver/sample_data.h"

namespace quillfin::platform {
namespace {

constexpr const char* kGroup = "alt.binaries.quillfin.faults";

// The demo's sounds (uuencoded and yEnc, one without part numbers): ten articles.
std::vector<std::pair<std::string, std::string>> Articles() {
    std::vector<std::pair<std::string, std::string>> articles;
    for (const testserver::SamplePosting& posting : testserver::SamplePostings()) {
        if (posting.group != testserver::SampleGroups()[1]) continue;
        const bool uu = posting.encoding == testserver::SamplePosting::Encoding::kUuencode;
        const auto bodies = uu ? testserver::UuencodeParts(posting.fileName, posting.content,
                                                           posting.parts)
                               : testserver::YencParts(posting.fileName, posting.content,
                                                       posting.parts);
        for (int part = 1; part <= int(bodies.size()); ++part)
            articles.emplace_back(testserver::SampleSubject(posting, part), bodies[part - 1]);
    }
    return articles;
}

class Inn2FaultMatrixTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const int port = Inn2Port();
        RawNntpClient poster;
        if (!poster.Connect(port).starts_with("200")) {
            const std::string reason = "no INN2 reader on 127.0.0.1:" + std::to_string(port);
            if (Inn2Required()) FAIL() << reason;
            GTEST_SKIP() << reason;
        }
        // A group created a moment ago shows to new readers within a second or so.
        GroupNumbers numbers = WaitForLast(port, kGroup, 0);
        ASSERT_GE(numbers.count, 0) << kGroup << " missing: run scripts/inn2-start";
        // Posted once per server; later runs find them there.
        const auto articles = Articles();
        if (numbers.count < long(articles.size())) {
            for (const auto& [subject, body] : articles) {
                const std::string reply =
                    poster.Post("From: Quillfin Test <test@example.test>\r\nNewsgroups: " +
                                std::string(kGroup) + "\r\nSubject: " + subject + "\r\n\r\n" +
                                body);
                ASSERT_TRUE(reply.starts_with("240")) << subject << ": " << reply;
            }
            numbers = WaitForLast(port, kGroup, numbers.last + long(articles.size()));
            ASSERT_GE(numbers.count, long(articles.size()));
        }
        testserver::ServerOptions options;
        options.upstreamPort = port;
        proxy = std::make_unique<testserver::NntpTestServer>(options);
        ASSERT_TRUE(proxy->Start()) << proxy->Error();

        auto rig = Scan({});
        ASSERT_TRUE(rig->ScanEnded());
        clean = rig->Contents();
        clean_headers = rig->SavedHeaders();
        ASSERT_GE(rig->program.table.HeaderCount(), 4);
        Download(*rig);
        ASSERT_TRUE(rig->BatchEnded()) << ::testing::PrintToString(rig->program.log.Lines());
        clean_files = rig->DecodedFiles();
        ASSERT_GE(clean_files.size(), 3u);
    }

    std::unique_ptr<Rig> Scan(const std::vector<ReplyRule>& rules) {
        proxy->ClearRules();
        for (const ReplyRule& rule : rules) proxy->AddRule(rule);
        auto rig = std::make_unique<Rig>(proxy->Port(), true, std::vector<std::string>{kGroup});
        rig->program.settings.sldXOVER = 3;
        rig->quiet_ms = 25;
        rig->Scan(60);
        return rig;
    }
    void Download(Rig& rig, const std::vector<ReplyRule>& rules = {}) {
        proxy->ClearRules();
        for (const ReplyRule& rule : rules) proxy->AddRule(rule);
        for (std::int32_t i = 1; i <= rig.program.table.HeaderCount(); ++i)
            rig.program.batch.AddToBatch(i);
        rig.program.BatchStartCommand();
        rig.RunUntil([&] { return rig.BatchEnded(); }, 60);
    }

    std::unique_ptr<testserver::NntpTestServer> proxy;
    std::string clean, clean_headers;
    std::map<std::string, std::string> clean_files;
};

TEST_F(Inn2FaultMatrixTest, ScansAndBatchesRecoverFromFaultsOfARealServer) {
    const auto silent = [](ReplyRule& r) { r.silent = true; };
    const auto hangs_midway = [](ReplyRule& r) { r.silentAfterBytes = 400; };
    const auto drops_midway = [](ReplyRule& r) { r.dropAfterBytes = 400; };
    const auto busy = [](ReplyRule& r) { r.reply = "400 injected fault\r\n"; };
    const std::vector<std::pair<std::string, std::vector<ReplyRule>>> scans = {
        {"greeting dropped midway", {Fault(ReplyRule::kGreeting, [](ReplyRule& r) {
             r.dropAfterBytes = 10;
         })}},
        {"GROUP silent", {Fault("GROUP", silent)}},
        {"second burst hangs midway", {Pass("XOVER"), Fault("XOVER", hangs_midway)}},
        {"second burst dropped midway", {Pass("XOVER"), Fault("XOVER", drops_midway)}},
        {"first burst's first line a byte at a time", {Fault("XOVER", FirstLineBytewise)}},
        {"last burst: 400", {Pass("XOVER"), Pass("XOVER"), Pass("XOVER"), Fault("XOVER", busy)}},
    };
    const std::vector<std::pair<std::string, std::vector<ReplyRule>>> batches = {
        {"first ARTICLE hangs midway", {Fault("ARTICLE", hangs_midway)}},
        {"third ARTICLE dropped midway",
         {Pass("ARTICLE"), Pass("ARTICLE"), Fault("ARTICLE", drops_midway)}},
        {"download greeting silent", {Fault(ReplyRule::kGreeting, silent)}},
        {"ARTICLE: 400", {Pass("ARTICLE"), Fault("ARTICLE", busy)}},
    };
    int cases = 0, recovered = 0, lost = 0;
    for (const auto& [name, rules] : scans) {
        SCOPED_TRACE(name);
        ++cases;
        const int connections = proxy->ConnectionCount();
        auto rig = Scan(rules);
        // Every fault but the cut-up reply costs the scan its connection and a restart.
        const bool restarted = proxy->ConnectionCount() - connections >= 2;
        EXPECT_EQ(restarted, name != "first burst's first line a byte at a time");
        const bool ok = rig->ScanEnded() && rig->Contents() == clean &&
                        rig->SavedHeaders() == clean_headers;
        EXPECT_TRUE(ok) << rig->Contents();
        ok ? ++recovered : ++lost;
    }
    auto rig = Scan({});
    ASSERT_EQ(rig->Contents(), clean);
    for (const auto& [name, rules] : batches) {
        SCOPED_TRACE(name);
        ++cases;
        // Each case starts from nothing fetched: a fresh program on the same scan.
        rig = Scan({});
        Download(*rig, rules);
        const bool ok = rig->BatchEnded() && rig->DecodedFiles() == clean_files;
        EXPECT_TRUE(ok);
        ok ? ++recovered : ++lost;
    }
    std::printf("fault matrix (INN2): %d cases, %d recovered by themselves, %d lost anything\n",
                cases, recovered, lost);
}

}  // namespace
}  // namespace quillfin::platform
