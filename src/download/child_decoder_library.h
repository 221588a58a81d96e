#pragma once

#include <sys/types.h>

#include <chrono>
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
// while it waits for an answer.
class ChildDecoderLibrary : public DecoderLibrary {
  public:
    // The result code of a call the child did not answer.
    static constexpr int kChildFailed = -1;

    using Factory = std::function<std::unique_ptr<DecoderLibrary>()>;

    // factory makes the library inside each child. A call that takes longer than limit is
    // taken for a hang and its child killed.
    ChildDecoderLibrary(common::EventPump* pump, Factory factory,
                        std::chrono::milliseconds limit = std::chrono::minutes(10));
    ~ChildDecoderLibrary() override;
    ChildDecoderLibrary(const ChildDecoderLibrary&) = delete;
    ChildDecoderLibrary& operator=(const ChildDecoderLibrary&) = delete;

    bool StartRun() override;
    int LoadFile(const std::string& path) override;
    void DecodeIncomplete(bool on) override;
    int FirstItem() override;
    std::string ItemFileName(int item) override;
    std::string FilterFileName(const std::string& name) override;
    DecodeResult Decode(int item, const std::string& path) override;
    bool Message(std::string& text, int& severity) override;
    void EndRun() override;

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

    common::EventPump* pump_;
    Factory factory_;
    std::chrono::milliseconds limit_;
    pid_t child_ = -1;
    int fd_ = -1;
    bool running_ = false;
    bool failed_ = false;
    std::string failure_;
};

}  // namespace quillfin::download
