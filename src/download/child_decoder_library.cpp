#include "download/child_decoder_library.h"

#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

namespace quillfin::download {

namespace {

// How long the parent waits on the child between two turns of the event loop.
constexpr int kPollMs = 20;
// The library's own level for a fatal message.
constexpr int kFatalSeverity = 4;
constexpr const char* kHelperName = "quillfin-decode";
// The child's status when the helper could not be started.
constexpr int kExecFailed = 127;

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

ChildDecoderLibrary::ChildDecoderLibrary(common::EventPump* pump, std::string helper,
                                         std::chrono::milliseconds limit)
    : pump_(pump), helper_(std::move(helper)), limit_(limit) {}

std::string ChildDecoderLibrary::FindHelper() {
    char self[4096];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) {
        std::string beside(self, std::size_t(n));
        beside = beside.substr(0, beside.rfind('/') + 1) + kHelperName;
        if (::access(beside.c_str(), X_OK) == 0) return beside;
    }
#ifdef QUILLFIN_DECODER_HELPER
    if (::access(QUILLFIN_DECODER_HELPER, X_OK) == 0) return QUILLFIN_DECODER_HELPER;
#endif
    return {};
}

std::int64_t ChildDecoderLibrary::WriteLimit(std::int64_t postingBytes) const {
    // Decoding never makes a file much larger than its articles; run-length coding can make
    // it sixty times larger, which is what the bound is for.
    constexpr std::int64_t kCeiling = std::int64_t(64) << 30;
    return std::clamp(postingBytes, std::int64_t(0), kCeiling / 4) * 4 + write_floor_;
}

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
        if (!helper_.empty()) ExecHelper(fds[1]);
        ServeInChild(fds[1]);
    }
    ::close(fds[1]);
    child_ = pid;
    fd_ = fds[0];
    running_ = true;
    failed_ = false;
    cancelled_ = false;
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
    if (cancelled_)
        failure_ = "the decode was stopped";
    else if (got > 0 && WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ)
        failure_ = "the decoder stopped at its limit of " +
                   std::to_string(WriteLimit(expected_bytes_)) + " bytes for this posting";
    else if (got > 0 && WIFSIGNALED(status) && WTERMSIG(status) == SIGXCPU)
        failure_ = "the decoder used up its processor time";
    else if (got > 0 && WIFSIGNALED(status))
        failure_ = "the decoder crashed (signal " + std::to_string(WTERMSIG(status)) + ", " +
                   ::strsignal(WTERMSIG(status)) + ")";
    else if (got > 0 && WIFEXITED(status) && WEXITSTATUS(status) == kExecFailed && !helper_.empty())
        failure_ = "the decoder " + helper_ + " could not be started";
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

void ChildDecoderLibrary::Cancel() {
    // The call waiting on the child sees it gone and fails; EndRun reaps it.
    if (!running_ || child_ <= 0) return;
    cancelled_ = true;
    ::kill(child_, SIGKILL);
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

void ChildDecoderLibrary::ExecHelper(int fd) {
    // Only calls that are safe between fork and exec in a program with threads.
    if (fd != 3) ::dup2(fd, 3);
    ::close_range(4, ~0U, 0);
    const auto limit = [](int resource, std::int64_t value) {
        const rlimit bound{rlim_t(value), rlim_t(value)};
        ::setrlimit(resource, &bound);
    };
    limit(RLIMIT_FSIZE, WriteLimit(expected_bytes_));
    limit(RLIMIT_CPU, std::max<std::int64_t>(60, limit_.count() / 1000));
    limit(RLIMIT_CORE, 0);
#ifndef QUILLFIN_SANITIZED  // the sanitizers reserve far more address space than they use
    limit(RLIMIT_AS, std::int64_t(1) << 30);
#endif
    char* const argv[] = {const_cast<char*>(kHelperName), nullptr};
    ::execv(helper_.c_str(), argv);
    ::_exit(kExecFailed);
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
    if (library == nullptr) ::_exit(1);
    ::_exit(Serve(fd, *library));
}

int ChildDecoderLibrary::Serve(int fd, DecoderLibrary& lib) {
    DecoderLibrary* library = &lib;
    const bool started = library->StartRun();
    auto answer = [fd](int a, int b, int c, const std::string& text) {
        std::string out;
        PutInt(out, std::uint32_t(a));
        PutInt(out, std::uint32_t(b));
        PutInt(out, std::uint32_t(c));
        PutInt(out, std::uint32_t(text.size()));
        out += text;
        return WriteAll(fd, out);
    };
    char head[9];
    // The first request only asks whether the library started.
    if (!ReadAll(fd, head, sizeof head, nullptr)) return 1;
    if (!answer(started ? 1 : 0, 0, 0, "") || !started) return started ? 1 : 0;
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
                return 0;
            default:
                library->EndRun();
                return 1;
        }
    }
    // The parent went away: end quietly.
    library->EndRun();
    return 0;
}

}  // namespace quillfin::download
