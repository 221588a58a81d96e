#include "download/child_decoder_library.h"

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace quillfin::download {

namespace {

// How long the parent waits on the child between two turns of the event loop.
constexpr int kPollMs = 20;
// The library's own level for a fatal message.
constexpr int kFatalSeverity = 4;

enum Op : char {
    kStart = 'S',
    kLoad = 'L',
    kIncomplete = 'I',
    kFirst = 'F',
    kName = 'N',
    kFilter = 'f',
    kDecode = 'D',
    kMessage = 'M',
    kEnd = 'E',
};

bool WriteAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        // MSG_NOSIGNAL: a child that died must not take the parent with SIGPIPE.
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += std::size_t(n);
    }
    return true;
}

void PutInt(std::string& out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out += char((value >> shift) & 0xff);
}

std::uint32_t GetInt(const char* in) {
    std::uint32_t value = 0;
    for (int k = 0; k < 4; ++k)
        value |= std::uint32_t(static_cast<unsigned char>(in[k])) << (8 * k);
    return value;
}

// Reads exactly size bytes; wait, when given, runs between polls and returns false to give up.
bool ReadAll(int fd, char* to, std::size_t size, const std::function<bool()>& wait) {
    std::size_t done = 0;
    while (done < size) {
        if (wait) {
            pollfd ready{fd, POLLIN, 0};
            const int r = ::poll(&ready, 1, kPollMs);
            if (r < 0 && errno != EINTR) return false;
            if (r <= 0) {
                if (!wait()) return false;
                continue;
            }
        }
        const ssize_t n = ::read(fd, to + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += std::size_t(n);
    }
    return true;
}

}  // namespace

ChildDecoderLibrary::ChildDecoderLibrary(common::EventPump* pump, Factory factory,
                                         std::chrono::milliseconds limit)
    : pump_(pump), factory_(std::move(factory)), limit_(limit) {}

ChildDecoderLibrary::~ChildDecoderLibrary() {
    if (running_) EndRun();
}

bool ChildDecoderLibrary::StartRun() {
    if (running_) return false;
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return false;
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return false;
    }
    if (pid == 0) {
        ::close(fds[0]);
        ServeInChild(fds[1]);
    }
    ::close(fds[1]);
    child_ = pid;
    fd_ = fds[0];
    running_ = true;
    failed_ = false;
    failure_.clear();
    // The child answers whether its library started; a refusal ends it.
    if (Call(kStart, 0, "").a == 1) return true;
    ::close(fd_);
    fd_ = -1;
    Reap(false);
    running_ = false;
    return false;
}

ChildDecoderLibrary::Reply ChildDecoderLibrary::Call(char op, int number, const std::string& text) {
    Reply reply;
    if (!running_ || failed_) return reply;
    std::string request(1, op);
    PutInt(request, std::uint32_t(number));
    PutInt(request, std::uint32_t(text.size()));
    request += text;
    const auto deadline = std::chrono::steady_clock::now() + limit_;
    bool late = false;
    auto wait = [&] {
        if (std::chrono::steady_clock::now() >= deadline) {
            late = true;
            return false;
        }
        if (pump_ != nullptr) pump_->PumpIfDue();
        return true;
    };
    auto lost = [&] {
        if (late) {
            Reap(true);
            Fail("the decoder did not answer within " +
                 std::to_string((limit_.count() + 999) / 1000) + " s and was stopped");
        } else {
            Fail("");
        }
        return Reply{};
    };
    char head[16];
    if (!WriteAll(fd_, request) || !ReadAll(fd_, head, sizeof head, wait)) return lost();
    reply.text.resize(GetInt(head + 12));
    if (!ReadAll(fd_, reply.text.data(), reply.text.size(), wait)) return lost();
    reply.a = int(GetInt(head));
    reply.b = int(GetInt(head + 4));
    reply.c = int(GetInt(head + 8));
    return reply;
}

void ChildDecoderLibrary::Fail(const std::string& why) {
    failed_ = true;
    if (!why.empty()) {
        failure_ = why;
        return;
    }
    int status = 0;
    pid_t got;
    do {
        got = ::waitpid(child_, &status, 0);
    } while (got < 0 && errno == EINTR);
    child_ = -1;
    if (got > 0 && WIFSIGNALED(status))
        failure_ = "the decoder crashed (signal " + std::to_string(WTERMSIG(status)) + ", " +
                   ::strsignal(WTERMSIG(status)) + ")";
    else if (got > 0 && WIFEXITED(status))
        failure_ =
            "the decoder ended unexpectedly (status " + std::to_string(WEXITSTATUS(status)) + ")";
    else
        failure_ = "the decoder stopped answering";
}

