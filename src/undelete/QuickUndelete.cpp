#include "undelete/QuickUndelete.h"

#include "media/FileDamage.h"

#include "media/SalvagingReader.h"

#include <algorithm>
#include <cstring>

#include "filesystems/DriveInfo.h"
#include "media/DriveRecord.h"
#include "media/ReadAside.h"
#include "platform/RestoreName.h"
#include "platform/RawFile.h"
#include "shell/Strings.h"
#include "shell/Text.h"
#include "viewing/Exif.h"

namespace hx::undelete {

namespace fs = std::filesystem;
using shell::FormatStr;
using shell::LoadStr;

namespace {

constexpr const char* kButton = "CmdQuickUndelete";

std::string title() { return LoadStr(1717, "Quick Undelete"); }

}  // namespace

std::string UndeleteTypeFilter(const std::vector<std::string>& selected, bool everyTypeSelected, bool removable) {
    if (everyTypeSelected || !removable || selected.empty()) return "all";
    std::string f;
    for (const auto& ext : selected) f += (ext.empty() || ext[0] != '.' ? "." : "") + ext;
    return f;
}

bool QuickUndelete::run(const filesystems::QuickUndeleteOptions& options) {
    entries_.clear();
    plans_.clear();
    lists_ = {};
    checksCut_ = false;
    drive_ = options.drive;
    // A card that hangs a read does not hold the listing.
    media::GuardCommandReads guarded(ui_, stuckReads_);
    const std::string before = ui_.caption(kButton);
    ui_.setCaption(kButton, LoadStr(725, "Checking") + "...");
    // Catalogued afresh: the medium may have changed since it was chosen.
    media::DriveRecord rec;
    if (!filesystems::GetDriveInfo(drive_, rec)) rec.reset();
    // A whole-card image is listed on the partition the catalogue chose.
    if (rec.isPartition()) drive_ = rec.Drive;
    const media::UnreadableWatch unreadableMet(drive_);
    volume_ = filesystems::OpenUndeleteVolume(drive_, rec);
    bool ok = false;
    if (!volume_) {
        ui_.message("No FAT, exFAT or NTFS file system found on " + drive_ + ".", title(),
                    {shell::Buttons::OK, shell::Icon::Exclamation});
    } else {
        filesystems::QuickUndeleteOptions opened = options;
        opened.drive = drive_;
        std::string why;
        ok = volume_->list(opened, entries_, ui_, why);
        if (!ok && !why.empty()) unreadable(why);
        if (ok) {
            // A deleted file's chain was freed: its clusters are planned from its first one.
            if (const auto view = volume_->clusters())
                plans_ = PlanDeletedFiles(
                    *view, entries_, [this](const filesystems::UndeleteEntry& e) { return volume_->knownContiguous(e); },
                    options.checkSeconds, &checksCut_);
            checkGuessedNames();
            volume_->listed(opened, entries_);
        }
    }
    if (ok) {
        lists_ = BuildUndeleteLists(drive_, entries_, volume_->listsDeletedRecords());
        listed_ = ToListedNames(entries_, [this](std::size_t i) { return oneRun(i); });
    }
    ui_.setCaption(kButton, before.empty() ? title() : before);
    // The tables and folders read past bad sectors: what they lost is said.
    if (const std::uint64_t lost = unreadableMet.sectors(); lost > 0)
        ui_.status(FormatStr(LoadStr(0, "%0 sectors of the file system of %1 could not be read: what they held is not listed."),
                             {std::to_string(lost), drive_}));
    return ok;
}

void QuickUndelete::unreadable(const std::string& why) {
    ui_.message(FormatStr(LoadStr(0, "The file system of %0 cannot be read: %1.\nA scan still searches the whole "
                                     "medium for photos and other files."),
                          {drive_, why}),
                title(), {shell::Buttons::OK, shell::Icon::Exclamation});
}

bool QuickUndelete::oneRun(std::size_t i) const {
    const filesystems::UndeleteEntry& e = entries_[i];
    // A stream's bytes are no file the scan could meet at a cluster of its own.
    if (e.ListName.find(':') != std::string::npos) return false;
    if (e.isDeleted() && volume_->clusters()) {
        const ClusterList* plan = plannedClusters(i);
        if (!plan || plan->empty() || e.isPartial() || e.ListSize < e.Size) return false;
        for (std::size_t k = 1; k < plan->size(); ++k)
            if ((*plan)[k] != (*plan)[k - 1] + 1) return false;
        return true;
    }
    return volume_->inOneRun(e);
}

void QuickUndelete::checkGuessedNames() {
    const auto view = volume_->clusters();
    if (!view) return;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        filesystems::UndeleteEntry& e = entries_[i];
        if (!(e.Attributes & filesystems::kAttrNameGuessed) || e.ListName.size() < 5 || shell::ToLower(e.ListName.substr(0, 4)) != "img_")
            continue;
        const ClusterList* plan = plannedClusters(i);
        if (!plan || plan->empty()) continue;
        // IMG_ by the camera rules; but Canon names the shots it takes in
        // Adobe RGB _MG_, and the picture's own EXIF says which it was.
        const std::vector<std::uint8_t> head = ReadClusterList(*view, *plan, std::min<std::uint64_t>(e.Size, 128 * 1024));
        viewing::ExifValues exif;
        viewing::ReadExif("BUF", head.data(), head.size(), exif);
        if (shell::ToLower(exif.make).rfind("canon", 0) == 0 && exif.colorSpace == "65535") e.ListName[0] = '_';
    }
}

