#pragma once
// Where the program remembers things between runs. Store A is the program's
// own key (Software\Morvenick\Harvestrix) under one of three roots; store B is
// the per-user application-settings store (application, section, key). All
// values are text. Implementations: MemorySettingsStore (tests), the INI files
// of IniSettingsStore (the command line) and QtSettingsStore (the window).
// Every read and write goes on after an error: a value that cannot be read
// reads as empty, one that cannot be written is lost.
#include <map>
#include <set>
#include <vector>
#include <string>

namespace hx::shell {

enum class RegRoot { LocalMachine, Users, CurrentUser };

// "HKLM", "HKU", "HKCU"; and back (false for anything else).
const char* RegRootName(RegRoot root);
bool ParseRegRoot(const std::string& text, RegRoot& root);

class SettingsStore {
public:
    virtual ~SettingsStore() = default;

    // Store A. Key paths use backslashes: "Software\\Morvenick\\Harvestrix".
    virtual std::string ReadRegValue(RegRoot root, const std::string& keyPath, const std::string& name) = 0;
    // Creates the key when missing.
    virtual bool WriteRegValue(RegRoot root, const std::string& keyPath, const std::string& name,
                               const std::string& value) = 0;
    // Removes keyPath\subkey with everything below it.
    virtual bool DeleteRegKey(RegRoot root, const std::string& keyPath, const std::string& subkey) = 0;
    // True when the key exists or could be made: the test of whether a root is usable.
    virtual bool CreateRegKey(RegRoot root, const std::string& keyPath) = 0;

    // Store B.
    virtual std::string GetSetting(const std::string& app, const std::string& section, const std::string& key,
                                   const std::string& defaultValue = {}) = 0;
    virtual void SaveSetting(const std::string& app, const std::string& section, const std::string& key,
                             const std::string& value) = 0;

    // Many writes in a row (the exit's full save): a file-backed store may
    // hold them and write once at EndBatch, which says whether that worked.
    virtual void BeginBatch() {}
    virtual bool EndBatch() { return true; }
};

// Everything in memory. A root can be made read-only to play a machine
// where the local-machine key is out of reach.
class MemorySettingsStore : public SettingsStore {
public:
    std::string ReadRegValue(RegRoot root, const std::string& keyPath, const std::string& name) override;
    bool WriteRegValue(RegRoot root, const std::string& keyPath, const std::string& name,
                       const std::string& value) override;
    bool DeleteRegKey(RegRoot root, const std::string& keyPath, const std::string& subkey) override;
    bool CreateRegKey(RegRoot root, const std::string& keyPath) override;
    std::string GetSetting(const std::string& app, const std::string& section, const std::string& key,
                           const std::string& defaultValue = {}) override;
    void SaveSetting(const std::string& app, const std::string& section, const std::string& key,
                     const std::string& value) override;

    void setWritable(RegRoot root, bool writable);
    bool keyExists(RegRoot root, const std::string& keyPath) const;
    // Value names of a key in the order they were first written.
    std::vector<std::string> valueNames(RegRoot root, const std::string& keyPath) const;

private:
    struct Key {
        std::map<std::string, std::string> values;  // by lower-case name
        std::vector<std::string> order;
    };
    std::map<std::pair<RegRoot, std::string>, Key> keys_;  // by lower-case path
    std::set<RegRoot> readOnly_;
    std::map<std::string, std::string> appSettings_;
};

}  // namespace hx::shell
