#include "undelete/EntryFiles.h"

#include "shell/Text.h"
#include "undelete/UndeleteLists.h"

namespace hx::undelete {

namespace fs = std::filesystem;

namespace {

// The child of `folder` whose name equals `name` without regard to case;
// an exact match wins.
std::optional<fs::path> childNamed(const fs::path& folder, const std::string& name) {
    std::error_code ec;
    if (fs::exists(folder / name, ec)) return folder / name;
    const std::string wanted = shell::ToLower(name);
    fs::directory_iterator it(folder, ec), end;
    // A folder of a FAT volume holds at most 65,536 entries.
    for (int seen = 0; !ec && it != end && seen < 65536; it.increment(ec), ++seen)
        if (shell::ToLower(it->path().filename().string()) == wanted) return it->path();
    return std::nullopt;
}

}  // namespace

std::optional<fs::path> ListedFileOnVolume(const filesystems::UndeleteEntry& e, const std::string& mountPoint) {
    std::error_code ec;
    if (mountPoint.empty() || !fs::is_directory(mountPoint, ec)) return std::nullopt;
    fs::path at(mountPoint);
    const std::string path = EntryPathText(e);
    std::size_t from = 0;
    while (from <= path.size()) {
        const std::size_t sep = path.find('\\', from);
        const std::string part = path.substr(from, sep == std::string::npos ? std::string::npos : sep - from);
        from = sep == std::string::npos ? path.size() + 1 : sep + 1;
        if (part.empty()) continue;
        if (part == "." || part == ".." || part.find('/') != std::string::npos) return std::nullopt;
        auto child = childNamed(at, part);
        if (!child) return std::nullopt;
        at = *child;
    }
    if (!fs::is_regular_file(at, ec)) return std::nullopt;
    return at;
}

std::optional<fs::path> TemporaryCopy(QuickUndelete& undelete, std::size_t index, const fs::path& temp) {
    if (index >= undelete.entries().size() || undelete.entries()[index].isFolder()) return std::nullopt;
    const filesystems::UndeleteEntry& e = undelete.entries()[index];
    const std::string name = e.ListName.empty() ? e.FileName : e.ListName;
    std::string ext = fs::path(name).extension().string();
    // The extension is the entry's own text: nothing of a path may come with it.
    if (ext.find_first_of("/\\") != std::string::npos) ext.clear();
    const fs::path copy = temp / (std::to_string(index + 1) + ext);
    std::error_code ec;
    fs::create_directories(temp, ec);
    if (fs::exists(copy, ec) || undelete.restoreTo(index, copy, true)) return copy;
    return std::nullopt;
}

}  // namespace hx::undelete
