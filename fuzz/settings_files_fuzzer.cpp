// QUILFN.INI and favs.txt after a hand edit: the first piece of the input is the settings
// file, the second the newsgroup list. Both are read, written back and read again; the second
// write must not change what the first wrote.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "storage/group_list.h"
#include "storage/ini_file.h"
#include "storage/settings_file.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

namespace {

using namespace quillfin;

const testing::TempDir& Folder() {
    static const testing::TempDir dir;
    return dir;
}

void Check(bool ok) {
    if (!ok) std::abort();
}

// Reads every setting and writes it back; returns the file as written.
std::string ReadAndWrite(storage::SettingsFile& file) {
    storage::Settings options;
    storage::WindowPlacement placement;
    storage::ColumnWidths widths;
    file.ReadOptions(options);
    file.ReadWindowSizes(placement, 1920, 1080);
    file.ReadColumnSizes(widths);
    Check(file.WriteOptions(options) && file.WriteWindowSizes(placement) &&
          file.WriteColumnSizes(widths));
    return Folder().Read("QUILFN.INI");
}

void Settings(const std::string& content, const std::string& value) {
    const testing::TempDir& dir = Folder();
    dir.Write("QUILFN.INI", content);
    storage::SettingsFile file(dir.Path());
    // The first save may tidy a hand edit (a stray CR inside a value becomes a blank); from
    // then on a save changes nothing.
    ReadAndWrite(file);
    const std::string written = ReadAndWrite(file);
    Check(ReadAndWrite(file) == written);

    // A key of the input's own making: what is set is what is read, on one line, without
    // the blanks around it and cut to the value limit.
    storage::IniFile ini(file.Path());
    Check(ini.Set("Fuzz Section", "Key", value));
    std::string expected;
    for (char c : value) expected += c == '\r' || c == '\n' ? ' ' : c;
    expected.erase(0, expected.find_first_not_of(" \t"));
    expected.erase(expected.find_last_not_of(" \t") + 1);
    Check(ini.Get("fuzz section", "KEY") == expected.substr(0, storage::IniFile::kValueLimit));
}

void GroupList(const std::string& content) {
    const testing::TempDir& dir = Folder();
    dir.Write("favs.txt", content);
    testing::ScriptedPrompts prompts;
    storage::GroupList first(dir.Path(), prompts);
    first.LoadGroupList();
    Check(first.SaveGroupList());
    const std::string written = dir.Read("favs.txt");
    storage::GroupList second(dir.Path(), prompts);
    second.LoadGroupList();
    Check(second.Count() == first.Count());
    Check(second.SaveGroupList());
    Check(dir.Read("favs.txt") == written);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::string> pieces = fuzz::Pieces(data, size, 3);
    Settings(pieces[0], pieces.size() > 2 ? pieces[2] : std::string());
    if (pieces.size() > 1) GroupList(pieces[1]);
    return 0;
}
