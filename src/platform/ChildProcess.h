#pragma once
// Runs another program and waits for it, with a time-out: the raw converter
// and the desktop's helpers. No shell is involved, so names with blanks or
// quotes stay whole.
#include <functional>
#include <string>
#include <vector>

namespace hx::platform {

struct ChildResult {
    bool started = false;   // the program could be run at all
    bool finished = false;  // it ended by itself within the time-out
    int exitCode = -1;      // its exit status when it finished normally
};

// Runs `argv` (argv[0] looked up on PATH). Its standard output goes to
// `outputFile` when one is named (created or truncated), else nowhere; its
// standard error nowhere. `waitStep` is called about every 20 ms while it
// runs (the window yields there). A run still going after `timeoutMs` is
// ended with its whole process group (SIGTERM, then SIGKILL).
ChildResult RunChild(const std::vector<std::string>& argv, const std::string& outputFile, int timeoutMs,
                     const std::function<void()>& waitStep = {});

}  // namespace hx::platform
