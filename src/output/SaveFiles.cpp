#include "output/SaveFiles.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <set>
#include <vector>

#include "formats/PhotoTail.h"
#include "output/DateLayout.h"
#include "platform/RawFile.h"
#include "platform/FileMove.h"
#include "platform/RestoreName.h"
#include "shell/Strings.h"
#include "shell/Text.h"

namespace hx::output {

namespace fs = std::filesystem;
using platform::NextFreeRestoreName;
using platform::RestoreFileName;
using shell::Answer;
using shell::Buttons;
using shell::FormatStr;
using shell::Icon;
using shell::LoadStr;

namespace {

std::string slashed(const fs::path& p) {
    std::string s = p.string();
    if (s.empty() || s.back() != '/') s += '/';
    return s;
}

// A name the target cannot hold, made plain: what FAT and exFAT refuse becomes "_".
std::string plainName(const std::string& name) {
    std::string out = name;
    for (char& c : out)
        if (std::string_view("\\:*?\"<>|").find(c) != std::string_view::npos || static_cast<unsigned char>(c) < 0x20)
            c = '_';
    return out;
}

}  // namespace

fs::path SaveAsName(const fs::path& typed, const std::string& foundExtension) {
    if (foundExtension.empty()) return typed;
    const std::string ext = typed.extension().string();
    if (ext.empty()) return typed.string() + foundExtension;
    if (shell::ToLower(ext) == shell::ToLower(foundExtension)) return typed;
    fs::path out = typed;
    out.replace_extension(foundExtension);
    return out;
}

SaveCommand::SaveCommand(shell::Ui& ui, SaveRequest request) : ui_(ui), req_(std::move(request)) {}

std::string SaveCommand::title(int id, const char* text) const { return LoadStr(id, text) + "  " + req_.productName; }

void SaveCommand::WarnSourceDisk() {
    ui_.message(LoadStr(0, "You are trying to save to the disk recovered from.") + "\n" +
                    LoadStr(0, "This would severely limit further recovering.") + "\n" +
                    LoadStr(0, "Please select another drive or disk."),
                title(1404, "Checks"), {Buttons::OK, Icon::Exclamation});
}

bool SaveCommand::ChooseSaveFolder(const std::string& chooserTitle) {
    if (!req_.presetFolder.empty()) {
        const fs::path folder = SaveFolderFor(req_.presetFolder);
        req_.presetFolder.clear();
        if (OnScannedMedium(folder, req_.scanned)) {
            WarnSourceDisk();
            return false;
        }
        req_.saveFolder = folder;
        return true;
    }
    for (int guard = 0; guard < 1000; ++guard) {
        const auto chosen = ui_.chooseFolder(chooserTitle, req_.saveFolder.string());
        if (!chosen || chosen->empty() || *chosen == LoadStr(24, "Cancel")) return false;
        const fs::path folder = SaveFolderFor(*chosen);
        if (OnScannedMedium(folder, req_.scanned)) {
            WarnSourceDisk();
            continue;
        }
        req_.saveFolder = folder;
        return true;
    }
    return false;
}

bool SaveCommand::askSameNames(const fs::path& folder, const std::vector<std::size_t>& rows) {
    // What becomes of them was chosen beforehand.
    if (req_.sameName != SaveRequest::SameName::Ask) return true;
    std::set<std::string> present;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        present.insert(shell::ToLower(it->path().filename().string()));
    const bool any = std::any_of(rows.begin(), rows.end(),
                                 [&](std::size_t r) { return present.count(shell::ToLower(req_.names[r])) != 0; });
    if (!any) return true;
    const std::string text = FormatStr(LoadStr(1403, "The folder %0 allready has files with the same name. "),
                                       {folder.string()}) +
                             "\n" + LoadStr(388, "When filenames are the same, you will be asked what to do.     ") +
                             "\n" + LoadStr(0, "Do you want to continue?");
    return ui_.message(text, title(394, "Save All"), {Buttons::YesNo, Icon::Question}) == Answer::Yes;
}

std::optional<fs::path> SaveCommand::targetFor(const fs::path& wanted, bool& replace, SaveOutcome& out) {
    std::error_code ec;
    replace = false;
    if (!fs::exists(wanted, ec)) return wanted;
    if (req_.sameName != SaveRequest::SameName::Ask) {
        replace = req_.sameName == SaveRequest::SameName::Replace;
        return replace ? wanted : NextFreeRestoreName(wanted);
    }
    const std::string text =
        FormatStr(LoadStr(0, "%0 already exists in the folder %1."),
                  {wanted.filename().string(), wanted.parent_path().string()}) +
        "\n" + LoadStr(0, "Yes: replace it.") + "\n" + LoadStr(0, "No: keep both; the saved file gets a number.") +
        "\n" + LoadStr(0, "Cancel: skip this file; it stays in the cache.");
    const Answer a = ui_.message(text, title(394, "Save All"), {Buttons::YesNoCancel, Icon::Question});
    if (a == Answer::Cancel) {
        ++out.skipped;
        return std::nullopt;
    }
    replace = a == Answer::Yes;
    return replace ? wanted : NextFreeRestoreName(wanted);
}

platform::MoveResult SaveCommand::moveInto(const fs::path& source, fs::path& target, bool replace) {
    const std::string& name = source.filename().string();
    const fs::path folder = target.parent_path();
    std::error_code ec;
    // A replacement arrives beside the old file first and takes its place in one step.
    const fs::path landing = replace ? fs::path(target.string() + ".hxpart") : target;
    if (replace) fs::remove(landing, ec);  // a landing left by an earlier failure
    platform::MoveResult r = platform::MoveFile(source, landing);
    if (r.error == platform::MoveError::NameRefused && !replace) {
        const fs::path plain = NextFreeRestoreName(folder / plainName(target.filename().string()));
        if (plain != target) {
            r = platform::MoveFile(source, plain);
            if (r.ok()) {
                ui_.status(FormatStr(LoadStr(0, "%0 was saved as %1: the folder does not accept its name."),
                                     {target.filename().string(), plain.filename().string()}));
                target = plain;
            }
        }
    }
    if (r.ok() && replace) {
        fs::rename(landing, target, ec);
        if (ec) {
            // The file is whole beside the old one; it is kept under its landing name.
            ui_.status(FormatStr(LoadStr(0, "%0 could not replace the file in %1; it was saved as %2."),
                                 {name, folder.string(), landing.filename().string()}));
            target = landing;
        }
    }
    return r;
}

bool SaveCommand::moveRow(std::size_t row, const fs::path& wanted, SaveOutcome& out) {
    const std::string& name = req_.names[row];
    const fs::path source = req_.cacheFolder / name;
    const fs::path folder = wanted.parent_path();
    auto tell = [&](const std::string& text) {
        ui_.message(text, title(394, "Save All"), {Buttons::OK, Icon::Exclamation});
        ++out.skipped;
    };
    std::error_code ec;
    if (!fs::is_regular_file(source, ec)) {
        tell(FormatStr(LoadStr(0, "%0 is no longer in the cache folder %1: it cannot be saved."),
                       {name, req_.cacheFolder.string()}));
        return true;
    }
    fs::create_directories(folder, ec);
    if (!fs::is_directory(folder, ec)) {
        tell(FormatStr(LoadStr(0, "The folder %1 cannot be made. %0 stays in the cache; please choose another folder."),
                       {name, folder.string()}));
        return false;
    }
    bool replace = false;
    std::optional<fs::path> target = targetFor(wanted, replace, out);
    if (!target) return true;
    const platform::MoveResult r = moveInto(source, *target, replace);
    if (r.ok()) {
        out.moved.push_back(row);
        out.targets.push_back(*target);
        if (req_.clipsBeside) writeClipBeside(*target);
        return true;
    }
    using platform::MoveError;
    switch (r.error) {
        case MoveError::SourceMissing:
            tell(FormatStr(LoadStr(0, "%0 is no longer in the cache folder %1: it cannot be saved."),
                           {name, req_.cacheFolder.string()}));
            return true;
        case MoveError::NoSpace:
            tell(FormatStr(LoadStr(0, "The folder %1 is full: %0 did not fit and stays in the cache.") + "\n" +
                               LoadStr(0, "Please free some space there or choose another folder."),
                           {name, folder.string()}));
            return false;
        case MoveError::ReadOnly:
        case MoveError::FolderMissing:
            tell(FormatStr(LoadStr(0, "The folder %1 cannot be written to (%2). %0 stays in the cache.") + "\n" +
                               LoadStr(0, "Please choose another folder."),
                           {name, folder.string(), r.detail}));
            return false;
        default:
            tell(FormatStr(LoadStr(0, "%0 could not be saved in the folder %1 (%2); it stays in the cache."),
                           {name, folder.string(), r.detail}));
            return true;
    }
}

void SaveCommand::writeClipBeside(const fs::path& photo) {
    platform::RawFile in;
    std::error_code ec;
    const std::uint64_t size = fs::file_size(photo, ec);
    if (ec || !in.open(photo, platform::RawFile::Mode::Read)) return;
    const formats::ReadAt read = [&in](std::uint64_t at, std::size_t n, std::uint8_t* out) {
        return in.readAt(at, out, n) == n;
    };
    const formats::PartsCheck parts = formats::ReadPhotoParts(read, size);
    for (const formats::PhotoPart& part : parts.parts) {
        if (part.kind != formats::PartKind::Clip) continue;
        const fs::path clip = NextFreeRestoreName(photo.parent_path() / (photo.stem().string() + ".mp4"));
        platform::RawFile out;
        bool ok = out.open(clip, platform::RawFile::Mode::Create);
        std::vector<std::uint8_t> buffer(1 << 20);
        for (std::uint64_t done = 0; ok && done < part.length;) {
            const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), part.length - done));
            ok = read(part.offset + done, n, buffer.data()) && out.writeAt(done, buffer.data(), n) == n;
            done += n;
        }
        out.close();
        if (!ok) {
            fs::remove(clip, ec);
            ui_.status(FormatStr(LoadStr(0, "The clip of %0 could not be written beside it in %1."),
                                 {photo.filename().string(), photo.parent_path().string()}));
        }
        return;
    }
}

