// An NZB file from anywhere, plain or gzip-compressed: read, checked and turned into postings.
// What the reader and the checks accept, the writer must write so that it reads back the same.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "nzb/nzb_postings.h"
#include "platform/nzb_reader.h"
#include "platform/nzb_writer.h"

namespace {

using namespace quillfin;

bool Same(const nzb::NzbDocument& a, const nzb::NzbDocument& b) {
    if (a.files.size() != b.files.size()) return false;
    for (std::size_t i = 0; i < a.files.size(); ++i) {
        const nzb::NzbFile& x = a.files[i];
        const nzb::NzbFile& y = b.files[i];
        if (x.date != y.date || x.groups != y.groups || x.segments.size() != y.segments.size())
            return false;
        for (std::size_t s = 0; s < x.segments.size(); ++s)
            if (x.segments[s].bytes != y.segments[s].bytes ||
                x.segments[s].number != y.segments[s].number ||
                x.segments[s].messageId != y.segments[s].messageId)
                return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const platform::NzbReadResult read =
        platform::ReadNzb(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!read.error.empty()) {
        if (!read.document.files.empty()) std::abort();  // refused means nothing half
        return 0;
    }
    if (!nzb::CheckDocument(read.document).empty()) return 0;
    const auto postings = nzb::DocumentToPostings(read.document);
    if (postings.size() != read.document.files.size()) std::abort();
    const platform::NzbReadResult again = platform::ReadNzb(platform::WriteNzb(read.document));
    if (!again.error.empty() || !nzb::CheckDocument(again.document).empty() ||
        !Same(read.document, again.document))
        std::abort();
    return 0;
}
