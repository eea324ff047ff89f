#include "shell/Strings.h"

#include "shell/AddedStrings.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <map>
#include <memory>
#include <utility>

#include "shell/StringTable.h"
#include "shell/Text.h"

// Harvestrix.res, the optional replacement of the built-in table:
//
//   HXRES 1                      first line, the format and its version
//   # comment                    lines starting with '#' and blank lines are skipped
//   [1043]                       starts the block of a language id
//   1406=Schijf %0 is niet gereed.
//
// One "id=text" line per string, UTF-8. The text is everything after the
// first '=', spaces included; "\n", "\t" and "\\" are the only escapes.
// An id listed twice in a block keeps its last text.

namespace hx::shell {

namespace {

int gLanguage = kLangEnglish;
bool gInitDone = false;

using Key = std::pair<int, int>;  // language, id

// Null until a resource file replaces the built-in table.
std::unique_ptr<std::map<Key, std::string>> gResource;

const StringRow* findRow(int id) {
    std::size_t n = 0;
    const StringRow* rows = BuiltInStringRows(n);
    const StringRow* end = rows + n;
    const StringRow* it = std::lower_bound(rows, end, id, [](const StringRow& r, int v) { return r.id < v; });
    return it != end && it->id == id ? it : nullptr;
}

std::string builtInText(int id, int language) {
    if (language == kLangSwissGerman) {
        std::size_t n = 0;
        const SwissRow* rows = BuiltInSwissRows(n);
        for (std::size_t i = 0; i < n; ++i)
            if (rows[i].id == id) return rows[i].text;
        return {};
    }
    const StringRow* row = findRow(id);
    if (!row) return {};
    const char* text = nullptr;
    switch (language) {
        case kLangEnglish: text = row->english; break;
        case kLangDutch: text = row->dutch; break;
        case kLangGerman: text = row->german; break;
        default: break;
    }
    return text ? text : std::string();
}

std::string unescape(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size()) {
            char c = s[++i];
            out += c == 'n' ? '\n' : c == 't' ? '\t' : c;
        } else {
            out += s[i];
        }
    }
    return out;
}

std::string escape(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '\\') out += "\\\\";
        else if (c == '\n') out += "\\n";
        else if (c == '\t') out += "\\t";
        else out += c;
    }
    return out;
}

bool parseInt(const std::string& s, int& value) {
    if (s.empty() || s.size() > 9) return false;
    for (char c : s)
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    value = std::atoi(s.c_str());
    return true;
}


}  // namespace

std::string TableText(int id, int languageId) {
    if (gResource) {
        auto it = gResource->find({languageId, id});
        return it == gResource->end() ? std::string() : it->second;
    }
    return builtInText(id, languageId);
}

std::string LoadStr(int id, const std::string& defaultText) {
    std::string text = TableText(id, gLanguage);
    if (text.empty()) text = defaultText;
    // Texts the table leaves in English (or has no number for) may have ours.
    if (gLanguage != kLangEnglish && !gResource && (id == 0 || text == defaultText))
        if (const char* added = AddedText(text, gLanguage)) return added;
    return text;
}

std::string FormatStr(std::string text, const std::vector<std::string>& args) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string key = "%" + std::to_string(i);
        std::size_t pos = 0;
        while ((pos = text.find(key, pos)) != std::string::npos) {
            text.replace(pos, key.size(), args[i]);
            pos += args[i].size();
        }
    }
    return text;
}

int CurrentLanguage() { return gLanguage; }
void SetCurrentLanguage(int languageId) { gLanguage = languageId; }

std::string GetLanguageName() {
    std::string name = LoadStr(1529, "English");
    const char* ws = " \t\r\n";
    auto first = name.find_first_not_of(ws);
    if (first == std::string::npos) return {};
    return name.substr(first, name.find_last_not_of(ws) - first + 1);
}

const std::vector<int>& SupportedLanguages() {
    static const std::vector<int> languages = {kLangEnglish, kLangDutch, kLangGerman};
    return languages;
}

bool IsSupportedLanguage(int languageId) {
    const auto& l = SupportedLanguages();
    return std::find(l.begin(), l.end(), languageId) != l.end();
}

int MapLanguage(int systemLanguageId) {
    switch (systemLanguageId) {
        case 1043: case 2067: case 1122: return kLangDutch;
        case 1031: case 2055: case 3079: case 4103: case 5127: return kLangGerman;
        default: return kLangEnglish;
    }
}