void SaveCommand::moveRows(const std::vector<std::size_t>& rows, SaveOutcome& out) {
    std::error_code ec;
    for (std::size_t k = 0; k < rows.size(); ++k) {
        const std::size_t r = rows[k];
        // Files of no length stay in the cache.
        if (fs::file_size(req_.cacheFolder / req_.names[r], ec) == 0 && !ec) continue;
        ec.clear();
        const fs::path below = req_.byDate ? DatedFolderOf(req_.cacheFolder / req_.names[r]) : fs::path();
        if (!moveRow(r, fs::path(slashed(req_.saveFolder)) / below / req_.names[r], out)) {
            out.stopped = true;
            break;
        }
        ui_.progress(static_cast<double>(k + 1) / static_cast<double>(rows.size()), {});
        ui_.yield();
        if (ui_.stopRequested()) break;
    }
}

SaveOutcome SaveCommand::SaveAll() {
    SaveOutcome out;
    std::vector<std::size_t> rows;
    std::error_code ec;
    for (std::size_t r = 0; r < req_.names.size(); ++r)
        if (!req_.names[r].empty()) rows.push_back(r);
    if (rows.empty()) {
        ui_.message(LoadStr(621, "No recoverable files detected yet."), title(394, "Save All"), {Buttons::OK, Icon::Information});
        out.cancelled = true;
        return out;
    }
    for (;;) {
        if (!ChooseSaveFolder(LoadStr(0, "Save All. Please select a folder for saving.") + "  " + req_.productName)) {
            out.cancelled = true;
            return out;
        }
        if (askSameNames(req_.saveFolder, rows)) break;
    }
    ui_.yield();
    moveRows(rows, out);
    return out;
}

