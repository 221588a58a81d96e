// The scan connection fed a server's replies in arbitrary chunks, over the tests' scripted
// socket. The first byte picks the login options; a chunk that starts with 0x01 arrives in
// the middle of the next parse (from the event pump), as the network may deliver it.
#include <cstdint>
#include <string>

#include "fuzz_input.h"
#include "nntp/scan_fixture.h"

namespace {

using namespace quillfin;

class ScanSession : public quillfin::testing::ScanFixture {
  public:
    void TestBody() override {}

    void Run(std::uint8_t flags, const std::vector<std::string>& chunks) {
        settings.chkAuth = flags & 1;
        settings.chkSlave = (flags >> 1) & 1;
        settings.User_Name = "user";
        settings.User_Pass = "pass";
        // A small limit reaches the oversized-reply path with short inputs.
        if (flags & 4) engine->SetReplyLimit(512);
        AddGroups("alt.test=5000|alt.binaries.two=|-alt.off=10|alt.last=abc");
        Connect();
        for (const std::string& chunk : chunks) {
            if (!chunk.empty() && chunk[0] == '\x01') {
                pump.actions.push_back([this, text = chunk.substr(1)] { tcp1.Deliver(text); });
                continue;
            }
            tcp1.Deliver(chunk);
        }
        while (!pump.actions.empty()) pump.Pump();
        if (flags & 8) tcp1.PeerClose();
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::uint8_t flags = fuzz::TakeFlags(data, size);
    ScanSession session;
    session.Run(flags, fuzz::Pieces(data, size));
    return 0;
}
