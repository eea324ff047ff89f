#include "output/RecoverAll.h"

#include "media/ReadFailure.h"
#include "media/SalvagingReader.h"
#include "scan/ContentPrint.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <set>
#include <cstring>
#include <fstream>

#include "output/DateLayout.h"
#include "output/SaveTarget.h"
#include "platform/RestoreName.h"
#include "platform/FileMove.h"
#include "shell/ForwardingUi.h"
#include "output/ScanCommand.h"
#include "scan/ScanState.h"
#include "shell/Strings.h"
#include "shell/WorkingFolders.h"
#include "undelete/QuickUndelete.h"
#include "undelete/UndeleteLists.h"
#include "viewing/CaptureFacts.h"
#include "viewing/Exif.h"
#include "formats/PictureCheck.h"
#include "shell/Text.h"

namespace hx::output {

namespace fs = std::filesystem;
using platform::NextFreeRestoreName;
using platform::RestoreFileName;
using shell::FormatStr;

struct Inspection {
    std::uint64_t size = 0;
    scan::Fingerprint print;
    scan::Fingerprint beginning;
    bool jpegWhole = false;
};
using shell::LoadStr;

namespace {

// One read of a written file (never the medium again): its size, its
// fingerprint, and
// for a JPEG whether its markers walk to its end marker within it.
bool inspect(const fs::path& file, Inspection& out, bool walkJpeg) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return false;
    formats::JpegEndFinder end;
    if (!walkJpeg) {
        const std::uint8_t none = 0;
        end.feed(&none, 1);  // not walked: the carving scan ended it by its own markers already
    }
    std::vector<std::uint8_t> bytes(1u << 20);
    scan::ContentPrint print, beginning;
    while (in) {
        in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        const auto n = static_cast<std::size_t>(in.gcount());
        if (!end.done() && !end.failed()) end.feed(bytes.data(), n);
        print.add(bytes.data(), n);
        if (beginning.size() == 0) beginning.add(bytes.data(), std::min(n, scan::kBeginningBytes));
    }
    out.size = print.size();
    out.print = print.value();
    out.beginning = beginning.value();
    out.jpegWhole = walkJpeg ? end.done() && end.length() <= out.size : true;
    return true;
}

// "\Trip\Day1" below the target, each part a name the target can hold.
fs::path folderBelow(const fs::path& target, const std::string& folderPath) {
    fs::path out = target;
    std::string part;
    for (char c : folderPath + "\\") {
        if (c != '\\') {
            part += c;
            continue;
        }
        if (!part.empty()) out /= RestoreFileName(part);
        part.clear();
    }
    return out;
}

// A carved photo without a name of its own, by its camera and the moment it
// was taken ("Canon_EOS_400D_20240503_100000.jpg"); empty when either is unknown.
std::string nameByCamera(const scan::FoundFile& f, const std::string& type) {
    const std::string& d = f.exifDate;  // "YYYY:MM:DD HH:MM:SS"
    if (f.name.rfind("R#", 0) != 0 || !f.exifRead || d.size() != 19) return {};
    std::string when;  // "YYYYMMDD_HHMMSS"
    for (std::size_t i = 0; i < d.size(); ++i) {
        if (i == 4 || i == 7 || i == 13 || i == 16) continue;  // the separators
        if (i == 10) {
            when += '_';
            continue;
        }
        if (!std::isdigit(static_cast<unsigned char>(d[i]))) return {};
        when += d[i];
    }
    if (when.rfind("0000", 0) == 0) return {};
    // A motion photo is named as the phones name theirs: PXL_YYYYMMDD_HHMMSSmmm.MP.jpg.
    const bool motion = std::any_of(f.parts.begin(), f.parts.end(),
                                    [](const formats::PhotoPart& p) { return p.kind == formats::PartKind::Clip; });
    if (motion) return "PXL_" + when + "000.MP" + (type.empty() ? "" : "." + type);
    std::string camera;
    for (char c : f.camera) {
        const bool keep = std::isalnum(static_cast<unsigned char>(c)) || c == '-';
        if (keep) camera += c;
        else if (!camera.empty() && camera.back() != '_') camera += '_';
    }
    while (!camera.empty() && camera.back() == '_') camera.pop_back();
    if (camera.empty()) return {};  // a photo without its camera keeps its found name
    return camera + "_" + when + (type.empty() ? "" : "." + type);
}

// The first of NAME.ext, NAME_2.ext, NAME_3.ext ... that is free.
fs::path numbered(const fs::path& wanted) {
    std::error_code ec;
    fs::path p = wanted;
    for (int n = 2; n < 100000 && fs::exists(p, ec); ++n)
        p = wanted.parent_path() / (wanted.stem().string() + "_" + std::to_string(n) + wanted.extension().string());
    return p;
}

// `carved`: the scan's record of the file, whose EXIF header it read already.
RecoveredFile describe(const fs::path& file, const fs::path& target, const std::string& origin, const Inspection& seen,
                       const scan::FoundFile* carved = nullptr) {
    const std::uint64_t size = seen.size;
    RecoveredFile f;
    f.path = file.lexically_relative(target);
    f.origin = origin;
    f.size = size;
    f.type = shell::ToLower(file.extension().string());
    if (!f.type.empty()) f.type.erase(0, 1);
    if (carved && carved->exifRead) {
        f.date = viewing::IsoDate(carved->exifDate);
        f.camera = carved->camera;
    } else {
        // The date and camera count even where the header gives no dimensions,
        // and inside HEIF, WebP or a movie's own header too.
        const viewing::CaptureFacts facts = viewing::ReadCaptureFacts(file);
        f.date = viewing::IsoDate(facts.rawDate);
        f.camera = viewing::CameraName(facts.make, facts.model);
    }
    if (f.type == "jpg" || f.type == "jpeg" || f.type == "jpe") f.whole = seen.jpegWhole;
    return f;
}

// The carving phase's progress as the last 70% of the whole recovery's; the
// scan's own text (elapsed, time to go) passes through. Everything else is
// the caller's Ui.
class PhaseUi : public shell::ForwardingUi {
public:
    PhaseUi(shell::Ui& base, double from, double span) : ForwardingUi(base), from_(from), span_(span) {}
    void progress(double f, const std::string& t) override { base_.progress(f < 0 ? f : from_ + span_ * f, t); }

private:
    double from_, span_;
};

}  // namespace

