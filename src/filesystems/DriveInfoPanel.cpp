#include "filesystems/DriveInfoPanel.h"

#include <cerrno>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>

#include "filesystems/DriveInfo.h"
#include "media/ReadFailure.h"
#include "media/SectorIo.h"
#include "platform/DriveCatalogue.h"
#include "platform/RawFile.h"
#include "shell/Strings.h"
#include "shell/Text.h"
#include "volumes/DriveFiles.h"

namespace hx::filesystems {
using namespace hx::media;

using shell::FormatStr;
using shell::LoadStr;

namespace {

constexpr std::size_t kSpeedBlockBytes = 1 << 20;
constexpr int kBlocksPerPass = 3;
constexpr double kMinSeconds = 5, kMaxSeconds = 15;

double steadySeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// "###,##0.0"
std::string thousands(double value, int decimals) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, value);
    std::string s = buf, sign;
    if (!s.empty() && s[0] == '-') {
        sign = "-";
        s.erase(0, 1);
    }
    auto dot = s.find('.');
    std::string whole = s.substr(0, dot), rest = dot == std::string::npos ? "" : s.substr(dot);
    for (int i = static_cast<int>(whole.size()) - 3; i > 0; i -= 3) whole.insert(static_cast<std::size_t>(i), ",");
    return sign + whole + rest;
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start <= text.size()) {
        auto end = text.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

std::string joinLines(const std::vector<std::string>& lines) {
    std::string out;
    for (std::size_t i = 0; i < lines.size(); ++i) out += (i ? "\r\n" : "") + lines[i];
    return out;
}

// The texts were written for "E:\" drive names; a Linux drive id is not
// followed by a backslash.
std::string afterDrive(std::string text) {
    if (!text.empty() && text[0] == '\\') text.erase(0, 1);
    return text;
}

bool isDiskImageSource(const std::string& source) { return source.find("DiskImag") != std::string::npos; }

}  // namespace

std::string FormatInfo(const std::string& line) {
    std::string rest = line, out;
    while (rest.size() >= kInfoLineWidth) {
        const std::size_t sep = rest.find_last_of("\\/", kInfoLineWidth - 1);
        const std::size_t cut = sep != std::string::npos && sep > 0 ? sep + 1 : kInfoLineWidth - 1;
        out += rest.substr(0, cut) + "\r\n";
        rest = rest.substr(cut);
    }
    return out + rest;
}

std::string TruncateInfo(const std::string& text) {
    auto lines = splitLines(text);
    if (lines.size() > kInfoMaxLines) lines.resize(kInfoMaxLines);
    return joinLines(lines);
}

std::string DriveInfoText(DriveSession& session, const std::string& source) {
    DriveRecord& rec = session.record;
    const bool image = isDiskImageSource(source);
    std::vector<std::string> lines;
    if (!image) {
        if (!rec.describes(source) || rec.TotalMB == 0) {
            if (!GetDriveInfo(source, rec)) return {};
        }
        // The type on a line of its own: a long path must not run into it.
        lines.push_back(LoadStr(655, "Drive") + " " + source);
        lines.push_back(shell::Trim(afterDrive(LoadStr(1426, "\\ Type:"))) + " " + LoadStr(0, rec.driveTypeName()) +
                        (rec.IsSystem ? " (" + LoadStr(0, "system disk") + ")" : ""));
        lines.push_back(LoadStr(1430, "Volume Label:") + " " + rec.VolumeLabel);
    } else {
        const auto slash = source.find_last_of("\\/");
        lines.push_back("File " + (slash == std::string::npos ? source : source.substr(slash + 1)));
    }
    const auto& speed = session.speed;
    if (!speed.drive.empty() && speed.drive == source) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.2f", speed.mbPerSecond);
        lines.push_back(LoadStr(1428, "Read speed:") + " " + buf + " " + LoadStr(1429, "MB/sec"));
    }
    if (!image) {
        char serial[16];
        std::snprintf(serial, sizeof serial, "%X", rec.SerialNumber);
        lines.push_back(LoadStr(1427, "Interface:") + " " + LoadStr(0, GetDriveInterface(rec)));
        lines.push_back(LoadStr(1431, "Serial Number:") + " &H" + serial);
        lines.push_back(LoadStr(1433, "Free Space:") + " " + thousands(rec.FreeMB, 1) + " MB");
    }
    lines.push_back(LoadStr(1432, "Total Space:") + " " + thousands(rec.TotalMB, 1) + " MB");
    lines.push_back(LoadStr(1434, "File System:") + " " + rec.fileSystemName());
    lines.push_back(LoadStr(1435, "Bytes/sector:") + " " + std::to_string(rec.BytesPerSector));
    lines.push_back(LoadStr(1436, "Sectors/cluster:") + " " + std::to_string(rec.SectorsPerCluster));
    std::vector<std::string> wrapped;
    for (const auto& l : lines) wrapped.push_back(FormatInfo(l));
    return TruncateInfo(joinLines(wrapped));
}

void ShowDriveInfo(shell::Ui& ui, DriveSession& session, const std::string& source) {
    ui.setCaption("lblSpecs", DriveInfoText(session, source));
}

