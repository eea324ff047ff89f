#include "platform/DriveCatalogue.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>

#include "platform/RawFile.h"

namespace hx::platform {

namespace fs = std::filesystem;

namespace {

const char* kSysBlock = "/sys/class/block";

// Image files attached as drives. They stand in for the system's own table of
// devices (a loop device attached outside the program), so they are seen by
// every window and command of the run; the watcher thread reads them while a
// command may attach one, hence the lock. Readers take a copy.
struct AttachedImages {
    std::mutex lock;
    std::vector<DriveEntry> images;
};

AttachedImages& attachedTable() {
    static AttachedImages table;
    return table;
}

std::vector<DriveEntry> attached() {
    auto& t = attachedTable();
    std::lock_guard<std::mutex> hold(t.lock);
    return t.images;
}

DriveEntry imageEntry(const std::string& path) {
    DriveEntry e;
    e.id = path;
    e.isImage = true;
    e.typeName = "Fixed";
    RawFile f;
    if (f.open(path, RawFile::Mode::Read)) {
        e.sizeBytes = f.size();
        e.ready = true;
    }
    return e;
}

std::string readLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

// mountinfo escapes blanks and a few others as \ooo.
std::string unescapeMount(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const bool octal = s[i] == '\\' && i + 3 < s.size() && s[i + 1] >= '0' && s[i + 1] <= '3' &&
                           s[i + 2] >= '0' && s[i + 2] <= '7' && s[i + 3] >= '0' && s[i + 3] <= '7';
        if (octal) {
            out += static_cast<char>(std::stoi(s.substr(i + 1, 3), nullptr, 8));
            i += 3;
        } else {
            out += s[i];
        }
    }
    return out;
}

struct Mount {
    std::string devNumber;  // "major:minor"
    std::string mountPoint;
    std::string fsType;
    std::string source;
};

std::vector<Mount> readMounts() {
    std::vector<Mount> mounts;
    std::ifstream in("/proc/self/mountinfo");
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream ss(line);
        std::vector<std::string> f;
        std::string w;
        while (ss >> w) f.push_back(w);
        auto dash = std::find(f.begin(), f.end(), "-");
        if (f.size() < 7 || dash == f.end() || dash + 2 >= f.end()) continue;
        Mount m;
        m.devNumber = f[2];
        m.mountPoint = unescapeMount(f[4]);
        m.fsType = *(dash + 1);
        m.source = unescapeMount(*(dash + 2));
        mounts.push_back(m);
    }
    return mounts;
}

bool isRemoteFs(const std::string& type) {
    static const char* const remote[] = {"nfs", "nfs4", "cifs", "smb3", "smbfs", "9p", "fuse.sshfs", "afs", "ceph"};
    return std::any_of(std::begin(remote), std::end(remote), [&](const char* r) { return type == r; });
}

std::map<std::string, std::string> labelsByDevice() {
    std::map<std::string, std::string> labels;
    std::error_code ec;
    for (auto it = fs::directory_iterator("/dev/disk/by-label", ec); !ec && it != fs::directory_iterator(); ++it) {
        auto target = fs::canonical(it->path(), ec);
        if (ec) continue;
        // udev escapes blanks as \x20.
        std::string name = it->path().filename().string(), label;
        for (std::size_t i = 0; i < name.size(); ++i) {
            if (name.compare(i, 2, "\\x") == 0 && i + 3 < name.size()) {
                label += static_cast<char>(std::stoi(name.substr(i + 2, 2), nullptr, 16));
                i += 3;
            } else {
                label += name[i];
            }
        }
        labels[target.string()] = label;
    }
    return labels;
}

std::string busFromSysPath(const std::string& name) {
    std::error_code ec;
    const std::string real = fs::canonical(fs::path(kSysBlock) / name, ec).string();
    if (ec) return {};
    if (name.rfind("nvme", 0) == 0) return "nvme";
    if (name.rfind("loop", 0) == 0) return "loop";
    if (real.find("/usb") != std::string::npos) return "usb";
    if (real.find("/mmc") != std::string::npos || name.rfind("mmcblk", 0) == 0) return "mmc";
    if (real.find("/virtio") != std::string::npos) return "virtio";
    if (real.find("/ata") != std::string::npos) return "ata";
    if (real.find("/host") != std::string::npos || real.find("/target") != std::string::npos) return "scsi";
    return {};
}

// The whole-disk name of a partition (sdb1 -> sdb), or the name itself.
std::string diskOf(const std::string& name) {
    std::error_code ec;
    if (!fs::exists(fs::path(kSysBlock) / name / "partition", ec)) return name;
    return fs::canonical(fs::path(kSysBlock) / name, ec).parent_path().filename().string();
}

