#include "platform/DesktopApps.h"

#include <cstdio>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/ChildProcess.h"

namespace hx::platform {

namespace fs = std::filesystem;

// The first line xdg-mime prints for `args`, empty when it fails.
std::string QueryXdgMime(const std::vector<std::string>& args) {
    char name[] = "/tmp/hx-xdg-mime-XXXXXX";
    const int fd = ::mkstemp(name);
    if (fd < 0) return {};
    ::close(fd);
    std::vector<std::string> argv{"xdg-mime", "query"};
    argv.insert(argv.end(), args.begin(), args.end());
    const auto r = RunChild(argv, name, 5000);
    std::string line;
    if (r.finished && r.exitCode == 0) {
        std::ifstream in(name);
        std::getline(in, line);
    }
    std::remove(name);
    return line;
}

std::string DefaultApplicationFor(const fs::path& file) {
    const std::string type = QueryXdgMime({"filetype", file.string()});
    if (type.empty()) return {};
    std::string app = QueryXdgMime({"default", type});
    const std::string suffix = ".desktop";
    if (app.size() > suffix.size() && app.compare(app.size() - suffix.size(), suffix.size(), suffix) == 0)
        app.resize(app.size() - suffix.size());
    return app;
}

bool IsProgramFile(const fs::path& file) {
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    if (st.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH)) return true;
    char head[4] = {};
    std::ifstream in(file, std::ios::binary);
    in.read(head, sizeof head);
    const auto got = in.gcount();
    return (got >= 4 && head[0] == 0x7f && head[1] == 'E' && head[2] == 'L' && head[3] == 'F') ||
           (got >= 2 && head[0] == '#' && head[1] == '!');
}

}  // namespace hx::platform
