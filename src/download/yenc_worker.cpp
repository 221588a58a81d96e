#include "download/yenc_worker.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace quillfin::download {

namespace {

// Articles waiting for the thread, in bytes, before Submit waits for it.
constexpr std::size_t kQueueBound = std::size_t(32) << 20;

// Writes all of data at offset; the system's reason when it could not.
std::string WriteAt(const std::string& path, std::string_view data, std::int64_t offset) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return std::strerror(errno);
    std::string error;
    for (std::size_t done = 0; done < data.size();) {
        const ssize_t n = ::pwrite(fd, data.data() + done, data.size() - done,
                                   off_t(offset + std::int64_t(done)));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = n < 0 ? std::strerror(errno) : "nothing written";
            break;
        }
        done += std::size_t(n);
    }
    if (::close(fd) != 0 && error.empty()) error = std::strerror(errno);
    return error;
}

}  // namespace

YencWorker::YencWorker() = default;

YencWorker::~YencWorker() {
    if (!thread_.joinable()) return;
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

std::uint64_t YencWorker::Submit(std::string path, std::string reply) {
    // Started with the first article: a batch without yEnc never needs the thread.
    if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
    std::unique_lock lock(mutex_);
    done_.wait(lock, [&] { return queued_bytes_ < kQueueBound; });
    const std::uint64_t number = next_job_++;
    queued_bytes_ += reply.size();
    queue_.push_back(Job{number, std::move(path), std::move(reply)});
    lock.unlock();
    wake_.notify_one();
    return number;
}

void YencWorker::WaitIdle(common::EventPump& pump) {
    std::unique_lock lock(mutex_);
    while (busy_ || !queue_.empty()) {
        // Short waits: the window keeps drawing while a slow disk catches up.
        done_.wait_for(lock, std::chrono::milliseconds(10));
        lock.unlock();
        pump.PumpIfDue();
        lock.lock();
    }
}

std::optional<YencWorker::Outcome> YencWorker::Take(std::uint64_t job) {
    std::lock_guard lock(mutex_);
    auto found = outcomes_.find(job);
    if (found == outcomes_.end()) return std::nullopt;
    Outcome outcome = std::move(found->second);
    outcomes_.erase(found);
    return outcome;
}

void YencWorker::Run() {
    YencPart part;  // its buffer serves every article
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) return;  // stopping, and nothing left to write
        Job job = std::move(queue_.front());
        queue_.pop_front();
        busy_ = true;
        const std::size_t bytes = job.reply.size();
        lock.unlock();
        Outcome outcome = Decode(job, part);
        lock.lock();
        queued_bytes_ -= bytes;
        outcomes_[job.number] = std::move(outcome);
        busy_ = false;
        done_.notify_all();
    }
}

YencWorker::Outcome YencWorker::Decode(Job& job, YencPart& part) {
    Outcome outcome;
    if (!DecodeYenc(job.reply, true, part)) {
        outcome.problem = "no yEnc data";
    } else {
        outcome.header = part.header;
        outcome.crc = part.crc;
        outcome.length = std::int64_t(part.data.size());
        outcome.problem = part.problem;
        // A part whose range is unusable is not written: it would land anywhere in the file.
        if (part.header.begin >= 1 && part.header.end >= part.header.begin)
            outcome.writeError = WriteAt(job.path, part.data, part.header.begin - 1);
    }
    if (!outcome.problem.empty() || !outcome.writeError.empty())
        outcome.article = std::move(job.reply);
    return outcome;
}

}  // namespace quillfin::download
