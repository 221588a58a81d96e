#include "testserver/spool_directory.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

namespace quillfin::testserver {
namespace {

namespace fs = std::filesystem;

std::string Lower(std::string text) {
    for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool AllDigits(const std::string& text) {
    return !text.empty() && text.size() < 16 &&
           std::all_of(text.begin(), text.end(),
                       [](unsigned char c) { return std::isdigit(c) != 0; });
}

// Group names become directory names only when they are plain: no separators, no "..".
bool PlainGroupName(const std::string& name) {
    return !name.empty() && name.front() != '.' &&
           std::all_of(name.begin(), name.end(), [](unsigned char c) {
               return std::isalnum(c) != 0 || c == '.' || c == '-' || c == '_' || c == '+';
           });
}

}  // namespace

TestArticle ParseArticleText(const std::string& text) {
    TestArticle article;
    std::istringstream in(text);
    std::string line;
    std::string* last_field = nullptr;
    bool in_head = true;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!in_head) {
            article.body += line + "\r\n";
            continue;
        }
        if (line.empty()) {
            in_head = false;
            continue;
        }
        if ((line[0] == ' ' || line[0] == '\t') && last_field) {  // folded header line
            *last_field += " " + line.substr(line.find_first_not_of(" \t"));
            continue;
        }
        const auto colon = line.find(':');
        last_field = nullptr;
        if (colon == std::string::npos) continue;
        const std::string name = Lower(line.substr(0, colon));
        std::string value = line.substr(colon + 1);
        value.erase(0, value.find_first_not_of(" \t") == std::string::npos
                           ? value.size()
                           : value.find_first_not_of(" \t"));
        if (name == "subject") last_field = &article.subject;
        if (name == "from") last_field = &article.from;
        if (name == "date") last_field = &article.date;
        if (name == "message-id") last_field = &article.messageId;
        if (name == "references") last_field = &article.references;
        if (last_field) *last_field = value;
    }
    return article;
}

int LoadSpoolDirectory(const std::string& directory, NewsSpool& spool, std::string* error) {
    std::error_code ec;
    fs::directory_iterator groups(directory, ec);
    if (ec) {
        if (error) *error = directory + ": " + ec.message();
        return -1;
    }
    int loaded = 0;
    for (const fs::directory_entry& group_dir : groups) {
        const std::string group = group_dir.path().filename().string();
        if (!group_dir.is_directory(ec) || !PlainGroupName(group)) continue;
        spool.AddGroup(group);
        for (const fs::directory_entry& file : fs::directory_iterator(group_dir.path(), ec)) {
            const std::string name = file.path().filename().string();
            if (!file.is_regular_file(ec) || !AllDigits(name)) continue;
            std::ifstream in(file.path(), std::ios::binary);
            std::stringstream text;
            text << in.rdbuf();
            TestArticle article = ParseArticleText(text.str());
            article.number = std::stoll(name);
            if (article.number <= 0) continue;
            spool.AddArticle(group, std::move(article));
            ++loaded;
        }
    }
    return loaded;
}

}  // namespace quillfin::testserver
