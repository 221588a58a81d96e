#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "nntp/connections.h"
#include "nntp/reply_accumulator.h"
#include "nntp/socket.h"

namespace quillfin::viewers {

// The article to show: Parts(1) of the chosen posting.
struct ArticleChoice {
    std::string group;
    std::string article;
    std::string subject;
};

// What frmViewArt shows. The logic writes it; the window renders it.
struct ArticleViewerState {
    std::string title;
    std::string text;  // Text1: the body unstuffed, with its CR LF line ends, without the "." line
    std::string status;  // the first panel of StatusBar1
    bool visible = false;
    std::uint64_t revision = 0;
};

// The article text viewer: its own connection (number 4) logs in, selects the group, fetches
// the article with BODY and ends with QUIT. The window attaches the socket it owns.
class ArticleViewer {
  public:
    static constexpr int kConnection = 4;

    explicit ArticleViewer(nntp::Connections& connections,
                           std::size_t cap = nntp::ReplyAccumulator::kDefaultCap);
    ~ArticleViewer();
    ArticleViewer(const ArticleViewer&) = delete;
    ArticleViewer& operator=(const ArticleViewer&) = delete;

    // nullptr detaches (the window is going).
    void AttachSocket(nntp::Socket* socket);
    // Opening the window for an article: title, server checks, connect.
    void Open(ArticleChoice choice);
    // The window closed: the connection is dropped without QUIT.
    void WindowClosed();
    void DataArrival(const std::string& chunk);

    const ArticleViewerState& State() const { return state_; }
    const ArticleChoice& Choice() const { return choice_; }
    const std::string& Buffer() const { return buffer_.Text(); }

  private:
    void HandleData(const std::string& chunk);
    void Dispatch(const std::string& chunk);
    void Send(const std::string& command);
    void SendViewerGroup();
    void ShowArticleText();
    void RequestSlaveOrGroup();
    void GrCap(const std::string& text);
    void Fail(const std::string& text);

    nntp::Connections& connections_;
    nntp::Socket* socket_ = nullptr;
    nntp::ReplyAccumulator buffer_;
    ArticleChoice choice_;
    ArticleViewerState state_;
    // The keyword of the last command sent: a 500 answers it.
    std::string outstanding_;
};

}  // namespace quillfin::viewers
