#pragma once

#include <string>

#include "storage/ini_file.h"
#include "storage/settings.h"

namespace quillfin::storage {

// QUILFN.INI in the program directory: the four sections and their keys.
class SettingsFile {
public:
    explicit SettingsFile(const std::string& program_dir);

    void ReadOptions(Settings& settings) const;
    // Centres the window on the screen when Top is missing.
    void ReadWindowSizes(WindowPlacement& placement, int screen_width, int screen_height) const;
    void ReadColumnSizes(ColumnWidths& widths) const;

    // Each returns false when some key could not be written.
    bool WriteOptions(const Settings& settings);
    bool WriteWindowSizes(const WindowPlacement& placement);
    bool WriteColumnSizes(const ColumnWidths& widths);

    const std::string& Path() const { return ini_.Path(); }

private:
    IniFile ini_;
};

}  // namespace quillfin::storage
