// The search over the host list: both modes, the totals, the skip-ahead, stopping, closing
// the window mid-search, and adding the chosen rows to the newsgroup list.
#include <gmock/gmock.h>

#include "hostgroups/host_groups.h"
#include "nntp/scan_fixture.h"

namespace quillfin::testing {
namespace {

using hostgroups::HostGroups;
using ::testing::ElementsAre;
using Mode = hostgroups::HostGroupSearch::Mode;
using Names = std::vector<std::string>;

constexpr const char* kFile =
    "200 server ready\r\n"
    "215 list follows\r\n"
    "alt.binaries.test 120 100 y\r\n"
    "Alt.binaries.test 5 1 y\r\n"
    "alt.binaries.test.d 99 100 y\r\n"
    "misc.test 200000 1 m\r\n"
    "alt.test.d 3000001000 3000000000 y\r\n"
    "\r\n"
    "comp.last 10 4 y\r\n"
    ".\r\n";

class SearchTest : public ScanFixture {
  protected:
    void Load(const std::string& content) {
        dir.Write(HostGroups::kFileName, content);
        host.Open();
    }
    // Runs a search to its end; the rows' names in table order.
    Names Query(const std::string& query, Mode mode) {
        host.QueryCommand(query, mode);
        while (host.ContinueSearch()) {
        }
        return Listed();
    }
    Names Listed() {
        Names names;
        for (const auto& row : host.Rows().Rows()) names.push_back(row.text);
        return names;
    }
    std::vector<std::string> Column(int column) {
        std::vector<std::string> texts;
        for (const auto& row : host.Rows().Rows()) texts.push_back(row.ColumnText(column));
        return texts;
    }

