#pragma once

#include <cstdint>
#include <string>

namespace quillfin::download {

// The decoding library as the program drives it: one run per posting, the calls always in
// this order. It exists so the filing logic can be tested without the real library and so
// another decoder could take its place.
class DecoderLibrary {
  public:
    struct DecodeResult {
        bool ok = false;
        int code = 0;      // the library's result code; 1 is an I/O error
        int moveCode = 0;  // the system error behind it, 0 when none
    };

    virtual ~DecoderLibrary() = default;

    // The size the next run's posting declares: bounds what a run may write. Before StartRun.
    virtual void ExpectSize(std::int64_t /*bytes*/) {}
    // Starts a run; false when another run holds the library.
    virtual bool StartRun() = 0;
    // 0 when the file was read into the run's list of parts.
    virtual int LoadFile(const std::string& path) = 0;
    // Decode a file even when parts of it are missing: the MP3 preview has only the first.
    // Every run starts with it off.
    virtual void DecodeIncomplete(bool on) = 0;
    // The first file found in the loaded parts; 0 when there is nothing to decode.
    virtual int FirstItem() = 0;
    // The name the item decodes to as the encoded data gives it; empty when none.
    virtual std::string ItemFileName(int item) = 0;
    // The library's own clean-up of a file name.
    virtual std::string FilterFileName(const std::string& name) = 0;
    virtual DecodeResult Decode(int item, const std::string& path) = 0;
    // The library's last message of this run; false when it gave none.
    virtual bool Message(std::string& text, int& severity) = 0;
    virtual void EndRun() = 0;
    // Ends the run's work at once (the user stopped the batch or is leaving); its calls fail.
    virtual void Cancel() {}
};

}  // namespace quillfin::download
