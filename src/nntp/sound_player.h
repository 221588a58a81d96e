#pragma once

#include <string>

namespace quillfin::nntp {

// One sound effect by its bare file name ("scan.wav"). Whether sounds are on, and whether the
// file exists, is the player's business: a scan only says when.
class SoundPlayer {
public:
    virtual ~SoundPlayer() = default;
    virtual void Play(const std::string& name) = 0;
};

}  // namespace quillfin::nntp
