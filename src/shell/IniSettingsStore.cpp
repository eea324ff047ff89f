#include "shell/IniSettingsStore.h"

#include <cstdlib>
#include <fstream>


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

const IniFile* IniSettingsStore::parsed(const fs::path& file) {
    if (file.empty()) return nullptr;
    if (inBatch_) {
        auto it = held_.find(file);
        if (it != held_.end()) return &it->second;
        IniFile loaded;
        if (!loaded.load(file)) return nullptr;
        return &(held_[file] = std::move(loaded));
    }
    // A command asks for a hundred values as it starts: the file is parsed
    // once, and again only when its version changed.
    const platform::EntryFacts now = platform::EntryOf(file);
    auto it = read_.find(file);
    if (it == read_.end() || !it->second.version.sameVersion(now)) {
        IniFile loaded;
        if (!loaded.load(file)) {
            read_.erase(file);
            return nullptr;
        }
        it = read_.insert_or_assign(file, Read{now, std::move(loaded)}).first;
    }
    return &it->second.ini;
}

IniFile* IniSettingsStore::contents(const fs::path& file, IniFile& scratch) {
    const IniFile* ini = parsed(file);
    if (!ini || inBatch_) return const_cast<IniFile*>(ini);  // a batch changes what it holds
    scratch = *ini;
    return &scratch;
}

bool IniSettingsStore::store(const fs::path& file, IniFile& ini) {
    if (inBatch_) return true;
    read_.erase(file);
    return ini.save(file);
}

void IniSettingsStore::BeginBatch() {
    inBatch_ = true;
    held_.clear();
}

bool IniSettingsStore::EndBatch() {
    bool ok = true;
    for (auto& [file, ini] : held_) ok = ini.save(file) && ok;
    held_.clear();
    inBatch_ = false;
    return ok;
}

std::string IniSettingsStore::ReadRegValue(RegRoot root, const std::string& keyPath, const std::string& name) {
    const std::string key = RegKeyToSettingsKey(keyPath, name);
    if (const IniFile* ini = parsed(fileOf(root)))
        if (auto v = ini->value(key)) return *v;
    // What the user has not set, the machine's defaults may say.
    if (root != RegRoot::CurrentUser) return {};
    const IniFile* defaults = parsed(paths_.localMachine);
    return defaults ? defaults->value(key).value_or("") : std::string();
}

bool IniSettingsStore::WriteRegValue(RegRoot root, const std::string& keyPath, const std::string& name,
                                     const std::string& value) {
    if (root == RegRoot::LocalMachine) return false;  // read for defaults, never written
    IniFile scratch;
    IniFile* ini = contents(fileOf(root), scratch);
    if (!ini) return false;
    const std::string key = RegKeyToSettingsKey(keyPath, name);
    if (ini->value(key) == value) return true;  // saved as it stands already
    ini->setValue(key, value);
    return store(fileOf(root), *ini);
}

bool IniSettingsStore::DeleteRegKey(RegRoot root, const std::string& keyPath, const std::string& subkey) {
    if (root == RegRoot::LocalMachine) return false;
    IniFile scratch;
    IniFile* ini = contents(fileOf(root), scratch);
    if (!ini || !ini->remove(RegKeyToSettingsKey(keyPath, subkey))) return false;
    return store(fileOf(root), *ini);
}

bool IniSettingsStore::CreateRegKey(RegRoot root, const std::string&) {
    // An INI file has no empty keys: a key "exists" as soon as a value is
    // written. The machine-wide file is never written, not even by root.
    return root != RegRoot::LocalMachine && writable(fileOf(root));
}

std::string IniSettingsStore::GetSetting(const std::string& app, const std::string& section,
                                         const std::string& key, const std::string& defaultValue) {
    const IniFile* ini = parsed(paths_.appSettings);
    return ini ? ini->value(app + "/" + section + "/" + key).value_or(defaultValue) : defaultValue;
}

void IniSettingsStore::SaveSetting(const std::string& app, const std::string& section, const std::string& key,
                                   const std::string& value) {
    IniFile scratch;
    IniFile* ini = contents(paths_.appSettings, scratch);
    const std::string full = app + "/" + section + "/" + key;
    if (!ini || ini->value(full) == value) return;
    ini->setValue(full, value);
    store(paths_.appSettings, *ini);
}

}  // namespace hx::shell
