#include "testserver/news_spool.h"

#include <algorithm>

namespace quillfin::testserver {
namespace {

// Overview fields cannot hold TAB, CR or LF.
std::string OverviewField(const std::string& text) {
    std::string field = text;
    std::replace_if(
        field.begin(), field.end(), [](char c) { return c == '\t' || c == '\r' || c == '\n'; },
        ' ');
    return field;
}

std::int64_t CountLines(const std::string& body) {
    if (body.empty()) return 0;
    std::int64_t lines = std::count(body.begin(), body.end(), '\n');
    return body.back() == '\n' ? lines : lines + 1;
}

}  // namespace

NewsSpool::NewsSpool(std::string host_name) : host_name_(std::move(host_name)) {}

void NewsSpool::AddGroup(const std::string& name, std::int64_t next_number) {
    Group& group = groups_[name];
    if (group.articles.empty()) group.next_number = std::max<std::int64_t>(next_number, 1);
}

void NewsSpool::AddMadeGroup(const std::string& name, std::int64_t count, OverviewMaker maker) {
    Group& group = groups_[name];
    group.made = count;
    group.maker = std::move(maker);
}

std::string NewsSpool::RenderHead(const std::string& group, const TestArticle& article) const {
    std::string head;
    head += "Path: " + host_name_ + "!not-for-mail\r\n";
    head += "From: " + article.from + "\r\n";
    head += "Newsgroups: " + group + "\r\n";
    head += "Subject: " + article.subject + "\r\n";
    head += "Date: " + article.date + "\r\n";
    head += "Message-ID: " + article.messageId + "\r\n";
    if (!article.references.empty()) head += "References: " + article.references + "\r\n";
    head += "Lines: " + std::to_string(CountLines(article.body)) + "\r\n";
    head += "Xref: " + host_name_ + " " + group + ":" + std::to_string(article.number) + "\r\n";
    return head;
}

std::int64_t NewsSpool::AddArticle(const std::string& group_name, TestArticle article) {
    Group& group = groups_[group_name];
    if (article.number <= 0) article.number = group.next_number;
    group.next_number = std::max(group.next_number, article.number + 1);
    if (article.messageId.empty()) {
        article.messageId =
            "<" + std::to_string(article.number) + "." + group_name + "@" + host_name_ + ">";
    }
    if (!article.body.empty() && article.body.back() != '\n') article.body += "\r\n";
    const std::int64_t bytes =
        article.bytes >= 0
            ? article.bytes
            : std::int64_t(RenderHead(group_name, article).size() + 2 + article.body.size());
    const std::int64_t lines = article.lines >= 0 ? article.lines : CountLines(article.body);

    std::string line = std::to_string(article.number);
    for (const std::string* field : {&article.subject, &article.from, &article.date,
                                     &article.messageId, &article.references}) {
        line += '\t';
        line += OverviewField(*field);
    }
    line += '\t' + std::to_string(bytes) + '\t' + std::to_string(lines);
    line += "\tXref: " + host_name_ + " " + group_name + ":" + std::to_string(article.number);
    line += "\r\n";

    const std::int64_t number = article.number;
    group.articles[number] = Stored{std::move(article), std::move(line)};
    return number;
}

bool NewsSpool::RemoveArticle(const std::string& group, std::int64_t number) {
    auto it = groups_.find(group);
    return it != groups_.end() && it->second.articles.erase(number) > 0;
}

bool NewsSpool::HasGroup(const std::string& name) const { return groups_.count(name) > 0; }

std::optional<NewsSpool::GroupSummary> NewsSpool::Summary(const std::string& name) const {
    auto it = groups_.find(name);
    if (it == groups_.end()) return std::nullopt;
    const Group& group = it->second;
    if (group.maker) return GroupSummary{group.made, 1, group.made};
    if (group.articles.empty()) return GroupSummary{0, group.next_number, group.next_number - 1};
    return GroupSummary{std::int64_t(group.articles.size()), group.articles.begin()->first,
                        group.articles.rbegin()->first};
}

std::vector<std::string> NewsSpool::GroupNames() const {
    std::vector<std::string> names;
    for (const auto& [name, group] : groups_) names.push_back(name);
    return names;
}

void NewsSpool::AppendOverview(const std::string& group, std::int64_t first, std::int64_t last,
                               std::string& out) const {
    auto it = groups_.find(group);
    if (it == groups_.end() || first > last) return;
    if (it->second.maker) {
        for (std::int64_t n = std::max<std::int64_t>(first, 1); n <= std::min(last, it->second.made); ++n)
            it->second.maker(n, out);
        return;
    }
    const auto& articles = it->second.articles;
    for (auto a = articles.lower_bound(first); a != articles.end() && a->first <= last; ++a) {
        out += a->second.overview;
    }
}

const TestArticle* NewsSpool::Find(const std::string& group, std::int64_t number) const {
    auto it = groups_.find(group);
    if (it == groups_.end()) return nullptr;
    auto a = it->second.articles.find(number);
    return a == it->second.articles.end() ? nullptr : &a->second.article;
}

const TestArticle* NewsSpool::FindByMessageId(const std::string& message_id,
                                              std::string* group) const {
    for (const auto& [name, g] : groups_) {
        for (const auto& [number, stored] : g.articles) {
            if (stored.article.messageId != message_id) continue;
            if (group) *group = name;
            return &stored.article;
        }
    }
    return nullptr;
}

}  // namespace quillfin::testserver
