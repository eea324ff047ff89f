#pragma once
// Naming and stamping of restored files on the target file system.
#include <filesystem>
#include <string>

namespace hx::platform {

// The name to write when `chosen` already exists: in a name without "_"
// every "." becomes "_0."; in a name with "_" the number after the first
// "_" goes up by one (keeping its width) until the name is free.
std::filesystem::path NextFreeRestoreName(const std::filesystem::path& chosen);
// One step of that rule on a bare file name.
std::string BumpRestoreName(const std::string& name);

// The file name under which an entry is written: "?" (a lost first letter)
// and characters a file name cannot hold become "_"; cut to 255 bytes.
std::string RestoreFileName(const std::string& listName);

// Gives a restored file its recorded date (a day count since 30 December
// 1899, local time); a date of 0 or less leaves the file alone.
void StampRestoredFile(const std::filesystem::path& file, double date);

}  // namespace hx::platform
