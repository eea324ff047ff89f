// A FAT12/16/32 volume as the undelete reads it.
#include "filesystems/DirEntCache.h"
#include "filesystems/UndeleteVolume.h"
#include "filesystems/fat/LostInitials.h"
#include "filesystems/fat/UndeleteFat.h"
#include "shell/Strings.h"

namespace hx::filesystems {

namespace {

using shell::LoadStr;

class FatUndelete : public UndeleteVolume {
public:
    FatUndelete(std::string drive, const media::DriveRecord& record) : drive_(std::move(drive)), record_(record) {}
    UndeleteKind kind() const override { return UndeleteKind::Fat; }
    const char* name() const override { return "FAT"; }

    bool list(const QuickUndeleteOptions& options, std::vector<UndeleteEntry>& entries, shell::Ui& ui,
              std::string& why) override {
        if (!LoadFatVolume(drive_, record_, fat_)) {
            why = LoadStr(0, "its boot sector or its table of clusters is damaged, or lies past the end of the medium");
            return false;
        }
        if (!cache_.read(options.workFolder, options.drive, medium(), entries)) {
            if (!ListFatEntries(fat_, entries, ui)) {
                why = RootUnreadable();
                return false;
            }
            RebuildLostInitials(entries);
        }
        for (std::size_t i = 0; i < entries.size(); ++i) {
            EstimateFatRecoverable(fat_, entries[i]);
            if (i % 256 == 0) ui.progress(static_cast<double>(i) / entries.size(), {});
        }
        return true;
    }
    bool fromCache() const override { return cache_.fromCache(); }
    void listed(const QuickUndeleteOptions&, const std::vector<UndeleteEntry>& entries) override {
        cache_.write(entries, medium(),
                     entries.size() > kDirEntCacheThreshold + 1 || record_.DriveType == media::DriveKind::CDRom);
    }
    std::optional<ClusterView> clusters() const override { return FatClusterView(fat_); }
    bool inOneRun(const UndeleteEntry& entry) const override { return ChainIsOneRun(FatClusterView(fat_), entry); }
    bool restore(const UndeleteEntry& entry, const std::filesystem::path& target, shell::Ui&,
                 media::FileDamage* damage) override {
        return RestoreFatEntry(fat_, entry, target, damage);
    }

private:
    MediumValues medium() const { return {fat_.serial, fat_.totalSectors}; }

    std::string drive_;
    media::DriveRecord record_;
    FatVolume fat_;
    CachedListing cache_;
};

}  // namespace

std::unique_ptr<UndeleteVolume> OpenFatUndelete(const std::string& drive, const media::DriveRecord& record) {
    return std::make_unique<FatUndelete>(drive, record);
}

}  // namespace hx::filesystems