void RefreshDriveInfo(shell::Ui& ui, DriveSession& session, const std::string& drive) {
    const std::string text = ui.caption("lblSpecs");
    if (text.find(drive + " ") == std::string::npos || text.find(LoadStr(655, "Drive")) == std::string::npos ||
        session.record.BytesPerSector == 0 || !session.record.describes(drive))
        ShowDriveInfo(ui, session, drive);
    ui.yield();
}

bool MeasureReadSpeed(const std::string& drive, double& speed, shell::Ui* ui, int* openError,
                      const SecondsClock& clockIn) {
    const SecondsClock clock = clockIn ? clockIn : SecondsClock(steadySeconds);
    Handle handle;
    if (!OpenDriveForRead(drive, 0, handle, 512)) {  // from sector 0, whatever its size
        if (openError) *openError = handle.lastError();
        return false;
    }
    // A medium read before would otherwise be measured from memory.
    handle.dropCache();
    handle.adviseSequential();
    std::vector<std::uint8_t> block(kSpeedBlockBytes);
    double current = 1.0, average = 0;
    std::size_t last = handle.read(block.data(), block.size());  // wakes the medium
    const double t0 = std::floor(clock());
    for (;;) {
        const double since = clock() - t0;
        const bool timedOut = since > kMaxSeconds;
        const bool settled = std::lround(current * 100) == std::lround(average * 100);
        if ((since >= kMinSeconds || last == 0) && (settled || timedOut || last == 0)) break;
        const double passStart = clock();
        std::uint64_t passBytes = 0;
        for (int i = 0; i < kBlocksPerPass; ++i) {
            last = handle.read(block.data(), block.size());
            passBytes += last;
            if (last == 0) break;
        }
        const double elapsed = clock() - passStart;
        if (passBytes > 0 && elapsed > 0) {
            current = static_cast<double>(passBytes) / 1048576.0 / elapsed;
            if (average < current) average = (2 * average + current) / 3;
        }
        if (ui) {
            ui->yield();
            if (ui->stopRequested()) break;
        }
    }
    CloseDrive(handle);
    speed = current;
    return true;
}

void ReportUnreadableDrive(shell::Ui& ui, const std::string& drive, int error, const std::string& title) {
    ui.message(media::ReadFailureText(drive, error, LoadStr(962, "Drive not readable or damaged.")), title,
               {shell::Buttons::OK, shell::Icon::Exclamation});
}

bool DriveReadable(const std::string& drive, int& error) {
    Handle handle = OpenVolume(drive);
    error = handle.lastError();
    if (!handle.isOpen()) return false;
    std::vector<std::uint8_t> sector(512);
    if (handle.readAt(0, sector.data(), sector.size()) == sector.size()) return true;
    error = handle.lastError() ? handle.lastError() : EIO;
    return false;
}

void CmdMaxSpeed_Click(shell::Ui& ui, DriveSession& session, const std::string& drive, bool operationRunning,
                       const SecondsClock& clock) {
    const std::string busy = LoadStr(92, "Busy");
    if (operationRunning || ui.caption("CmdMaxSpeed").find(busy) != std::string::npos) return;
    ui.setCaption("CmdMaxSpeed", busy + "..");
    double speed = 0;
    int error = 0;
    if (MeasureReadSpeed(drive, speed, &ui, &error, clock)) {
        session.speed = {drive, speed};
    } else {
        ReportUnreadableDrive(ui, drive, error, LoadStr(963, "Speed test"));
    }
    ui.setCaption("CmdMaxSpeed", LoadStr(39, "Test Speed"));
    ShowDriveInfo(ui, session, drive);
}

std::string Drive1_Change(shell::Ui& ui, DriveSession& session, const std::string& choice, const std::string& previous,
                          bool thumbnailsShown, double waitSeconds) {
    ui.setEnabled("CmdScan", false);
    ui.setVisible("CmbTypeSelect", false);
    platform::DriveEntry entry;
    bool ready = volumes::FindDrive(choice, entry) && entry.ready;
    const double until = steadySeconds() + waitSeconds;
    while (!ready && steadySeconds() < until) {
        ui.yield();
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        ready = volumes::FindDrive(choice, entry) && entry.ready;
    }
    if (!ready) {
        std::string text = FormatStr(LoadStr(1406, "Drive %0 not ready."), {choice});
        if (entry.typeName == "Removable" || entry.typeName == "CDRom")
            text += "\n" + LoadStr(407, "Please insert disk or suitable medium.");
        ui.message(text, LoadStr(408, "Select drive"), {shell::Buttons::OK, shell::Icon::Exclamation});
        ui.setCaption("Drive1", previous);
        ui.setEnabled("CmdScan", true);
        return previous;
    }
    std::string backup = FormatStr(LoadStr(1407, "Backup %0\\"), {choice});
    if (!backup.empty() && backup.back() == '\\') backup.pop_back();
    ui.setCaption("CmdBackup", backup);
    ui.setEnabled("CmdBackup", true);
    RefreshDriveInfo(ui, session, choice);
    std::string fsName = session.record.fileSystemName();
    for (auto& c : fsName) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    ui.setEnabled("CmdQuickUndelete", fsName.find("hfs") == std::string::npos);
    ui.setCaption("CmdShowThumbs", thumbnailsShown ? LoadStr(371, "FileList Scan") : LoadStr(282, "Thumbs Scan"));
    ui.setEnabled("CmdScan", true);
    return choice;
}

}  // namespace hx::filesystems
