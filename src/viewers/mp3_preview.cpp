#include "viewers/mp3_preview.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <optional>
#include <system_error>

#include "common/leading_integer.h"
#include "common/text.h"
#include "download/file_names.h"
#include "download/part_files.h"
#include "headers/message_id.h"

namespace quillfin::viewers {

namespace {

constexpr const char* kDownloading = "Please wait (downloading)...  ";
// The library's "no data found" result.
constexpr int kNoData = 4;

// The marker counts only with no digit before it: "1/" is not in "21/30" or "2001/3000".
bool HasMarker(std::string_view subject, std::string_view marker) {
    for (std::size_t at = subject.find(marker); at != std::string_view::npos;
         at = subject.find(marker, at + 1)) {
        if (at == 0 || subject[at - 1] < '0' || subject[at - 1] > '9') return true;
    }
    return false;
}

// Only the preview's own fixed names come here; a folder of that name is left alone.
void RemoveFile(const std::string& path) {
    std::error_code ignored;
    if (std::filesystem::is_directory(std::filesystem::symlink_status(path, ignored))) return;
    std::filesystem::remove(path, ignored);
}

// length bytes of a file from offset (-1: to its end); nullopt when it cannot be read whole.
std::optional<std::string> ReadRange(const std::string& path, std::int64_t offset,
                                     std::int64_t length) {
    std::ifstream in(path, std::ios::binary);
    if (length < 0) {
        std::error_code error;
        const auto size = std::filesystem::file_size(path, error);
        if (error || std::int64_t(size) < offset) return std::nullopt;
        length = std::int64_t(size) - offset;
    }
    std::string bytes(std::size_t(length), '\0');
    if (!in.seekg(offset) || !in.read(bytes.data(), std::streamsize(length))) return std::nullopt;
    return bytes;
}

}  // namespace

Mp3Preview::Mp3Preview(nntp::Connections& connections, headers::HeaderTable& table,
                       download::DecoderLibrary& library, std::size_t cap)
    : connections_(connections), table_(table), library_(library), buffer_(cap) {
    connections_.AttachReplyBuffer(kConnection, &buffer_.Text());
}

Mp3Preview::~Mp3Preview() {
    AttachSocket(nullptr);
    connections_.AttachReplyBuffer(kConnection, nullptr);
}

std::int32_t Mp3Preview::ChooseFirstPart(const headers::HeaderEntry& entry) {
    if (entry.Parts.empty()) return 0;
    for (std::string_view marker : {"001/", "01/", "1/"}) {
        std::int32_t chosen = 0;
        for (std::int32_t i = 1; i <= entry.PartCount(); ++i) {
            const headers::PartRef& part = entry.Part(i);
            if (part.Bytes > 10 && HasMarker(part.Subject.str(), marker)) chosen = i;
        }
        if (chosen != 0) return chosen;
    }
    return 1;
}

std::string Mp3Preview::DecodedPath() const {
    return download::FolderPrefix(connections_.Settings().Download_Path) + kDecodedFile;
}

void Mp3Preview::AttachSocket(nntp::Socket* socket) {
    if (socket_ != nullptr) {
        socket_->onDataArrival = nullptr;
        socket_->onClose = nullptr;
        socket_->onError = nullptr;
    }
    socket_ = socket;
    connections_.AttachSocket(kConnection, socket);
    if (socket_ == nullptr) return;
    socket_->onDataArrival = [this](const std::string& chunk) { DataArrival(chunk); };
    socket_->onError = [this](int, const std::string& description) { Fail(description); };
    socket_->onClose = [this] {
        if (socket_ != nullptr) socket_->Close();
        if (state_.visible) GrCap("Connection Closed");
    };
}

void Mp3Preview::GrCap(const std::string& text) {
    state_.status = text;
    ++state_.revision;
}

void Mp3Preview::Fail(const std::string& text) {
    GrCap(text);
    LogLine(text);
    if (socket_ != nullptr) socket_->Close();
}

void Mp3Preview::PreviewMp3(std::int32_t index) {
    if (decoding_) {
        LogLine("PreviewMP3: a preview is being decoded; try again when it is done");
        return;
    }
    buffer_.Clear();
    if (index < 1 || index > table_.HeaderCount()) return;
    const headers::HeaderEntry& entry = table_.Entry(index);
    const std::int32_t chosen = ChooseFirstPart(entry);
    if (chosen == 0) return;
    const headers::PartRef& part = entry.Part(chosen);
    target_ = {index, chosen, part.Group.str(), part.ArticleNumber, part.Subject, part.Bytes};
    if (part.Retrieved && !part.Body.empty()) {
        // A fetch still under way would answer for this part.
        if (state_.visible) WindowClosed();
        if (Decode(download::PartFiles::ArticleText(part.Body.str()))) Launch();
        return;
    }
    // Retrieved with no text: on disk for the batch, or decoded since; fetched again only when
    // neither is there any more.
    if (PlayStored(entry, part)) return;
    OpenWindow();
}

bool Mp3Preview::PlayStored(const headers::HeaderEntry& entry, const headers::PartRef& part) {
    if (batch_ == nullptr) return false;
    const auto stored = batch_->Stored(entry, part);
    if (!stored) return false;
    const auto bytes = ReadRange(stored->path, stored->offset, stored->length);
    if (!bytes) return false;  // gone since: fetched as if never stored
    if (state_.visible) WindowClosed();
    bool ok = false;
    if (stored->article) {
        ok = Decode(*bytes);
    } else {
        // Already decoded: the bytes are the file, no decoder needed.
        const std::string decoded = DecodedPath();
        RemoveFile(decoded);
        ok = download::WriteNewFile(decoded, *bytes);
        if (!ok) LogLine("PreviewMP3: Error, cannot write " + decoded);
    }
    if (ok) Launch();
    return true;
}

void Mp3Preview::OpenWindow() {
    state_ = {};
    state_.subject = target_.subject;
    state_.visible = true;
    ++state_.revision;
    storage::Settings& settings = connections_.Settings();
    if (settings.News_Port.empty()) settings.News_Port = "119";
    if (settings.News_Host.empty()) {
        connections_.Prompts().Message(
            "Enter News Server name by pressing SCAN on main screen, and then try again.\r  This "
            "is usually 'news.(hostname).net' or something similar.  Contact your system admin "
            "if you are unsure.");
        return;
    }
    if (socket_ == nullptr) return;
    state_.maximum = target_.bytes;
    if (socket_->GetState() != nntp::Socket::kClosed) {
        GrCap("Connection Error, please wait...");
        socket_->Close();
    }
    const std::int64_t port = common::LeadingInteger(settings.News_Port);
    socket_->SetRemotePort(int(std::clamp<std::int64_t>(port, -1, 65536)));
    socket_->SetRemoteHost(settings.News_Host);
    socket_->SetLocalPort(0);
    if (socket_->GetState() != nntp::Socket::kClosed) {
        GrCap("Connection Error...");
        return;
    }
    outstanding_.clear();
    GrCap("Connecting...");
    socket_->Connect();
}

void Mp3Preview::WindowClosed() {
    state_.visible = false;
    ++state_.revision;
    if (socket_ != nullptr && socket_->GetState() != nntp::Socket::kClosed) socket_->Close();
    buffer_.Clear();
}

void Mp3Preview::DataArrival(const std::string& chunk) {
    try {
        HandleData(chunk);
    } catch (const std::exception& e) {
        LogLine(std::string("PreviewMP3: ") + e.what());
    }
}

void Mp3Preview::HandleData(const std::string& chunk) {
    if (!buffer_.Append(chunk)) {
        Fail("Reply larger than " + std::to_string(buffer_.Cap()) + " bytes, connection closed");
        buffer_.Clear();
        return;
    }
    if (buffer_.HasEndLine()) {
        GrCap("");
        FetchedPreview();
        return;
    }
    Dispatch(chunk);
}

void Mp3Preview::Dispatch(const std::string& chunk) {
    const std::string code = chunk.substr(0, 4);
    const storage::Settings& settings = connections_.Settings();
    if (code == "500 ") {
        GrCap(chunk);
        // Only SLAVE may be refused on the way; GROUP or ARTICLE sent again would loop.
        if (outstanding_ == "SLAVE") {
            SendPreviewGroup();
        } else {
            LogLine(chunk);
            if (outstanding_ != "QUIT") Send("QUIT");
        }
    } else if (code == "202 ") {
        GrCap(chunk);
        buffer_.Clear();
        SendPreviewGroup();
    } else if (code == "223 ") {
        GrCap("223 article retrieved - request text separately");
    } else if (code == "221 ") {
    } else if (code == "211 ") {
        GrCap(kDownloading);
        buffer_.Clear();
        Send("ARTICLE " + (headers::IsMessageId(target_.article)
                               ? target_.article
                               : common::Str(common::LeadingInteger(target_.article))));
    } else if (code == "423 ") {
        connections_.Prompts().Message("bad article number");
    } else if (code == "480 ") {
        outstanding_ = "AUTHINFO";
        connections_.AuthUser(kConnection);
    } else if (code == "381 ") {
        outstanding_ = "AUTHINFO";
        connections_.AuthPass(kConnection);
    } else if (code == "281 ") {
        GrCap("Authinfo cleared, login complete...");
        RequestSlaveOrGroup();
    } else if (code == "205 ") {
        GrCap("");
        buffer_.Clear();
    } else if (code == "502 ") {
        GrCap("");
        connections_.Prompts().Message("Authentication Error.  Check Username/Password...");
    } else if (code == "200 " || code == "201 ") {
        GrCap(chunk);
        if (settings.chkAuth == 1) {
            outstanding_ = "AUTHINFO";
            connections_.AuthUser(kConnection);
        } else {
            RequestSlaveOrGroup();
        }
    } else {
        const auto received = std::int64_t(buffer_.Text().size());
        state_.status = "Downloading preview: " + common::Str(received) + " of" +
                        common::Str(state_.maximum) + " bytes";
        if (received <= state_.maximum) state_.progress = received;
        ++state_.revision;
    }
}

void Mp3Preview::RequestSlaveOrGroup() {
    if (connections_.Settings().chkSlave == 1) {
        GrCap("Requesting slave status");
        Send("SLAVE");
    } else {
        SendPreviewGroup();
    }
}

void Mp3Preview::Send(const std::string& command) {
    outstanding_ = command.substr(0, command.find(' '));
    connections_.SendLine(kConnection, command);
}

void Mp3Preview::SendPreviewGroup() {
    buffer_.Clear();
    Send("GROUP " + target_.group);
}

headers::PartRef* Mp3Preview::TargetPart() {
    // The table may have been reloaded or compacted while the article was on its way.
    if (target_.entry < 1 || target_.entry > table_.HeaderCount()) return nullptr;
    headers::HeaderEntry& entry = table_.Entry(target_.entry);
    if (target_.part < 1 || target_.part > entry.PartCount()) return nullptr;
    headers::PartRef& part = entry.Part(target_.part);
    if (part.Group.str() != target_.group || part.ArticleNumber != target_.article) return nullptr;
    return &part;
}

void Mp3Preview::FetchedPreview() {
    Send("QUIT");
    std::string reply;
    reply.swap(buffer_.Text());
    buffer_.Clear();
    if (reply.empty()) {
        connections_.Log().LogEvent("PreviewMP3: Error, no data?", false);
        return;
    }
    // Kept for a later batch only on the very article, and never over a text already there.
    headers::PartRef* part = TargetPart();
    if (part != nullptr && !part->Retrieved) {
        part->Body = reply;
        part->Retrieved = true;
    }
    const bool ok = Decode(download::PartFiles::ArticleText(reply));
    WindowClosed();
    if (ok) Launch();
}

bool Mp3Preview::Decode(std::string_view text) {
    const std::string folder = download::FolderPrefix(connections_.Settings().Download_Path);
    const std::string temp = folder + kTempFile;
    const std::string decoded = folder + kDecodedFile;
    // The decode lets events run: a nested one would replace the temporary file under it.
    if (decoding_) return false;
    if (!library_.StartRun()) {
        LogLine("PreviewMP3: the decoder is busy with a download; try again when it is done");
        return false;
    }
    decoding_ = true;
    LogLine("writing temp file:" + temp);
    RemoveFile(temp);  // left by a run that ended abruptly
    download::DecoderLibrary::DecodeResult result;
    try {
        if (!download::WriteNewFile(temp, std::string(text) + "\r\n")) {
            LogLine("PreviewMP3: Error, cannot write " + temp);
        } else {
            const int loaded = library_.LoadFile(temp);
            if (loaded != 0) LogLine("decode err (UULoadFile) " + common::Str(loaded));
            const int item = library_.FirstItem();
            RemoveFile(decoded);
            library_.DecodeIncomplete(true);
            if (item != 0)
                result = library_.Decode(item, decoded);
            else
                result.code = kNoData;
            if (!result.ok) {
                LogLine(result.code == kNoData
                            ? std::string("Error: decoder didn't find any data")
                            : "decode err (uuret:" + common::Str(result.code) + ")");
            }
        }
    } catch (const std::exception& e) {
        LogLine(std::string("PreviewMP3: ") + e.what());
        result = {};
    }
    library_.EndRun();
    RemoveFile(temp);
    decoding_ = false;
    return result.ok;
}

void Mp3Preview::Launch() {
    LogLine("Launching MP3 preview...");
    std::error_code ignored;
    const std::filesystem::path path = std::filesystem::absolute(DecodedPath(), ignored);
    if (openWithShell) openWithShell(path.string());
}

}  // namespace quillfin::viewers
