#include "output/MediumMaintenance.h"

#include <algorithm>
#include <vector>

#include "filesystems/FileSystemTypes.h"
#include "platform/ChildProcess.h"
#include "platform/RawFile.h"
#include "shell/Strings.h"
#include "volumes/DriveFiles.h"

namespace hx::output {

using shell::FormatStr;
using shell::LoadStr;

std::string MaintenanceRefusal(const media::DriveRecord& r, bool operationRunning) {
    if (operationRunning) return LoadStr(0, "Still busy");
    if (r.DriveType != media::DriveKind::Removable)
        return FormatStr(LoadStr(0, "%0 is not a removable medium; only cards and sticks are wiped or written."), {r.Drive});
    if (r.IsSystem) return FormatStr(LoadStr(0, "%0 holds the running system and is never written."), {r.Drive});
    const filesystems::FileSystemType* type = filesystems::CataloguedType(r);
    if (r.FirstDataSector < 1 || !type || !type->formatCommand)
        return FormatStr(LoadStr(0, "%0 holds no FAT or exFAT file system that could be read."), {r.Drive});
    return {};
}

namespace {

bool refused(shell::Ui& ui, const media::DriveRecord& r, bool running, const std::string& title) {
    const std::string why = MaintenanceRefusal(r, running);
    if (why.empty()) return false;
    ui.message(why, title, {shell::Buttons::OK, shell::Icon::Exclamation});
    return true;
}

// The file system's own mkfs over the whole drive, with its former label.
bool formatNow(shell::Ui& ui, const media::DriveRecord& r) {
    std::string label = r.VolumeLabel;
    while (!label.empty() && label.back() == ' ') label.pop_back();
    const filesystems::FileSystemType* type = filesystems::CataloguedType(r);
    if (!type || !type->formatCommand) return false;
    const auto run = platform::RunChild(type->formatCommand(r, label), "", 600000);
    const bool ok = run.finished && run.exitCode == 0;
    ui.status(LoadStr(257, "Formatting disk") + " " + r.Drive + " " +
              (ok ? LoadStr(258, "finished") : LoadStr(240, "Failed")));
    return ok;
}

}  // namespace

WipeOutcome WipeMedium(shell::Ui& ui, const media::DriveRecord& r, bool repair, bool running,
                       const std::function<bool()>& keepGoing) {
    const std::string title = LoadStr(0, "Secured Wipe");
    if (refused(ui, r, running, title)) return WipeOutcome::Refused;
    const std::string word = repair ? LoadStr(233, "repair") : LoadStr(232, "wipe");
    if (ui.message(FormatStr(LoadStr(0, "Do you really want to %0 disk %1, filling all sectors with zero's,"), {word, r.Drive}) +
                       "\n" + LoadStr(0, "removing all the contents and making the medium unrecoverable?"),
                   title, {shell::Buttons::OKCancel, shell::Icon::Exclamation}) != shell::Answer::OK)
        return WipeOutcome::Cancelled;
    const std::uint64_t sector = static_cast<std::uint64_t>(r.sectorSize());
    platform::RawFile disk;
    ui.status(FormatStr(LoadStr(0, "Status: %0 disk %1 "), {word, r.Drive}));
    std::vector<std::uint8_t> probe(sector);
    const std::uint64_t first = static_cast<std::uint64_t>(r.FirstDataSector) * sector;
    if (!volumes::OpenDrive(disk, r.Drive, platform::RawFile::Mode::ReadWrite) ||
        disk.readAt(first + r.SectorsPerCluster * sector, probe.data(), probe.size()) < probe.size()) {
        ui.status(LoadStr(0, "Access to disk failed."));
        return WipeOutcome::AccessFailed;
    }
    // Up to the medium's end, never past it: an image file must not grow.
    const std::uint64_t end = disk.size();
    const std::uint64_t block = repair ? sector : sector * 128;
    const std::vector<std::uint8_t> zeros(block, 0);
    const std::uint64_t total = end > first ? end - first : 0;
    std::uint64_t at = first;
    bool stopped = false, failed = false;
    while (at < end) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(block, end - at));
        if (disk.writeAt(at, zeros.data(), n) != n) {
            failed = true;
            break;
        }
        at += n;
        ui.progress(total ? static_cast<double>(at - first) / static_cast<double>(total) : 1, "");
        ui.yield();
        if ((keepGoing && !keepGoing()) || ui.stopRequested()) {
            stopped = true;
            break;
        }
    }
    disk.close();
    if (stopped) return WipeOutcome::Stopped;
    const bool done = !failed && at >= end;
    ui.status(LoadStr(239, "Status") + " " + word + ": " + (done ? LoadStr(230, "Finished") : LoadStr(240, "Failed")));
    if (!done) return WipeOutcome::Failed;
    // An emptied card gets its file system again, under its former label.
    formatNow(ui, r);
    return WipeOutcome::Finished;
}

bool FormatMedium(shell::Ui& ui, const media::DriveRecord& r, bool running) {
    const std::string title = LoadStr(0, "Format Drive");
    if (refused(ui, r, running, title)) return false;
    if (ui.message(FormatStr(LoadStr(1477, "Do you really want to format disk %0"), {r.Drive}), title,
                   {shell::Buttons::OKCancel, shell::Icon::Exclamation}) != shell::Answer::OK)
        return false;
    return formatNow(ui, r);
}

bool RestoreImage(shell::Ui& ui, const std::string& image, const media::DriveRecord& r, bool running) {
    const std::string title = LoadStr(0, "Restore");
    if (refused(ui, r, running, title)) return false;
    platform::RawFile from, to;
    if (!from.open(image, platform::RawFile::Mode::Read)) {
        ui.message(FormatStr(LoadStr(0, "The image %0 cannot be read."), {image}), title, {shell::Buttons::OK, shell::Icon::Exclamation});
        return false;
    }
    if (!volumes::OpenDrive(to, r.Drive, platform::RawFile::Mode::ReadWrite)) {
        ui.status(LoadStr(0, "Access to disk failed."));
        return false;
    }
    // The same geometry: the boot sectors agree in their first 34 bytes.
    std::uint8_t a[34] = {}, b[34] = {};
    if (from.readAt(0, a, sizeof a) != sizeof a || to.readAt(0, b, sizeof b) != sizeof b ||
        !std::equal(std::begin(a), std::end(a), std::begin(b))) {
        ui.status(FormatStr(LoadStr(0, "Restoring %0 not possible. Wrong parameters."), {r.Drive}));
        return false;
    }
    if (ui.message(FormatStr(LoadStr(0, "Do you really want to write the image %0 onto disk %1, replacing all it holds?"),
                             {image, r.Drive}),
                   title, {shell::Buttons::OKCancel, shell::Icon::Exclamation}) != shell::Answer::OK)
        return false;
    const std::uint64_t size = std::min(from.size(), to.size());
    std::vector<std::uint8_t> block(8u << 20);
    ui.status(LoadStr(0, "Status: restoring drive") + " " + r.Drive);
    // The stop command ends it after the block at hand.
    for (std::uint64_t at = 0; at < size && !ui.stopRequested();) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), size - at));
        if (from.readAt(at, block.data(), n) != n || to.writeAt(at, block.data(), n) != n) break;
        at += n;
        ui.progress(static_cast<double>(at) / static_cast<double>(size), "");
        ui.yield();
    }
    ui.status(LoadStr(230, "Finished"));
    return true;
}

}  // namespace hx::output
