#include "shell/SettingsStore.h"

#include <algorithm>
#include <cctype>

namespace hx::shell {

namespace {
// Registry names ignore case.
std::string fold(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    while (!s.empty() && s.back() == '\\') s.pop_back();
    return s;
}
}  // namespace

const char* RegRootName(RegRoot root) {
    switch (root) {
        case RegRoot::LocalMachine: return "HKLM";
        case RegRoot::Users: return "HKU";
        case RegRoot::CurrentUser: return "HKCU";
    }
    return "HKCU";
}

bool ParseRegRoot(const std::string& text, RegRoot& root) {
    for (RegRoot r : {RegRoot::LocalMachine, RegRoot::Users, RegRoot::CurrentUser})
        if (text == RegRootName(r)) {
            root = r;
            return true;
        }
    return false;
}

std::string MemorySettingsStore::ReadRegValue(RegRoot root, const std::string& keyPath, const std::string& name) {
    auto k = keys_.find({root, fold(keyPath)});
    if (k == keys_.end()) return {};
    auto v = k->second.values.find(fold(name));
    return v == k->second.values.end() ? std::string() : v->second;
}

bool MemorySettingsStore::WriteRegValue(RegRoot root, const std::string& keyPath, const std::string& name,
                                        const std::string& value) {
    if (!CreateRegKey(root, keyPath)) return false;
    Key& key = keys_[{root, fold(keyPath)}];
    if (!key.values.count(fold(name))) key.order.push_back(name);
    key.values[fold(name)] = value;
    return true;
}

bool MemorySettingsStore::DeleteRegKey(RegRoot root, const std::string& keyPath, const std::string& subkey) {
    if (readOnly_.count(root)) return false;
    const std::string path = fold(keyPath + "\\" + subkey);
    bool any = false;
    for (auto it = keys_.begin(); it != keys_.end();) {
        const std::string& p = it->first.second;
        if (it->first.first == root && (p == path || p.rfind(path + "\\", 0) == 0)) {
            it = keys_.erase(it);
            any = true;
        } else {
            ++it;
        }
    }
    return any;
}

bool MemorySettingsStore::CreateRegKey(RegRoot root, const std::string& keyPath) {
    if (readOnly_.count(root)) return false;
    // Every level exists afterwards, as in the registry.
    std::string path = fold(keyPath);
    for (std::size_t pos = 0; pos != std::string::npos;) {
        pos = path.find('\\', pos + 1);
        keys_[{root, path.substr(0, pos)}];
    }
    return true;
}

std::string MemorySettingsStore::GetSetting(const std::string& app, const std::string& section,
                                            const std::string& key, const std::string& defaultValue) {
    auto it = appSettings_.find(fold(app + "\\" + section + "\\" + key));
    return it == appSettings_.end() ? defaultValue : it->second;
}

void MemorySettingsStore::SaveSetting(const std::string& app, const std::string& section, const std::string& key,
                                      const std::string& value) {
    appSettings_[fold(app + "\\" + section + "\\" + key)] = value;
}

void MemorySettingsStore::setWritable(RegRoot root, bool writable) {
    if (writable) readOnly_.erase(root);
    else readOnly_.insert(root);
}

bool MemorySettingsStore::keyExists(RegRoot root, const std::string& keyPath) const {
    return keys_.count({root, fold(keyPath)}) != 0;
}

std::vector<std::string> MemorySettingsStore::valueNames(RegRoot root, const std::string& keyPath) const {
    auto k = keys_.find({root, fold(keyPath)});
    return k == keys_.end() ? std::vector<std::string>() : k->second.order;
}

}  // namespace hx::shell
