#include <cstdio>
#include <iostream>

#include "cli/CliCommand.h"
#include "cli/CliDrive.h"
#include "filesystems/DriveInfo.h"
#include "filesystems/DriveInfoPanel.h"
#include "shell/Strings.h"

namespace hx::cli {

namespace {

// Megabytes with two decimals: the stream's default six digits would round a large drive.
std::string megabytes(double mb) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%.2f", mb);
    return buf;
}

std::string plainLines(std::string text) {
    std::string out;
    for (char c : text)
        if (c != '\r') out += c;
    return out;
}

int runInfo(CliArgs& args) {
    if (args.positional.size() != 1) {
        std::cerr << "usage: harvestrix-cli info SOURCE\n";
        return 2;
    }
    const std::string source = args.positional[0];
    if (!CliDriveReady(args, source)) return 1;
    filesystems::DriveSession session;
    const std::string panel = filesystems::DriveInfoText(session, source);
    if (panel.empty()) {
        args.ui->message(shell::FormatStr(shell::LoadStr(1406, "Drive %0 not ready."), {source}),
                         shell::LoadStr(408, "Select drive"), {});
        return 1;
    }
    int error = 0;
    const bool readable = filesystems::DriveReadable(source, error);
    if (!readable) filesystems::ReportUnreadableDrive(*args.ui, source, error, shell::LoadStr(655, "Drive") + " " + source);
    if (!args.json) {
        std::cout << plainLines(panel) << "\n";
        return readable ? 0 : 1;
    }
    const auto& r = session.record;
    std::cout << "{\"drive\":\"" << JsonEscape(r.Drive) << "\",\"driveType\":\"" << JsonEscape(r.driveTypeName())
              << "\",\"volumeLabel\":\"" << JsonEscape(r.VolumeLabel) << "\",\"fileSystem\":\""
              << JsonEscape(r.fileSystemName()) << "\",\"interface\":\"" << JsonEscape(filesystems::GetDriveInterface(r))
              << "\",\"serialNumber\":" << r.SerialNumber << ",\"bytesPerSector\":" << r.BytesPerSector
              << ",\"sectorsPerCluster\":" << r.SectorsPerCluster << ",\"totalSectors\":" << r.TotalSectors
              << ",\"totalClusters\":" << r.TotalClusters << ",\"totalMB\":" << megabytes(r.TotalMB)
              << ",\"freeMB\":" << megabytes(r.FreeMB) << ",\"firstDataSector\":" << r.FirstDataSector
              << ",\"rootDirStart\":" << r.RootDirStart << ",\"rootCluster\":" << r.RootCluster
              << ",\"readable\":" << (readable ? "true" : "false") << ",\"panel\":\""
              << JsonEscape(plainLines(panel)) << "\"}\n";
    return readable ? 0 : 1;
}

CliRegistrar reg({"info", "info SOURCE                      the drive information panel", {}, runInfo});

}  // namespace
}  // namespace hx::cli
