#pragma once

#include <stdexcept>
#include <string>

namespace quillfin::common {

// A run-time error of the kind the parsing routines catch, log as
// "name: <number>  <description>" and step over.
struct RunError : std::runtime_error {
    RunError(int number, const std::string& description)
        : std::runtime_error(description), number(number) {}
    int number;
};

inline constexpr int kInvalidArgument = 5;
inline constexpr int kOverflow = 6;
inline constexpr int kTypeMismatch = 13;

inline RunError InvalidArgument() {
    return {kInvalidArgument, "Invalid procedure call or argument"};
}
inline RunError Overflow() { return {kOverflow, "Overflow"}; }
inline RunError TypeMismatch() { return {kTypeMismatch, "Type mismatch"}; }

// The logged form: routine name with colon, the number with a leading blank, two blanks, text.
inline std::string FormatRunError(const std::string& routine, int number,
                                  const std::string& description) {
    return routine + ": " + std::to_string(number) + "  " + description;
}

}  // namespace quillfin::common
