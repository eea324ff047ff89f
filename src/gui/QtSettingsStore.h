#pragma once
// The settings store of the window, on QSettings: store A in the system scope
// ("local machine", /etc/xdg/Morvenick/Harvestrix.conf) when that can be
// written, else in the user scope (~/.config/Morvenick/Harvestrix.conf);
// store B in ~/.config/Morvenick/AppSettings.conf. The command line's
// IniSettingsStore reads and writes the same files.
#include <QSettings>
#include <QString>
#include <memory>

#include "shell/SettingsStore.h"

namespace hx::gui {

class QtSettingsStore : public shell::SettingsStore {
public:
    // The standard locations.
    QtSettingsStore();
    // INI files at given paths (tests); an empty path leaves that root out.
    QtSettingsStore(const QString& localMachineFile, const QString& currentUserFile, const QString& appSettingsFile);

    std::string ReadRegValue(shell::RegRoot root, const std::string& keyPath, const std::string& name) override;
    bool WriteRegValue(shell::RegRoot root, const std::string& keyPath, const std::string& name,
                       const std::string& value) override;
    bool DeleteRegKey(shell::RegRoot root, const std::string& keyPath, const std::string& subkey) override;
    bool CreateRegKey(shell::RegRoot root, const std::string& keyPath) override;
    std::string GetSetting(const std::string& app, const std::string& section, const std::string& key,
                           const std::string& defaultValue = {}) override;
    void SaveSetting(const std::string& app, const std::string& section, const std::string& key,
                     const std::string& value) override;

    void BeginBatch() override { inBatch_ = true; }
    bool EndBatch() override;

private:
    // Writes the file unless a batch holds it back.
    bool commit(QSettings& s);
    bool inBatch_ = false;
    QSettings* settingsOf(shell::RegRoot root) const;
    QSettings* writableOf(shell::RegRoot root) const;
    std::unique_ptr<QSettings> machine_, user_, app_;
};

}  // namespace hx::gui