RecoverCommand::RecoverCommand(shell::Ui& ui, RecoverRequest request) : ui_(ui), req_(std::move(request)) {}

bool RecoverCommand::keepOnce(const fs::path& file, Inspection& seen, bool carved) {
    if (seen.size == 0 && !inspect(file, seen, !carved)) return true;
    lastKey_ = {seen.size, seen.print, seen.beginning};
    return seen_.emplace(lastKey_, file).second;
}

void RecoverCommand::restoreListed(RecoverReport& report, bool& fileSystemRead) {
    undelete::QuickUndelete listing(ui_);
    fileSystemRead = listing.run({req_.source, "all", 0, 0, {}, req_.includePresent});
    ui_.clearStop();
    if (!fileSystemRead) {
        report.notes.push_back(FormatStr(LoadStr(0, "No file system could be read on %0: the whole medium was carved."),
                                         {req_.source}));
        return;
    }
    report.fileSystem = listing.fileSystemName();
    const auto& entries = listing.entries();
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const filesystems::UndeleteEntry& e = entries[i];
        if (e.isFolder()) continue;
        const bool deleted = listing.isDeletedFile(i);
        if (!deleted && !req_.includePresent) continue;
        const std::string name = e.ListName.empty() ? e.FileName : e.ListName;
        if (deleted && (e.ListSize == 0 || e.Overwritten)) {
            report.notRecovered.push_back({name, e.FolderPath, LoadStr(0, "overwritten by another file")});
            continue;
        }
        // Rebuilt from every cluster its claims give it, with nothing in it to
        // check them by: written, under a name that says so.
        const bool unverified = deleted && (e.Attributes & filesystems::kAttrUnverified);
        if (deleted && !unverified && (e.isPartial() || e.ListSize < e.Size)) {
            report.notRecovered.push_back({name, e.FolderPath, LoadStr(0, "partial: its pieces could not all be found or confirmed")});
            continue;
        }
        const fs::path folder = folderBelow(req_.target, e.FolderPath);
        std::error_code ec;
        fs::create_directories(folder, ec);
        const std::string fileName = unverified ? undelete::UnverifiedName(RestoreFileName(name)) : RestoreFileName(name);
        const fs::path file = NextFreeRestoreName(folder / fileName);
        if (!listing.restoreTo(i, file, unverified)) {
            report.notRecovered.push_back({name, e.FolderPath, LoadStr(0, "could not be written to the target")});
            if (FreeSpaceMB(folder) < 1) {
                report.notes.push_back(FormatStr(LoadStr(0, "The target %0 is full."), {req_.target.string()}));
                return;
            }
            continue;
        }
        Inspection seen;
        keepOnce(file, seen, false);
        report.files.push_back(describe(file, req_.target, deleted ? "undeleted" : "copied", seen));
        RecoveredFile& told = report.files.back();
        told.nameGuessed = (e.Attributes & filesystems::kAttrNameGuessed) != 0;
        told.rebuilt = (e.Attributes & filesystems::kAttrRebuilt) && (e.Attributes & filesystems::kAttrConfirmed);
        // As paths read here: /DCIM/100CANON/IMG_1000.JPG.
        told.original = e.FolderPath + (!e.FolderPath.empty() && e.FolderPath.back() == '\\' ? "" : "\\") + name;
        std::replace(told.original.begin(), told.original.end(), '\\', '/');
        told.foundAt = listing.whereFound(i);
        if (unverified) {
            told.whole = false;
            told.note = undelete::RecoveryNote(e);
        }
        if (const std::string damage = listing.damageOf(i); !damage.empty()) {
            told.whole = false;
            told.note = told.note.empty() ? damage : told.note + "; " + damage;
        }
        if (i % 16 == 0) {
            ui_.progress(0.3 * static_cast<double>(i + 1) / static_cast<double>(entries.size()),
                         FormatStr(LoadStr(0, "Restoring the listed files: %0 of %1"),
                                   {std::to_string(i + 1), std::to_string(entries.size())}));
            ui_.yield();
            if (ui_.stopRequested()) {
                report.stopped = true;
                return;
            }
        }
    }
}

