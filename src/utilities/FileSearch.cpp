#include "utilities/FileSearch.h"

#include <sstream>

#include "platform/DirectoryEntry.h"
#include "platform/DriveCatalogue.h"
#include "shell/Strings.h"
#include "volumes/DriveFiles.h"

namespace hx::utilities {

namespace fs = std::filesystem;

namespace {

// Folders of the system's own workings, not of the user's files.
bool pseudoFolder(const fs::path& p) {
    static const char* const skip[] = {"/proc", "/sys", "/dev", "/run"};
    for (const char* s : skip)
        if (p == s) return true;
    return false;
}

class Walker {
public:
    Walker(shell::Ui& ui, const std::string& spec) : ui_(ui), spec_(spec) {}

    void walk(const fs::path& root) {
        const platform::EntryFacts top = platform::EntryOf(root);
        if (!top.directory) return;
        device_ = top.device;
        std::vector<fs::path> stack{root};
        // Depth first, each folder's subfolders in the order listed.
        while (!stack.empty() && !done()) {
            const fs::path folder = stack.back();
            stack.pop_back();
            std::vector<fs::path> subfolders;
            visit(folder, subfolders);
            for (auto it = subfolders.rbegin(); it != subfolders.rend(); ++it) stack.push_back(*it);
        }
    }

    SearchResult result;

private:
    bool done() const { return result.stopped || result.lines.size() >= kMaxSearchLines; }

    void visit(const fs::path& folder, std::vector<fs::path>& subfolders) {
        if (++visited_ % 64 == 1) {
            ui_.status(shell::LoadStr(0, "Searching ") + folder.string());
            ui_.yield();
        }
        if (ui_.stopRequested()) {
            result.stopped = true;
            return;
        }
        std::error_code ec;
        for (fs::directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec), end;
             !ec && it != end && !done(); it.increment(ec)) {
            const fs::path& p = it->path();
            const std::string name = p.filename().string();
            const platform::EntryFacts entry = platform::EntryOf(p);
            if (!entry.exists) continue;
            if (entry.directory) {
                if (name.empty() || name[0] == '.') continue;
                ++result.folders;
                // Another drive mounted below is walked as its own drive.
                if (entry.device == device_ && !pseudoFolder(p)) subfolders.push_back(p);
                continue;
            }
            ++result.files;
            if (!spec_.empty() && platform::MatchesPattern(spec_, name)) {
                result.lines.push_back(p.string());
                ui_.yield();
                if (ui_.stopRequested()) result.stopped = true;
            }
        }
    }

    shell::Ui& ui_;
    std::string spec_;
    std::uint64_t device_ = 0;
    std::uint64_t visited_ = 0;
};

std::vector<std::string> tokens(const std::string& text) {
    std::string t = text;
    for (char& c : t)
        if (c == ',') c = ' ';
    std::istringstream in(t);
    std::vector<std::string> out;
    for (std::string w; in >> w;) out.push_back(w);
    return out;
}

}  // namespace

std::vector<fs::path> SearchRoots(const std::string& drives) {
    std::vector<fs::path> roots;
    std::error_code ec;
    auto add = [&](const fs::path& p) {
        if (!fs::is_directory(p, ec)) return;
        for (const auto& r : roots)
            if (fs::equivalent(r, p, ec)) return;
        roots.push_back(p);
    };
    const auto named = tokens(drives);
    if (!named.empty()) {
        for (const auto& n : named) add(n);
        return roots;
    }
    add("/");
    for (const auto& d : volumes::EnumerateDrives())
        if (!d.mountPoint.empty()) add(d.mountPoint);
    return roots;
}

SearchResult Zoekfiles(const std::string& spec, const std::string& drives, shell::Ui& ui) {
    Walker walker(ui, spec.empty() ? "*" : spec);
    for (const auto& root : SearchRoots(drives)) {
        walker.walk(root);
        if (walker.result.stopped || walker.result.lines.size() >= kMaxSearchLines) break;
    }
    if (walker.result.lines.size() > kMaxSearchLines) walker.result.lines.resize(kMaxSearchLines);
    return walker.result;
}

SearchResult FolderInfo(const fs::path& path, shell::Ui& ui) {
    Walker walker(ui, {});
    walker.walk(path);
    return walker.result;
}

void SplitSearchText(const std::string& text, std::string& spec, std::string& drives) {
    spec.clear();
    drives.clear();
    std::error_code ec;
    for (const auto& t : tokens(text)) {
        if (t.front() == '/' && fs::is_directory(t, ec)) drives += (drives.empty() ? "" : " ") + t;
        else if (spec.empty()) spec = t;
    }
}

}  // namespace hx::utilities