const ClusterList* QuickUndelete::plannedClusters(std::size_t index) const {
    auto it = plans_.find(index);
    return it == plans_.end() ? nullptr : &it->second;
}

bool QuickUndelete::restoreTo(std::size_t index, const std::filesystem::path& target, bool partialChosen) {
    if (!volume_ || index >= entries_.size() || entries_[index].isFolder()) return false;
    damage_.erase(index);
    media::GuardCommandReads guarded(ui_, stuckReads_);
    // A sector that cannot be read is zeros in the file, and said.
    media::FileDamage damage;
    const bool ok = write(index, target, partialChosen, damage);
    if (ok && damage.sectors() > 0) {
        damage_[index] = damage.text();
        ui_.status(target.filename().string() + ": " + damage.text());
    }
    return ok;
}

bool QuickUndelete::write(std::size_t index, const std::filesystem::path& target, bool partialChosen,
                          media::FileDamage& damage) {
    const filesystems::UndeleteEntry& e = entries_[index];
    const auto view = volume_->clusters();
    if (view && e.isDeleted() && e.Size > 0) {
        // A deleted file's chain was freed: only its planned clusters are read,
        // and nothing goes under its name that was not shown to be its own.
        const ClusterList* plan = plannedClusters(index);
        if (!plan || plan->empty()) return false;
        if ((e.isPartial() || e.ListSize < e.Size) && !partialChosen) return false;
        if (!WriteClusterList(*view, *plan, e.Size, target, &damage)) return false;
        platform::StampRestoredFile(target, e.Modified);
        return true;
    }
    const bool ok = volume_->restore(e, target, ui_, &damage);
    if (ok) platform::StampRestoredFile(target, e.Modified);
    return ok;
}

std::optional<std::filesystem::path> QuickUndelete::restoreInto(std::size_t index, const std::filesystem::path& folder,
                                                                bool partialChosen) {
    if (index >= entries_.size()) return std::nullopt;
    const filesystems::UndeleteEntry& e = entries_[index];
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    std::string name = platform::RestoreFileName(e.ListName.empty() ? e.FileName : e.ListName);
    // Bytes that could not be shown to be the file's own never go under its plain name.
    if (partialChosen && isPartialFile(e)) name = UnverifiedName(name);
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
    const filesystems::UndeleteEntry& e = entries_[index];
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

bool QuickUndelete::isPartialFile(const filesystems::UndeleteEntry& e) const {
    return !e.isFolder() && (e.ListSize < e.Size || e.isPartial());
}

bool QuickUndelete::askPartial(const filesystems::UndeleteEntry& e) {
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
        const filesystems::UndeleteEntry& e = entries_[static_cast<std::size_t>(i)];
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
        const filesystems::UndeleteEntry& e = entries_[i];
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
        ui_.status(LoadStr(626, "Status: saving  ") + filesystems::GroupThousands(static_cast<std::uint64_t>(result.saved)));
        ui_.progress(static_cast<double>(k + 1) / indices.size(), {});
    }
    return result;
}

std::string UnverifiedName(const std::string& name) {
    const auto dot = name.rfind('.');
    std::string marked = name;
    marked.insert(dot == std::string::npos || dot == 0 ? marked.size() : dot, " (unverified)");
    return marked;
}

}  // namespace hx::undelete
