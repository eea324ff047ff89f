#pragma once
// The freedesktop trash of the user ($XDG_DATA_HOME/Trash, else
// ~/.local/share/Trash): a file moved there can be put back from any file
// manager. Files on another file system are copied there whole first.
#include <filesystem>
#include <string>

namespace hx::platform {

// Moves a file (or a folder with what it holds) to the trash. False, with the
// reason in `error`, when it could not go; the file then stays where it was.
bool MoveToTrash(const std::filesystem::path& path, std::string* error = nullptr);

// The trash folder in use (its files/ and info/ below it).
std::filesystem::path TrashFolder();

}  // namespace hx::platform
