// Articles of any text decoded through libuu and filed under the file-name rules. Each piece
// of the input is one part of the posting, stored as the batch stores a retrieved article.
#include <cstdint>
#include <string>
#include <vector>

#include "download/download_fixture.h"
#include "fuzz_input.h"

namespace {

using namespace quillfin;

class Decode : public quillfin::testing::DecodeFixture {
  public:
    void TestBody() override {}

    void Run(std::uint8_t flags, const std::vector<std::string>& parts) {
        settings.chkMakeSubDirs = flags & 1;
        settings.chkSaveDecodes = (flags >> 1) & 1;
        std::vector<std::string> numbers;
        for (std::size_t k = 1; k <= parts.size(); ++k) numbers.push_back(std::to_string(k));
        const std::int32_t index =
            AddPosting("file.bin", numbers, (flags & 4) ? "../alt.test" : "alt.binaries.test");
        for (std::size_t k = 0; k < parts.size(); ++k)
            decoder.StorePart(index, std::int32_t(k + 1), parts[k]);
        decoder.DecodePosting(index);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::uint8_t flags = fuzz::TakeFlags(data, size);
    Decode decode;
    decode.Run(flags, fuzz::Pieces(data, size, 4));
    return 0;
}
