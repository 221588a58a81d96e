#include "testserver/demo_program_dir.h"

#include <filesystem>
#include <system_error>

#include "common/prompts.h"
#include "common/text.h"
#include "storage/group_list.h"
#include "storage/ini_file.h"
#include "storage/program_files.h"
#include "storage/settings_file.h"

namespace quillfin::testserver {
namespace {

namespace fs = std::filesystem;

// GroupList only prompts for the user's commands, which are never given here.
class NoPrompts : public common::Prompts {
  public:
    void Message(const std::string&, const std::string&) override {}
    bool AskYesNo(const std::string&, const std::string&) override { return false; }
};

bool Fail(std::string* error, const std::string& text) {
    if (error) *error = text;
    return false;
}

}  // namespace

bool PrepareDemoProgramDirectory(const std::string& dir_text, const std::string& host, int port,
                                 const std::vector<std::string>& groups,
                                 std::vector<std::string>* report, std::string* error) {
    auto note = [&](const std::string& text) {
        if (report) report->push_back(text);
    };
    std::error_code ec;
    const fs::path dir = fs::absolute(dir_text, ec);
    if (ec || dir_text.empty()) return Fail(error, "no usable folder: " + dir_text);
    const fs::path downloads = dir / "downloads";
    fs::create_directories(downloads, ec);
    if (ec) return Fail(error, "cannot create " + downloads.string() + ": " + ec.message());

    const std::string port_text = std::to_string(port);
    storage::SettingsFile settings_file(dir.string());
    if (!storage::FileExists(settings_file.Path())) {
        storage::Settings settings;  // a first run's values, then the demo's server
        // The trailing separator lets a file name be appended directly.
        settings.Download_Path = downloads.string() + "/";
        settings.News_Host = host;
        settings.News_Port = port_text;
        if (!settings_file.WriteOptions(settings))
            return Fail(error, "cannot write " + settings_file.Path());
        note("wrote " + settings_file.Path());
    } else {
        storage::IniFile::Edit ini{storage::IniFile(settings_file.Path())};
        if (common::Trim(ini.Get("Options", "News_Host")) != host ||
            common::Trim(ini.Get("Options", "News_Port")) != port_text) {
            ini.Set("Options", "News_Host", host);
            ini.Set("Options", "News_Port", port_text);
            if (!ini.Commit()) return Fail(error, "cannot update " + settings_file.Path());
            note("pointed " + settings_file.Path() + " at " + host + ":" + port_text);
        } else {
            note("kept " + settings_file.Path());
        }
    }

    NoPrompts prompts;
    storage::GroupList list(dir.string(), prompts);
    if (storage::FileExists(list.FilePath())) {
        note("kept " + list.FilePath());
        return true;
    }
    for (const std::string& group : groups) list.AddGroup(group);
    if (!list.SaveGroupList()) return Fail(error, "cannot write " + list.FilePath());
    note("wrote " + list.FilePath());
    return true;
}

}  // namespace quillfin::testserver
