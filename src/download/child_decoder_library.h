#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "common/event_pump.h"
#include "download/decoder_library.h"

namespace quillfin::download {

// DecoderLibrary that runs another one in a child process, one child per run. The decoding
// library parses text off the network in C; when hostile text crashes or hangs it, only the
// child is lost: the call fails with kChildFailed and Message() says what became of the
// child, while the program and its unsaved header table go on. The parent lets events run
// while it waits for an answer. The child is best a small helper program of its own: it then
// holds none of the program's memory (the password, the headers), only the descriptor it
// talks on, and runs under limits on what it may write, its memory and its processor time.
class ChildDecoderLibrary : public DecoderLibrary {
  public:
    // The result code of a call the child did not answer.
    static constexpr int kChildFailed = -1;

    using Factory = std::function<std::unique_ptr<DecoderLibrary>()>;

    // factory makes the library inside each child. A call that takes longer than limit is
    // taken for a hang and its child killed.
    ChildDecoderLibrary(common::EventPump* pump, Factory factory,
                        std::chrono::milliseconds limit = std::chrono::minutes(10));
    // Runs helper (a program that calls Serve on descriptor 3) in each child instead.
    ChildDecoderLibrary(common::EventPump* pump, std::string helper,
                        std::chrono::milliseconds limit = std::chrono::minutes(10));
    // The helper beside the running program, else the one built with it; empty when neither
    // is there.
    static std::string FindHelper();
    // The helper's side: answers the parent's requests on fd with library until told to end.
    static int Serve(int fd, DecoderLibrary& library);
    // What a run may write at most for a posting of the given size: four times that, and the
    // floor besides.
    std::int64_t WriteLimit(std::int64_t postingBytes) const;
    void SetWriteFloor(std::int64_t bytes) { write_floor_ = bytes; }
    ~ChildDecoderLibrary() override;
    ChildDecoderLibrary(const ChildDecoderLibrary&) = delete;
    ChildDecoderLibrary& operator=(const ChildDecoderLibrary&) = delete;

    void ExpectSize(std::int64_t bytes) override { expected_bytes_ = bytes; }
    bool StartRun() override;
    int LoadFile(const std::string& path) override;
    void DecodeIncomplete(bool on) override;
    int FirstItem() override;
    std::string ItemFileName(int item) override;
    std::string FilterFileName(const std::string& name) override;
    DecodeResult Decode(int item, const std::string& path) override;
    bool Message(std::string& text, int& severity) override;
    void EndRun() override;
    void Cancel() override;

    // The run's child ended without being asked (a crash or a hang); later calls fail.
    bool ChildFailed() const { return failed_; }

  private:
    struct Reply {
        int a = kChildFailed;
        int b = 0;
        int c = 0;
        std::string text;
    };

    // One request and its answer; a reply with a = kChildFailed when the child is gone.
    Reply Call(char op, int number, const std::string& text);
    void Fail(const std::string& why);
    void Reap(bool kill_first);
    [[noreturn]] void ServeInChild(int fd);
    [[noreturn]] void ExecHelper(int fd);

    common::EventPump* pump_;
    Factory factory_;
    std::string helper_;
    std::int64_t expected_bytes_ = 0;
    std::int64_t write_floor_ = std::int64_t(64) << 20;
    std::chrono::milliseconds limit_;
    pid_t child_ = -1;
    int fd_ = -1;
    bool running_ = false;
    bool failed_ = false;
    bool cancelled_ = false;
    std::string failure_;
};

}  // namespace quillfin::download
