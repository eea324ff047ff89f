#include "platform/FreeSpace.h"

#include <sys/statvfs.h>

#include <fstream>
#include <sstream>

namespace hx::platform {

namespace {
FreeSpaceHook& hook() {
    static FreeSpaceHook h;
    return h;
}

// statvfs of the path, or of its nearest existing parent.
bool stat(std::string path, struct statvfs& out) {
    while (!path.empty()) {
        if (::statvfs(path.c_str(), &out) == 0) return true;
        const auto slash = path.find_last_of('/');
        if (slash == std::string::npos) break;
        path = slash == 0 ? std::string("/") : path.substr(0, slash);
        if (path == "/") return ::statvfs("/", &out) == 0;
    }
    return false;
}
}  // namespace

double FreeMegabytes(const std::string& path) {
    if (hook()) return hook()(path);
    struct statvfs s{};
    if (!stat(path, s)) return 0;
    return static_cast<double>(s.f_bavail) * static_cast<double>(s.f_frsize) / 1048576.0;
}

double TotalMegabytes(const std::string& path) {
    struct statvfs s{};
    if (!stat(path, s)) return 0;
    return static_cast<double>(s.f_blocks) * static_cast<double>(s.f_frsize) / 1048576.0;
}

namespace {

// A "Name:   N kB" line of /proc/meminfo, in megabytes; 0 when it is missing.
double meminfoMB(const std::string& name) {
    std::ifstream in("/proc/meminfo");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(name + ":", 0) == 0) {
            std::istringstream fields(line.substr(name.size() + 1));
            double kb = 0;
            fields >> kb;
            return kb / 1024.0;
        }
    }
    return 0;
}

}  // namespace

double AvailableMemoryMB() { return meminfoMB("MemAvailable"); }

double SwapMegabytes() { return meminfoMB("SwapTotal"); }

void SetFreeSpaceHook(FreeSpaceHook h) { hook() = std::move(h); }

}  // namespace hx::platform
