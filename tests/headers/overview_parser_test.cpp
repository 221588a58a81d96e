#include "headers/overview_parser.h"

#include <gtest/gtest.h>

#include "common/run_error.h"
#include "header_fixture.h"
#include "support/fakes.h"

namespace quillfin::headers {
namespace {

struct RecordingUpdater : HeaderListUpdater {
    void UpdateHeaderList() override { ++updates; }
    int updates = 0;
};

class OverviewParserTest : public HeaderFixture {
  protected:
    OverviewParserTest() { parser.SetListUpdater(&updater); }

    static std::string Line(const std::string& number, const std::string& subject,
                            const std::string& bytes = "5000") {
        return number + "\t" + subject + "\t\"Jo Poster\" <jo@example.net>\t" +
               "Sat, 05 Dec 1998 10:00:00 GMT\t<" + number + "@x>\t\t" + bytes + "\t80\t" +
               "Xref: news.example alt.test:" + number;
    }
    static std::string Burst(const std::vector<std::string>& lines) {
        std::string out = "224 Overview information follows\r\n";
        for (const std::string& line : lines) out += line + "\r\n";
        return out + ".\r\n";
    }

    testing::HookPump pump;
    RecordingUpdater updater;
    OverviewParser parser{table, pump};
};

// Reports go up to the group's last article even for an empty burst; then the list updates.
TEST_F(OverviewParserTest, AddsEveryRecordAndReportsItsNumber) {
    hooks.burst_end = "103";
    hooks.group_last = 103;
    parser.parse_xoverdata(Burst(
        {Line("101", "pic.jpg (1/2)"), Line("102", "pic.jpg (2/2)"), Line("103", "notes.txt")}));
    ASSERT_EQ(table.HeaderCount(), 2);
    const HeaderEntry& e = table.Entry(1);
    EXPECT_EQ(e.PartCount(), 2);
    EXPECT_EQ(e.Part(1).Bytes, 5000);
    EXPECT_EQ(e.From, "Jo Poster");
    EXPECT_EQ(e.Date, "12-05-1998");
    ASSERT_EQ(hooks.reports.size(), 3u);  // BurstEnd is not below the group's last
    EXPECT_EQ(hooks.reports[2].group + " " + hooks.reports[2].article, "alt.test 103");
    EXPECT_FALSE(hooks.reports[2].forced);
    hooks.burst_end = "200";
    hooks.group_last = 500;
    parser.parse_xoverdata("224 Overview information follows\r\n.\r\n");
    EXPECT_EQ(table.HeaderCount(), 2);
    ASSERT_EQ(hooks.reports.size(), 4u);
    EXPECT_EQ(hooks.reports[3].article, "200");
    EXPECT_EQ(updater.updates, 2);
    EXPECT_EQ(hooks.after_bursts, 2);
}

TEST_F(OverviewParserTest, MissingTrailingFieldsLeaveThemEmpty) {
    std::string full = Line("1", "a (1/3)");
    std::string no_xref = full.substr(0, full.rfind('\t'));
    std::string ends_at_bytes = "3\ta (3/3)\tp\td\t<m>\t\t5000";
    parser.parse_xoverdata(
        Burst({full, no_xref.replace(0, 1, "2").replace(2, 7, "a (2/3)"), ends_at_bytes}));
    ASSERT_EQ(table.HeaderCount(), 1);
    const HeaderEntry& e = table.Entry(1);
    ASSERT_EQ(e.PartCount(), 3);
    EXPECT_EQ(e.Part(1).Bytes, 5000);
    EXPECT_EQ(e.Part(2).Bytes, 5000);
    EXPECT_EQ(e.Part(3).Bytes, 0);  // no TAB after the byte count
    EXPECT_EQ(e.Size, 10000);
    EXPECT_EQ(Logged(), std::vector<std::string>{"maketree: 13  Type mismatch"});
}

TEST_F(OverviewParserTest, LinesWithFewFieldsStillArriveSafely) {
    parser.parse_xoverdata(Burst({"no tabs here", "77\tonly a subject", "", "88"}));
    // "77<TAB>only a subject": the subject has no TAB after it, so it stays empty.
    ASSERT_EQ(table.HeaderCount(), 1);
    EXPECT_EQ(table.Entry(1).Subject, "");
    EXPECT_EQ(table.Entry(1).Part(1).ArticleNumber, "77");
    EXPECT_EQ(table.HeadersRead, 1);  // the empty line ended the burst
}

TEST_F(OverviewParserTest, HostileBytesAndHugeLinesNeverBreakTheParse) {
    std::string control;
    for (int c = 1; c < 32; ++c)
        if (c != '\t' && c != '\r' && c != '\n') control += char(c);
    std::string high;
    for (int c = 128; c < 256; ++c) high += char(c);
    std::string nul_subject("bad\0subject (1/2)", 17);
    std::vector<std::string> lines = {
        Line("1", control + " (1/2)"),
        Line("2", high + " [1/2]"),
        Line("3", nul_subject),
        Line("x9z", "non numeric (1/1)", "many"),
        Line("4", std::string(1 << 20, 'S') + " (1/2)"),
        "5\t\t\t\t\t\t\t\t\t\t\t",
        Line("6", "lone\nfeed (1/2)"),
    };
    parser.parse_xoverdata(Burst(lines));
    EXPECT_EQ(table.HeadersRead, int(lines.size()));
    EXPECT_EQ(table.HeaderCount(), int(lines.size()));
    EXPECT_EQ(table.Entry(3).Part(1).Subject, nul_subject);
    EXPECT_EQ(table.Entry(4).Part(1).ArticleNumber, "x9z");
    EXPECT_EQ(table.Entry(5).Subject.size(), (1u << 20) + 13);
}

TEST_F(OverviewParserTest, StopsAtTheEndLineAndIgnoresWhatFollows) {
    std::string burst = Burst({Line("1", "a.bin")}) + Line("2", "after the end") + "\r\n";
    parser.parse_xoverdata(burst);
    EXPECT_EQ(table.HeaderCount(), 1);
    // A buffer cut short (no CR LF after the last line) ends the parse at that line.
    parser.parse_xoverdata("224 ok\r\n" + Line("3", "b.bin") + "\r\n" + Line("4", "c.bin"));
    EXPECT_EQ(table.HeaderCount(), 2);
}

TEST_F(OverviewParserTest, YieldsEverySixthLineAndRefreshesActivity) {
    std::vector<std::string> lines;
    for (int i = 1; i <= 13; ++i) lines.push_back(Line(std::to_string(i), "s" + std::to_string(i)));
    parser.parse_xoverdata(Burst(lines));
    EXPECT_EQ(pump.count, 2);
    EXPECT_EQ(hooks.touches, 2);
}

TEST(ParsePoster, ReducesTheCommonFromForms) {
    struct Case {
        const char* from;
        const char* poster;
    } cases[] = {
        {"\"Jo Poster\" <jo@example.net>", "Jo Poster"},
        {"jo@example.net (Jo Poster)", "Jo Poster"},
        {"Jo Poster <jo@example.net>", "Jo Poste"},
        {"jo@example.net", "jo@example.net"},
        {"<<broken", "<<broken"},
        {"ab<c>", ""},
        {"(unclosed", "(unclosed"},
        {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(ParsePoster(c.from), c.poster) << c.from;
}

TEST(ParsePoster, CutBeforeTheStartIsAnInvalidArgument) {
    for (const char* from : {"<jo@example.net>", "a<b>", ")("}) {
        try {
            ParsePoster(from);
            ADD_FAILURE() << from;
        } catch (const common::RunError& e) {
            EXPECT_EQ(e.number, common::kInvalidArgument);
        }
    }
}

TEST_F(OverviewParserTest, PosterThatCannotBeCutKeepsItsRawText) {
    parser.parse_xoverdata(Burst({"1\ts\t<jo@example.net>\tdate\t<m>\t\t10\t1\t"}));
    EXPECT_EQ(table.Entry(1).From, "<jo@example.net>");
    EXPECT_TRUE(Logged().empty());  // invalid-argument errors pass silently here
}

TEST(ParseOverviewDate, NormalisesRecognisedDatesOnly) {
    EXPECT_EQ(ParseOverviewDate("Sun, 6 Dec 2026 11:49:13 -0000 (UTC)"), "12-06-2026");
    EXPECT_EQ(ParseOverviewDate("05 Dec 1998 10:00:00 GMT"), "12-05-1998");
    for (const char* kept : {"not a date at all", "", "Su,"}) EXPECT_EQ(ParseOverviewDate(kept), kept);
}

}  // namespace
}  // namespace quillfin::headers
