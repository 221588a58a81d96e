// The download connection fed a server's replies in arbitrary chunks, over the tests'
// scripted socket, with the real decoder filing what arrives. Two postings wait in the batch,
// in two groups; the first byte picks the login options.
#include <cstdint>
#include <string>

#include "download/download_engine_fixture.h"
#include "fuzz_input.h"

namespace {

using namespace quillfin;

class DownloadSession : public quillfin::testing::DownloadEngineFixture {
  public:
    void TestBody() override {}

    void Run(std::uint8_t flags, const std::vector<std::string>& chunks) {
        settings.chkAuth = flags & 1;
        settings.chkSlave = (flags >> 1) & 1;
        settings.chkMakeSubDirs = (flags >> 2) & 1;
        settings.User_Name = "user";
        settings.User_Pass = "pass";
        if (flags & 8) engine->SetReplyLimit(1024);  // within reach of the input length
        // One table for both: each AddPosting rebuilds the whole table.
        headers::HeaderEntryList list;
        list.push_back(Posting("pic.jpg (1/2)", {"101", "102"}, "alt.binaries.test"));
        list.push_back(Posting("notes.txt", {"7"}, "alt.test"));
        table.Replace(std::move(list));
        batch.BuildBatchList();
        batch.AddToBatch(1);
        batch.AddToBatch(2);
        engine->DownloadStep();
        for (const std::string& chunk : chunks) {
            if (chunk == "\x01") {
                tcp2.PeerClose();
                engine->DownloadStep();  // the restart countdown's step
                continue;
            }
            tcp2.Deliver(chunk);
        }
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::uint8_t flags = fuzz::TakeFlags(data, size);
    DownloadSession session;
    session.Run(flags, fuzz::Pieces(data, size));
    return 0;
}