void RecoverCommand::carve(RecoverReport& report, bool smart) {
    const fs::path found = req_.target / "Found";
    output::ScanRequest scanReq;
    scanReq.source = req_.source;
    scanReq.cacheFolder = found / "QXCache";
    scanReq.selection = req_.selection == "all" ? formats::EveryTypeSelection() : req_.selection;
    scanReq.smart = smart;
    scanReq.resume = false;
    scanReq.newScan = true;
    // Duplicates are known without reading the files again, and a copy of a
    // file kept before is mostly never written.
    scanReq.options.fingerprints = true;
    scanReq.options.keepEachContentOnce = true;
    for (const auto& kept : seen_) scanReq.keptContents.add(kept.first);
    std::error_code ec;
    fs::create_directories(scanReq.cacheFolder, ec);
    PhaseUi phase(ui_, 0.3, 0.7);
    output::ScanCommand command(phase, scanReq);
    const auto outcome = command.run();
    report.duplicates += static_cast<int>(command.context().duplicatesDropped);
    if (outcome == scan::ScanOutcome::Stopped) report.stopped = true;
    if (outcome == scan::ScanOutcome::OutOfSpace)
        report.notes.push_back(FormatStr(LoadStr(0, "The target %0 filled up while carving."), {req_.target.string()}));
    if (outcome == scan::ScanOutcome::MediumGone) {
        report.stopped = true;
        report.notes.push_back(media::NoLongerAnswersText(req_.source));
    }
    // The list of what could not be read stays beside the recovered files.
    if (const scan::ScanContext& scanned = command.context(); scanned.unreadableSectors > 0) {
        const fs::path list = req_.target / scan::kUnreadableFile;
        fs::copy_file(scanned.unreadableList, list, fs::copy_options::overwrite_existing, ec);
        report.notes.push_back(FormatStr(LoadStr(0, "%0 sectors could not be read; they are listed in %1."),
                                         {std::to_string(scanned.unreadableSectors), list.string()}));
    }
    for (const auto& f : command.context().found) {
        const fs::path file = scanReq.cacheFolder / f.name;
        if (!fs::is_regular_file(file, ec)) continue;
        Inspection seen;
        if (f.printed && f.size > 0) {
            seen.size = f.size;
            seen.print = f.print;
            seen.beginning = f.beginning;
            seen.jpegWhole = true;
        }
        if (!keepOnce(file, seen, true)) {
            // Already back as a listed file: the carved copy goes.
            fs::remove(file, ec);
            ++report.duplicates;
            continue;
        }
        std::string type = shell::ToLower(f.extension);
        if (!type.empty() && type[0] == '.') type.erase(0, 1);
        const fs::path folder = found / (type.empty() ? "other" : type);
        fs::create_directories(folder, ec);
        const std::string byCamera = nameByCamera(f, type);
        const fs::path place = byCamera.empty() ? NextFreeRestoreName(folder / RestoreFileName(f.name))
                                                : numbered(folder / byCamera);
        if (!platform::MoveFile(file, place).ok()) continue;
        seen_[lastKey_] = place;  // where the kept copy is now
        report.files.push_back(describe(place, req_.target, "carved", seen, &f));
        report.files.back().foundAt = "sector " + std::to_string(command.context().geometry.sectorOf(f.startUnit));
        report.files.back().note = scan::RebuiltText(f);
        if (f.lasts > 0) report.files.back().whole = false;
        if (const std::string parts = scan::PartsText(f, place); !parts.empty()) {
            report.files.back().note += report.files.back().note.empty() ? parts : "; " + parts;
            if (!f.partsMissing.empty()) report.files.back().whole = false;
        }
        if (f.unreadableSectors > 0) {
            report.files.back().whole = false;
            const std::string damage = scan::DamageText(f);
            report.files.back().note += report.files.back().note.empty() ? damage : "; " + damage;
        }
    }
    // Only the scan's bookkeeping is left in its cache.
    shell::DeleteTree(scanReq.cacheFolder);
}

