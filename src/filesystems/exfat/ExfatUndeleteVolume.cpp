// An exFAT volume as the undelete reads it.
#include "filesystems/DirEntCache.h"
#include "filesystems/UndeleteVolume.h"
#include "filesystems/exfat/UndeleteExfat.h"
#include "shell/Strings.h"

namespace hx::filesystems {

namespace {

using shell::LoadStr;

class ExfatUndelete : public UndeleteVolume {
public:
    ExfatUndelete(std::string drive, const media::DriveRecord& record) : drive_(std::move(drive)), record_(record) {}
    UndeleteKind kind() const override { return UndeleteKind::Exfat; }
    const char* name() const override { return "exFAT"; }

    bool list(const QuickUndeleteOptions& options, std::vector<UndeleteEntry>& entries, shell::Ui& ui,
              std::string& why) override {
        if (!LoadExfatVolume(drive_, record_, exfat_)) {
            why = LoadStr(0, "its boot sector or its allocation bitmap is damaged, or lies past the end of the medium");
            return false;
        }
        if (!cache_.read(options.workFolder, options.drive, medium(), entries) &&
            !ListExfatEntries(exfat_, entries, ui)) {
            why = RootUnreadable();
            return false;
        }
        TakeUnreadBitmapFromFiles(exfat_, entries);
        for (auto& e : entries) EstimateExfatRecoverable(exfat_, e);
        return true;
    }
    bool fromCache() const override { return cache_.fromCache(); }
    void listed(const QuickUndeleteOptions&, const std::vector<UndeleteEntry>& entries) override {
        cache_.write(entries, medium(), entries.size() > kDirEntCacheThreshold + 1);
    }
    std::optional<ClusterView> clusters() const override { return ExfatClusterView(exfat_, false); }
    bool knownContiguous(const UndeleteEntry& entry) const override {
        return (entry.Attributes & kAttrExfatContiguous) != 0;
    }
    bool inOneRun(const UndeleteEntry& entry) const override {
        return knownContiguous(entry) || ChainIsOneRun(ExfatClusterView(exfat_, false), entry);
    }
    bool restore(const UndeleteEntry& entry, const std::filesystem::path& target, shell::Ui&,
                 media::FileDamage* damage) override {
        return RestoreExfatEntry(exfat_, entry, target, damage);
    }

private:
    MediumValues medium() const { return {exfat_.serial, static_cast<std::uint32_t>(exfat_.volumeLength)}; }

    std::string drive_;
    media::DriveRecord record_;
    ExfatVolume exfat_;
    CachedListing cache_;
};

}  // namespace

std::unique_ptr<UndeleteVolume> OpenExfatUndelete(const std::string& drive, const media::DriveRecord& record) {
    return std::make_unique<ExfatUndelete>(drive, record);
}

}  // namespace hx::filesystems
