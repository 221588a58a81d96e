#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "common/event_pump.h"
#include "download/yenc_decoder.h"

namespace quillfin::download {

// Decodes yEnc articles on a thread of its own, each straight into its posting's file at the
// offset its "=ypart" line gives, so the event loop only hands articles over and collects what
// became of them. The thread owns nothing but the file it is writing; outcomes wait here until
// the event loop takes them.
class YencWorker {
  public:
    struct Outcome {
        YencHeader header;
        std::uint32_t crc = 0;
        std::int64_t length = 0;
        std::string problem;     // the data does not match its checksum or size
        std::string writeError;  // the system's reason when the file could not be written
        // The article as it came, kept where the part failed: the user may keep it.
        std::string article;
    };

    YencWorker();
    ~YencWorker();
    YencWorker(const YencWorker&) = delete;
    YencWorker& operator=(const YencWorker&) = delete;

    // Queues an ARTICLE reply for decoding into path (which must exist); returns its job number.
    // Waits while the articles already queued pass a bound, so memory stays small when the disk
    // is slower than the network.
    std::uint64_t Submit(std::string path, std::string reply);
    // Returns once every job submitted so far is done, letting events run meanwhile.
    void WaitIdle(common::EventPump& pump);
    // The outcome of a finished job, handed over once.
    std::optional<Outcome> Take(std::uint64_t job);

  private:
    struct Job {
        std::uint64_t number = 0;
        std::string path;
        std::string reply;
    };

    void Run();
    Outcome Decode(Job& job, YencPart& part);

    std::mutex mutex_;
    std::condition_variable wake_;  // work queued, or stopping
    std::condition_variable done_;  // a job finished
    std::deque<Job> queue_;
    std::size_t queued_bytes_ = 0;
    bool busy_ = false;
    bool stopping_ = false;
    std::uint64_t next_job_ = 1;
    std::map<std::uint64_t, Outcome> outcomes_;
    std::thread thread_;
};

}  // namespace quillfin::download
