#pragma once
// What the program keeps in the settings store: the values of its own key
// (store A), the type list rows under its LVW subkey, and the named values of
// store B. CreateRegistryEntries writes them at exit, LoadSettings reads them
// at start-up.
#include <optional>
#include <string>
#include <vector>

#include "shell/SettingsStore.h"

namespace hx::shell {

constexpr const char* kBrandKey = "Software\\Morvenick";
constexpr const char* kProgramKey = "Software\\Morvenick\\Harvestrix";
constexpr int kDefaultWindowWidth = 10335;  // twips

// One value of store B.
struct AppSetting {
    const char* app;
    const char* section;
    const char* key;
};
constexpr AppSetting kRegSetting{"Morvenick", "Harvestrix", "Reg"};
constexpr AppSetting kLastCluster{"Morvenick", "Harvestrix", "LastCluster"};
constexpr AppSetting kLastStage{"Morvenick", "Harvestrix", "LastStage"};
// The medium whose read left LastCluster set: the one the damaged-media recovery asks for.
constexpr AppSetting kLastDrive{"Morvenick", "Harvestrix", "LastDrive"};
constexpr AppSetting kRVista{"XQVers", "Startup", "RVISTA"};
constexpr AppSetting kResultView{"XQVers", "Startup", "ST"};
constexpr AppSetting kVShown{"MSINFO", "Startup", "VShown"};
constexpr AppSetting kCacheBytes{"MSINFO", "Startup", "mBytes"};
// The application name is the executable's; the window and the command line share it.
constexpr AppSetting kLangId{"Harvestrix", "MultiLang", "LangId"};

std::string GetSetting(SettingsStore& store, const AppSetting& s, const std::string& defaultValue = {});
void SaveSetting(SettingsStore& store, const AppSetting& s, const std::string& value);

// A row of the file-type list: its text (the type, "JPG") and check mark.
struct TypeListRow {
    std::string text;
    bool checked = false;
};

// Store A's values, with the built-in defaults that empty values leave alone.
struct StoredSettings {
    std::string homePath;
    std::string browseFolder;   // BRD
    std::string saveAsFolder;   // LBR
    std::string saveFolder;     // LUD
    std::string imageFolder;    // BUD
    std::string tCache, oCache, o2Cache;
    long top = 0, left = 0, width = kDefaultWindowWidth, height = 0;  // MT ML MW MH, twips
    int colourScheme = 0;       // CL
    int thumbWidth = 0;         // TW (0: the window's own default)
    std::string scanDrive;      // SD
    std::string scanDriveSerial;  // SDVS
    std::string startDrive;     // DRVe
    long thumbNumber = 0;       // THnr
    long lsb = 0;               // LSB
    bool showSpecs = false;     // CHKSpec
    int typeSelection = -1;     // TypeSel; negative selects nothing
    double maxMB = 0, minMB = 0;  // LMaxMB, LMinMB; 0 = no limit
    std::string ust;            // UST, kept as it came
    std::vector<TypeListRow> typeRows;  // subkey LVW
};

// The root of store A: the one remembered in store B (Reg), or, when none is
// remembered or `clean` asks for a fresh choice, the first of local machine,
// users and current user under which the program's key can be made.
RegRoot ChooseRegistryRoot(SettingsStore& store, bool clean);

// Writes every value of store A from `s` in the fixed order (after removing
// the old key, so values no longer written disappear), then ST in store B.
// False when a value could not be written (the rest is still written).
bool CreateRegistryEntries(SettingsStore& store, RegRoot root, const StoredSettings& s,
                           const std::string& resultView);
// Reads store A; values that are empty or not numbers keep the defaults.
StoredSettings LoadSettings(SettingsStore& store, RegRoot root);

// Size limits are written as the number followed by "#" and read back with
// "#" removed and a decimal comma taken as a point.
std::string FormatSizeLimit(double mb);
double ParseSizeLimit(const std::string& text);
// The leading number of a text, as the platform's numeric parse reads it
// ("12abc" -> 12, "-3" -> -3); nullopt when it starts with none.
std::optional<double> ParseLeadingNumber(const std::string& text);

}  // namespace hx::shell
