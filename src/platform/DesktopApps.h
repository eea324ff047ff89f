#pragma once
// What the desktop knows about a file: the application it opens the file
// with (xdg-mime), which a bare machine may lack.
#include <filesystem>
#include <string>
#include <vector>

namespace hx::platform {

// The first line `xdg-mime query ARGS...` prints; empty when it fails or is missing.
std::string QueryXdgMime(const std::vector<std::string>& args);

// The desktop entry that opens `file` ("org.gnome.eog"), without ".desktop";
// empty when none is associated or xdg-mime is missing.
std::string DefaultApplicationFor(const std::filesystem::path& file);

// True when `file` is a program: an executable bit set, or an ELF or "#!"
// beginning. Such a file is never started from the browser.
bool IsProgramFile(const std::filesystem::path& file);

}  // namespace hx::platform