    HostGroups host{connections, groups, clock, dir.Path()};
};

struct SearchCase {
    const char* name;
    std::string query;
    Mode mode;
    Names found;
};

class SearchModesTest : public SearchTest, public ::testing::WithParamInterface<SearchCase> {};

TEST_P(SearchModesTest, FindsTheGroupsTheQueryNames) {
    const SearchCase& c = GetParam();
    Load(kFile);
    EXPECT_EQ(Query(c.query, c.mode), c.found);
    EXPECT_EQ(host.View().panel1, "Done! (" + std::to_string(c.found.size()) +
                                      " matching groups found)  Time: Less than 1 second");
    EXPECT_EQ(host.View().cmdAddEnabled, !c.found.empty());
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Cases, SearchModesTest, ::testing::Values(
    // Every line with text, the reply lines too, the last group, never the "." line.
    SearchCase{"EmptyListsEveryLine", "", Mode::kStartsWith,
               {"200", "215", "alt.binaries.test", "Alt.binaries.test", "alt.binaries.test.d",
                "misc.test", "alt.test.d", "comp.last"}},
    SearchCase{"StartsWithIsCaseSensitive", "alt.binaries.test", Mode::kStartsWith,
               {"alt.binaries.test", "alt.binaries.test.d"}},
    SearchCase{"TrailingBlankMatchesTheWholeName", "alt.binaries.test ", Mode::kStartsWith,
               {"alt.binaries.test"}},
    SearchCase{"Contains", "test", Mode::kContains,
               {"alt.binaries.test", "Alt.binaries.test", "alt.binaries.test.d", "misc.test",
                "alt.test.d"}},
    SearchCase{"ContainsWithTrailingBlank", "test ", Mode::kContains,
               {"alt.binaries.test", "Alt.binaries.test", "misc.test"}},
    SearchCase{"LastGroup", "comp.", Mode::kStartsWith, {"comp.last"}},
    SearchCase{"StartsWithNotInside", "binaries", Mode::kStartsWith, {}},
    SearchCase{"QueryLongerThanNames", "alt.binaries.test.d.more", Mode::kStartsWith, {}}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

TEST_F(SearchTest, RowsCarryEstimatedTotalsFirstAndLast) {
    Load(kFile);
    Query("", Mode::kContains);
    // Last minus First; " ? " one below zero or past 90999; 64-bit numbers.
    EXPECT_THAT(Column(1),
                ElementsAre("00000", "00000", "00020", "00004", " ? ", " ? ", "01000", "00006"));
    EXPECT_THAT(Column(2),
                ElementsAre("ready", "follows", "100", "1", "100", "1", "3000000000", "4"));
    EXPECT_THAT(Column(3),
                ElementsAre("server", "list", "120", "5", "99", "200000", "3000001000", "10"));
    for (const auto& row : host.Rows().Rows()) EXPECT_EQ(row.icon, 2);
}

// Many lines that cannot match, then the one that does: the skip lands close before it.
std::string FillerThen(const std::string& target, int filler_lines) {
    std::string text = "215 list\r\n";
    for (int i = 0; i < filler_lines; ++i)
        text += "comp.filler.group" + std::to_string(i) + " 10 1 y\r\n";
    return text + target + " 10 1 y\r\nzz.after 1 1 y\r\n.\r\n";
}

TEST_F(SearchTest, SkipAheadLandsBeforeTheMatchInBothModes) {
    Load(FillerThen("alt.target", 5000));
    EXPECT_THAT(Query("alt.target", Mode::kStartsWith), ElementsAre("alt.target"));
    // Up to 512 characters of lines before the match, about 20 here, are looked at.
    EXPECT_LT(host.Search().LinesExamined(), 40u);
    EXPECT_THAT(Query("target", Mode::kContains), ElementsAre("alt.target"));
    EXPECT_LT(host.Search().LinesExamined(), 40u);
    // No further occurrence: the search ends at once.
    EXPECT_THAT(Query("nowhere", Mode::kContains), ElementsAre());
    EXPECT_EQ(host.Search().LinesExamined(), 1u);
}

TEST_F(SearchTest, SkipAheadNeverPassesOverAMatchOnALongLine) {
    // The match sits more than 512 characters into its line.
    Load(FillerThen(std::string(700, 'x') + "needle", 200));
    EXPECT_THAT(Query("needle", Mode::kContains), ElementsAre(std::string(700, 'x') + "needle"));
}

TEST_F(SearchTest, StopEndsTheSearchAtOnceWithTheCountSoFar) {
    Load(FillerThen("alt.target", 50));
    host.SetSliceLines(10);
    host.QueryCommand("comp.", Mode::kStartsWith);
    EXPECT_TRUE(host.View().cmdQueryStops && !host.View().resultsVisible);
    EXPECT_FALSE(host.View().cmdReloadEnabled || host.View().cmdGetHostGroupsEnabled);
    EXPECT_TRUE(host.ContinueSearch());
    clock.Advance(std::chrono::seconds(3));
    EXPECT_TRUE(host.ContinueSearch());
    EXPECT_EQ(host.View().panel1, "Searching... (19 matching groups found)  Time:3 seconds");
    host.QueryCommand("comp.", Mode::kStartsWith);  // the button reads "&Stop Search"
    EXPECT_FALSE(host.Searching());
    EXPECT_EQ(host.View().panel1, "Search Aborted. (19 matching groups found)  Time:3 seconds");
    EXPECT_TRUE(host.View().resultsVisible && host.View().cmdReloadEnabled);
    EXPECT_FALSE(host.View().cmdQueryStops || host.View().progressVisible);
    EXPECT_EQ(host.Rows().Count(), 19);
}

TEST_F(SearchTest, ClosingTheWindowMidSearchStopsItAndReopeningStartsAfresh) {
    Load(FillerThen("alt.target", 50));
    host.SetSliceLines(5);
    host.QueryCommand("", Mode::kContains);
    EXPECT_TRUE(host.ContinueSearch());
    host.WindowClosed();
    EXPECT_FALSE(host.Searching());
    EXPECT_FALSE(host.ContinueSearch());
    host.Open();
    EXPECT_EQ(host.Rows().Count(), 0);
    EXPECT_TRUE(host.View().cmdQueryEnabled && host.View().resultsVisible);
    // The list is read again while a search runs: the search ends first.
    host.QueryCommand("", Mode::kContains);
    host.ContinueSearch();
    dir.Write(HostGroups::kFileName, "215 x\r\nsmall 1 1 y\r\n.\r\n");
    host.preload_groups();
    EXPECT_FALSE(host.Searching());
    EXPECT_THAT(Query("", Mode::kContains), ElementsAre("215", "small"));
}

TEST_F(SearchTest, AddSelectionsAppendsBottomUpAndRefusesUnsafeNames) {
    Load(
        "215 x\r\ngood.one 1 1 y\r\nalt/../evil 1 1 y\r\ngood.two 1 1 y\r\n"
        "tab\tname 1 1 y\r\ngood.three 1 1 y\r\n.\r\n");
    Query("", Mode::kContains);
    host.cmdAdd_Click();
    EXPECT_EQ(host.View().panel1, "Error, no group(s) selected.");
    for (int position = 1; position < host.Rows().Count(); ++position) host.Rows().Select(position);
    TakeLogged();
    host.cmdAdd_Click();
    Names added;
    for (const auto& entry : groups.Entries()) added.push_back(entry.name);
    EXPECT_THAT(added, ElementsAre("good.three", "good.two", "good.one"));
    EXPECT_THAT(TakeLogged(), ElementsAre("Refused newsgroup name from the server: tab\tname",
                                          "Refused newsgroup name from the server: alt/../evil"));
    std::vector<int> icons;
    for (const auto& row : host.Rows().Rows()) icons.push_back(row.icon);
    EXPECT_THAT(icons, ElementsAre(2, 3, 2, 3, 2, 3));
    host.cmdAdd_Click();  // again: names already listed are skipped silently
    EXPECT_EQ(groups.Count(), 3);
}

}  // namespace
}  // namespace quillfin::testing