std::string rootDeviceNumber(const std::vector<Mount>& mounts) {
    std::string number;
    for (const auto& m : mounts)
        if (m.mountPoint == "/") number = m.devNumber;  // the last mount on / is the visible one
    return number;
}

std::string nameForDeviceNumber(const std::string& number) {
    std::error_code ec;
    for (auto it = fs::directory_iterator(kSysBlock, ec); !ec && it != fs::directory_iterator(); ++it)
        if (readLine(it->path() / "dev") == number) return it->path().filename().string();
    return {};
}

DriveEntry deviceEntry(const std::string& name, const std::vector<Mount>& mounts,
                       const std::map<std::string, std::string>& labels) {
    const fs::path sys = fs::path(kSysBlock) / name;
    const std::string disk = diskOf(name);
    DriveEntry e;
    e.id = "/dev/" + name;
    e.sizeBytes = static_cast<std::uint64_t>(std::atoll(readLine(sys / "size").c_str())) * 512;
    e.removable = readLine(fs::path(kSysBlock) / disk / "removable") == "1";
    e.bus = busFromSysPath(disk);
    if (disk.rfind("sr", 0) == 0) e.typeName = "CDRom";
    else if (disk.rfind("ram", 0) == 0 || disk.rfind("zram", 0) == 0) e.typeName = "RAMDisk";
    else if (e.removable || e.bus == "usb" || e.bus == "mmc") e.typeName = "Removable";
    else e.typeName = "Fixed";
    e.ready = e.sizeBytes > 0;
    const std::string number = readLine(sys / "dev");
    // FUSE mounts (fuseblk) carry their own device number; their source names the node.
    for (const auto& m : mounts)
        if ((m.devNumber == number || m.source == e.id) && e.mountPoint.empty()) {
            e.mountPoint = m.mountPoint;
            e.fileSystem = m.fsType;
        }
    auto label = labels.find(e.id);
    if (label != labels.end()) e.label = label->second;
    const std::string root = nameForDeviceNumber(rootDeviceNumber(mounts));
    e.isSystem = !root.empty() && (root == name || diskOf(root) == name);
    return e;
}

bool skipDevice(const std::string& name, std::uint64_t sizeBytes) {
    // Unbound loop devices and empty RAM disks are not drives.
    const bool virtualDisk = name.rfind("loop", 0) == 0 || name.rfind("ram", 0) == 0 || name.rfind("zram", 0) == 0;
    return virtualDisk && sizeBytes == 0;
}

}  // namespace

std::vector<DriveEntry> EnumerateMedia() {
    std::vector<DriveEntry> all;
    const auto mounts = readMounts();
    const auto labels = labelsByDevice();
    std::vector<std::string> names;
    std::error_code ec;
    for (auto it = fs::directory_iterator(kSysBlock, ec); !ec && it != fs::directory_iterator(); ++it)
        names.push_back(it->path().filename().string());
    std::sort(names.begin(), names.end());
    for (const auto& name : names) {
        DriveEntry e = deviceEntry(name, mounts, labels);
        if (!skipDevice(name, e.sizeBytes)) all.push_back(e);
    }
    for (const auto& m : mounts) {
        if (!isRemoteFs(m.fsType)) continue;
        DriveEntry e;
        e.id = m.source;
        e.mountPoint = m.mountPoint;
        e.fileSystem = m.fsType;
        e.typeName = "Remote";
        SpaceInfo space;
        e.ready = QueryFreeSpace(m.mountPoint, space);
        e.sizeBytes = space.totalBytes;
        all.push_back(e);
    }
    for (const auto& img : attached()) {
        DriveEntry e = img;
        std::error_code ec2;
        e.ready = fs::exists(e.id, ec2);
        all.push_back(e);
    }
    return all;
}

bool FindMedium(const std::string& id, DriveEntry& out) {
    for (const auto& img : attached())
        if (img.id == id) {
            out = img;
            std::error_code ec;
            out.ready = fs::exists(id, ec);
            return true;
        }
    std::error_code ec;
    if (IsBlockDevice(id)) {
        // Device nodes may be symlinks (/dev/disk/by-id/...): look them up by name.
        struct stat st {};
        if (::stat(id.c_str(), &st) != 0) return false;
        const std::string number = std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev));
        const std::string name = nameForDeviceNumber(number);
        if (name.empty()) return false;
        out = deviceEntry(name, readMounts(), labelsByDevice());
        out.id = id;
        return true;
    }
    if (fs::is_regular_file(id, ec)) {
        out = imageEntry(id);
        return true;
    }
    for (const auto& d : EnumerateMedia())
        if (d.id == id) {
            out = d;
            return true;
        }
    return false;
}

