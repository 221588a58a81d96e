#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "nntp/sound_player.h"

class QSoundEffect;

namespace quillfin::platform {

// nntp::SoundPlayer over Qt's sound effects: asynchronous, and a new sound cuts off the one
// still playing. Silent when sounds are off, when no folder holds the file, and on a machine
// without an audio output; a failing playback is ignored.
class QtSoundPlayer : public nntp::SoundPlayer {
  public:
    // enabled: asked on every call (the "Play Sound Effects" setting). folders: searched in
    // order for an "sfx" sub-folder holding the file.
    QtSoundPlayer(std::function<bool()> enabled, std::vector<std::string> folders);
    ~QtSoundPlayer() override;
    QtSoundPlayer(const QtSoundPlayer&) = delete;
    QtSoundPlayer& operator=(const QtSoundPlayer&) = delete;

    void Play(const std::string& name) override;

    // The file the last call chose to play; empty when it chose none.
    const std::string& LastChosen() const { return last_chosen_; }
    // How many calls chose a file.
    int Chosen() const { return chosen_; }

    // The path of folder/sfx/name for the first folder that has it, sub-folder and file name
    // matched without regard to letter case; empty when none has it.
    static std::string FindSound(const std::vector<std::string>& folders, const std::string& name);

  private:
    std::function<bool()> enabled_;
    std::vector<std::string> folders_;
    std::unique_ptr<QSoundEffect> effect_;
    std::string last_chosen_;
    int chosen_ = 0;
};

}  // namespace quillfin::platform
