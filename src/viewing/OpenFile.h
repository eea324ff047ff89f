#pragma once
// Opening a found or listed file with the application the desktop associates
// with it. A program is never started: not a name with ".exe" in it, not a
// file that is executable or begins as a program does.
#include <filesystem>
#include <functional>

#include "shell/Ui.h"

namespace hx::viewing {

struct FileOpeners {
    // Opens the file with its application; false when that failed.
    std::function<bool(const std::filesystem::path&)> open;
    // Shows the file's properties, where an application can be chosen.
    std::function<void(const std::filesystem::path&)> properties;
    // The associated application's name, empty when there is none.
    std::function<std::string(const std::filesystem::path&)> application;
};

enum class OpenOutcome { Opened, Refused, Empty, NoApplication, PropertiesShown, Failed };

// The open command: a file of length 0 says "File has no file length."; with
// no associated application asks "Associate an application?" (title
// "Open File"), and Yes shows the properties.
OpenOutcome OpenWithApplication(shell::Ui& ui, const std::filesystem::path& file, const FileOpeners& openers);

}  // namespace hx::viewing
