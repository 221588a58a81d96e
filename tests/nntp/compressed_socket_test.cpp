#include "nntp/compressed_socket.h"

#include <gmock/gmock.h>
#include <zlib.h>

#include "nntp/scan_fixture.h"

namespace quillfin::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// The server's side of a deflate stream.
struct Deflater {
    Deflater() {
        deflateInit2(&out, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
        inflateInit2(&in, -15);
    }
    ~Deflater() {
        deflateEnd(&out);
        inflateEnd(&in);
    }
    std::string Pack(const std::string& text) {
        std::string packed(text.size() + 1024, '\0');
        out.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
        out.avail_in = uInt(text.size());
        out.next_out = reinterpret_cast<Bytef*>(packed.data());
        out.avail_out = uInt(packed.size());
        deflate(&out, Z_SYNC_FLUSH);
        packed.resize(packed.size() - out.avail_out);
        return packed;
    }
    std::string Unpack(const std::string& packed) {
        std::string text(65536, '\0');
        in.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
        in.avail_in = uInt(packed.size());
        in.next_out = reinterpret_cast<Bytef*>(text.data());
        in.avail_out = uInt(text.size());
        inflate(&in, Z_SYNC_FLUSH);
        text.resize(text.size() - in.avail_out);
        return text;
    }
    z_stream out{};
    z_stream in{};
};

class CompressedSocketTest : public ::testing::Test {
  protected:
    CompressedSocketTest() {
        socket.enabled = [this] { return enabled; };
        socket.log = [this](const std::string& line) { logged.push_back(line); };
        socket.onDataArrival = [this](const std::string& chunk) { got += chunk; };
        socket.onError = [this](int, const std::string& text) { errors.push_back(text); };
        socket.Connect();
    }
    // Delivers text a byte at a time when split is set: replies cut anywhere.
    void Say(const std::string& text, bool split = false) {
        if (!split) return inner.Deliver(text);
        for (char c : text) inner.Deliver(std::string(1, c));
    }
    std::vector<std::string> Sent() { return std::exchange(inner.sent, {}); }

    bool enabled = true;
    FakeSocket inner;
    nntp::CompressedSocket socket{inner};
    std::string got;
    std::vector<std::string> logged, errors;
};

TEST_F(CompressedSocketTest, OfferedCompressionIsTurnedOnBeforeTheGreetingGoesUp) {
    for (const bool split : {false, true}) {
        SCOPED_TRACE(split ? "a byte at a time" : "whole replies");
        got.clear();
        socket.Connect();
        Say("200 news ready\r\n", split);
        EXPECT_THAT(Sent(), ElementsAre("CAPABILITIES"));
        EXPECT_THAT(got, IsEmpty());
        Say("101 Capability list:\r\nVERSION 2\r\ncompress  gzip deflate\r\n.\r\n", split);
        EXPECT_THAT(Sent(), ElementsAre("COMPRESS DEFLATE"));
        Deflater server;
        // The first compressed reply may come in the chunk of the "206".
        Say("206 Compression active\r\n" + server.Pack("211 3 1 3 alt.test\r\n"), split);
        EXPECT_EQ(got, "200 news ready\r\n211 3 1 3 alt.test\r\n");
        EXPECT_TRUE(socket.Compressing());
        EXPECT_THAT(logged, ElementsAre("Compression on (COMPRESS DEFLATE)"));
        logged.clear();
        socket.Send("XOVER 1-3\r\n");
        EXPECT_EQ(server.Unpack(inner.raw_sent.substr(inner.raw_sent.rfind("DEFLATE\r\n") + 9)),
                  "XOVER 1-3\r\n");
        inner.raw_sent.clear();
        inner.sent.clear();
        // Damaged data from the server is an error for the connection, not text.
        Say("not deflate at all\xff\xff\xff\xff");
        EXPECT_THAT(errors, ElementsAre("Compressed data from the server is damaged"));
        errors.clear();
    }
}

TEST_F(CompressedSocketTest, WithoutTheOfferEverythingStaysAsTheServerSentIt) {
    const struct {
        const char* name;
        bool enabled;
        std::string greeting;
        std::string capabilities;  // empty: nothing is asked
        std::string compress;      // the reply to COMPRESS; empty: not asked
    } cases[] = {
        {"switched off", false, "200 ready\r\n", "", ""},
        {"refused greeting", true, "502 go away\r\n", "", ""},
        {"not in the list", true, "201 ready\r\n", "101 list\r\nVERSION 2\r\nCOMPRESSX DEFLATE\r\n.\r\n", ""},
        {"no list", true, "200 ready\r\n", "500 What?\r\n", ""},
        {"refused", true, "200 ready\r\n", "101 list\r\nCOMPRESS DEFLATE\r\n.\r\n", "403 no\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        enabled = c.enabled;
        got.clear();
        socket.Connect();
        Say(c.greeting);
        if (!c.capabilities.empty()) {
            EXPECT_THAT(Sent(), ElementsAre("CAPABILITIES"));
            Say(c.capabilities);
        }
        if (!c.compress.empty()) {
            EXPECT_THAT(Sent(), ElementsAre("COMPRESS DEFLATE"));
            Say(c.compress);
        }
        EXPECT_THAT(Sent(), IsEmpty());
        EXPECT_EQ(got, c.greeting);
        socket.Send("GROUP alt.test\r\n");
        Say("211 1 1 1 alt.test\r\n");
        EXPECT_EQ(got, c.greeting + "211 1 1 1 alt.test\r\n");
        EXPECT_THAT(Sent(), ElementsAre("GROUP alt.test"));
        EXPECT_FALSE(socket.Compressing());
    }
    EXPECT_THAT(logged, IsEmpty());
}

}  // namespace
}  // namespace quillfin::testing
