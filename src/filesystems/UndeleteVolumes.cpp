// The file systems the undelete reads, and the table that opens them.
#include "filesystems/UndeleteVolume.h"

#include "filesystems/ntfs/NtfsStructs.h"
#include "platform/RawFile.h"
#include "shell/Strings.h"
#include "filesystems/DirEntCache.h"
#include "filesystems/fat/LostInitials.h"
#include "filesystems/exfat/UndeleteExfat.h"
#include "filesystems/fat/UndeleteFat.h"
#include "filesystems/ntfs/UndeleteNtfs.h"
#include "volumes/DriveFiles.h"

namespace hx::filesystems {

namespace {

namespace fs = std::filesystem;
using shell::LoadStr;

std::string rootUnreadable() { return LoadStr(0, "its root folder cannot be read (the medium may end before it)"); }

// FAT and exFAT keep a large listing in the cache folder, to be read again
// when the same medium is listed next.
class CachedListing {
public:
    bool read(const QuickUndeleteOptions& options, const MediumValues& medium, std::vector<UndeleteEntry>& entries) {
        file_ = options.workFolder.empty() ? fs::path() : DirEntCachePath(options.workFolder, options.drive);
        std::error_code ec;
        fromCache_ = !file_.empty() && fs::exists(file_, ec) && ReadDirEntCache(file_, medium, entries);
        return fromCache_;
    }
    void write(const std::vector<UndeleteEntry>& entries, const MediumValues& medium, bool worthKeeping) const {
        if (!fromCache_ && !file_.empty() && worthKeeping) WriteDirEntCache(file_, entries, medium);
    }
    bool fromCache() const { return fromCache_; }

private:
    fs::path file_;
    bool fromCache_ = false;
};

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
        if (!cache_.read(options, medium(), entries)) {
            if (!ListFatEntries(fat_, entries, ui)) {
                why = rootUnreadable();
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
    bool restore(const UndeleteEntry& entry, const fs::path& target, shell::Ui&) override {
        return RestoreFatEntry(fat_, entry, target);
    }

private:
    MediumValues medium() const { return {fat_.serial, fat_.totalSectors}; }

    std::string drive_;
    media::DriveRecord record_;
    FatVolume fat_;
    CachedListing cache_;
};

class ExfatUndelete : public UndeleteVolume {
public:
    explicit ExfatUndelete(std::string drive) : drive_(std::move(drive)) {}
    UndeleteKind kind() const override { return UndeleteKind::Exfat; }
    const char* name() const override { return "exFAT"; }

    bool list(const QuickUndeleteOptions& options, std::vector<UndeleteEntry>& entries, shell::Ui& ui,
              std::string& why) override {
        if (!LoadExfatVolume(drive_, exfat_)) {
            why = LoadStr(0, "its boot sector or its allocation bitmap is damaged, or lies past the end of the medium");
            return false;
        }
        if (!cache_.read(options, medium(), entries) && !ListExfatEntries(exfat_, entries, ui)) {
            why = rootUnreadable();
            return false;
        }
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
    bool restore(const UndeleteEntry& entry, const fs::path& target, shell::Ui&) override {
        return RestoreExfatEntry(exfat_, entry, target);
    }

private:
    MediumValues medium() const { return {exfat_.serial, static_cast<std::uint32_t>(exfat_.volumeLength)}; }

    std::string drive_;
    ExfatVolume exfat_;
    CachedListing cache_;
};

class NtfsUndelete : public UndeleteVolume {
public:
    explicit NtfsUndelete(std::string drive) : drive_(std::move(drive)) {}
    UndeleteKind kind() const override { return UndeleteKind::Ntfs; }
    const char* name() const override { return "NTFS"; }
    // The files in use are listed too, when asked for, marked live.
    bool deleted(const UndeleteEntry& entry) const override { return !(entry.Attributes & kAttrLive); }
    bool listsDeletedRecords() const override { return true; }

    bool list(const QuickUndeleteOptions& options, std::vector<UndeleteEntry>& entries, shell::Ui& ui,
              std::string&) override {
        // The MFT reader tells the user itself what it cannot read.
        return ListNtfsDeleted(ntfs_, drive_, entries, options.typeFilter, options.minMB, options.maxMB, ui,
                               options.liveToo);
    }
    bool inOneRun(const UndeleteEntry& entry) const override {
        return entry.ResidentData || ntfs_.volume.runsCount(entry.RecordNumber) <= 1;
    }
    bool restore(const UndeleteEntry& entry, const fs::path& target, shell::Ui& ui) override {
        // NTFS names cannot hold ":": what follows it names a stream.
        const auto colon = entry.ListName.find(':');
        return RecoverNtfsFile(ntfs_, drive_, entry.RecordNumber, target, ui,
                               colon == std::string::npos ? std::string() : entry.ListName.substr(colon + 1));
    }

private:
    std::string drive_;
    NtfsSession ntfs_;
};

// The file systems in the order they are tried; the catalogue's word comes first.
struct Opener {
    bool (*catalogued)(const media::DriveRecord&);
    bool (*bootSector)(const std::uint8_t* boot, std::size_t size);
    std::unique_ptr<UndeleteVolume> (*open)(const std::string& drive, const media::DriveRecord& record);
};

const Opener kOpeners[] = {
    {[](const media::DriveRecord& r) { return r.isNtfs(); },
     [](const std::uint8_t* b, std::size_t n) { return filesystems::ntfs::ParseBootSector(b, n).has_value(); },
     [](const std::string& d, const media::DriveRecord&) -> std::unique_ptr<UndeleteVolume> {
         return std::make_unique<NtfsUndelete>(d);
     }},
    {[](const media::DriveRecord& r) { return r.isExFat(); },
     [](const std::uint8_t* b, std::size_t n) {
         ExfatVolume v;
         return ParseExfatBootSector(b, n, v);
     },
     [](const std::string& d, const media::DriveRecord&) -> std::unique_ptr<UndeleteVolume> {
         return std::make_unique<ExfatUndelete>(d);
     }},
    {[](const media::DriveRecord& r) { return r.isFat(); },
     [](const std::uint8_t* b, std::size_t n) {
         FatVolume v;
         return ParseFatBootSector(b, n, v);
     },
     [](const std::string& d, const media::DriveRecord& r) -> std::unique_ptr<UndeleteVolume> {
         return std::make_unique<FatUndelete>(d, r);
     }},
};

}  // namespace

std::unique_ptr<UndeleteVolume> OpenUndeleteVolume(const std::string& drive, const media::DriveRecord& record) {
    for (const Opener& o : kOpeners)
        if (o.catalogued(record)) return o.open(drive, record);
    platform::RawFile file;
    std::uint8_t boot[512];
    if (!volumes::OpenDrive(file, drive, platform::RawFile::Mode::Read) || file.readAt(0, boot, sizeof boot) != sizeof boot)
        return nullptr;
    for (const Opener& o : kOpeners)
        if (o.bootSector(boot, sizeof boot)) return o.open(drive, record);
    return nullptr;
}

}  // namespace hx::filesystems
