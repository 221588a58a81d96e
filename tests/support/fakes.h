#pragma once

#include <deque>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "common/event_pump.h"
#include "common/prompts.h"

namespace quillfin::testing {

// An activity log's kept lines without their "hh:mm:ss  " stamps, oldest first.
template <typename Log>
std::vector<std::string> Untimed(const Log& log) {
    std::vector<std::string> out;
    for (auto it = log.Lines().rbegin(); it != log.Lines().rend(); ++it)
        out.push_back(it->substr(10));
    return out;
}

// Records every message box and answers questions from a script (No when it runs dry).
class ScriptedPrompts : public common::Prompts {
  public:
    struct Shown {
        std::string text;
        std::string title;
        bool question = false;
    };
    void Message(const std::string& text, const std::string& title) override {
        shown.push_back({text, title, false});
    }
    bool AskYesNo(const std::string& text, const std::string& title) override {
        shown.push_back({text, title, true});
        if (onAsk) onAsk(text);
        if (answers.empty()) return false;
        bool answer = answers.front();
        answers.pop_front();
        return answer;
    }
    std::vector<Shown> shown;
    std::deque<bool> answers;
    std::function<void(const std::string&)> onAsk;  // runs before the answer is given
};

// Counts the pumps and runs a hook in each: events arriving in the middle of long work.
class HookPump : public common::EventPump {
  public:
    void Pump() override {
        ++count;
        if (hook) hook();
    }
    int count = 0;
    std::function<void()> hook;
};

}  // namespace quillfin::testing
