#include "storage/settings_file.h"

#include <climits>
#include <cstdint>
#include <optional>
#include <string_view>

#include "common/text.h"
#include "storage/program_files.h"

namespace quillfin::storage {

namespace {

constexpr const char* kOptions = "Options";
constexpr const char* kSizing = "Sizing";
constexpr const char* kHeaderColumns = "Header View Column Sizes";
constexpr const char* kBatchColumns = "Batch View Column Sizes";

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A whole decimal number with an optional sign and nothing else; false for "12ab", "1.5" or
// a value outside int.
bool ParseWhole(std::string_view text, int* out) {
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    if (i == text.size()) return false;
    std::int64_t value = 0;
    for (; i < text.size(); ++i) {
        if (!IsDigit(text[i])) return false;
        value = value * 10 + (text[i] - '0');
        if (value > std::int64_t(INT_MAX) + 1) return false;
    }
    if (negative) value = -value;
    if (value > INT_MAX || value < INT_MIN) return false;
    *out = int(value);
    return true;
}

// The keys of section Options in file order. Text keys point at a string; check boxes (0 or 1)
// and sliders at an int with the range the control can hold. A hand-edited value outside it is
// rejected, so the setting keeps its value instead of reaching the scan as 0 or -5.
struct OptionKey {
    const char* name;
    std::string Settings::*text;
    int Settings::*number;
    int minimum;
    int maximum;
};

constexpr OptionKey Text(const char* name, std::string Settings::*field) {
    return {name, field, nullptr, 0, 0};
}
constexpr OptionKey Flag(const char* name, int Settings::*field) {
    return {name, nullptr, field, 0, 1};
}
constexpr OptionKey Slider(const char* name, int Settings::*field, int minimum, int maximum) {
    return {name, nullptr, field, minimum, maximum};
}

constexpr OptionKey kOptionKeys[] = {
    Text("Download_Path", &Settings::Download_Path),
    Slider("Rescan_Time", &Settings::Rescan_Time, 5, 240),
    Slider("sldTimeout", &Settings::sldTimeout, 15, 240),
    Text("News_Host", &Settings::News_Host),
    Text("News_Port", &Settings::News_Port),
    // Absent from older files, where it reads as off.
    Flag("chkSecure", &Settings::chkSecure),
    Text("User_Name", &Settings::User_Name),
    Flag("chkSavePassword", &Settings::chkSavePassword),
    Text("User_Pass", &Settings::User_Pass),
    Flag("chkAuth", &Settings::chkAuth),
    Flag("chkMakeSubDirs", &Settings::chkMakeSubDirs),
    Flag("chkSFX", &Settings::chkSFX),
    Flag("chkSaveDecodes", &Settings::chkSaveDecodes),
    Flag("chkSlave", &Settings::chkSlave),
    Slider("sldXOVER", &Settings::sldXOVER, 20, 2000),
    Flag("chkAllowRestart", &Settings::chkAllowRestart),
    Flag("chkAutodownload", &Settings::chkAutodownload),
    Flag("chkAutoExpire", &Settings::chkAutoExpire),
    Flag("chkLogFile", &Settings::chkLogFile),
    Flag("chkEnableLogging", &Settings::chkEnableLogging),
};

// Past the options above, written after them; a file without them reads as one connection
// with one request at a time.
constexpr OptionKey kExtraKeys[] = {
    Slider("Connections", &Settings::Connections, 1, 50),
    Slider("RequestsInFlight", &Settings::RequestsInFlight, 1, 16),
    Slider("NewGroupHeaders", &Settings::NewGroupHeaders, 0, 2000000000),
    Flag("chkCompress", &Settings::chkCompress),
    Slider("XoverInFlight", &Settings::XoverInFlight, 1, 16),
    Flag("chkPar2Repair", &Settings::chkPar2Repair),
};

struct BoolKey {
    const char* name;
    bool Settings::*field;
};

constexpr BoolKey kToggleKeys[] = {
    {"togtsComplete", &Settings::togtsComplete},
    {"togtsText", &Settings::togtsText},
    {"togtsUnknown", &Settings::togtsUnknown},
    {"togtsIncomplete", &Settings::togtsIncomplete},
};

std::string ColumnKey(std::size_t index) { return "C" + std::to_string(index + 1); }

template <std::size_t N>
void ReadColumns(const IniFile::Edit& file, const char* section, std::array<int, N>& widths,
                 const std::array<int, N>& initial) {
    for (std::size_t i = 0; i < N; ++i) {
        int width = common::WholeValue32(common::Trim(file.Get(section, ColumnKey(i))));
        widths[i] = width < 1 ? initial[i] : width;
    }
}

template <std::size_t N>
void WriteColumns(IniFile::Edit& file, const char* section, const std::array<int, N>& widths) {
    for (std::size_t i = 0; i < N; ++i) file.Set(section, ColumnKey(i), common::Decimal(widths[i]));
}

void ReadOption(const IniFile::Edit& file, const OptionKey& key, Settings& settings) {
    std::string value = common::Trim(file.Get(kOptions, key.name));
    if (value.empty()) return;  // the setting keeps its initial value
    if (key.text != nullptr) {
        settings.*key.text = value;
        return;
    }
    int number = 0;
    const std::string word = common::ToLower(value);
    // Check boxes as a hand or another tool writes them: "True" is as much on as 1.
    if (key.maximum == 1 && (word == "true" || word == "false"))
        settings.*key.number = word == "true" ? 1 : 0;
    else if (ParseWhole(value, &number) && number >= key.minimum && number <= key.maximum)
        settings.*key.number = number;
}

}  // namespace

SettingsFile::SettingsFile(const std::string& program_dir)
    : ini_(ProgramFile(program_dir, "QUILFN.INI")) {}

void SettingsFile::ReadOptions(Settings& settings) const {
    IniFile::Edit file(ini_);
    for (const OptionKey& key : kOptionKeys) ReadOption(file, key, settings);
    for (const OptionKey& key : kExtraKeys) ReadOption(file, key, settings);
    for (const BoolKey& key : kToggleKeys) {
        std::string value = common::Trim(file.Get(kOptions, key.name));
        if (value.empty()) {
            settings.*key.field = true;
        } else if (std::optional<bool> flag = common::ParseBoolean(value)) {
            settings.*key.field = *flag;
        }
    }
}

bool SettingsFile::WriteOptions(const Settings& settings) {
    IniFile::Edit file(ini_);
    for (const OptionKey& key : kOptionKeys) {
        std::string value;
        if (key.text == &Settings::User_Pass)
            value = settings.chkSavePassword == 1 ? settings.User_Pass : "";
        else if (key.text != nullptr)
            value = settings.*key.text;
        else
            value = common::Decimal(settings.*key.number);
        file.Set(kOptions, key.name, value);
    }
    for (const BoolKey& key : kToggleKeys)
        file.Set(kOptions, key.name, settings.*key.field ? "True" : "False");
    for (const OptionKey& key : kExtraKeys)
        file.Set(kOptions, key.name, common::Decimal(settings.*key.number));
    return file.Commit();
}

void SettingsFile::ReadWindowSizes(WindowPlacement& placement, int screen_width,
                                   int screen_height) const {
    IniFile::Edit file(ini_);
    std::string top = common::Trim(file.Get(kSizing, "Top"));
    if (top.empty()) {
        placement.Left = (screen_width - placement.Width) / 2;
        placement.Top = (screen_height - placement.Height) / 2;
        return;
    }
    placement.Top = common::WholeValue32(top);
    std::string left = common::Trim(file.Get(kSizing, "Left"));
    if (!left.empty()) placement.Left = common::WholeValue32(left);
    // A window of no size could never be seen again, so such sizes are ignored.
    std::string width = common::Trim(file.Get(kSizing, "Width"));
    if (!width.empty() && common::WholeValue32(width) >= 1)
        placement.Width = common::WholeValue32(width);
    std::string height = common::Trim(file.Get(kSizing, "Height"));
    if (!height.empty() && common::WholeValue32(height) >= 1)
        placement.Height = common::WholeValue32(height);
    int state = 0;
    if (ParseWhole(common::Trim(file.Get(kSizing, "WindowState")), &state) && state >= 0 &&
        state <= 2)
        placement.WindowState = state;
}

bool SettingsFile::WriteWindowSizes(const WindowPlacement& placement) {
    IniFile::Edit file(ini_);
    file.Set(kSizing, "WindowState", common::Decimal(placement.WindowState));
    // A minimised or maximised window keeps the last normal rectangle in the file.
    if (placement.WindowState == 0) {
        file.Set(kSizing, "Top", common::Decimal(placement.Top));
        file.Set(kSizing, "Left", common::Decimal(placement.Left));
        file.Set(kSizing, "Height", common::Decimal(placement.Height));
        file.Set(kSizing, "Width", common::Decimal(placement.Width));
    }
    return file.Commit();
}

void SettingsFile::ReadColumnSizes(ColumnWidths& widths) const {
    IniFile::Edit file(ini_);
    ReadColumns(file, kHeaderColumns, widths.header, ColumnWidths::kHeaderInitial);
    ReadColumns(file, kBatchColumns, widths.batch, ColumnWidths::kBatchInitial);
}

bool SettingsFile::WriteColumnSizes(const ColumnWidths& widths) {
    IniFile::Edit file(ini_);
    WriteColumns(file, kHeaderColumns, widths.header);
    WriteColumns(file, kBatchColumns, widths.batch);
    return file.Commit();
}

}  // namespace quillfin::storage
