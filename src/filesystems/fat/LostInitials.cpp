#include "filesystems/fat/LostInitials.h"

#include <cctype>
#include <map>
#include <regex>
#include <string>

namespace hx::filesystems {

namespace {

// A name as a pattern: digits as '9', letters in capitals.
std::string shape(const std::string& name) {
    std::string out;
    for (char c : name)
        out += std::isdigit(static_cast<unsigned char>(c)) ? '9' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

std::string shownName(const UndeleteEntry& e) { return e.ListName.empty() ? e.FileName : e.ListName; }

bool lostInitial(const std::string& name) { return name.size() > 1 && name[0] == '?'; }

// How cameras name their folders and files, by what follows the first letter.
char byCameraRules(const std::string& rest, bool folder, bool atRoot) {
    struct Rule {
        bool folder;
        bool rootOnly;
        std::regex pattern;
        char initial;
    };
    static const Rule kRules[] = {
        {true, true, std::regex("CIM"), 'D'},                          // DCIM
        {true, false, std::regex("[0-9]{2}[A-Z0-9_]{5}"), '1'},        // 100CANON, 101NIKON, 100_PANA, 100MSDCF
        {false, false, std::regex("MG_[0-9]{4}\\..*"), 'I'},          // IMG_1234 (Canon, phones)
        {false, false, std::regex("MGP[0-9]{4}\\..*"), 'I'},          // IMGP1234 (Pentax)
        {false, false, std::regex("SC(_|F|N|0)[0-9]{4}\\..*"), 'D'},  // DSC_ (Nikon), DSCF (Fuji), DSCN, DSC0 (Sony)
        {false, false, std::regex("[0-9A-C][0-9]{6}\\..*"), 'P'},     // P1010001 (Panasonic, Olympus)
    };
    std::string upper;
    for (char c : rest) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const Rule& r : kRules)
        if (r.folder == folder && (!r.rootOnly || atRoot) && std::regex_match(upper, r.pattern)) return r.initial;
    return 0;
}

}  // namespace

void RebuildLostInitials(std::vector<UndeleteEntry>& entries) {
    // Names whose first letter is known, by folder and pattern: the initials they start with.
    std::map<std::pair<std::string, std::string>, std::map<char, int>> known;
    for (const UndeleteEntry& e : entries) {
        const std::string name = shownName(e);
        if (name.size() > 1 && !lostInitial(name))
            ++known[{e.FolderPath, shape(name.substr(1))}][static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])))];
    }
    std::map<std::string, std::string> renamed;  // old folder path -> rebuilt one
    for (UndeleteEntry& e : entries) {
        const std::string folder = e.FolderPath;
        if (auto it = renamed.find(folder); it != renamed.end()) {
            e.FolderPath = it->second;
            e.Attributes |= kAttrNameGuessed;  // its folder's name was
        }
        const std::string name = shownName(e);
        if (!lostInitial(name)) continue;
        char initial = 0;
        if (auto it = known.find({folder, shape(name.substr(1))}); it != known.end()) {
            int best = 0;
            for (const auto& [c, n] : it->second)
                if (n > best) best = n, initial = c;
        }
        if (!initial) initial = byCameraRules(name.substr(1), e.isFolder(), folder == "\\");
        if (!initial) continue;
        // A short name typed in small letters keeps its case.
        const bool lower = std::islower(static_cast<unsigned char>(name[1])) != 0;
        e.ListName = static_cast<char>(lower ? std::tolower(static_cast<unsigned char>(initial)) : initial) + name.substr(1);
        e.Attributes |= kAttrNameGuessed;
        if (e.isFolder()) {
            const std::string old = (folder == "\\" ? "\\" : folder + "\\") + name;
            renamed[old] = (e.FolderPath == "\\" ? "\\" : e.FolderPath + "\\") + e.ListName;
        }
    }
}

}  // namespace hx::filesystems