bool AttachImage(const std::string& spec) {
    std::string path = spec, rest;
    auto comma = spec.find(',');
    if (comma != std::string::npos) {
        path = spec.substr(0, comma);
        rest = spec.substr(comma + 1);
    }
    std::error_code ec;
    if (!fs::exists(path, ec)) return false;
    DriveEntry e = imageEntry(fs::absolute(path, ec).string());
    while (!rest.empty()) {
        auto next = rest.find(',');
        std::string opt = rest.substr(0, next);
        rest = next == std::string::npos ? "" : rest.substr(next + 1);
        if (opt == "removable") {
            e.removable = true;
            e.typeName = "Removable";
        } else if (opt.rfind("label=", 0) == 0) {
            e.label = opt.substr(6);
        } else if (opt.rfind("mount=", 0) == 0) {
            e.mountPoint = opt.substr(6);  // where its file system is seen mounted
        }
    }
    auto& t = attachedTable();
    std::lock_guard<std::mutex> hold(t.lock);
    t.images.push_back(e);
    return true;
}

void DetachAllImages() {
    auto& t = attachedTable();
    std::lock_guard<std::mutex> hold(t.lock);
    t.images.clear();
}

std::string DriveDisplayName(const DriveEntry& d) {
    std::string name = d.id;
    if (!d.label.empty()) name += " [" + d.label + "]";
    if (!d.mountPoint.empty()) name += " on " + d.mountPoint;
    return name;
}

bool IsBlockDevice(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISBLK(st.st_mode);
}

bool IsAttachedImage(const std::string& path) {
    const auto images = attached();
    return std::any_of(images.begin(), images.end(), [&](const DriveEntry& e) { return e.id == path; });
}

bool QueryFreeSpace(const std::string& mountPoint, SpaceInfo& out) {
    struct statvfs st {};
    if (mountPoint.empty() || ::statvfs(mountPoint.c_str(), &st) != 0) return false;
    out.blockSize = static_cast<std::uint32_t>(st.f_frsize);
    out.totalBytes = static_cast<std::uint64_t>(st.f_blocks) * st.f_frsize;
    out.freeBytes = static_cast<std::uint64_t>(st.f_bavail) * st.f_frsize;
    return true;
}

std::string DriveBus(const std::string& devicePath) {
    DriveEntry e;
    if (!IsBlockDevice(devicePath) || !FindMedium(devicePath, e)) return {};
    return e.bus;
}

std::string SystemDrive() {
    const std::string name = nameForDeviceNumber(rootDeviceNumber(readMounts()));
    return name.empty() ? std::string() : "/dev/" + name;
}

namespace {

// The device number of the nearest existing folder of `path`.
bool deviceOf(const fs::path& path, dev_t& dev, fs::path& existing) {
    std::error_code ec;
    fs::path p = fs::absolute(path, ec);
    if (ec) return false;
    for (int guard = 0; guard < 4096; ++guard) {
        struct stat st {};
        if (::stat(p.c_str(), &st) == 0) {
            dev = st.st_dev;
            existing = fs::canonical(p, ec);
            if (ec) existing = p;
            return true;
        }
        if (!p.has_parent_path() || p.parent_path() == p) return false;
        p = p.parent_path();
    }
    return false;
}

}  // namespace

bool MountContaining(const fs::path& path, MountOfPath& out) {
    dev_t dev{};
    fs::path existing;
    if (!deviceOf(path, dev, existing)) return false;
    const std::string number = std::to_string(major(dev)) + ":" + std::to_string(minor(dev));
    const std::string where = existing.string();
    std::size_t best = 0;
    bool found = false;
    // The longest mount point that holds the path, of the path's own device.
    for (const Mount& m : readMounts()) {
        if (m.devNumber != number) continue;
        const bool holds = m.mountPoint == "/" || where == m.mountPoint || where.rfind(m.mountPoint + "/", 0) == 0;
        if (!holds || (found && m.mountPoint.size() < best)) continue;
        out = {m.mountPoint, m.source, m.fsType};
        best = m.mountPoint.size();
        found = true;
    }
    return found;
}

bool SameFileSystem(const fs::path& a, const fs::path& b) {
    dev_t da{}, db{};
    fs::path ea, eb;
    return deviceOf(a, da, ea) && deviceOf(b, db, eb) && da == db;
}

}  // namespace hx::platform
