#pragma once

#include <string>
#include <string_view>

namespace quillfin::storage {

// program_dir + separator + name; no separator is doubled.
std::string ProgramFile(std::string_view program_dir, std::string_view name);

// Writes a whole file under a temporary name in the same folder and renames it into place,
// so a crash or a full disk never leaves a truncated file. owner_only creates it mode 0600.
// On failure the old file is untouched, the temporary one removed, and error says why.
bool WriteFileAtomically(const std::string& path, std::string_view content, bool owner_only,
                         std::string* error = nullptr);

// Reads a whole file; false (with error) when it cannot be opened or read.
bool ReadWholeFile(const std::string& path, std::string* content, std::string* error = nullptr);

bool FileExists(const std::string& path);

}  // namespace quillfin::storage
