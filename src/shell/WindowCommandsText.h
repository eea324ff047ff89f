#pragma once
// The main window's fixed texts: captions, tooltips, list entries, column
// headers and the start page, each with its string id and English wording.
// Both the window and its tests read them from here, so a caption can be
// checked against the string table in every language.
#include <string>
#include <vector>

#include "shell/Ui.h"

namespace hx::shell {

struct ControlText {
    std::string control;  // object name of the control; "frmRecover" for the window title
    int id;
    std::string english;
};

struct EntryText {
    int id;
    std::string english;
};

// Captions that SetCaptions puts on the window's controls.
const std::vector<ControlText>& WindowCaptions();
// Tooltips of the commands (Drive1 and CmbTypeSelect have their own rules below).
const std::vector<ControlText>& WindowTooltips();

const std::vector<EntryText>& TypePresetEntries();  // CmbTypeSelect, in order
const std::vector<EntryText>& ColourEntries();      // ListColors
const std::vector<EntryText>& FilterEntries();      // ListFilters
const std::vector<EntryText>& TypeListHeaders();    // LvwTypes columns

// Localised texts in their final form.
std::string LocalCaption(const std::string& control);  // empty for a control without a caption
std::string Drive1Tooltip();
// "Limited file size: 1.5-25 MB" while a maximum is set, else "Select File Types".
std::string TypeSelectTooltip(double minMB, double maxMB);
std::string StartPageTitle();
std::vector<std::string> StartPageLines();
std::string StartPageHelp();

// Size in MB as the window shows it: no trailing zeros ("1.5", "25").
std::string FormatMB(double mb);

// The size limits typed in their input box: "1.5-25" (a comma counts as a
// point), "0" for none. Empty leaves them; text without "-" is asked again;
// numbers that do not read leave them as they were.
enum class SizeLimitAnswer { Unchanged, AskAgain, Set };
SizeLimitAnswer ParseSizeLimits(const std::string& answer, double& minMB, double& maxMB);
// The CmbTypeSelect entry that asks for them ("... file size ...").
std::string SizeLimitEntry(double minMB, double maxMB);
// Asks for the limits until answered; true when they were set.
bool AskSizeLimits(Ui& ui, double& minMB, double& maxMB);
// "Limited: file size 1.5-25 MB", or "File sizes: unlimited".
std::string SizeLimitStatus(double minMB, double maxMB);

}  // namespace hx::shell
