#include "download/uu_decoder_library.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <vector>

// Without PROTOTYPES the header declares every function with an empty parameter list.
#define PROTOTYPES 1
#include <uudeview.h>

namespace quillfin::download {

namespace {

// The one owner of libuu's global state in this process.
std::atomic<bool> library_taken{false};

// The library calls back only once this much time has passed since its last call, and checks
// only every 500 lines: the event loop waits up to this long, and a little more.
constexpr long kBusyIntervalMs = 20;

// The busy callback's opaque pointer is the pump itself.
int PumpWhileBusy(void* pump, uuprogress* /*progress*/) {
    if (pump != nullptr) static_cast<common::EventPump*>(pump)->PumpIfDue();
    return 0;  // never cancel
}

uulist* ItemAt(int item) { return item >= 1 ? UUGetFileListItem(item - 1) : nullptr; }

// libuu takes char* for text it only reads.
std::vector<char> Writable(const std::string& text) {
    std::vector<char> copy(text.begin(), text.end());
    copy.push_back('\0');
    return copy;
}

}  // namespace

UuDecoderLibrary::~UuDecoderLibrary() {
    if (running_) EndRun();
}

bool UuDecoderLibrary::StartRun() {
    if (running_) return false;
    bool expected = false;
    if (!library_taken.compare_exchange_strong(expected, true)) return false;
    running_ = true;
    has_message_ = false;
    message_.clear();
    severity_ = 0;
    UUInitialize();
    // A decoded file never replaces one already there, and takes no permission bits
    // (set-user-id, say) from text that came off the network.
    UUSetOption(UUOPT_OVERWRITE, 0, nullptr);
    UUSetOption(UUOPT_IGNMODE, 1, nullptr);
    // The option outlives a run; a batch must not decode an incomplete posting silently.
    UUSetOption(UUOPT_DESPERATE, 0, nullptr);
    UUSetMsgCallback(this, &UuDecoderLibrary::OnMessage);
    if (pump_ != nullptr) UUSetBusyCallback(pump_, &PumpWhileBusy, kBusyIntervalMs);
    return true;
}

int UuDecoderLibrary::LoadFile(const std::string& path) {
    if (!running_) return UURET_ILLVAL;
    // The library may keep the file id it is given: it lives until the run ends.
    std::vector<char>& name = loaded_names_.emplace_back(Writable(path));
    return UULoadFile(name.data(), name.data(), 0);
}

void UuDecoderLibrary::DecodeIncomplete(bool on) {
    if (running_) UUSetOption(UUOPT_DESPERATE, on ? 1 : 0, nullptr);
}

int UuDecoderLibrary::FirstItem() { return running_ && ItemAt(1) != nullptr ? 1 : 0; }

std::string UuDecoderLibrary::ItemFileName(int item) {
    uulist* entry = running_ ? ItemAt(item) : nullptr;
    return entry == nullptr || entry->filename == nullptr ? std::string() : entry->filename;
}

std::string UuDecoderLibrary::FilterFileName(const std::string& name) {
    std::vector<char> copy = Writable(name);
    const char* filtered = UUFNameFilter(copy.data());
    return filtered == nullptr ? std::string() : std::string(filtered);
}

DecoderLibrary::DecodeResult UuDecoderLibrary::Decode(int item, const std::string& path) {
    DecodeResult result;
    uulist* entry = running_ ? ItemAt(item) : nullptr;
    if (entry == nullptr || path.empty()) {
        result.code = UURET_ILLVAL;
        return result;
    }
    // The library's own UUDecodeFile creates the target and then renames its temporary file
    // over it; replacing a file makes the file system write out the whole new one at once,
    // which holds the event loop for a tenth of a second per 100 MB. A new name does not.
    result.code = UUDecodeToTemp(entry);
    if (result.code == UURET_OK) {
        if (entry->binfile == nullptr) {
            result.code = UURET_NODATA;
        } else {
            const int error = MoveIntoPlace(entry->binfile, path);
            if (error == EEXIST) {
                result.code = UURET_EXISTS;
            } else if (error != 0) {
                result.code = UURET_IOERR;
                result.moveCode = error;
            }
        }
        UURemoveTemp(entry);
    } else if (result.code == UURET_IOERR) {
        result.moveCode = UUGetOption(UUOPT_ERRNO, nullptr, nullptr, 0);
    }
    result.ok = result.code == UURET_OK;
    return result;
}

int UuDecoderLibrary::MoveIntoPlace(const std::string& temp, const std::string& path) {
    // A hard link never replaces anything, not even a dangling link of that name.
    if (::link(temp.c_str(), path.c_str()) == 0) return 0;
    if (errno != EXDEV && errno != EPERM && errno != ENOTSUP) return errno;
    // Another file system (a temporary folder in memory): copied, letting events run.
    const int in = ::open(temp.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return errno;
    const int out = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (out < 0) {
        const int error = errno;
        ::close(in);
        return error;
    }
    std::vector<char> buffer(1 << 20);
    int error = 0;
    for (;;) {
        const ssize_t got = ::read(in, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            if (got < 0) error = errno;
            break;
        }
        for (ssize_t done = 0; done < got && error == 0;) {
            const ssize_t wrote = ::write(out, buffer.data() + done, std::size_t(got - done));
            if (wrote < 0 && errno == EINTR) continue;
            if (wrote <= 0) error = wrote < 0 ? errno : EIO;
            else done += wrote;
        }
        if (error != 0) break;
        if (pump_ != nullptr) pump_->PumpIfDue();
    }
    ::close(in);
    if (::close(out) != 0 && error == 0) error = errno;
    // Half a file is no download: nothing is left behind.
    if (error != 0) ::unlink(path.c_str());
    return error;
}

bool UuDecoderLibrary::Message(std::string& text, int& severity) {
    if (!has_message_) return false;
    text = message_;
    severity = severity_;
    return true;
}

void UuDecoderLibrary::EndRun() {
    if (!running_) return;
    UUSetMsgCallback(nullptr, nullptr);
    UUSetBusyCallback(nullptr, nullptr, 0);
    UUCleanUp();
    loaded_names_.clear();
    running_ = false;
    library_taken.store(false);
}

void UuDecoderLibrary::OnMessage(void* self, char* text, int severity) {
    auto* library = static_cast<UuDecoderLibrary*>(self);
    if (library == nullptr || text == nullptr) return;
    library->message_ = text;
    library->severity_ = severity;
    library->has_message_ = true;
}

}  // namespace quillfin::download
