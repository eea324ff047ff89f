#include "undelete/QuickUndelete.h"

#include <algorithm>
#include <cstring>

#include "media/DriveInfo.h"
#include "media/DriveRecord.h"
#include "media/NtfsStructs.h"
#include "platform/RestoreName.h"
#include "platform/RawFile.h"
#include "shell/Strings.h"
#include "undelete/DirEntCache.h"
#include "undelete/MftLibrary.h"
#include "undelete/UndeleteNtfs.h"

namespace hx::undelete {

namespace fs = std::filesystem;
using shell::FormatStr;
using shell::LoadStr;

namespace {

constexpr const char* kButton = "CmdQuickUndelete";

std::string title() { return LoadStr(1717, "Quick Undelete"); }

// The file system from the catalogue, or from our own look at sector 0 when
// the catalogue could not tell.
UndeleteKind detectKind(const std::string& drive, const media::DriveRecord& rec) {
    if (rec.isNtfs()) return UndeleteKind::Ntfs;
    if (rec.isExFat()) return UndeleteKind::Exfat;
    if (rec.isFat()) return UndeleteKind::Fat;
    platform::RawFile file;
    std::uint8_t boot[512];
    if (!file.open(drive, platform::RawFile::Mode::Read) || file.readAt(0, boot, sizeof boot) != sizeof boot)
        return UndeleteKind::None;
    if (media::ntfs::ParseBootSector(boot, sizeof boot)) return UndeleteKind::Ntfs;
    ExfatVolume ex;
    if (ParseExfatBootSector(boot, sizeof boot, ex)) return UndeleteKind::Exfat;
    FatVolume fv;
    if (ParseFatBootSector(boot, sizeof boot, fv)) return UndeleteKind::Fat;
    return UndeleteKind::None;
}

}  // namespace

std::string UndeleteTypeFilter(const std::vector<std::string>& selected, bool everyTypeSelected, bool removable) {
    if (everyTypeSelected || !removable || selected.empty()) return "all";
    std::string f;
    for (const auto& ext : selected) f += (ext.empty() || ext[0] != '.' ? "." : "") + ext;
    return f;
}

bool QuickUndelete::run(const QuickUndeleteOptions& options) {
    entries_.clear();
    plans_.clear();
    lists_ = {};
    fromCache_ = false;
    kind_ = UndeleteKind::None;
    drive_ = options.drive;
    const std::string before = ui_.caption(kButton);
    ui_.setCaption(kButton, LoadStr(725, "Checking") + "...");

    // Catalogued afresh: the medium may have changed since it was chosen.
    media::DriveRecord rec;
    if (!media::GetDriveInfo(drive_, rec)) rec.reset();
    // A whole-card image is listed on the partition the catalogue chose.
    if (rec.isPartition()) drive_ = rec.Drive;
    rec_ = rec;
    kind_ = detectKind(drive_, rec);
    bool ok = false;
    switch (kind_) {
        case UndeleteKind::Ntfs:
            ok = ListNtfsDeleted(ntfs_, drive_, entries_, options.typeFilter, options.minMB, options.maxMB, ui_,
                                 options.liveToo);
            break;
        case UndeleteKind::Fat: ok = listFat(options); break;
        case UndeleteKind::Exfat: ok = listExfat(options); break;
        case UndeleteKind::None:
            ui_.message("No FAT, exFAT or NTFS file system found on " + drive_ + ".", title(),
                        {shell::Buttons::OK, shell::Icon::Exclamation});
            break;
    }
    if (ok) {
        lists_ = BuildUndeleteLists(drive_, entries_, kind_ == UndeleteKind::Ntfs);
        listed_ = ToListedNames(entries_, [this](std::size_t i) { return oneRun(i); });
    }
    ui_.setCaption(kButton, before.empty() ? title() : before);
    return ok;
}

void QuickUndelete::unreadable(const std::string& why) {
    ui_.message(FormatStr(LoadStr(0, "The file system of %0 cannot be read: %1.\nA scan still searches the whole "
                                     "medium for photos and other files."),
                          {drive_, why}),
                title(), {shell::Buttons::OK, shell::Icon::Exclamation});
}

bool QuickUndelete::listFat(const QuickUndeleteOptions& options) {
    const media::DriveRecord& rec = rec_;
    if (!LoadFatVolume(drive_, rec, fat_)) {
        unreadable(LoadStr(0, "its boot sector or its table of clusters is damaged, or lies past the end of the medium"));
        return false;
    }
    const MediumValues medium{fat_.serial, fat_.totalSectors};
    const auto cacheFile = options.workFolder.empty() ? std::filesystem::path() : DirEntCachePath(options.workFolder, drive_);
    std::error_code ec;
    if (!cacheFile.empty() && std::filesystem::exists(cacheFile, ec) && ReadDirEntCache(cacheFile, medium, entries_)) {
        fromCache_ = true;
    } else {
        if (!ListFatEntries(fat_, entries_, ui_)) {
            unreadable(LoadStr(0, "its root folder cannot be read (the medium may end before it)"));
            return false;
        }
    }
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        EstimateFatRecoverable(fat_, entries_[i]);
        if (i % 256 == 0) ui_.progress(static_cast<double>(i) / entries_.size(), {});
    }
    plans_ = PlanDeletedFiles(FatClusterView(fat_), entries_, {}, options.checkSeconds, &checksCut_);
    if (!fromCache_ && !cacheFile.empty() && (entries_.size() > kDirEntCacheThreshold + 1 || rec.DriveType == media::DriveKind::CDRom))
        WriteDirEntCache(cacheFile, entries_, medium);
    return true;
}

