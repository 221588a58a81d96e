// The part marker parse of a subject: any bytes, and the reused result must equal a fresh one.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "headers/subject_key.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view subject(reinterpret_cast<const char*>(data), size);
    // The overview parser reuses one result for every line: leftovers must not leak through.
    static quillfin::headers::SubjectKey reused;
    quillfin::headers::ParseSubjectKey(subject, reused);
    const quillfin::headers::SubjectKey fresh = quillfin::headers::ParseSubjectKey(subject);
    if (fresh.key != reused.key || fresh.total != reused.total ||
        fresh.window_errors != reused.window_errors || fresh.window_errors < 0)
        std::abort();
    return 0;
}
