#include "download/yenc_decoder.h"

#include <gmock/gmock.h>

#include "download/download_fixture.h"

namespace quillfin::testing {
namespace {

using download::DecodeYenc;
using download::YencPart;
using ::testing::HasSubstr;

// The reply's text with NNTP's dot-stuffing undone and without its end line.
std::string Unstuffed(const std::string& reply) {
    std::string out;
    std::istringstream in(reply);
    for (std::string line; std::getline(in, line);) {
        if (line == ".\r") break;
        out += (line.starts_with("..") ? line.substr(1) : line) + "\n";
    }
    return out;
}

class YencDecoderTest : public DecodeFixture {
  protected:
    // Decodes every part (in the given order) both as the server sends it and with the
    // stuffing undone, placing each at its range; returns the file put together.
    std::string Assemble(const std::vector<std::string>& parts, const std::vector<int>& order) {
        std::string file;
        for (bool stuffed : {true, false}) {
            std::string assembled;
            for (int k : order) {
                const std::string reply = ArticleReply(std::to_string(k), "s", parts[k - 1]);
                YencPart part;
                EXPECT_TRUE(DecodeYenc(stuffed ? reply : Unstuffed(reply), stuffed, part));
                EXPECT_EQ(part.problem, "") << "part " << k;
                const auto& h = part.header;
                if (assembled.size() < std::size_t(h.size)) assembled.resize(std::size_t(h.size));
                if (h.begin >= 1 && std::size_t(h.end) <= assembled.size() &&
                    part.data.size() == std::size_t(h.end - h.begin + 1))
                    assembled.replace(std::size_t(h.begin - 1), part.data.size(), part.data);
            }
            if (stuffed) file = assembled;
            EXPECT_EQ(assembled, file) << "stuffed and unstuffed differ";
        }
        return file;
    }
};

struct EncodedCase {
    const char* name;
    std::string data;  // empty: random bytes of size
    std::size_t size;
    int lines;  // lines per part
    std::vector<int> order;
};

class YencAgainstEncoderTest : public YencDecoderTest,
                               public ::testing::WithParamInterface<EncodedCase> {};

// uuenview's yEnc, byte for byte, including escapes at every column of a line.
TEST_P(YencAgainstEncoderTest, GivesTheOriginalBytes) {
    const EncodedCase& c = GetParam();
    std::string original = c.data.empty() ? MakeFile("f.bin", c.size) : c.data;
    dir.Write("src/f.bin", original);
    const std::vector<std::string> parts = Encode("f.bin", "-y", c.lines);
    ASSERT_EQ(parts.size(), c.order.size());
    EXPECT_EQ(Assemble(parts, c.order), original);
}

// A byte that yEnc escapes (NUL, LF, CR, '=') from a byte of the file.
char Escaped(char c) { return char(c - 42); }

std::string EscapedRun(std::size_t plain, std::size_t escaped) {
    std::string out(plain, 'a');
    const char critical[] = {'\0', '\n', '\r', '='};
    for (std::size_t i = 0; i < escaped; ++i) out += Escaped(critical[i % 4]);
    return out;
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Cases, YencAgainstEncoderTest, ::testing::Values(
    EncodedCase{"OneByte", "", 1, 1000, {1}},
    EncodedCase{"OneLineExactly", "", 128, 1000, {1}},
    EncodedCase{"OnePastALine", "", 129, 1000, {1}},
    EncodedCase{"ManyPartsOutOfOrder", "", 200000, 300, {4, 1, 6, 5, 3, 2}},
    // Every byte escaped puts escapes on even columns; one plain byte first, on odd ones.
    EncodedCase{"AllEscapedEvenColumns", EscapedRun(0, 2000), 0, 1000, {1}},
    EncodedCase{"AllEscapedOddColumns", EscapedRun(1, 2000), 0, 1000, {1}}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

// Hand-made articles for what encoders rarely write.
struct ArticleCase {
    const char* name;
    std::string body;      // as sent, dot-stuffed, lines ending in CR LF
    std::string expected;  // the decoded bytes
    std::string problem;   // a part of the problem; empty when none
};

std::string Encoded(std::string_view bytes) {
    std::string out;
    for (char c : bytes) out += char(c + 42);
    return out;
}

std::string Crc(std::string_view bytes) {
    char text[9];
    std::snprintf(text, sizeof text, "%08x", download::Crc32(0, bytes));
    return text;
}

class YencArticleTest : public YencDecoderTest,
                        public ::testing::WithParamInterface<ArticleCase> {};

TEST_P(YencArticleTest, DecodesOrSaysWhatIsWrong) {
    const ArticleCase& c = GetParam();
    YencPart part;
    const std::string reply = "220 1 <1@x> article\r\nSubject: s\r\n\r\n" + c.body + ".\r\n";
    ASSERT_TRUE(DecodeYenc(reply, true, part));
    EXPECT_EQ(part.data, c.expected);
    if (c.problem.empty())
        EXPECT_EQ(part.problem, "");
    else
        EXPECT_THAT(part.problem, HasSubstr(c.problem));
}

const std::string kHello = "hello";
const std::string kHelloLine = Encoded(kHello) + "\r\n";

// clang-format off
INSTANTIATE_TEST_SUITE_P(Cases, YencArticleTest, ::testing::Values(
    ArticleCase{"SinglePartWithItsFileChecksum",
        "=ybegin line=128 size=5 name=a b.txt\r\n" + kHelloLine +
        "=yend size=5 crc32=" + Crc(kHello) + "\r\n", kHello, ""},
    ArticleCase{"LineFeedsAlone",
        "=ybegin line=128 size=5 name=a\n" + Encoded(kHello) + "\n=yend size=5 crc32=" +
        Crc(kHello) + "\n", kHello, ""},
    ArticleCase{"NoEndLineButTheSizeFits",
        "=ybegin line=128 size=5 name=a\r\n" + kHelloLine, kHello, ""},
    ArticleCase{"TruncatedPart",
        "=ybegin part=2 total=3 line=128 size=20 name=a\r\n=ypart begin=6 end=10\r\n" +
        Encoded("hel") + "\r\n", "hel", "has 3 bytes, expected 5"},
    ArticleCase{"EndSizeDisagrees",
        "=ybegin line=128 size=5 name=a\r\n" + kHelloLine + "=yend size=6 crc32=" +
        Crc(kHello) + "\r\n", kHello, "has 5 bytes"},
    ArticleCase{"DamagedByte",
        "=ybegin part=1 total=1 line=128 size=5 name=a\r\n=ypart begin=1 end=5\r\n" +
        Encoded("hellp") + "\r\n=yend size=5 part=1 pcrc32=" + Crc(kHello) + "\r\n",
        "hellp", "checksum mismatch in part 1"},
    // A one-byte part is checked like any other.
    ArticleCase{"OneByteWrongChecksum",
        "=ybegin part=3 total=3 line=128 size=11 name=a\r\n=ypart begin=11 end=11\r\n" +
        Encoded("x") + "\r\n=yend size=1 part=3 pcrc32=" + Crc("y") + "\r\n",
        "x", "checksum mismatch in part 3"},
    // "=" ending a line escapes the next line's first byte; "=M" escapes a CR at a line's end.
    ArticleCase{"EscapeSplitByALineBreak",
        "=ybegin line=128 size=3 name=a\r\nab=\r\n" + std::string(1, char('\r' + 106)) +
        "\r\n=yend size=3 crc32=" + Crc("78\r") + "\r\n", "78\r", ""},
    // A line whose first decoded byte is a dot comes doubled; a lone dot ends the reply.
    ArticleCase{"DoubledDotAtALineStart",
        "=ybegin line=128 size=2 name=a\r\n..\r\n" + Encoded("!") + "\r\n=yend size=2 crc32=" +
        Crc(std::string{char('.' - 42), '!'}) + "\r\n",
        std::string{char('.' - 42), '!'}, ""},
    ArticleCase{"EndLineWithoutTrailer",
        "=ybegin line=128 size=9 name=a\r\n" + kHelloLine, kHello, "has 5 bytes, expected 9"},
    ArticleCase{"NoRange",
        "=ybegin part=2 line=128 name=a\r\n" + kHelloLine, kHello, "no valid range"}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

TEST(YencDetectTest, FindsABlockNearTheStartOfTheBodyOnly) {
    YencPart part;
    const std::string headers = "220 1 <1@x>\r\nSubject: =ybegin in a header\r\n\r\n";
    const std::string block = "=ybegin line=128 size=5 name=n.bin\r\n" + kHelloLine;
    EXPECT_FALSE(download::LooksLikeYenc(headers + "text\r\n"));
    EXPECT_FALSE(DecodeYenc(headers + "text =ybegin in a line\r\n", true, part));
    EXPECT_TRUE(download::LooksLikeYenc(headers + "text\r\n" + block));
    // Past the window the library's way takes it; the decoder itself still finds it.
    const std::string late = headers + std::string(70000, 'x') + "\r\n" + block;
    EXPECT_FALSE(download::LooksLikeYenc(late));
    ASSERT_TRUE(DecodeYenc(late, true, part));
    EXPECT_EQ(part.header.name, "n.bin");
    EXPECT_EQ(part.data, kHello);
}

}  // namespace
}  // namespace quillfin::testing
