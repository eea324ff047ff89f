#include "filesystems/ntfs/UndeleteNtfs.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "filesystems/ntfs/NtfsStructs.h"
#include "shell/Strings.h"
#include "filesystems/ntfs/MftLibrary.h"
#include "shell/Text.h"

namespace hx::filesystems {

using shell::FormatStr;
using shell::LoadStr;

namespace {

std::string mftTitle() { return "Harvestrix MFT " + LoadStr(1717, "Quick Undelete"); }

// Compressed data comes in units of 2^compressionUnit clusters: a unit with
// all its clusters is stored as it is, one without any is zeros, and one with
// fewer holds LZNT1 data in its first clusters.
bool restoreCompressed(mft::NtfsVolume& volume, std::uint64_t totalClusters, const std::vector<std::uint8_t>& attr,
                       const filesystems::ntfs::NonResidentHeader& nr, std::uint64_t bpc, std::ofstream& out, shell::Ui& ui) {
    // Runs past the volume are refused here as they are by the reads.
    std::vector<filesystems::ntfs::Run> runs;
    if (!filesystems::ntfs::DecodeRuns(attr.data() + nr.runsOffset, attr.size() - nr.runsOffset, nr.startVcn,
                                 totalClusters, runs))
        return false;
    const std::int64_t unitClusters = std::int64_t(1) << nr.compressionUnit;
    const std::uint64_t unitBytes = static_cast<std::uint64_t>(unitClusters) * bpc;
    std::vector<std::uint8_t> packed(unitBytes), unit(unitBytes);
    std::uint64_t left = static_cast<std::uint64_t>(nr.realSize);
    for (std::int64_t vcn = nr.startVcn; left > 0; vcn += unitClusters) {
        std::int64_t stored = 0;
        for (const auto& r : runs) {
            const std::int64_t from = std::max(vcn, r.vcn), to = std::min(vcn + unitClusters, r.vcn + r.length);
            if (r.lcn >= 0 && to > from) stored += to - from;
        }
        if (stored == unitClusters) {
            if (!volume.readVcn(attr.data(), vcn, unitBytes, unit.data())) return false;
        } else if (stored == 0) {
            std::fill(unit.begin(), unit.end(), 0);
        } else {
            const std::uint64_t packedBytes = static_cast<std::uint64_t>(stored) * bpc;
            if (!volume.readVcn(attr.data(), vcn, packedBytes, packed.data()) ||
                !filesystems::ntfs::Lznt1Decompress(packed.data(), packedBytes, unit.data(), unit.size()))
                return false;
        }
        const std::uint64_t n = std::min(left, unitBytes);
        out.write(reinterpret_cast<const char*>(unit.data()), static_cast<std::streamsize>(n));
        left -= n;
        ui.yield();
    }
    return true;
}

}  // namespace


bool OpenMft(NtfsSession& s, const std::string& drive, shell::Ui& ui) {
    CloseMft(s);
    const bool known = s.catalogued && s.cataloguedDrive == drive;
    if (!s.volume.open(drive, known ? &*s.catalogued : nullptr)) {
        ui.message("Cannot open " + drive + " as an NTFS volume.", mftTitle(), {shell::Buttons::OK, shell::Icon::Critical});
        return false;
    }
    if (!s.volume.mapMft(s.info)) {
        // The device opened: what stops the listing is the table itself.
        ui.message(shell::FormatStr(shell::LoadStr(0, "The MFT of %0, the table of its files, is damaged: the files "
                                                      "cannot be listed by their names."),
                                    {drive}) +
                       "\n" + shell::LoadStr(0, "A scan still finds the photos and other files on it by their contents."),
                   mftTitle(), {shell::Buttons::OK, shell::Icon::Exclamation});
        s.volume.close();
        return false;
    }
    s.open = true;
    s.drive = drive;
    return true;
}

void CloseMft(NtfsSession& s) {
    s.volume.close();
    s.info = {};
    s.open = false;
    s.drive.clear();
}


namespace {

// Size and first cluster of one data attribute of a record.
struct StreamFacts {
    std::int64_t realSize = 0;
    std::int64_t allocated = 0;
    std::uint32_t firstCluster = 0;  // resident: the value's length
    bool firstInUse = false;
};

bool streamFacts(mft::NtfsVolume& volume, const std::uint8_t* data, StreamFacts& f) {
    using namespace filesystems::ntfs;
    const std::uint32_t dataLength = Le32(data + 4);
    if (data[8]) {
        NonResidentHeader nr;
        if (!ParseNonResident(data, dataLength, nr)) return false;
        f.realSize = nr.realSize;
        f.allocated = nr.allocatedSize;
        std::int64_t lcn = -1, run = 0;
        if (mft::MapVCN2LCN(data, nr.startVcn, lcn, run) && lcn >= 0) {
            f.firstCluster = static_cast<std::uint32_t>(lcn);
            f.firstInUse = volume.clusterInUse(static_cast<std::uint64_t>(lcn));
        }
        return true;
    }
    std::uint32_t vlen = 0;
    if (!ResidentValue(data, dataLength, vlen)) return false;
    f.realSize = f.allocated = vlen;
    f.firstCluster = vlen;
    // An empty resident value still stands for a file.
    if (f.allocated == 0) f.allocated = 1;
    return true;
}

}  // namespace

namespace {

// What the listing is asked for.
struct Wanted {
    std::int64_t minBytes = 0;
    std::int64_t maxBytes = 0;  // 0: no limit
    std::string filter;         // extensions; empty for all
    bool liveToo = false;