SaveOutcome SaveCommand::SaveAs(const std::vector<std::size_t>& selected) {
    SaveOutcome out;
    std::vector<std::size_t> rows;
    for (std::size_t r : selected)
        if (r < req_.names.size() && !req_.names[r].empty()) rows.push_back(r);
    if (req_.names.empty()) {
        ui_.message(LoadStr(621, "No recoverable files detected yet."), title(400, "Save"), {Buttons::OK, Icon::Information});
        out.cancelled = true;
        return out;
    }
    if (rows.empty()) {
        ui_.message(LoadStr(620, "Please select a file and try again."), title(400, "Save"), {Buttons::OK, Icon::Information});
        out.cancelled = true;
        return out;
    }
    std::error_code ec;
    if (rows.size() == 1 && req_.presetFolder.empty()) {
        const std::string& name = req_.names[rows[0]];
        for (int guard = 0; guard < 1000; ++guard) {
            const auto typed = ui_.saveFile(title(400, "Save"), {}, (req_.saveAsFolder / name).string());
            if (!typed || typed->empty()) {
                out.cancelled = true;
                return out;
            }
            const fs::path target = SaveAsName(*typed, fs::path(name).extension().string());
            if (OnScannedMedium(target.parent_path(), req_.scanned)) {
                WarnSourceDisk();
                continue;
            }
            req_.saveAsFolder = target.parent_path();
            if (fs::file_size(req_.cacheFolder / name, ec) == 0 && !ec) return out;
            out.stopped = !moveRow(rows[0], target, out);
            return out;
        }
        return out;
    }
    if (!ChooseSaveFolder(LoadStr(398, "Save Multiple   Please select a folder for saving.") + "  " + req_.productName)) {
        out.cancelled = true;
        return out;
    }
    // From the last selected row to the first, as the list removes them.
    std::sort(rows.rbegin(), rows.rend());
    moveRows(rows, out);
    return out;
}

}  // namespace hx::output
