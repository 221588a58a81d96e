#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace quillfin::testserver {

// How the server answers one command (or the greeting) instead of, or on top of, the normal
// reply. Rules are tried in the order they were added; the first that matches is used.
struct ReplyRule {
    // Matched case-insensitively against the start of the command line: "XOVER",
    // "GROUP alt.test", "AUTHINFO PASS". kGreeting matches the greeting; empty matches every
    // command (not the greeting).
    std::string command;
    static constexpr const char* kGreeting = "(greeting)";

    // How many times the rule applies; -1 for ever.
    int uses = -1;
    // Replaces the normal reply, sent exactly as given (CR LF included by the caller).
    std::optional<std::string> reply;
    // Sent in the same write before / after the reply: several replies in one chunk.
    std::string before;
    std::string after;
    // No answer at all; the connection stays open.
    bool silent = false;
    // Send only this many bytes of the reply, then close the connection.
    std::optional<std::size_t> dropAfterBytes;
    // Send only this many bytes of the reply, then nothing more on this connection (it stays
    // open): a server that hangs in the middle of a reply.
    std::optional<std::size_t> silentAfterBytes;
    // Write the reply in pieces: cut at these byte offsets, or into pieces of chunkSize bytes.
    std::vector<std::size_t> splitAt;
    std::size_t chunkSize = 0;
    // Pause between pieces, so that they reach the client as separate arrivals.
    int pauseMs = 40;
};

}  // namespace quillfin::testserver
