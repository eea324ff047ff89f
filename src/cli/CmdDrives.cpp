#include <cstdio>
#include <iostream>

#include "cli/CliCommand.h"
#include "filesystems/DriveInfo.h"
#include "platform/DriveCatalogue.h"
#include "volumes/DriveFiles.h"

namespace hx::cli {
namespace {

int runDrives(CliArgs& args) {
    auto drives = volumes::EnumerateDrives();
    // Images have no mount to name their file system: a look at the boot sector does.
    for (auto& d : drives) {
        if (!d.ready || !d.fileSystem.empty()) continue;
        media::DriveRecord rec;
        if (filesystems::ParseBootSector(d.id, rec, false)) d.fileSystem = rec.fileSystemName();
    }
    if (args.json) {
        std::cout << "[";
        for (std::size_t i = 0; i < drives.size(); ++i) {
            const auto& d = drives[i];
            std::cout << (i ? "," : "") << "\n  {\"id\":\"" << JsonEscape(d.id) << "\",\"type\":\""
                      << JsonEscape(d.typeName) << "\",\"label\":\"" << JsonEscape(d.label) << "\",\"mountPoint\":\""
                      << JsonEscape(d.mountPoint) << "\",\"fileSystem\":\"" << JsonEscape(d.fileSystem)
                      << "\",\"bus\":\"" << JsonEscape(d.bus) << "\",\"sizeBytes\":" << d.sizeBytes
                      << ",\"removable\":" << (d.removable ? "true" : "false")
                      << ",\"ready\":" << (d.ready ? "true" : "false")
                      << ",\"system\":" << (d.isSystem ? "true" : "false")
                      << ",\"image\":" << (d.isImage ? "true" : "false") << "}";
        }
        std::cout << (drives.empty() ? "]\n" : "\n]\n");
        return 0;
    }
    for (const auto& d : drives) {
        char size[32];
        std::snprintf(size, sizeof size, "%.1f MB", static_cast<double>(d.sizeBytes) / 1048576.0);
        std::cout << platform::DriveDisplayName(d) << "\t" << d.typeName << "\t" << size << "\t"
                  << (d.fileSystem.empty() ? "-" : d.fileSystem) << "\t" << (d.bus.empty() ? "-" : d.bus)
                  << (d.ready ? "" : "\tnot ready") << (d.isSystem ? "\tsystem" : "") << "\n";
    }
    return 0;
}

CliRegistrar reg({"drives", "drives                           the drive catalogue", {}, runDrives});

}  // namespace
}  // namespace hx::cli
