#include "UndeleteFixtures.h"


namespace hx::test {

namespace fs = std::filesystem;

std::string FuseUnavailableReason(bool needLoop) {
    if (!fs::exists("/dev/fuse")) return "/dev/fuse is missing";
    if (!HaveTool("fusermount") && !HaveTool("fusermount3")) return "fusermount is missing";
    if (needLoop && (!fs::exists("/dev/loop-control") || !HaveTool("losetup"))) return "no loop devices";
    return {};
}

namespace {
// The FUSE daemon may still be writing after the unmount returns: wait until
// no process holds the file or device open any more.
bool heldOpen(const std::string& path) {
    std::error_code ec;
    const fs::path target = fs::weakly_canonical(path, ec);
    for (const auto& proc : fs::directory_iterator("/proc", ec)) {
        const std::string pid = proc.path().filename().string();
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) continue;
        std::error_code fdEc;
        for (const auto& fd : fs::directory_iterator(proc.path() / "fd", fdEc)) {
            std::error_code linkEc;
            if (fs::read_symlink(fd.path(), linkEc) == target) return true;
        }
    }
    return false;
}

void waitUntilReleased(const std::string& path) {
    for (int i = 0; i < 100 && heldOpen(path); ++i) RunCommand("sleep 0.1");
}
}  // namespace

FuseMount::FuseMount(Kind kind, const fs::path& image, const fs::path& dir, const std::string& options)
    : dir_(dir), image_(image.string()) {
    fs::create_directories(dir);
    std::string out;
    if (kind == Kind::Ntfs) {
        const std::string opt = options.empty() ? std::string() : " -o " + options;
        if (RunCommand("ntfs-3g" + opt + " '" + image.string() + "' '" + dir.string() + "'", &out) != 0) {
            error_ = "ntfs-3g: " + out;
            return;
        }
    } else {
        if (RunCommand("losetup -f --show '" + image.string() + "'", &out) != 0) {
            error_ = "losetup: " + out;
            return;
        }
        loop_ = out.substr(0, out.find('\n'));
        if (RunCommand("mount.exfat-fuse '" + loop_ + "' '" + dir.string() + "'", &out) != 0) {
            error_ = "exfat-fuse: " + out;
            RunCommand("losetup -d " + loop_);
            loop_.clear();
            return;
        }
    }
    mounted_ = ok_ = true;
}

void FuseMount::unmount() {
    if (mounted_) {
        RunCommand("sync");
        if (RunCommand("fusermount -u '" + dir_.string() + "'") != 0)
            RunCommand("fusermount3 -u '" + dir_.string() + "'");
        mounted_ = false;
        waitUntilReleased(loop_.empty() ? image_ : loop_);
    }
    if (!loop_.empty()) {
        RunCommand("losetup -d " + loop_);
        waitUntilReleased(image_);
        loop_.clear();
    }
}

FuseMount::~FuseMount() { unmount(); }

const undelete::UndeleteEntry* FindListed(const std::vector<undelete::UndeleteEntry>& list, const std::string& name) {
    for (auto& e : list)
        if (e.ListName == name || e.FileName == name ||
            (e.isDeleted() && e.ListName.size() == name.size() && !name.empty() &&
             e.ListName.compare(1, std::string::npos, name, 1, std::string::npos) == 0))
            return &e;
    return nullptr;
}

}  // namespace hx::test