bool QuickUndelete::listExfat(const QuickUndeleteOptions& options) {
    if (!LoadExfatVolume(drive_, exfat_)) {
        unreadable(LoadStr(0, "its boot sector or its allocation bitmap is damaged, or lies past the end of the medium"));
        return false;
    }
    const MediumValues medium{exfat_.serial, static_cast<std::uint32_t>(exfat_.volumeLength)};
    const auto cacheFile = options.workFolder.empty() ? std::filesystem::path() : DirEntCachePath(options.workFolder, drive_);
    std::error_code ec;
    if (!cacheFile.empty() && std::filesystem::exists(cacheFile, ec) && ReadDirEntCache(cacheFile, medium, entries_))
        fromCache_ = true;
    else if (!ListExfatEntries(exfat_, entries_, ui_)) {
        unreadable(LoadStr(0, "its root folder cannot be read (the medium may end before it)"));
        return false;
    }
    for (auto& e : entries_) EstimateExfatRecoverable(exfat_, e);
    plans_ = PlanDeletedFiles(ExfatClusterView(exfat_, false), entries_,
                              [](const UndeleteEntry& e) { return (e.Attributes & kAttrExfatContiguous) != 0; },
                              options.checkSeconds, &checksCut_);
    if (!fromCache_ && !cacheFile.empty() && entries_.size() > kDirEntCacheThreshold + 1)
        WriteDirEntCache(cacheFile, entries_, medium);
    return true;
}

bool QuickUndelete::oneRun(std::size_t i) const {
    const UndeleteEntry& e = entries_[i];
    // A stream's bytes are no file the scan could meet at a cluster of its own.
    if (e.ListName.find(':') != std::string::npos) return false;
    if (kind_ == UndeleteKind::Ntfs) return e.ResidentData || ntfs_.volume.runsCount(e.RecordNumber) <= 1;
    if (e.isDeleted()) {
        const ClusterList* plan = plannedClusters(i);
        if (!plan || plan->empty() || e.isPartial() || e.ListSize < e.Size) return false;
        for (std::size_t k = 1; k < plan->size(); ++k)
            if ((*plan)[k] != (*plan)[k - 1] + 1) return false;
        return true;
    }
    if (kind_ == UndeleteKind::Exfat && (e.Attributes & kAttrExfatContiguous)) return true;
    return ChainIsOneRun(kind_ == UndeleteKind::Fat ? FatClusterView(fat_) : ExfatClusterView(exfat_, false), e);
}

const ClusterList* QuickUndelete::plannedClusters(std::size_t index) const {
    auto it = plans_.find(index);
    return it == plans_.end() ? nullptr : &it->second;
}

bool QuickUndelete::restoreTo(std::size_t index, const std::filesystem::path& target, bool partialChosen) {
    if (index >= entries_.size() || entries_[index].isFolder()) return false;
    const UndeleteEntry& e = entries_[index];
    const bool clustered = kind_ == UndeleteKind::Fat || kind_ == UndeleteKind::Exfat;
    if (clustered && e.isDeleted() && e.Size > 0) {
        // A deleted file's chain was freed: only its planned clusters are read,
        // and nothing goes under its name that was not shown to be its own.
        const ClusterList* plan = plannedClusters(index);
        if (!plan || plan->empty()) return false;
        if ((e.isPartial() || e.ListSize < e.Size) && !partialChosen) return false;
        const ClusterView view =
            kind_ == UndeleteKind::Fat ? FatClusterView(fat_) : ExfatClusterView(exfat_, false);
        if (!WriteClusterList(view, *plan, e.Size, target)) return false;
        platform::StampRestoredFile(target, e.Modified);
        return true;
    }
    bool ok = false;
    switch (kind_) {
        case UndeleteKind::Ntfs: {
            // NTFS names cannot hold ":": what follows it names a stream.
            const auto colon = e.ListName.find(':');
            ok = RecoverNtfsFile(ntfs_, drive_, e.RecordNumber, target, ui_,
                                 colon == std::string::npos ? std::string() : e.ListName.substr(colon + 1));
            break;
        }
        case UndeleteKind::Fat: ok = RestoreFatEntry(fat_, e, target); break;
        case UndeleteKind::Exfat: ok = RestoreExfatEntry(exfat_, e, target); break;
        case UndeleteKind::None: break;
    }
    if (ok) platform::StampRestoredFile(target, e.Modified);
    return ok;
}

