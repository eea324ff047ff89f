#include "shell/IniSettingsStore.h"

#include <cstdlib>
#include <fstream>

#include "shell/IniFile.h"

namespace hx::shell {

namespace fs = std::filesystem;

namespace {

fs::path userConfigHome() {
    if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x) return x;
    const char* home = std::getenv("HOME");
    return fs::path(home && *home ? home : "/tmp") / ".config";
}

fs::path systemConfigDir() {
    if (const char* x = std::getenv("XDG_CONFIG_DIRS"); x && *x) {
        std::string first(x);
        first = first.substr(0, first.find(':'));
        if (!first.empty()) return first;
    }
    return "/etc/xdg";
}

// Can we write this file (making its folder)? Leaves no trace when the file did not exist.
bool writable(const fs::path& file) {
    if (file.empty()) return false;
    std::error_code ec;
    fs::create_directories(file.parent_path(), ec);
    const bool existed = fs::exists(file, ec);
    {
        std::ofstream probe(file, std::ios::binary | std::ios::app);
        if (!probe) return false;
    }
    if (!existed) fs::remove(file, ec);
    return true;
}

}  // namespace

IniStorePaths DefaultIniStorePaths() {
    IniStorePaths p;
    p.localMachine = systemConfigDir() / "Morvenick" / "Harvestrix.conf";
    p.currentUser = userConfigHome() / "Morvenick" / "Harvestrix.conf";
    p.appSettings = userConfigHome() / "Morvenick" / "AppSettings.conf";
    return p;  // no "users" root on this platform
}

std::string RegKeyToSettingsKey(const std::string& keyPath, const std::string& name) {
    std::string key = keyPath;
    for (auto& c : key)
        if (c == '\\') c = '/';
    while (!key.empty() && key.back() == '/') key.pop_back();
    if (!name.empty()) key += (key.empty() ? "" : "/") + name;
    return key;
}

IniSettingsStore::IniSettingsStore(IniStorePaths paths) : paths_(std::move(paths)) {}

const fs::path& IniSettingsStore::fileOf(RegRoot root) const {
    switch (root) {
        case RegRoot::LocalMachine: return paths_.localMachine;
        case RegRoot::Users: return paths_.users;
        case RegRoot::CurrentUser: break;
    }
    return paths_.currentUser;
}

std::string IniSettingsStore::ReadRegValue(RegRoot root, const std::string& keyPath, const std::string& name) {
    IniFile ini;
    if (fileOf(root).empty() || !ini.load(fileOf(root))) return {};
    return ini.value(RegKeyToSettingsKey(keyPath, name)).value_or("");
}

bool IniSettingsStore::WriteRegValue(RegRoot root, const std::string& keyPath, const std::string& name,
                                     const std::string& value) {
    IniFile ini;
    if (fileOf(root).empty() || !ini.load(fileOf(root))) return false;
    ini.setValue(RegKeyToSettingsKey(keyPath, name), value);
    return ini.save(fileOf(root));
}

bool IniSettingsStore::DeleteRegKey(RegRoot root, const std::string& keyPath, const std::string& subkey) {
    IniFile ini;
    if (fileOf(root).empty() || !ini.load(fileOf(root))) return false;
    if (!ini.remove(RegKeyToSettingsKey(keyPath, subkey))) return false;
    return ini.save(fileOf(root));
}

bool IniSettingsStore::CreateRegKey(RegRoot root, const std::string&) {
    // An INI file has no empty keys: a key "exists" as soon as a value is written.
    return writable(fileOf(root));
}

std::string IniSettingsStore::GetSetting(const std::string& app, const std::string& section,
                                         const std::string& key, const std::string& defaultValue) {
    IniFile ini;
    if (!ini.load(paths_.appSettings)) return defaultValue;
    return ini.value(app + "/" + section + "/" + key).value_or(defaultValue);
}

void IniSettingsStore::SaveSetting(const std::string& app, const std::string& section, const std::string& key,
                                   const std::string& value) {
    IniFile ini;
    if (!ini.load(paths_.appSettings)) return;
    ini.setValue(app + "/" + section + "/" + key, value);
    ini.save(paths_.appSettings);
}

}  // namespace hx::shell