void RecoverCommand::layOutByDate(RecoverReport& report) {
    std::set<fs::path> left = {req_.target / "Found"};  // folders a file was moved out of, and the carving's
    for (RecoveredFile& f : report.files) {
        const fs::path folder = req_.target / DatedFolder(f.date, f.type);
        const fs::path from = req_.target / f.path;
        if (from.parent_path() == folder) continue;
        std::error_code ec;
        fs::create_directories(folder, ec);
        const fs::path to = numbered(folder / from.filename());
        fs::rename(from, to, ec);
        if (ec) continue;  // stays where it was restored
        left.insert(from.parent_path());
        f.path = to.lexically_relative(req_.target);
    }
    // Folders made for the files and now empty go, deepest first; a folder
    // that holds anything stays (the target may have held files of its own).
    std::set<fs::path, std::greater<>> emptied;
    for (fs::path p : left)
        for (; p != req_.target && p.string().size() > req_.target.string().size(); p = p.parent_path()) emptied.insert(p);
    for (const fs::path& p : emptied) {
        std::error_code ec;
        if (fs::is_directory(p, ec) && fs::is_empty(p, ec)) fs::remove(p, ec);
    }
}

std::optional<RecoverReport> RecoverCommand::run() {
    const auto started = std::chrono::steady_clock::now();
    const std::string title = LoadStr(0, "Recover everything");
    std::error_code ec;
    if (OnScannedMedium(req_.target, {req_.source, 0})) {
        ui_.message(LoadStr(0, "You are trying to save to the disk recovered from.") + "\n" +
                        LoadStr(0, "Please select another drive or disk."),
                    title, {shell::Buttons::OK, shell::Icon::Exclamation});
        return std::nullopt;
    }
    fs::create_directories(req_.target, ec);
    if (!fs::is_directory(req_.target, ec)) {
        ui_.message(FormatStr(LoadStr(0, "The folder %0 cannot be made: %1"), {req_.target.string(), ec.message()}), title,
                    {shell::Buttons::OK, shell::Icon::Exclamation});
        return std::nullopt;
    }
    RecoverReport report;
    report.medium = req_.source;
    bool fileSystemRead = false;
    restoreListed(report, fileSystemRead);
    if (!report.stopped) carve(report, fileSystemRead);
    if (req_.layout == RecoverRequest::Layout::Date) layOutByDate(report);
    if (report.stopped) report.notes.push_back(LoadStr(0, "Stopped by the user: what was recovered until then is kept."));
    report.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    ui_.progress(1.0, {});
    return report;
}

}  // namespace hx::output
