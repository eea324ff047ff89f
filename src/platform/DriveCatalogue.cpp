#include "platform/DriveCatalogue.h"

#include <filesystem>

#include "platform/RawFile.h"

namespace hx::platform {

namespace {
std::vector<DriveEntry>& attached() {
    static std::vector<DriveEntry> images;
    return images;
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
}  // namespace

std::vector<DriveEntry> EnumerateDrives() {
    std::vector<DriveEntry> all;
    for (const auto& img : attached()) {
        DriveEntry e = img;
        std::error_code ec;
        e.ready = std::filesystem::exists(e.id, ec);
        all.push_back(e);
    }
    return all;
}

bool FindDrive(const std::string& id, DriveEntry& out) {
    for (const auto& d : EnumerateDrives())
        if (d.id == id) {
            out = d;
            return true;
        }
    std::error_code ec;
    if (std::filesystem::is_regular_file(id, ec)) {
        out = imageEntry(id);
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
    if (!std::filesystem::exists(path, ec)) return false;
    DriveEntry e = imageEntry(std::filesystem::absolute(path, ec).string());
    while (!rest.empty()) {
        auto next = rest.find(',');
        std::string opt = rest.substr(0, next);
        rest = next == std::string::npos ? "" : rest.substr(next + 1);
        if (opt == "removable") {
            e.removable = true;
            e.typeName = "Removable";
        } else if (opt.rfind("label=", 0) == 0) {
            e.label = opt.substr(6);
        }
    }
    attached().push_back(e);
    return true;
}

void DetachAllImages() { attached().clear(); }

std::string DriveDisplayName(const DriveEntry& d) {
    std::string name = d.id;
    if (!d.label.empty()) name += " [" + d.label + "]";
    if (!d.mountPoint.empty()) name += " on " + d.mountPoint;
    return name;
}

}  // namespace hx::platform
