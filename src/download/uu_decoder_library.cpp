#include "download/uu_decoder_library.h"

#include <atomic>
#include <cstdio>
#include <vector>

// Without PROTOTYPES the header declares every function with an empty parameter list.
#define PROTOTYPES 1
#include <uudeview.h>

namespace quillfin::download {

namespace {

// The one owner of libuu's global state in this process.
std::atomic<bool> library_taken{false};

constexpr long kBusyIntervalMs = 100;

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
    std::vector<char> target = Writable(path);
    result.code = UUDecodeFile(entry, target.data());
    result.ok = result.code == UURET_OK;
    if (result.code == UURET_IOERR) result.moveCode = UUGetOption(UUOPT_ERRNO, nullptr, nullptr, 0);
    return result;
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