void ChildDecoderLibrary::Reap(bool kill_first) {
    if (child_ > 0) {
        if (kill_first) ::kill(child_, SIGKILL);
        while (::waitpid(child_, nullptr, 0) < 0 && errno == EINTR) {
        }
        child_ = -1;
    }
}

int ChildDecoderLibrary::LoadFile(const std::string& path) { return Call(kLoad, 0, path).a; }

void ChildDecoderLibrary::DecodeIncomplete(bool on) { Call(kIncomplete, on ? 2 : 1, ""); }

int ChildDecoderLibrary::FirstItem() {
    const int item = Call(kFirst, 0, "").a;
    return item == kChildFailed ? 0 : item;
}

std::string ChildDecoderLibrary::ItemFileName(int item) { return Call(kName, item, "").text; }

std::string ChildDecoderLibrary::FilterFileName(const std::string& name) {
    return Call(kFilter, 0, name).text;
}

DecoderLibrary::DecodeResult ChildDecoderLibrary::Decode(int item, const std::string& path) {
    const Reply reply = Call(kDecode, item, path);
    if (reply.a == kChildFailed) return {false, kChildFailed, 0};
    return {reply.a == 1, reply.b, reply.c};
}

bool ChildDecoderLibrary::Message(std::string& text, int& severity) {
    if (failed_) {
        text = failure_;
        severity = kFatalSeverity;
        return true;
    }
    const Reply reply = Call(kMessage, 0, "");
    if (reply.a != 1) return false;
    text = reply.text;
    severity = reply.b;
    return true;
}

void ChildDecoderLibrary::EndRun() {
    if (!running_) return;
    if (!failed_) Call(kEnd, 0, "");
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    // A child that would not end within the limit is not waited for again.
    Reap(failed_);
    running_ = false;
}

void ChildDecoderLibrary::ServeInChild(int fd) {
    // Nothing of the parent's (server connections, the lock on the program folder) stays
    // open here: the child may outlive its welcome by a moment.
    if (fd != 3) {
        ::dup2(fd, 3);
        fd = 3;
    }
    ::close_range(4, ~0U, 0);
    std::unique_ptr<DecoderLibrary> library = factory_ ? factory_() : nullptr;
    const bool started = library != nullptr && library->StartRun();
    auto answer = [fd](int a, int b, int c, const std::string& text) {
        std::string out;
        PutInt(out, std::uint32_t(a));
        PutInt(out, std::uint32_t(b));
        PutInt(out, std::uint32_t(c));
        PutInt(out, std::uint32_t(text.size()));
        out += text;
        if (!WriteAll(fd, out)) ::_exit(1);
    };
    char head[9];
    // The first request only asks whether the library started.
    if (!ReadAll(fd, head, sizeof head, nullptr)) ::_exit(1);
    answer(started ? 1 : 0, 0, 0, "");
    if (!started) ::_exit(0);
    while (ReadAll(fd, head, sizeof head, nullptr)) {
        const int number = int(GetInt(head + 1));
        std::string text(GetInt(head + 5), '\0');
        if (!ReadAll(fd, text.data(), text.size(), nullptr)) break;
        switch (head[0]) {
            case kLoad:
                answer(library->LoadFile(text), 0, 0, "");
                break;
            case kIncomplete:
                library->DecodeIncomplete(number == 2);
                answer(0, 0, 0, "");
                break;
            case kFirst:
                answer(library->FirstItem(), 0, 0, "");
                break;
            case kName:
                answer(0, 0, 0, library->ItemFileName(number));
                break;
            case kFilter:
                answer(0, 0, 0, library->FilterFileName(text));
                break;
            case kDecode: {
                const DecodeResult result = library->Decode(number, text);
                answer(result.ok ? 1 : 0, result.code, result.moveCode, "");
                break;
            }
            case kMessage: {
                std::string message;
                int severity = 0;
                const bool has = library->Message(message, severity);
                answer(has ? 1 : 0, severity, 0, message);
                break;
            }
            case kEnd:
                library->EndRun();
                answer(0, 0, 0, "");
                ::_exit(0);
            default:
                ::_exit(1);
        }
    }
    // The parent went away: end quietly, without its exit handlers.
    library->EndRun();
    ::_exit(0);
}

}  // namespace quillfin::download
