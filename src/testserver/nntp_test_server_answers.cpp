// The normal replies of the test server: what a small reader server answers.
#include <algorithm>
#include <cctype>
#include <charconv>

#include "testserver/nntp_test_server.h"

namespace quillfin::testserver {
namespace {

std::string Trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return "";
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

std::string Upper(std::string text) {
    for (char& c : text) c = char(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// A whole decimal number, or false.
bool ParseNumber(const std::string& text, std::int64_t* value) {
    if (text.empty()) return false;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, *value);
    return ec == std::errc() && ptr == end;
}

// Lines that begin with "." get a second one, and the text ends with the "." line.
void AppendDotStuffed(const std::string& text, std::string& out) {
    bool line_start = true;
    for (char c : text) {
        if (line_start && c == '.') out += '.';
        out += c;
        line_start = c == '\n';
    }
    if (!line_start) out += "\r\n";
    out += ".\r\n";
}

}  // namespace

NntpTestServer::Reply NntpTestServer::Answer(Session& session, const std::string& line) {
    const std::string trimmed = Trimmed(line);
    const auto blank = trimmed.find(' ');
    const std::string keyword = Upper(trimmed.substr(0, blank));
    const std::string argument = blank == std::string::npos ? "" : Trimmed(trimmed.substr(blank));

    if (keyword == "QUIT") return {"205 Bye!\r\n", true};
    if (keyword == "MODE") return {"200 Reader mode, posting ok\r\n"};
    if (keyword == "SLAVE") return {options_.slaveReply};
    if (keyword == "CAPABILITIES") {
        return {std::string("101 Capability list:\r\nVERSION 2\r\nREADER\r\nOVER\r\n") +
                (options_.offerCompression ? "COMPRESS DEFLATE\r\n" : "") + ".\r\n"};
    }
    if (keyword == "COMPRESS") {
        if (!options_.offerCompression || Upper(argument) != "DEFLATE") return {"500 What?\r\n"};
        if (session.compressing) return {"502 Compression already active\r\n"};
        session.compressing = true;
        return {"206 Compression active\r\n", false, true};
    }
    if (keyword == "AUTHINFO") {
        const auto space = argument.find(' ');
        const std::string kind = Upper(argument.substr(0, space));
        const std::string value = space == std::string::npos ? "" : argument.substr(space + 1);
        if (kind == "USER") {
            session.user = value;
            return {"381 Password required\r\n"};
        }
        if (kind == "PASS") {
            session.authenticated = session.user == options_.user && value == options_.password;
            return {session.authenticated ? "281 Authentication accepted\r\n"
                                          : options_.authFailedReply};
        }
        return {"501 Syntax error\r\n"};
    }
    const bool reader_command = keyword == "GROUP" || keyword == "XOVER" || keyword == "OVER" ||
                                keyword == "ARTICLE" || keyword == "BODY" || keyword == "HEAD" ||
                                keyword == "STAT" || keyword == "LIST";
    if (!reader_command) return {"500 What?\r\n"};
    if (options_.requireAuth && !session.authenticated) {
        return {"480 Authentication required\r\n"};
    }
    if (keyword == "GROUP") return AnswerGroup(session, argument);
    if (keyword == "XOVER" || keyword == "OVER") return AnswerXover(session, argument);
    if (keyword == "LIST") {
        if (!argument.empty() && Upper(argument) != "ACTIVE") return {"501 Syntax error\r\n"};
        return AnswerList();
    }
    return AnswerArticle(session, keyword, argument);
}

NntpTestServer::Reply NntpTestServer::AnswerGroup(Session& session, const std::string& argument) {
    const auto summary = spool_.Summary(argument);
    if (!summary) return {"411 No such group " + argument + "\r\n"};
    session.group = argument;
    return {"211 " + std::to_string(summary->count) + " " + std::to_string(summary->first) + " " +
            std::to_string(summary->last) + " " + argument + "\r\n"};
}

NntpTestServer::Reply NntpTestServer::AnswerXover(const Session& session,
                                                  const std::string& argument) {
    if (session.group.empty()) return {"412 No newsgroup selected\r\n"};
    if (argument.empty()) return {"420 No current article selected\r\n"};
    const auto dash = argument.find('-');
    const std::string low_text = Trimmed(argument.substr(0, dash));
    const std::string high_text =
        dash == std::string::npos ? low_text : Trimmed(argument.substr(dash + 1));
    std::int64_t low = 0;
    std::int64_t high = INT64_MAX;
    // Like the servers we meet, an empty lower end counts as 0.
    if ((!low_text.empty() && !ParseNumber(low_text, &low)) ||
        (!high_text.empty() && !ParseNumber(high_text, &high))) {
        return {"501 Syntax error\r\n"};
    }
    std::string lines;
    spool_.AppendOverview(session.group, low, high, lines);
    if (lines.empty()) return {"224 No articles in " + argument + "\r\n.\r\n"};
    std::string reply = "224 Overview information follows\r\n";
    reply.reserve(reply.size() + lines.size() + 3);
    reply += lines;
    reply += ".\r\n";
    return {std::move(reply)};
}

NntpTestServer::Reply NntpTestServer::AnswerArticle(const Session& session,
                                                    const std::string& keyword,
                                                    const std::string& argument) {
    std::string group = session.group;
    const TestArticle* article = nullptr;
    std::int64_t number = 0;
    if (!argument.empty() && argument.front() == '<') {
        article = spool_.FindByMessageId(argument, &group);
        if (!article) return {"430 No such article\r\n"};
    } else {
        if (group.empty()) return {"412 No newsgroup selected\r\n"};
        if (argument.empty()) return {"420 No current article selected\r\n"};
        if (!ParseNumber(argument, &number)) return {"501 Syntax error\r\n"};
        article = spool_.Find(group, number);
        if (!article) return {"423 No article with that number\r\n"};
    }
    if (keyword == "STAT")
        return {"223 " + std::to_string(number) + " " + article->messageId + " status\r\n"};
    const char* code = keyword == "ARTICLE" ? "220" : keyword == "HEAD" ? "221" : "222";
    const char* what = keyword == "ARTICLE" ? "article" : keyword == "HEAD" ? "head" : "body";
    std::string reply = std::string(code) + " " + std::to_string(number) + " " +
                        article->messageId + " " + what + "\r\n";
    std::string content;
    if (keyword != "BODY") content += spool_.RenderHead(group, *article);
    if (keyword == "ARTICLE") content += "\r\n";
    if (keyword != "HEAD") content += article->body;
    AppendDotStuffed(content, reply);
    return {std::move(reply)};
}

NntpTestServer::Reply NntpTestServer::AnswerList() {
    std::string reply = "215 Newsgroups in form \"group high low status\"\r\n";
    for (const std::string& name : spool_.GroupNames()) {
        const auto summary = spool_.Summary(name);
        reply += name + " " + std::to_string(summary->last) + " " + std::to_string(summary->first) +
                 " y\r\n";
    }
    reply += ".\r\n";
    return {std::move(reply)};
}

}  // namespace quillfin::testserver
