#pragma once
// Other processes of this user: the leftovers of an earlier run (the raw
// converter) and earlier instances of the program (reads /proc); and who
// this process runs as.
#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

namespace hx::platform {

struct ProcessInfo {
    pid_t pid = 0;
    uid_t uid = 0;
    std::string name;  // the kernel's short name (comm)
    std::string exe;   // file name of argv[0]
};

std::vector<ProcessInfo> ListProcesses();
// Processes of our own user whose name or program file contains one of the
// parts (any case). Our own process is never in the list.
std::vector<ProcessInfo> FindOwnProcesses(const std::vector<std::string>& nameParts);
// SIGTERM, then SIGKILL when still there after `graceMs`. True when it is gone.
bool EndProcess(pid_t pid, int graceMs = 2000);
// Ends leftover converters of our own user ("dcraw", "rawconv", "rawconv7").
// Returns how many were ended.
int EndStrayProcesses();

// The pid file that marks a running window: $XDG_RUNTIME_DIR/harvestrix.pid,
// else the temporary folder with the user id in the name.
std::filesystem::path DefaultInstanceFile();
// The earlier instance named in the file (alive, ours, not us), plus other
// processes called `programName` of our user.
std::vector<pid_t> OtherInstances(const std::filesystem::path& pidFile, const std::string& programName);
// Writes our pid; ReleaseInstance removes the file when it still names us.
bool ClaimInstance(const std::filesystem::path& pidFile);
void ReleaseInstance(const std::filesystem::path& pidFile);

// This process's id.
long OwnProcessId();
// The name of the user this process runs as (empty when unknown).
std::string CurrentUserName();
// Runs with the rights to open any device (root).
bool RunsAsAdministrator();

}  // namespace hx::platform
