// NZB files: queueing an imported one, and the export's fetch of message-IDs.
#include <limits>

#include "app/program.h"
#include "common/text.h"
#include "headers/message_id.h"
#include "nzb/nzb_postings.h"

namespace quillfin::app {

bool Program::ImportNzb(const nzb::NzbDocument& document, const std::string& name) {
    std::string problem = nzb::CheckDocument(document);
    if (problem.empty() && std::int64_t(table.HeaderCount()) + std::int64_t(document.files.size()) >
                               std::numeric_limits<std::int32_t>::max())
        problem = "the header table is full";
    if (!problem.empty()) {
        log.LogEvent("NZB file not queued: " + name + ": " + problem, true);
        services_.prompts.Message("The NZB file " + name + " cannot be queued: " + problem +
                                  ".\n\nNothing from it was added to the batch.");
        return false;
    }
    std::vector<headers::HeaderEntry> postings = nzb::DocumentToPostings(document);
    std::int64_t segments = 0;
    for (headers::HeaderEntry& entry : postings) {
        segments += entry.PartCount();
        batch.AddToBatch(table.AddPosting(std::move(entry)));
    }
    table.HeadersChanged = true;
    views.UpdateHeaderList();
    log.LogEvent("Queued" + common::Str(std::int64_t(postings.size())) + " files (" +
                     common::Decimal(segments) + " articles) from " + name,
                 true);
    return true;
}

void Program::SetNzbPlatform(download::ConnectionPool::Platform platform) {
    nzb_fetch_ = std::make_unique<nzb::MessageIdFetch>(std::move(platform), settings, log,
                                                       services_.prompts, services_.clock);
}

void Program::ExportNzbCommand(bool from_batch,
                               std::function<void(const nzb::NzbDocument&)> write) {
    const std::vector<std::int32_t> indices =
        from_batch ? batch.Rows().SelectedTags() : views.Rows().SelectedTags();
    if (indices.empty()) {
        services_.prompts.Message("Nothing selected.");
        return;
    }
    if (!nzb_fetch_ || nzb_fetch_->Running()) {
        services_.prompts.Message(nzb_fetch_ ? "An NZB export is already running."
                                             : "NZB export cannot connect on this platform.");
        return;
    }
    // Parts from an NZB file already carry their IDs; only scanned ones are asked for.
    std::vector<nzb::MessageIdFetch::Article> wanted;
    std::vector<std::pair<std::size_t, std::size_t>> places;
    std::vector<std::vector<std::string>> ids(indices.size());
    for (std::size_t i = 0; i < indices.size(); ++i) {
        const headers::HeaderEntry& entry = table.Entry(indices[i]);
        ids[i].resize(entry.Parts.size());
        for (std::size_t p = 0; p < entry.Parts.size(); ++p) {
            const headers::PartRef& part = entry.Parts[p];
            const std::string number = part.ArticleNumber;
            if (headers::IsMessageId(number)) {
                ids[i][p] = number;
                continue;
            }
            wanted.push_back({part.Group.str(), common::WholeValue(number)});
            places.emplace_back(i, p);
        }
    }
    Status("Export NZB: asking the server for" + common::Str(std::int64_t(wanted.size())) +
           " message-IDs");
    nzb_fetch_->Start(
        std::move(wanted), [this, indices, places, ids = std::move(ids),
                            write = std::move(write)](nzb::MessageIdFetch::Result result) mutable {
            if (!result.failure.empty()) {
                log.LogEvent("NZB export failed: " + result.failure, true);
                services_.prompts.Message("The NZB file was not written: " + result.failure + ".");
                return;
            }
            for (std::size_t k = 0; k < places.size(); ++k)
                ids[places[k].first][places[k].second] = std::move(result.ids[k]);
            write(nzb::PostingsToDocument(table, indices, ids));
        });
}

}  // namespace quillfin::app
