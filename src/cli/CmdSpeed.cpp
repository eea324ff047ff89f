#include <cstdio>
#include <iostream>

#include "cli/CliCommand.h"
#include "cli/CliDrive.h"
#include "filesystems/DriveInfo.h"
#include "filesystems/DriveInfoPanel.h"
#include "shell/Strings.h"

namespace hx::cli {

namespace {

int runSpeed(CliArgs& args) {
    if (args.positional.size() != 1) {
        std::cerr << "usage: harvestrix-cli speed SOURCE\n";
        return 2;
    }
    const std::string source = args.positional[0];
    if (!CliDriveReady(args, source)) return 1;
    filesystems::DriveSession session;
    filesystems::GetDriveInfo(source, session.record);
    const auto& last = session.speed;
    args.ui->status(shell::LoadStr(39, "Test Speed") + " " + source);
    filesystems::CmdMaxSpeed_Click(*args.ui, session, source);
    if (last.drive != source) return 1;  // the command said why
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f", last.mbPerSecond);
    if (args.json) std::cout << "{\"drive\":\"" << JsonEscape(source) << "\",\"mbPerSecond\":" << buf << "}\n";
    else std::cout << shell::LoadStr(1428, "Read speed:") << " " << buf << " " << shell::LoadStr(1429, "MB/sec") << "\n";
    return 0;
}

CliRegistrar reg({"speed", "speed SOURCE                     the read-speed test", {}, runSpeed});

}  // namespace
}  // namespace hx::cli
