#pragma once
// An INI file in the form QSettings writes and reads, so that the window (Qt)
// and the command line share one settings file. Keys are paths with '/'
// ("Software/Morvenick/Harvestrix/TCache"): the first part is the [section],
// the rest joined by '\'; top-level keys live in [General]. Values that
// QSettings would misread (commas, quotes, outer blanks) are quoted.
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace hx::shell {

class IniFile {
public:
    // A missing file is an empty one; false only when it exists and cannot be read.
    bool load(const std::filesystem::path& file);
    // Reads INI text; anything that is no section or key line is skipped.
    void parse(const std::string& text);
    // Written to a temporary file and renamed over the old one.
    bool save(const std::filesystem::path& file) const;

    std::optional<std::string> value(const std::string& key) const;
    void setValue(const std::string& key, const std::string& value);
    // Removes the key and every key below it; true when something went.
    bool remove(const std::string& key);
    std::vector<std::string> keys() const;

    static std::string EncodeValue(const std::string& value);
    static std::string DecodeValue(const std::string& raw);

private:
    // Raw (encoded) values by full '/' key, so values we do not know (QSettings'
    // @Variant, lists) go back to the file as they came.
    std::map<std::string, std::string> raw_;
};

}  // namespace hx::shell
