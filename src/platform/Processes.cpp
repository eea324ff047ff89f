#include "platform/Processes.h"

#include <algorithm>
#include <chrono>
#include <cctype>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sys/stat.h>
#include <thread>
#include <pwd.h>
#include <unistd.h>

namespace hx::platform {

namespace fs = std::filesystem;

namespace {

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool readProcess(pid_t pid, ProcessInfo& info) {
    const fs::path dir = fs::path("/proc") / std::to_string(pid);
    struct stat st {};
    if (::stat(dir.c_str(), &st) != 0) return false;
    info.pid = pid;
    info.uid = st.st_uid;
    std::ifstream comm(dir / "comm");
    std::getline(comm, info.name);
    std::ifstream cmd(dir / "cmdline", std::ios::binary);
    std::string argv0;
    std::getline(cmd, argv0, '\0');
    info.exe = fs::path(argv0).filename().string();
    return true;
}

// A zombie has ended; only its parent has yet to collect it.
bool isZombie(pid_t pid) {
    // One line. A process reaped while it is read fails the read (ESRCH):
    // read so, that leaves the line empty, where reading by the buffer's
    // iterator threw.
    std::ifstream stat(fs::path("/proc") / std::to_string(pid) / "stat");
    std::string content;
    std::getline(stat, content);
    auto close = content.rfind(')');
    return close != std::string::npos && close + 2 < content.size() && content[close + 2] == 'Z';
}

bool alive(pid_t pid) { return ::kill(pid, 0) == 0 && !isZombie(pid); }

}  // namespace

std::vector<ProcessInfo> ListProcesses() {
    std::vector<ProcessInfo> list;
    std::error_code ec;
    for (fs::directory_iterator it("/proc", ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.empty() || !std::all_of(name.begin(), name.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
            continue;
        ProcessInfo info;
        if (readProcess(static_cast<pid_t>(std::atol(name.c_str())), info)) list.push_back(info);
    }
    return list;
}

std::vector<ProcessInfo> FindOwnProcesses(const std::vector<std::string>& nameParts) {
    std::vector<ProcessInfo> found;
    const pid_t self = ::getpid();
    const uid_t me = ::getuid();
    for (const auto& p : ListProcesses()) {
        if (p.pid == self || p.uid != me || isZombie(p.pid)) continue;
        for (const auto& part : nameParts) {
            const std::string l = lower(part);
            if (lower(p.name).find(l) != std::string::npos || lower(p.exe).find(l) != std::string::npos) {
                found.push_back(p);
                break;
            }
        }
    }
    return found;
}

bool EndProcess(pid_t pid, int graceMs) {
    if (pid <= 1 || pid == ::getpid()) return false;
    if (!alive(pid)) return true;
    ::kill(pid, SIGTERM);
    for (int waited = 0; waited < graceMs; waited += 20) {
        if (!alive(pid)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(pid, SIGKILL);
    for (int waited = 0; waited < 1000; waited += 20) {
        if (!alive(pid)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

int EndStrayProcesses() {
    int ended = 0;
    for (const auto& p : FindOwnProcesses({"dcraw", "rawconv", "rawconv7"}))
        if (EndProcess(p.pid, 500)) ++ended;
    return ended;
}

fs::path DefaultInstanceFile() {
    if (const char* run = std::getenv("XDG_RUNTIME_DIR"); run && *run && fs::is_directory(run))
        return fs::path(run) / "harvestrix.pid";
    std::error_code ec;
    return fs::temp_directory_path(ec) / ("harvestrix-" + std::to_string(::getuid()) + ".pid");
}

std::vector<pid_t> OtherInstances(const fs::path& pidFile, const std::string& programName) {
    std::vector<pid_t> pids;
    const pid_t self = ::getpid();
    std::ifstream in(pidFile);
    long recorded = 0;
    if (in >> recorded && recorded > 1 && recorded != self && alive(static_cast<pid_t>(recorded))) {
        ProcessInfo info;
        if (readProcess(static_cast<pid_t>(recorded), info) && info.uid == ::getuid()) pids.push_back(info.pid);
    }
    for (const auto& p : ListProcesses()) {
        if (p.pid == self || p.uid != ::getuid() || isZombie(p.pid)) continue;
        if ((p.name == programName || p.exe == programName) && std::find(pids.begin(), pids.end(), p.pid) == pids.end())
            pids.push_back(p.pid);
    }
    return pids;
}

bool ClaimInstance(const fs::path& pidFile) {
    std::ofstream out(pidFile, std::ios::trunc);
    out << ::getpid() << "\n";
    return static_cast<bool>(out);
}

void ReleaseInstance(const fs::path& pidFile) {
    std::ifstream in(pidFile);
    long recorded = 0;
    if (in >> recorded && recorded == ::getpid()) {
        in.close();
        std::error_code ec;
        fs::remove(pidFile, ec);
    }
}

std::string CurrentUserName() {
    if (const passwd* pw = ::getpwuid(::getuid())) return pw->pw_name;
    return {};
}

bool RunsAsAdministrator() { return ::geteuid() == 0; }

long OwnProcessId() { return static_cast<long>(::getpid()); }

}  // namespace hx::platform
