#include "platform/ChildProcess.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace hx::platform {

namespace {

using Clock = std::chrono::steady_clock;

// Waits up to `ms` for the child; true when it was reaped.
bool reap(pid_t pid, int ms, int& status) {
    const auto until = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid || (r < 0 && errno != EINTR)) return true;
        if (Clock::now() >= until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

}  // namespace

ChildResult RunChild(const std::vector<std::string>& argv, const std::string& outputFile, int timeoutMs,
                     const std::function<void()>& waitStep) {
    ChildResult result;
    if (argv.empty()) return result;
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputFile.empty() ? "/dev/null" : outputFile.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // Its own process group, so that whatever it starts ends with it.
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attr, 0);
    pid_t pid = 0;
    const int rc = ::posix_spawnp(&pid, args[0], &actions, &attr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) return result;

    int status = 0;
    const auto until = Clock::now() + std::chrono::milliseconds(timeoutMs);
    bool done = false;
    while (!done) {
        done = reap(pid, 20, status);
        if (done) break;
        if (waitStep) waitStep();
        if (Clock::now() >= until) break;
    }
    if (!done) {
        ::kill(-pid, SIGTERM);
        if (!reap(pid, 1000, status)) {
            ::kill(-pid, SIGKILL);
            reap(pid, 5000, status);
        }
        // exec failures show as exit code 127 from a finished child: started stays true
        result.started = true;
        return result;
    }
    // posix_spawnp reports a program that cannot be run as exit code 127.
    result.started = !(WIFEXITED(status) && WEXITSTATUS(status) == 127);
    result.finished = true;
    if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    return result;
}

}  // namespace hx::platform
