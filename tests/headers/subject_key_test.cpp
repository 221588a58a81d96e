#include "headers/subject_key.h"

#include <gtest/gtest.h>

namespace quillfin::headers {
namespace {

TEST(ParseSubjectKey, FindsTheMarkerAndTheTotal) {
    struct Case {
        const char* subject;
        const char* key;
        const char* total;
    } cases[] = {
        {"holiday.zip (01/10)", "holiday.zip [xx/0000010]", "10"},
        {"  holiday.zip (03/10) yEnc ", "holiday.zip [xx/0000010]", "10"},
        {"[Pics] beach [2/5]", "[Pics] beach [xx/0000005]", "5"},
        {"[Pics] beach [2]", "[Pics] beach", ""},
        {"Report (2)", "Report (2) ", ""},
        {"(01/10)", "(no subject?) [xx/0000010]", "10"},
        {"x (1/2) y (1/2)", "x (1/2) y [xx/0000002]", "2"},
        {"[0042/0180] - \"video-0042.part07.rar\" yEnc (07/50)",
         "[0042/0180] - \"video-0042.part07.rar\" yEnc [xx/0000050]", "50"},
        {"[3/7] - \"name.par2\" yEnc (1/4)", "[3/7] - \"name.par2\" yEnc [xx/0000004]", "4"},
        // Totals ending in the first and the last digit.
        {"song.mp3 (01/19)", "song.mp3 [xx/0000019]", "19"},
        {"[Pics] beach [2/9]", "[Pics] beach [xx/0000009]", "9"},
        {"[Pics] beach [2/10]", "[Pics] beach [xx/0000010]", "10"},
        // The lowest digit wins, not the leftmost marker.
        {"a (5/9) b (1/3)", "a (5/9) b [xx/0000003]", "3"},
        // Totals padded to seven digits whatever zeros or sign they are written with.
        {"a (1/0)", "a [xx/0000000]", "0"},
        {"a [1/00000000000000000123]", "a [xx/0000123]", "00000000000000000123"},
        {"a [1/12345678]", "a [xx/12345678]", "12345678"},
        {"a [1/999999999999999]", "a [xx/999999999999999]", "999999999999999"},
        {"a (1/+5)", "a [xx/0000005]", "+5"},
        // A repeated marker is accepted without the window test.
        {"abcdefgh 2) 2) 2) tail", "abcdefgh 2) 2) 2)", ""},
        {"", " ", ""},
        {"no marker at all", "no marker at all ", ""},
    };
    for (const Case& c : cases) {
        SubjectKey parsed = ParseSubjectKey(c.subject);
        EXPECT_EQ(parsed.key, c.key) << c.subject;
        EXPECT_EQ(parsed.total, c.total) << c.subject;
    }
}

TEST(ParseSubjectKey, CountsMarkersTooCloseToTheStartForTheWindow) {
    // "(1/2) x": the digit stands at position 4, so there is no five-character window.
    SubjectKey parsed = ParseSubjectKey("(1/2) x");
    EXPECT_EQ(parsed.window_errors, 1);
    EXPECT_EQ(parsed.key, "(1/2) x ");
    EXPECT_EQ(ParseSubjectKey("holiday.zip (01/10)").window_errors, 0);
    // Short subjects of five characters have no window to test and raise nothing.
    EXPECT_EQ(ParseSubjectKey("(1)a").window_errors, 0);
}

TEST(ParseSubjectKey, SurvivesHostileSubjects) {
    std::string junk;
    for (int c = 0; c < 256; ++c) junk += char(c);
    std::string huge(1 << 20, 'x');
    huge += " (1/2)";
    for (const std::string& subject :
         {junk, huge, std::string("))))))"), std::string("]]]]]] 1] 1]"), std::string("(/)"),
          std::string("0)0)0)0)0)0)"), std::string("x [1/99999999999999999999]")}) {
        SubjectKey parsed = ParseSubjectKey(subject);
        EXPECT_LE(parsed.key.size(), subject.size() + 30);
    }
    EXPECT_EQ(ParseSubjectKey(huge).key, std::string(1 << 20, 'x') + " [xx/0000002]");
}

}  // namespace
}  // namespace quillfin::headers
