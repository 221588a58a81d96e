#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "testserver/test_article.h"

namespace quillfin::testserver {

// Groups and their articles, with each overview line rendered once when the article is added
// so that large XOVER replies are only concatenation. Not thread-safe; the server locks it.
class NewsSpool {
  public:
    struct GroupSummary {
        std::int64_t count = 0;
        std::int64_t first = 0;
        std::int64_t last = 0;
    };

    explicit NewsSpool(std::string host_name = "testserver.example");

    // An empty group reports first = next_number and last = next_number - 1.
    void AddGroup(const std::string& name, std::int64_t next_number = 1);
    // Appends the overview line of article `number`, ending in CR LF.
    using OverviewMaker = std::function<void(std::int64_t number, std::string& out)>;
    // A group of articles 1..count whose overview lines are made as they are asked for, so
    // that a group of tens of millions costs no memory; it has no bodies.
    void AddMadeGroup(const std::string& name, std::int64_t count, OverviewMaker maker);
    // Adds the article (creating the group when needed) and returns its number.
    std::int64_t AddArticle(const std::string& group, TestArticle article);
    bool RemoveArticle(const std::string& group, std::int64_t number);

    bool HasGroup(const std::string& name) const;
    std::optional<GroupSummary> Summary(const std::string& name) const;
    std::vector<std::string> GroupNames() const;
    // Appends the overview lines (each ending in CR LF) of the articles numbered first..last.
    void AppendOverview(const std::string& group, std::int64_t first, std::int64_t last,
                        std::string& out) const;
    const TestArticle* Find(const std::string& group, std::int64_t number) const;
    // The group and article with this message-id; nullptr when none.
    const TestArticle* FindByMessageId(const std::string& message_id, std::string* group) const;

    // Head and body as sent by ARTICLE, without dot-stuffing and terminating line.
    std::string RenderHead(const std::string& group, const TestArticle& article) const;

  private:
    struct Stored {
        TestArticle article;
        std::string overview;
    };
    struct Group {
        std::map<std::int64_t, Stored> articles;
        std::int64_t next_number = 1;
        std::int64_t made = 0;
        OverviewMaker maker;
    };

    std::string host_name_;
    std::map<std::string, Group> groups_;
};

}  // namespace quillfin::testserver
