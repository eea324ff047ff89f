#pragma once
// The settings store on INI files, for the command line. Store A has one file
// per root (no file: the root cannot be used); store B is one more file,
// keyed application/section/key. The default paths are the ones QSettings
// uses for organisation "Morvenick", so the window reads the same settings:
//   local machine  $XDG_CONFIG_DIRS (first) or /etc/xdg  /Morvenick/Harvestrix.conf
//   current user   $XDG_CONFIG_HOME or ~/.config        /Morvenick/Harvestrix.conf
//   store B        $XDG_CONFIG_HOME or ~/.config        /Morvenick/AppSettings.conf
// A call reads the file again only when it was saved since (by this program
// or another); every write saves it at once.
#include <filesystem>
#include <map>

#include "platform/DirectoryEntry.h"
#include "shell/IniFile.h"

#include "shell/SettingsStore.h"

namespace hx::shell {

struct IniStorePaths {
    std::filesystem::path localMachine, users, currentUser, appSettings;
};

IniStorePaths DefaultIniStorePaths();

class IniSettingsStore : public SettingsStore {
public:
    explicit IniSettingsStore(IniStorePaths paths);

    std::string ReadRegValue(RegRoot root, const std::string& keyPath, const std::string& name) override;
    bool WriteRegValue(RegRoot root, const std::string& keyPath, const std::string& name,
                       const std::string& value) override;
    bool DeleteRegKey(RegRoot root, const std::string& keyPath, const std::string& subkey) override;
    bool CreateRegKey(RegRoot root, const std::string& keyPath) override;
    std::string GetSetting(const std::string& app, const std::string& section, const std::string& key,
                           const std::string& defaultValue = {}) override;
    void SaveSetting(const std::string& app, const std::string& section, const std::string& key,
                     const std::string& value) override;

    void BeginBatch() override;
    bool EndBatch() override;

    const IniStorePaths& paths() const { return paths_; }

private:
    const std::filesystem::path& fileOf(RegRoot root) const;
    // The file's contents: held during a batch, read again when it changed otherwise. Null when unreadable.
    const IniFile* parsed(const std::filesystem::path& file);
    // The same to change: what a batch holds, otherwise a copy in `scratch`.
    IniFile* contents(const std::filesystem::path& file, IniFile& scratch);
    bool store(const std::filesystem::path& file, IniFile& ini);

    IniStorePaths paths_;
    bool inBatch_ = false;
    std::map<std::filesystem::path, IniFile> held_;
    struct Read {
        platform::EntryFacts version;
        IniFile ini;
    };
    std::map<std::filesystem::path, Read> read_;  // as last read, outside a batch
};

// "Software\\Morvenick\\Harvestrix" + "TCache" -> "Software/Morvenick/Harvestrix/TCache".
std::string RegKeyToSettingsKey(const std::string& keyPath, const std::string& name = {});

}  // namespace hx::shell
