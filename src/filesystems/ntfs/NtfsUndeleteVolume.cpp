// An NTFS volume as the undelete reads it: its deleted MFT records.
#include "filesystems/UndeleteVolume.h"
#include "filesystems/ntfs/NtfsStructs.h"
#include "filesystems/ntfs/UndeleteNtfs.h"

namespace hx::filesystems {

namespace {

class NtfsUndelete : public UndeleteVolume {
public:
    NtfsUndelete(std::string drive, const media::DriveRecord& record) : drive_(std::move(drive)) {
        if (const ntfs::BootSector* boot = ntfs::NtfsGeometryOf(record); boot && record.Drive == drive_) {
            ntfs_.catalogued = *boot;
            ntfs_.cataloguedDrive = drive_;
        }
    }
    UndeleteKind kind() const override { return UndeleteKind::Ntfs; }
    const char* name() const override { return "NTFS"; }
    // The files in use are listed too, when asked for, marked live.
    bool deleted(const UndeleteEntry& entry) const override { return !(entry.Attributes & kAttrLive); }
    bool listsDeletedRecords() const override { return true; }
    std::string whereFound(const UndeleteEntry& entry) const override {
        return entry.RecordNumber > 0 ? "MFT record " + std::to_string(entry.RecordNumber) : UndeleteVolume::whereFound(entry);
    }

    bool list(const QuickUndeleteOptions& options, std::vector<UndeleteEntry>& entries, shell::Ui& ui,
              std::string&) override {
        // The MFT reader tells the user itself what it cannot read.
        return ListNtfsDeleted(ntfs_, drive_, entries, options.typeFilter, options.minMB, options.maxMB, ui,
                               options.liveToo);
    }
    bool inOneRun(const UndeleteEntry& entry) const override {
        return entry.ResidentData || ntfs_.volume.runsCount(entry.RecordNumber) <= 1;
    }
    bool restore(const UndeleteEntry& entry, const std::filesystem::path& target, shell::Ui& ui,
                 media::FileDamage* damage) override {
        // NTFS names cannot hold ":": what follows it names a stream.
        const auto colon = entry.ListName.find(':');
        return RecoverNtfsFile(ntfs_, drive_, entry.RecordNumber, target, ui,
                               colon == std::string::npos ? std::string() : entry.ListName.substr(colon + 1), damage);
    }

private:
    std::string drive_;
    NtfsSession ntfs_;
};

}  // namespace

std::unique_ptr<UndeleteVolume> OpenNtfsUndelete(const std::string& drive, const media::DriveRecord& record) {
    return std::make_unique<NtfsUndelete>(drive, record);
}

}  // namespace hx::filesystems
