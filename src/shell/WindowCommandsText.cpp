#include "shell/WindowCommandsText.h"

#include <cstdio>

#include "shell/Strings.h"
#include "shell/Text.h"

namespace hx::shell {

const std::vector<ControlText>& WindowCaptions() {
    static const std::vector<ControlText> captions = {
        {"frmRecover", 31, "Harvestrix"},
        {"ChkDamaged", 50, "Damaged"},
        {"ChkDeep", 33, "DeepScan"},
        {"CmdBackup", 48, "Backup Medium"},
        {"CmdBrowse", 1531, "Browse"},
        {"CmdEnd", 40, "End"},
        {"CmdLearn", 42, "QX Adaptive"},
        {"CmdMaxSpeed", 39, "Test Speed"},
        {"CmdOpen", 41, "Open With"},
        {"CmdQuickUndelete", 45, "Quick Undelete"},
        {"CmdRecoverAll", 0, "Recover everything…"},
        {"ChkIncludePresent", 0, "Live files too"},
        {"ChkByDate", 0, "By date"},
        {"CmdRenderWidth", 47, "Render Width     "},
        {"CmdSaveAll", 44, "Save All"},
        {"CmdSaveAs", 43, "Save Selected"},
        {"CmdScan", 1652, "Scan"},
        {"CmdScanBackup", 49, "Scan Backup"},
        {"CmdShowFolder", 36, "Explore Cache"},
        {"CmdShowScanTypes", 46, "SearchTypes"},
        {"CmdShowThumbs", 37, "Thumbs"},
        {"lblAbout", 55, "About"},
        {"lblHelp", 53, "Help"},
        {"lblStatus", 51, "Status"},
        {"txtExif", 32, "ExifInfo\n"},
        {"txtSpecs", 52, "Specifications"},
    };
    return captions;
}

const std::vector<ControlText>& WindowTooltips() {
    static const std::vector<ControlText> tips = {
        {"CmdSaveAll", 853, "Save all files to a folder of choice."},
        {"CmdSaveAs", 854, "Save selected files with a Save As dialog."},
        {"CmdOpen", 855, "Open the file with the associated program."},
        {"CmdEnd", 856, "End Harvestrix."},
        {"CmdMaxSpeed", 857, "Measure the read speed of the medium given the system."},
        {"CmdQuickUndelete", 858, "Search for deleted files only."},
        {"CmdRecoverAll", 0, "Undelete, carve the free space and keep each file once, with a report, into a folder of choice."},
        {"ChkIncludePresent", 0, "Recover everything copies the files still on the medium too: a failing card emptied in one go."},
        {"ChkByDate", 0, "Recover everything and Save All put each file in a folder of the day it was taken (YYYY/YYYY-MM-DD); without, as they were found."},
        {"CmdScan", 859, "Scan the whole medium for files using the scan types list."},
        {"CmdShowFolder", 860, "Show the saved files or the temporary cache."},
        {"CmdShowThumbs", 861, "Toggle showing thumbs or list."},
        {"CmdLearn", 862, "Learn, adapt and add new file types."},
        {"TxtWidth", 863, "Thumbnail rendering width."},
        {"CmdRenderWidth", 864, "Render thumbs at width."},
        {"CmdShowScanTypes", 865, "Toggle viewing the scan types list."},
        {"ChkDeep", 866, "Check & right click for 'Damaged Scan'. Use DeepScan if partial results after reformatting."},
        {"CmdBackup", 867, "Make an image of the medium contents."},
        {"CmdScanBackup", 868, "Scan a backup file."},
        {"CmdBrowse", 869, "Browse directories for pictures."},
        {"lblHelp", 411, "Manual"},
    };
    return tips;
}

const std::vector<EntryText>& TypePresetEntries() {
    static const std::vector<EntryText> entries = {
        {1631, "All camera's"},      {1630, "All data types"},     {1629, "All movie types"},
        {1632, "All picture types"}, {225, "All raw types"},       {1533, "All sound types"},
        {1534, "All types possible"}, {220, "Unlisted camera"},    {1708, "Deselect"},
        {0, "Phone"},
    };
    return entries;
}

const std::vector<EntryText>& ColourEntries() {
    static const std::vector<EntryText> entries = {
        {1495, "Hide Me"}, {1498, "Layout Dark"}, {1499, "Layout Light"}, {1707, "System Theme"}};
    return entries;
}

const std::vector<EntryText>& FilterEntries() {
    static const std::vector<EntryText> entries = {
        {1495, "Hide Me"},     {1501, "File Info"},      {1502, "Rotate 90  CW"}, {1503, "Rotate 90CCW"},
        {1504, "Rotate 180"},  {1409, "Reset Rotation"}, {1328, "Unsharp"},       {428, "Focus"},
        {1329, "Sharpen"},     {1330, "SharpenMore"},    {1408, "Reset Filter"},
    };
    return entries;
}

const std::vector<EntryText>& TypeListHeaders() {
    static const std::vector<EntryText> entries = {
        {56, "Type"},   {57, "Description"}, {58, "Origin"}, {59, "Reliable"},    {60, "Header"},
        {61, "Floating"}, {62, "Footer"},    {63, "Fixed"},  {64, "Analized #"},
    };
    return entries;
}

std::string LocalCaption(const std::string& control) {
    for (const auto& c : WindowCaptions())
        if (c.control == control) return LoadStr(c.id, c.english);
    return {};
}

std::string Drive1Tooltip() {
    return LoadStr(870, "Select the drive to be recovered from.") + "\n" +
           "Use a card reader to read data directly if the desired drive is not listed here.";
}

std::string FormatMB(double mb) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.3f", mb);
    std::string s = buf;
    while (!s.empty() && s.back() == '0') s.pop_back();
    if (!s.empty() && s.back() == '.') s.pop_back();
    return s;
}