std::optional<std::filesystem::path> QuickUndelete::restoreInto(std::size_t index, const std::filesystem::path& folder,
                                                                bool partialChosen) {
    if (index >= entries_.size()) return std::nullopt;
    const UndeleteEntry& e = entries_[index];
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    const std::string name = platform::RestoreFileName(e.ListName.empty() ? e.FileName : e.ListName);
    const auto target = platform::NextFreeRestoreName(folder / name);
    if (restoreTo(index, target, partialChosen)) return target;
    // A stream's "name:stream" on a target that refuses ":" (FAT, exFAT): "name_stream".
    if (name.find(':') == std::string::npos || fs::exists(target, ec)) return std::nullopt;
    std::string plain = name;
    std::replace(plain.begin(), plain.end(), ':', '_');
    const auto fallback = platform::NextFreeRestoreName(folder / plain);
    if (!restoreTo(index, fallback, partialChosen)) return std::nullopt;
    return fallback;
}

std::optional<std::filesystem::path> QuickUndelete::RestoreUndeletedFile(std::size_t index,
                                                                         const std::filesystem::path& startFolder) {
    if (index >= entries_.size()) return std::nullopt;
    const UndeleteEntry& e = entries_[index];
    const bool partial = isPartialFile(e);
    if (partial && !askPartial(e)) return std::nullopt;
    const auto offered = startFolder / platform::RestoreFileName(e.ListName.empty() ? e.FileName : e.ListName);
    const auto chosen = ui_.saveFile(LoadStr(400, "Save") + "  Harvestrix", "", offered.string());
    if (!chosen || chosen->empty()) return std::nullopt;
    const auto target = platform::NextFreeRestoreName(*chosen);
    if (!restoreTo(index, target, partial)) {
        ui_.message(shell::FormatStr(LoadStr(1472, "%0 not saved!"), {target.filename().string()}), "Undelete",
                    {shell::Buttons::OK, shell::Icon::Exclamation});
        return std::nullopt;
    }
    return target;
}

bool QuickUndelete::isPartialFile(const UndeleteEntry& e) const {
    return !e.isFolder() && (e.ListSize < e.Size || e.isPartial());
}

bool QuickUndelete::askPartial(const UndeleteEntry& e) {
    const std::string why =
        e.ListSize < e.Size
            ? shell::FormatStr(LoadStr(1412, "Only the first %0 bytes are recoverable."), {std::to_string(e.ListSize)})
            : LoadStr(0, "Its pieces could not be shown to belong to it: parts may be of another file.");
    const std::string text = LoadStr(629, "This file is not complete.") + "\n" + why + "\n" +
                             LoadStr(1413, "Most likely the file is damaged.") + "\n" +
                             LoadStr(633, "Save this file anyway?");
    return ui_.message(text, "   " + LoadStr(1414, "Warning!"), {shell::Buttons::YesNo, shell::Icon::Exclamation}) ==
           shell::Answer::Yes;
}

std::vector<std::size_t> QuickUndelete::SaveAllSelection() const {
    std::vector<std::size_t> out;
    for (const auto& row : lists_.list1)
        if (long i = RowEntryIndex(row); i >= 0) out.push_back(static_cast<std::size_t>(i));
    for (const auto& row : lists_.list2) {
        const long i = RowEntryIndex(row);
        if (i < 0) continue;
        const UndeleteEntry& e = entries_[static_cast<std::size_t>(i)];
        if (e.ListSize > 0 && !e.Overwritten) out.push_back(static_cast<std::size_t>(i));
    }
    return out;
}

QuickUndelete::SaveResult QuickUndelete::SaveUndeleteEntries(const std::vector<std::size_t>& indices,
                                                             const std::filesystem::path& folder) {
    SaveResult result;
    const std::string undeleteTitle = "Undelete";
    for (std::size_t k = 0; k < indices.size(); ++k) {
        ui_.yield();
        if (ui_.stopRequested()) break;
        const std::size_t i = indices[k];
        if (i >= entries_.size() || entries_[i].isFolder()) continue;
        const UndeleteEntry& e = entries_[i];
        const std::string name = platform::RestoreFileName(e.ListName.empty() ? e.FileName : e.ListName);
        if (e.ListSize == 0) {
            ui_.message(shell::FormatStr(LoadStr(1472, "%0 not saved!"), {name}), undeleteTitle, {});
            ++result.skipped;
            continue;
        }
        const bool partial = isPartialFile(e);
        if (partial && !askPartial(e)) {
            ++result.skipped;
            continue;
        }
        if (auto path = restoreInto(i, folder, partial)) {
            result.paths.push_back(*path);
            ++result.saved;
        } else {
            ui_.message(shell::FormatStr(LoadStr(1472, "%0 not saved!"), {name}), undeleteTitle, {});
            ++result.skipped;
        }
        ui_.status(LoadStr(626, "Status: saving  ") + GroupThousands(static_cast<std::uint64_t>(result.saved)));
        ui_.progress(static_cast<double>(k + 1) / indices.size(), {});
    }
    return result;
}

}  // namespace hx::undelete
