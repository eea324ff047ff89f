#include "platform/Trash.h"

#include "platform/LocalTime.h"

#include <cctype>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <unistd.h>

#include "platform/FileMove.h"

namespace hx::platform {

namespace fs = std::filesystem;

namespace {

// Percent-encodes the path as the trash's info files keep it.
std::string encoded(const std::string& path) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : path) {
        if (std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') out += static_cast<char>(c);
        else out += {'%', hex[c >> 4], hex[c & 15]};
    }
    return out;
}

}  // namespace

fs::path TrashFolder() {
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg) return fs::path(xdg) / "Trash";
    const char* home = std::getenv("HOME");
    return fs::path(home && *home ? home : "/tmp") / ".local" / "share" / "Trash";
}

bool MoveToTrash(const fs::path& path, std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error) *error = why;
        return false;
    };
    std::error_code ec;
    const fs::path source = fs::absolute(path, ec);
    if (ec || !fs::exists(fs::symlink_status(source, ec))) return fail("it does not exist");
    const fs::path trash = TrashFolder();
    fs::create_directories(trash / "files", ec);
    fs::create_directories(trash / "info", ec);
    if (!fs::is_directory(trash / "info", ec)) return fail("the trash folder " + trash.string() + " cannot be made");
    // The info file is made first, exclusively: it reserves the name.
    const std::string base = source.filename().string();
    std::string name;
    int fd = -1;
    for (int n = 0; n < 10000 && fd < 0; ++n) {
        name = n == 0 ? base : base + "." + std::to_string(n);
        fd = ::open((trash / "info" / (name + ".trashinfo")).c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    }
    if (fd < 0) return fail("no free name in the trash");
    const std::string info = "[Trash Info]\nPath=" + encoded(source.string()) + "\nDeletionDate=" + LocalTimeText("%Y-%m-%dT%H:%M:%S") + "\n";
    const bool written = ::write(fd, info.data(), info.size()) == static_cast<ssize_t>(info.size());
    ::close(fd);
    const fs::path infoFile = trash / "info" / (name + ".trashinfo");
    const fs::path target = trash / "files" / name;
    if (written) {
        if (fs::is_directory(fs::symlink_status(source, ec))) {
            fs::rename(source, target, ec);
            if (!ec) return true;
        } else {
            const MoveResult moved = MoveFile(source, target);
            if (moved.ok()) return true;
            fs::remove(infoFile, ec);
            return fail(moved.detail.empty() ? "it could not be moved" : moved.detail);
        }
    }
    fs::remove(infoFile, ec);
    return fail(written ? "a folder on another disk cannot go to the trash" : "the trash cannot be written");
}

}  // namespace hx::platform