int ChooseLanguage(const std::string& commandLine, int systemLanguageId) {
    int requested;
    if (ToLower(commandLine).find("language") != std::string::npos) {
        // The leading number, as a numeric parse of the whole line would read it.
        std::size_t i = commandLine.find_first_not_of(" \t");
        std::string digits;
        while (i != std::string::npos && i < commandLine.size() &&
               std::isdigit(static_cast<unsigned char>(commandLine[i])) && digits.size() < 9)
            digits += commandLine[i++];
        requested = digits.empty() ? 0 : std::atoi(digits.c_str());
    } else {
        requested = MapLanguage(systemLanguageId);
    }
    return IsSupportedLanguage(requested) ? requested : kLangEnglish;
}

int LocaleToLanguageId(const std::string& locale) {
    std::string l = ToLower(locale);
    l = l.substr(0, l.find_first_of(".@"));
    for (auto& c : l)
        if (c == '-') c = '_';
    if (l.empty()) return 0;
    if (l == "c" || l == "posix") return 1033;
    std::string lang = l.substr(0, l.find('_'));
    std::string region = l.find('_') == std::string::npos ? "" : l.substr(l.find('_') + 1);
    if (lang == "nl") return region == "be" ? 2067 : 1043;
    if (lang == "fy") return 1122;
    if (lang == "de") {
        if (region == "ch") return 2055;
        if (region == "at") return 3079;
        if (region == "lu") return 4103;
        if (region == "li") return 5127;
        return 1031;
    }
    if (lang == "gsw") return 2055;  // Swiss German as its own language code
    static const std::map<std::string, int> others = {
        {"en", 1033}, {"fr", 1036}, {"it", 1040}, {"es", 3082}, {"pt", 2070}, {"da", 1030},
        {"sv", 1053}, {"nb", 1044}, {"no", 1044}, {"fi", 1035}, {"pl", 1045}, {"cs", 1029},
        {"hu", 1038}, {"ru", 1049}, {"tr", 1055}, {"el", 1032}, {"ja", 1041}, {"zh", 2052},
        {"ko", 1042}};
    auto it = others.find(lang);
    if (lang == "en" && region == "gb") return 2057;
    return it == others.end() ? 0 : it->second;
}

int SystemLanguageId() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value && *value) return LocaleToLanguageId(value);
    }
    return 0;
}

void UseBuiltInStrings() {
    gResource.reset();
}

void ResetStrings() {
    UseBuiltInStrings();
    gLanguage = kLangEnglish;
    gInitDone = false;
}

bool LoadStringResource(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return false;
    return LoadStringResourceText(std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()));
}

bool LoadStringResourceText(const std::string& text) {
    std::istringstream in(text);
    std::string line;
    if (!std::getline(in, line)) return false;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line != "HXRES 1") return false;
    auto table = std::make_unique<std::map<Key, std::string>>();
    int language = -1;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        if (line[0] == '[') {
            auto close = line.find(']');
            if (close == std::string::npos || !parseInt(line.substr(1, close - 1), language)) return false;
            continue;
        }
        auto eq = line.find('=');
        int id = 0;
        if (language < 0 || eq == std::string::npos || !parseInt(line.substr(0, eq), id)) return false;
        (*table)[{language, id}] = unescape(line.substr(eq + 1));
    }
    gResource = std::move(table);
    return true;
}

bool WriteStringResource(const std::filesystem::path& file) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out << "HXRES 1\n# Harvestrix string table: [language id], then id=text lines.\n";
    for (int language : {kLangEnglish, kLangDutch, kLangGerman, kLangSwissGerman}) {
        out << "\n[" << language << "]\n";
        for (int id : TableIds(language)) out << id << '=' << escape(TableText(id, language)) << '\n';
    }
    return static_cast<bool>(out);
}

std::vector<int> TableIds(int languageId) {
    std::vector<int> ids;
    if (gResource) {
        for (auto& [key, text] : *gResource)
            if (key.first == languageId && !text.empty()) ids.push_back(key.second);
        return ids;
    }
    if (languageId == kLangSwissGerman) {
        std::size_t n = 0;
        const SwissRow* rows = BuiltInSwissRows(n);
        for (std::size_t i = 0; i < n; ++i) ids.push_back(rows[i].id);
        std::sort(ids.begin(), ids.end());
        return ids;
    }
    std::size_t n = 0;
    const StringRow* rows = BuiltInStringRows(n);
    for (std::size_t i = 0; i < n; ++i)
        if (!builtInText(rows[i].id, languageId).empty()) ids.push_back(rows[i].id);
    return ids;
}

void InitStrings(bool useResourceFile, const std::filesystem::path& programDataFolder) {
    if (gInitDone) return;
    gInitDone = true;
    if (!useResourceFile) {
        UseBuiltInStrings();
        return;
    }
    if (!LoadStringResource(programDataFolder / kResourceFileName)) SetCurrentLanguage(kLangEnglish);
}

}  // namespace hx::shell
