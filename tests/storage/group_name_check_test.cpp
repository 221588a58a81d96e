#include "storage/group_name_check.h"

#include <gtest/gtest.h>

namespace quillfin::storage {
namespace {

TEST(GroupNameCheckTest, RefusesWhatCannotBeSentOrFiledAndKeepsSurroundingBlanks) {
    struct Case {
        const char* name;
        const char* problem;  // a word the message must hold; nullptr when accepted
    };
    const Case cases[] = {
        {"alt.binaries.pictures", nullptr},
        {"  alt.binaries.test  ", nullptr},  // blanks around stay as typed
        {"a", nullptr},
        {"comp.lang.c++", nullptr},
        {"alt.b\xE9", nullptr},  // 8-bit text is the user's business
        {"", "enter"},
        {"   ", "enter"},
        {"alt.binaries test", "blanks"},
        {"alt,binaries", "comma"},
        {"alt/binaries", "\"/\""},
        {"alt\\binaries", "\"\\\""},
        {"alt.\tbinaries", "control"},
        {"alt.bin\x7F", "control"},
        {"alt.\nx", "control"},
        {".", "dot"},
        {"..", "dot"},
        {"alt..binaries", "dot"},
        {".alt.binaries", "dot"},
        {"alt.binaries.", "dot"},
    };
    for (const Case& c : cases) {
        const std::string problem = GroupNameProblem(c.name);
        if (c.problem == nullptr) {
            EXPECT_EQ(problem, "") << c.name;
        } else {
            EXPECT_NE(problem.find(c.problem), std::string::npos) << c.name << ": " << problem;
        }
    }
}

}  // namespace
}  // namespace quillfin::storage