    // A name to list, in use or not (lower case).
    bool name(const std::string& n, bool inUse) const {
        if (inUse && !liveToo && n.rfind("-%", 0) != 0) return false;
        if (inUse && n.rfind('$', 0) == 0) return false;
        if (!filter.empty()) {
            // Without a dot the whole name stands for the extension.
            const auto dot = n.rfind('.');
            const std::string ext = dot == std::string::npos ? n : n.substr(dot + 1);
            if (filter.find(ext) == std::string::npos) return false;
        }
        return !shell::ContainsNoCase(n, ".rbf") && n.find(".thc") == std::string::npos &&
               n.find(".rpc") == std::string::npos;
    }
    // The list of deleted files leaves out temporary and backup folders; a
    // copy of the files in use takes every one but the volume's own.
    static bool folder(const std::string& f, bool inUse, bool live) {
        if (!live && (shell::ContainsNoCase(f, "temp") || f.find("QXCache") != std::string::npos ||
                      f.find("Backup") != std::string::npos))
            return false;
        return !inUse ||
               (f.find("$Extend") == std::string::npos && f.find("System Volume Information") == std::string::npos);
    }
    bool size(const StreamFacts& main) const {
        return main.realSize >= minBytes && main.allocated > 0 && (maxBytes <= 0 || main.realSize <= maxBytes);
    }
};

// The name record `r` is listed by, and whether it says where it was (its
// folder is then in `folder`). False when it has no name to list.
bool recordName(NtfsSession& s, std::uint32_t r, bool inUse, std::string& name, std::string& folder) {
    using namespace filesystems::ntfs;
    const std::uint8_t *fn1 = nullptr, *fn2 = nullptr;
    FileNameInfo fn;
    if (s.volume.fileName(r, fn1, fn2)) {
        const std::uint8_t* chosen = fn2 ? fn2 : fn1;
        if (!ParseFileName(chosen, Le32(chosen + 4), fn)) return false;
    } else if (!inUse && s.volume.attribute(r, kAttrAttributeList)) {
        // Its names were in extension records that were emptied when it
        // was deleted (ntfs-3g does so); its data is all still listed.
        fn.name = "record " + std::to_string(r) + " (name lost).dat";
    } else {
        return false;
    }
    name = LowerAscii(fn.name);
    folder = "\\?";  // nothing says where it was
    if (fn1) {
        char path[512];
        if (s.volume.filePath(r, path, 256) < 0) return false;
        folder = path;
    }
    return true;
}

// The entry of record `r`'s data, then one "name:stream" entry for each of its alternate data streams.
void addEntries(NtfsSession& s, std::uint32_t r, const std::uint8_t* data, const StreamFacts& main, bool live,
                UndeleteEntry e, std::vector<UndeleteEntry>& entries) {
    using namespace filesystems::ntfs;
    e.RecordNumber = r;
    e.Size = static_cast<std::uint64_t>(main.realSize);
    e.ListSize = e.Size == 0 ? 1 : e.Size;
    e.FirstCluster = main.firstCluster;
    e.ResidentData = !data[8];
    e.Overwritten = main.firstInUse && !live ? 1 : 0;
    if (live) e.Attributes |= kAttrLive;
    if (const std::uint8_t* si = s.volume.standardInformation(r)) {
        std::uint32_t vlen = 0;
        const std::uint8_t* v = ResidentValue(si, Le32(si + 4), vlen);
        if (v && vlen >= 16) {
            e.Created = FileTimeToLocalDate(Le64(v));
            e.Modified = FileTimeToLocalDate(Le64(v + 8));
        }
    }
    entries.push_back(e);
    for (const auto& stream : s.volume.namedStreams(r)) {
        StreamFacts facts;
        if (!streamFacts(s.volume, stream.attribute, facts) || entries.size() > kNtfsListCap) continue;
        UndeleteEntry ads = e;
        ads.FileName = ads.ListName = e.FileName + ":" + stream.name;
        ads.Size = static_cast<std::uint64_t>(facts.realSize);
        ads.ListSize = ads.Size == 0 ? 1 : ads.Size;
        ads.FirstCluster = facts.firstCluster;
        ads.ResidentData = !stream.attribute[8];
        ads.Overwritten = facts.firstInUse ? 1 : 0;
        entries.push_back(std::move(ads));
    }
}

}  // namespace

bool ListNtfsDeleted(NtfsSession& s, const std::string& drive, std::vector<UndeleteEntry>& entries,
                     const std::string& typeFilter, double minMB, double maxMB, shell::Ui& ui, bool liveToo) {
    using namespace filesystems::ntfs;
    CloseMft(s);
    if (!OpenMft(s, drive, ui)) return false;
    Wanted wanted;
    wanted.minBytes = static_cast<std::int64_t>(std::llround(minMB * 1024 * 1024));
    wanted.maxBytes = static_cast<std::int64_t>(std::llround(maxMB * 1024 * 1024));
    wanted.filter = LowerAscii(typeFilter);
    if (wanted.filter == "all") wanted.filter.clear();
    wanted.liveToo = liveToo;
    const std::uint32_t count = s.info.recordCount;
    const std::uint32_t step = std::max<std::uint32_t>(1, count / 100);
    std::uint64_t found = 0;

    for (std::uint32_t r = 16; r < count; ++r) {
        if (r % step == 0) {
            ui.progress(static_cast<double>(r) / count, {});
            ui.yield();
            if (ui.stopRequested()) break;
        }
        if (s.volume.runsCount(r) < 0) continue;
        const std::uint8_t* rec = s.volume.record(r);
        // An extension record holds more of the file whose record it names.
        if (!rec || (Le64(rec + 32) & 0xFFFFFFFFFFFFull) != 0) continue;
        const std::uint8_t* data = s.volume.attribute(r, kAttrData);
        if (!data) continue;
        const bool inUse = Le16(rec + 22) & kRecordInUse;
        std::string name, folder;
        if (!recordName(s, r, inUse, name, folder) || !wanted.name(name, inUse)) continue;
        const bool live = inUse && name.rfind("-%", 0) != 0;
        if (!Wanted::folder(folder, inUse, live)) continue;
        StreamFacts main;
        if (!streamFacts(s.volume, data, main) || !wanted.size(main)) continue;
        ++found;
        if (entries.size() > kNtfsListCap) continue;
        UndeleteEntry e;
        e.FileName = e.ListName = name;
        e.FolderPath = folder;
        addEntries(s, r, data, main, live, e, entries);
    }
    ui.progress(1.0, {});
    if (entries.size() > kNtfsListCap) {
        entries.resize(kNtfsListKeep);
        ui.message(GroupThousands(found) + LoadStr(1716, " deleted files found.") + "\n\n" +
                       LoadStr(1715, "Please narrow your search as only the first 25,000 files will be processed."),
                   mftTitle(), {shell::Buttons::OK, shell::Icon::Information});
    }
    return true;
}

bool RecoverNtfsFile(NtfsSession& s, const std::string& drive, std::uint32_t recordNumber,
                     const std::filesystem::path& targetPath, shell::Ui& ui, const std::string& stream,
                     media::FileDamage* damage) {
    using namespace filesystems::ntfs;
    if (!s.open || s.drive != drive) {
        if (!OpenMft(s, drive, ui)) return false;
    }
    const std::uint8_t* rec = s.volume.record(recordNumber);
    const std::uint8_t* data = nullptr;
    if (rec && stream.empty()) data = s.volume.attribute(recordNumber, kAttrData);
    if (rec && !stream.empty())
        for (const auto& named : s.volume.namedStreams(recordNumber))
            if (LowerAscii(named.name) == LowerAscii(stream)) data = named.attribute;
    if (!data) return false;
    // A copy: yielding lets the window run, and a new listing unmaps the MFT.
    const std::vector<std::uint8_t> attr(data, data + Le32(data + 4));
    const std::uint32_t dataLength = static_cast<std::uint32_t>(attr.size());
    NonResidentHeader nr;
    if (attr[8]) {
        if (!ParseNonResident(attr.data(), dataLength, nr)) return false;
        // Encrypted clusters would come out as they lie on disk: not the file.
        if (nr.flags & kAttrFlagEncrypted) return false;
        if ((nr.flags & kAttrFlagCompressed) && (nr.compressionUnit == 0 || nr.compressionUnit > 8)) return false;
    }
    mft::NtfsVolume& volume = s.volume;
    const std::uint64_t bpc = s.info.bytesPerCluster;
    std::ofstream out(targetPath, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    bool ok = true;
    if (attr[8] && (nr.flags & kAttrFlagCompressed)) {
        ok = restoreCompressed(volume, s.info.totalClusters, attr, nr, bpc, out, ui);
    } else if (attr[8]) {
        // Read in pieces rather than one buffer of the allocated size.
        const std::uint64_t chunk = std::max<std::uint64_t>(bpc, (std::uint64_t(8) << 20) / bpc * bpc);
        std::vector<std::uint8_t> buffer(chunk);
        std::uint64_t left = static_cast<std::uint64_t>(nr.realSize);
        std::int64_t vcn = nr.startVcn;
        while (left > 0 && ok) {
            const std::uint64_t want = std::min(left, chunk);
            const std::uint64_t readBytes = (want + bpc - 1) / bpc * bpc;
            ok = volume.readVcn(attr.data(), vcn, readBytes, buffer.data(), damage);
            if (ok) out.write(reinterpret_cast<const char*>(buffer.data()), static_cast<std::streamsize>(want));
            left -= want;
            vcn += static_cast<std::int64_t>(readBytes / bpc);
            ui.yield();
        }
    } else {
        std::uint32_t vlen = 0;
        const std::uint8_t* v = ResidentValue(attr.data(), dataLength, vlen);
        if (!v) ok = false;
        else out.write(reinterpret_cast<const char*>(v), vlen);
    }
    out.close();
    ok = ok && out.good();
    if (!ok) {
        std::error_code ec;
        std::filesystem::remove(targetPath, ec);
    }
    ui.yield();
    return ok;
}

}  // namespace hx::filesystems