SizeLimitAnswer ParseSizeLimits(const std::string& answer, double& minMB, double& maxMB) {
    std::string text = Trim(answer);
    if (text.empty()) return SizeLimitAnswer::Unchanged;
    if (text == "0") text = "0-0";
    const auto dash = text.find('-');
    if (dash == std::string::npos) return SizeLimitAnswer::AskAgain;
    auto number = [](std::string part, double& out) {
        part = Trim(part);
        for (char& c : part)
            if (c == ',') c = '.';
        if (part.empty() || part.size() > 20 || part.find_first_not_of("0123456789.") != std::string::npos ||
            part.find('.') != part.rfind('.'))
            return false;
        out = std::stod(part);
        return true;
    };
    double low = 0, high = 0;
    if (!number(text.substr(0, dash), low) || !number(text.substr(dash + 1), high)) return SizeLimitAnswer::Unchanged;
    minMB = low;
    maxMB = high;
    return SizeLimitAnswer::Set;
}

std::string SizeLimitEntry(double minMB, double maxMB) {
    return maxMB > 0 ? "Limited file size: " + FormatMB(minMB) + "-" + FormatMB(maxMB) + " MB"
                     : LoadStr(0, "Limit the file size...");
}

bool AskSizeLimits(Ui& ui, double& minMB, double& maxMB) {
    const std::string prompt = LoadStr(0, "Scan for files with .. to .. MB file length only.") + "\n" +
                               LoadStr(0, "Use limitations if scanning a hard disk,") + "\n" +
                               LoadStr(0, "unlimited for scanning removable media.") + "\n" +
                               LoadStr(0, "e.g. enter: 1.5-25 for 1.5-25 MB") + "\n" +
                               LoadStr(0, "   or enter: 0 or 0-0 for unlimited.");
    for (int asked = 0; asked < 100; ++asked) {
        const auto answer = ui.input(prompt, LoadStr(31, "Harvestrix") + " Scan", FormatMB(minMB) + "-" + FormatMB(maxMB));
        if (!answer) return false;
        switch (ParseSizeLimits(*answer, minMB, maxMB)) {
            case SizeLimitAnswer::Unchanged: return false;
            case SizeLimitAnswer::Set: return true;
            case SizeLimitAnswer::AskAgain: break;
        }
    }
    return false;
}

std::string SizeLimitStatus(double minMB, double maxMB) {
    return maxMB > 0 ? FormatStr(LoadStr(0, "Limited: file size %0-%1 MB"), {FormatMB(minMB), FormatMB(maxMB)})
                     : LoadStr(0, "File sizes: unlimited");
}

std::string TypeSelectTooltip(double minMB, double maxMB) {
    if (maxMB > 0) return "Limited file size: " + FormatMB(minMB) + "-" + FormatMB(maxMB) + " MB";
    return LoadStr(434, "Select File Types");
}

std::string StartPageTitle() { return LoadStr(1454, "Get Started"); }

std::vector<std::string> StartPageLines() {
    static const EntryText lines[] = {
        {1455, "Connect your media to the computer."},
        {1456, "Harvestrix will detect your removable medium automatically."},
        {1457, "Choose another drive if the desired drive is another one."},
        {1458, "There are two choices for recovering with different results:"},
        {1459, "'Quick Undelete' searches directories for deleted files."},
        {1460, "'Scan' performs a thorough scan of the whole medium."},
        {1461, "The 'SearchTypes' are used for file types to be recovered."},
        {1462, "Press the \xE2\x80\x98SearchTypes\xE2\x80\x99 button and check the wanted and uncheck the"},
        {1463, "unwanted file types with a mouse click in the check boxes."},
        {1464, "Check 'Deepscan' if the medium is reformatted with another format."},
        {1465, "Press \xE2\x80\x98Scan\xE2\x80\x99 and Harvestrix starts scanning the whole medium."},
        {1466, "At the bottom of the screen, you will see the results while scanning."},
        {1467, "When scanning is finished, press \xE2\x80\x98Save All\xE2\x80\x99 for saving all recovered"},
        {1468, "files to a folder of your choice.              Press Help for troubleshooting."},
    };
    std::vector<std::string> out;
    for (const auto& l : lines) out.push_back(LoadStr(l.id, l.english));
    return out;
}

std::string StartPageHelp() { return LoadStr(873, "Press Help for the manual."); }

}  // namespace hx::shell
