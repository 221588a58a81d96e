#pragma once

#include <string>
#include <string_view>

namespace quillfin::headers {

// The join key of a subject and the part total its marker announces.
struct SubjectKey {
    std::string key;    // untrimmed when no marker was found; maketree trims it
    std::string total;  // "" when the subject announces no total
    // Markers whose digit stood too close to the start for the five-character window; each
    // is a run-time error that add_articleheader logs and steps over.
    int window_errors = 0;
};

// Finds the part marker ("(03/10)", "[2/5]") and cuts the subject down to its base.
SubjectKey ParseSubjectKey(std::string_view subject);
// The same into out, reusing its storage: called once per overview line.
void ParseSubjectKey(std::string_view subject, SubjectKey& out);

}  // namespace quillfin::headers
