#include "viewing/FoundFileRemoval.h"

#include "platform/Trash.h"
#include "shell/Strings.h"
#include "viewing/ThumbnailFiles.h"

namespace hx::viewing {

namespace fs = std::filesystem;
using shell::LoadStr;

bool HasThumbnailFile(const fs::path& thumbsFolder, const std::string& name) {
    std::error_code ec;
    return !name.empty() && fs::exists(thumbsFolder / ThumbnailFileName(name), ec);
}

bool RemoveFoundFile(const fs::path& folder, const fs::path& thumbsFolder, const std::string& name,
                     std::string* error) {
    std::error_code ec;
    const fs::path file = folder / name;
    if (fs::symlink_status(file, ec).type() != fs::file_type::not_found &&
        !platform::MoveToTrash(file, error))
        return false;
    // The thumbnail follows its file; one left behind is only a small picture.
    if (HasThumbnailFile(thumbsFolder, name)) platform::MoveToTrash(thumbsFolder / ThumbnailFileName(name));
    return true;
}

std::vector<std::size_t> CmdRemoveFoundFiles(shell::Ui& ui, const fs::path& folder, const fs::path& thumbsFolder,
                                             const std::vector<std::string>& names,
                                             const std::vector<bool>& selected) {
    const std::string title = LoadStr(0, "Remove");
    const shell::MessageOptions ask{shell::Buttons::YesNo, shell::Icon::Critical};
    std::vector<bool> chosen(names.size(), false);
    if (ui.message(LoadStr(0, "Move all selected files to the Trash?"), title, ask) == shell::Answer::Yes) {
        for (std::size_t i = 0; i < names.size() && i < selected.size(); ++i) chosen[i] = selected[i];
    } else if (ui.message(LoadStr(0, "Move all files without a thumbnail to the Trash?"), title, ask) ==
               shell::Answer::Yes) {
        for (std::size_t i = 0; i < names.size(); ++i) chosen[i] = !HasThumbnailFile(thumbsFolder, names[i]);
    } else {
        return {};
    }
    std::vector<std::size_t> removed;
    std::string failed, reason;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (!chosen[i] || names[i].empty()) continue;
        std::string error;
        if (RemoveFoundFile(folder, thumbsFolder, names[i], &error)) {
            removed.push_back(i);
        } else {
            failed += "\n" + names[i];
            if (reason.empty()) reason = error;
        }
        ui.yield();
    }
    if (!failed.empty())
        ui.message(LoadStr(0, "These files could not be moved to the trash and stay in the list:") + failed +
                       (reason.empty() ? "" : "\n\n" + reason),
                   title, {shell::Buttons::OK, shell::Icon::Exclamation});
    return removed;
}

}  // namespace hx::viewing
