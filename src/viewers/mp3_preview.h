#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "download/decoder_library.h"
#include "download/posting_decoder.h"
#include "headers/header_entry.h"
#include "headers/header_table.h"
#include "headers/mp3_previewer.h"
#include "nntp/connections.h"
#include "nntp/reply_accumulator.h"
#include "nntp/socket.h"

namespace quillfin::viewers {

// What frmPreviewMP3 shows. The logic writes it; the window renders it.
struct Mp3PreviewState {
    std::string subject;  // Label2
    std::string status;   // Label1
    std::int64_t progress = 0;
    std::int64_t maximum = 0;  // the chosen part's byte count
    bool visible = false;
    std::uint64_t revision = 0;
};

// The MP3 preview: the first part of a posting, fetched with ARTICLE on connection 5 unless
// its text is already in memory or the batch has it on disk, decoded alone into a fixed file
// in the download folder and handed to the desktop's player.
class Mp3Preview : public headers::Mp3Previewer {
  public:
    static constexpr int kConnection = 5;
    static constexpr const char* kDecodedFile = "Quillfin MP3 Preview.MP3";
    static constexpr const char* kTempFile = "Quillfin MP3 Preview.UUE";

    Mp3Preview(nntp::Connections& connections, headers::HeaderTable& table,
               download::DecoderLibrary& library,
               std::size_t cap = nntp::ReplyAccumulator::kDefaultCap);
    ~Mp3Preview() override;
    Mp3Preview(const Mp3Preview&) = delete;
    Mp3Preview& operator=(const Mp3Preview&) = delete;

    // Opens a file with the desktop's default program; the UI sets it.
    std::function<void(const std::string& path)> openWithShell;

    // The part taken as part 1: the last with a part marker "001/", else "01/", else "1/" and
    // more than 10 bytes; part 1 when none has one. 0 for a posting without parts.
    static std::int32_t ChooseFirstPart(const headers::HeaderEntry& entry);

    // What the batch has fetched is taken from there rather than fetched again.
    void SetBatchFiles(download::PostingDecoder* batch) { batch_ = batch; }
    // nullptr detaches (the window is going).
    void AttachSocket(nntp::Socket* socket);
    void PreviewMp3(std::int32_t index) override;
    // The user closed the window: its connection is dropped.
    void WindowClosed();
    void DataArrival(const std::string& chunk);

    // Where the decoded file goes; the program deletes it at shutdown.
    std::string DecodedPath() const;
    const Mp3PreviewState& State() const { return state_; }

  private:
    // The part being previewed, as chosen: it must still be that article when it is stored.
    struct Target {
        std::int32_t entry = 0;
        std::int32_t part = 0;
        std::string group;
        std::string article;
        std::string subject;
        std::int64_t bytes = 0;
    };

    void OpenWindow();
    void HandleData(const std::string& chunk);
    void Dispatch(const std::string& chunk);
    void Send(const std::string& command);
    void SendPreviewGroup();
    void RequestSlaveOrGroup();
    void FetchedPreview();
    headers::PartRef* TargetPart();
    // Plays the part from the batch's files; false when they hold nothing usable of it.
    bool PlayStored(const headers::HeaderEntry& entry, const headers::PartRef& part);
    // Decodes one article (as PartFiles::ArticleText gives it) into the decoded file; true
    // when there is a file to play.
    bool Decode(std::string_view text);
    void Launch();
    void GrCap(const std::string& text);
    void Fail(const std::string& text);
    void LogLine(const std::string& text) { connections_.Log().LogEvent(text, true); }

    nntp::Connections& connections_;
    headers::HeaderTable& table_;
    download::DecoderLibrary& library_;
    download::PostingDecoder* batch_ = nullptr;
    nntp::Socket* socket_ = nullptr;
    nntp::ReplyAccumulator buffer_;
    Target target_;
    Mp3PreviewState state_;
    // The keyword of the last command sent: a 500 answers it.
    std::string outstanding_;
    bool decoding_ = false;
};

}  // namespace quillfin::viewers
