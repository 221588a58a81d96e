#include "platform/qt_sound_player.h"

#include <QAudioDevice>
#include <QMediaDevices>
#include <QSoundEffect>
#include <QUrl>
#include <algorithm>
#include <filesystem>

namespace quillfin::platform {

namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); });
    return text;
}

// The entry of folder whose name equals name without regard to case; empty when none.
std::filesystem::path FindEntry(const std::filesystem::path& folder, const std::string& name,
                                bool want_folder) {
    std::error_code error;
    const std::string wanted = Lower(name);
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        if (Lower(it->path().filename().string()) != wanted) continue;
        std::error_code kind_error;
        const bool is_folder = it->is_directory(kind_error);
        const bool is_file = it->is_regular_file(kind_error);
        if (want_folder ? is_folder : is_file) return it->path();
    }
    return {};
}

}  // namespace

QtSoundPlayer::QtSoundPlayer(std::function<bool()> enabled, std::vector<std::string> folders)
    : enabled_(std::move(enabled)), folders_(std::move(folders)) {}

QtSoundPlayer::~QtSoundPlayer() = default;

std::string QtSoundPlayer::FindSound(const std::vector<std::string>& folders,
                                     const std::string& name) {
    // A bare file name only: never a path out of the sound folder.
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos)
        return {};
    for (const std::string& folder : folders) {
        if (folder.empty()) continue;
        const std::filesystem::path sfx = FindEntry(folder, "sfx", true);
        if (sfx.empty()) continue;
        const std::filesystem::path file = FindEntry(sfx, name, false);
        if (!file.empty()) return file.string();
    }
    return {};
}

void QtSoundPlayer::Play(const std::string& name) {
    last_chosen_.clear();
    if (!enabled_ || !enabled_()) return;
    const std::string path = FindSound(folders_, name);
    if (path.empty()) return;
    last_chosen_ = path;
    ++chosen_;
    // The one playing stops now: a new sound replaces it.
    if (effect_) effect_->stop();
    // Without an audio output there is nothing to play on; the sound effect would only warn.
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull()) return;
    if (!effect_)
        effect_ = std::make_unique<QSoundEffect>(device);
    else if (effect_->audioDevice() != device)
        effect_->setAudioDevice(device);
    effect_->setSource(QUrl::fromLocalFile(QString::fromStdString(path)));
    // Loading and playing are asynchronous; a file that fails to load plays nothing.
    effect_->play();
}

}  // namespace quillfin::platform
