// The program killed with SIGKILL at points of a scan, a header save, a batch and a decode,
// then started again on the same folder: nothing may be lost, filed twice or left lying about.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QProcess>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "platform/durability_probe.h"
#include "support/temp_dir.h"
#include "testserver/binary_encoders.h"
#include "testserver/nntp_test_server.h"

namespace quillfin::platform {
namespace {

namespace fs = std::filesystem;

std::string Bytes(std::size_t size, unsigned seed) {
    std::string out(size, '\0');
    for (char& c : out) {
        seed = seed * 1103515245u + 12345u;
        c = char(seed >> 16);
    }
    return out;
}

std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Three yEnc and three uuencoded postings of four parts in each group.
std::map<std::string, std::string> FillSpool(testserver::NntpTestServer& server) {
    std::map<std::string, std::string> originals;
    server.WithSpool([&](testserver::NewsSpool& spool) {
        int seed = 1;
        for (const char* group : kDurabilityGroups) {
            for (int k = 0; k < 6; ++k, ++seed) {
                const bool yenc = k % 2 == 0;
                const std::string name = "file" + std::to_string(seed) + (yenc ? ".bin" : ".dat");
                const std::string bytes = Bytes(60000 + std::size_t(seed) * 1000, unsigned(seed));
                originals[name] = bytes;
                const auto bodies = yenc ? testserver::YencParts(name, bytes, 4)
                                         : testserver::UuencodeParts(name, bytes, 4);
                for (std::size_t i = 0; i < bodies.size(); ++i) {
                    testserver::TestArticle article;
                    article.subject = name + " (" + std::to_string(i + 1) + "/" +
                                      std::to_string(bodies.size()) + ")";
                    article.body = bodies[i];
                    spool.AddArticle(group, std::move(article));
                }
            }
        }
    });
    return originals;
}

struct ProbeRun {
    bool killed = false;
    int code = -1;
};

ProbeRun Probe(const std::string& dir, int port, const std::string& point) {
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {"--durability-probe", QString::fromStdString(dir), QString::number(port),
                 QString::fromStdString(point)});
    child.waitForFinished(180000);
    return {child.exitStatus() == QProcess::CrashExit, child.exitCode()};
}

// What is wrong with a folder after its last run: files missing or changed, files twice,
// files that should not be there; empty when nothing.
std::string Check(const std::string& dir, const std::map<std::string, std::string>& originals,
                  const std::string& favs) {
    std::string wrong;
    std::set<std::string> seen;
    for (const auto& file : fs::directory_iterator(dir + "/dl")) {
        const std::string name = file.path().filename().string();
        const auto original = originals.find(name);
        if (original == originals.end())
            wrong += " extra file " + name + ";";
        else if (Read(file.path()) != original->second)
            wrong += " " + name + " differs;";
        seen.insert(name);
    }
    for (const auto& [name, bytes] : originals)
        if (!seen.contains(name)) wrong += " " + name + " missing;";
    // The last read articles, and so every header below them, as after an uncut run.
    if (Read(dir + "/favs.txt") != favs) wrong += " favs.txt differs;";
    return wrong;
}

TEST(DurabilityMatrixTest, KilledAnywhereAndStartedAgainNothingIsLost) {
    testserver::NntpTestServer server;
    const std::map<std::string, std::string> originals = FillSpool(server);
    ASSERT_TRUE(server.Start()) << server.Error();

    testing::TempDir clean;
    ASSERT_EQ(Probe(clean.Path(), server.Port(), "none").code, 0);
    const std::string favs = Read(clean.Path() + "/favs.txt");
    ASSERT_EQ(Check(clean.Path(), originals, favs), "");

    // 48 articles in 12 postings, bursts of 5 overview lines, uuencoded parts loaded one by one.
    const char* points[] = {
        "scan:1",    "scan:12",   "scan:30",   "scan:47",   "save:1",     "save:2",     "save:3",
        "fetched:1", "fetched:3", "fetched:4", "fetched:9", "fetched:22", "fetched:47", "decode:1",
        "decode:2",  "decode:5",  "decode:11", "filed:1",   "filed:2",    "filed:6",    "filed:11"};
    int lost = 0;
    for (const char* point : points) {
        SCOPED_TRACE(point);
        testing::TempDir dir;
        const ProbeRun cut = Probe(dir.Path(), server.Port(), point);
        EXPECT_TRUE(cut.killed) << "the point was never reached";
        const ProbeRun again = Probe(dir.Path(), server.Port(), "none");
        EXPECT_EQ(again.code, 0);
        const std::string wrong = Check(dir.Path(), originals, favs);
        EXPECT_EQ(wrong, "");
        if (again.code != 0 || !wrong.empty()) ++lost;
    }
    std::printf("durability matrix: %zu cases, %d lost\n", std::size(points), lost);
}

}  // namespace
}  // namespace quillfin::platform
