#include "output/SaveTarget.h"

#include <cmath>
#include <fstream>

#include "filesystems/DriveInfo.h"
#include "filesystems/FileSystemTypes.h"
#include "platform/DriveCatalogue.h"
#include "platform/FreeSpace.h"
#include "volumes/PartitionTable.h"
#include "media/SectorIo.h"
#include "volumes/DriveFiles.h"

namespace hx::output {

namespace fs = std::filesystem;

namespace {

// The image file behind a loop device, or the path itself.
std::string backingFile(const std::string& source) {
    const std::string prefix = "/dev/loop";
    if (source.rfind(prefix, 0) != 0) return source;
    std::ifstream in("/sys/block/" + source.substr(5) + "/loop/backing_file");
    std::string file;
    return std::getline(in, file) && !file.empty() ? file : source;
}

bool samePlace(const std::string& a, const std::string& b) {
    if (a.empty() || b.empty()) return false;
    if (a == b) return true;
    std::error_code ec;
    return fs::equivalent(a, b, ec);
}

// The whole medium of a drive id: "card.img#1" is a partition of card.img.
std::string mediumOf(const std::string& drive) {
    std::string medium;
    int index = 0;
    return volumes::SplitPartitionDriveId(drive, medium, index) ? medium : drive;
}

}  // namespace

double FreeSpaceMB(const fs::path& path, double* totalMB) {
    if (totalMB) *totalMB = std::floor(platform::TotalMegabytes(path.string()));
    return std::floor(platform::FreeMegabytes(path.string()));
}

std::uint32_t VolumeSerial(const fs::path& path) {
    platform::MountOfPath mount;
    if (!platform::MountContaining(path, mount)) return 0;
    const std::string source = backingFile(mount.source);
    std::uint32_t got = 0;
    const std::vector<std::uint8_t> boot = media::ReadSectors(source, 0, 0, 512, got, 512);
    if (got < 512) return 0;
    const media::DriveRecord rec = filesystems::ParseBootSectorBytes(boot.data(), 512);
    return filesystems::CataloguedType(rec) ? rec.SerialNumber : 0;
}

bool OnScannedMedium(const fs::path& folder, const ScannedSource& scanned) {
    if (scanned.drive.empty()) return false;
    const std::string medium = mediumOf(scanned.drive);
    // The system's own disk may hold the save folder: there is no other.
    if (samePlace(medium, platform::SystemDrive())) return false;
    platform::MountOfPath mount;
    if (!platform::MountContaining(folder, mount)) return false;
    const std::string source = backingFile(mount.source);
    if (samePlace(source, scanned.drive) || samePlace(source, medium)) return true;
    // A drive id that names a mounted folder (an attached card by its mount point).
    if (samePlace(mount.mountPoint, scanned.drive)) return true;
    return scanned.serial != 0 && VolumeSerial(folder) == scanned.serial;
}

fs::path SaveFolderFor(const fs::path& chosen) {
    std::string text = chosen.string();
    while (text.size() > 1 && text.back() == '/') text.pop_back();
    fs::path folder = text.empty() ? fs::path("/") : fs::path(text);
    platform::MountOfPath mount;
    const bool root = folder == "/" || (platform::MountContaining(folder, mount) && mount.mountPoint == folder.string());
    if (root) folder /= "Recovered";
    std::string out = folder.string();
    if (out.back() != '/') out += '/';
    return out;
}

}  // namespace hx::output
