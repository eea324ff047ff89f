#include "viewing/OpenFile.h"

#include "platform/DesktopApps.h"
#include "shell/Strings.h"
#include "shell/Text.h"

namespace hx::viewing {

namespace fs = std::filesystem;
using shell::LoadStr;

OpenOutcome OpenWithApplication(shell::Ui& ui, const fs::path& file, const FileOpeners& openers) {
    if (shell::ContainsNoCase(file.string(), ".exe") || platform::IsProgramFile(file)) {
        ui.status(shell::FormatStr(LoadStr(0, "%0 is a program: Harvestrix never starts programs found on a medium."),
                                   {file.filename().string()}));
        return OpenOutcome::Refused;
    }
    std::error_code ec;
    const auto size = fs::file_size(file, ec);
    if (ec || size == 0) {
        ui.status(LoadStr(0, "File has no file length."));
        return OpenOutcome::Empty;
    }
    const std::string app = openers.application ? openers.application(file) : std::string();
    if (!app.empty()) return openers.open && openers.open(file) ? OpenOutcome::Opened : OpenOutcome::Failed;
    if (ui.message(LoadStr(0, "Associate an application?"), LoadStr(0, "Open File"),
                   {shell::Buttons::YesNo, shell::Icon::Question}) != shell::Answer::Yes)
        return OpenOutcome::NoApplication;
    if (openers.properties) openers.properties(file);
    return OpenOutcome::PropertiesShown;
}

}  // namespace hx::viewing
