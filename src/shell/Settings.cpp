#include "shell/Settings.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <type_traits>

namespace hx::shell {

std::string GetSetting(SettingsStore& store, const AppSetting& s, const std::string& defaultValue) {
    return store.GetSetting(s.app, s.section, s.key, defaultValue);
}

void SaveSetting(SettingsStore& store, const AppSetting& s, const std::string& value) {
    store.SaveSetting(s.app, s.section, s.key, value);
}

RegRoot ChooseRegistryRoot(SettingsStore& store, bool clean) {
    RegRoot root = RegRoot::CurrentUser;
    if (!clean && ParseRegRoot(GetSetting(store, kRegSetting), root)) return root;
    root = RegRoot::CurrentUser;
    for (RegRoot r : {RegRoot::LocalMachine, RegRoot::Users, RegRoot::CurrentUser}) {
        if (store.CreateRegKey(r, kProgramKey)) {
            root = r;
            break;
        }
    }
    SaveSetting(store, kRegSetting, RegRootName(root));
    return root;
}

namespace {

std::string number(double v) {
    if (v == std::floor(v) && std::fabs(v) < 1e15) return std::to_string(static_cast<long long>(v));
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15g", v);
    return buf;
}

}  // namespace

std::optional<double> ParseLeadingNumber(const std::string& text) {
    std::size_t i = text.find_first_not_of(" \t");
    if (i == std::string::npos) return std::nullopt;
    std::size_t j = i;
    if (j < text.size() && (text[j] == '-' || text[j] == '+')) ++j;
    std::size_t digitsStart = j;
    while (j < text.size() && (std::isdigit(static_cast<unsigned char>(text[j])) || text[j] == '.')) ++j;
    if (j == digitsStart) return std::nullopt;
    const std::string part = text.substr(i, j - i);
    char* end = nullptr;
    double v = std::strtod(part.c_str(), &end);
    if (end == part.c_str()) return std::nullopt;
    return v;
}

std::string FormatSizeLimit(double mb) { return number(mb) + "#"; }

double ParseSizeLimit(const std::string& text) {
    std::string t;
    for (char c : text) {
        if (c == '#') continue;
        t += c == ',' ? '.' : c;
    }
    return ParseLeadingNumber(t).value_or(0);
}

bool CreateRegistryEntries(SettingsStore& store, RegRoot root, const StoredSettings& s,
                           const std::string& resultView) {
    store.BeginBatch();
    bool ok = store.CreateRegKey(root, kBrandKey);
    store.DeleteRegKey(root, kProgramKey, "LVW");
    store.DeleteRegKey(root, kBrandKey, "Harvestrix");
    auto put = [&](const char* name, const std::string& value) {
        ok = store.WriteRegValue(root, kProgramKey, name, value) && ok;
    };
    put("HomePath", s.homePath);
    put("BRD", s.browseFolder);
    put("LBR", s.saveAsFolder);
    put("LUD", s.saveFolder);
    put("BUD", s.imageFolder);
    put("TCache", s.tCache);
    put("OCache", s.oCache);
    put("O2Cache", s.o2Cache);
    put("MT", number(s.top));
    put("ML", number(s.left));
    put("MW", number(s.width));
    put("MH", number(s.height));
    put("CL", number(s.colourScheme));
    put("TW", number(s.thumbWidth));
    put("SD", s.scanDrive);
    put("SDVS", s.scanDriveSerial);
    put("DRVe", s.startDrive);
    put("THnr", number(s.thumbNumber));
    put("LSB", number(s.lsb));
    put("CHKSpec", s.showSpecs ? "1" : "0");
    put("TypeSel", number(s.typeSelection));
    put("LMaxMB", FormatSizeLimit(s.maxMB));
    put("LMinMB", FormatSizeLimit(s.minMB));
    put("UST", s.ust);
    const std::string lvw = std::string(kProgramKey) + "\\LVW";
    ok = store.WriteRegValue(root, lvw, "LVWC", std::to_string(s.typeRows.size())) && ok;
    for (std::size_t i = 0; i < s.typeRows.size(); ++i) {
        char name[24];
        std::snprintf(name, sizeof name, "%03zu", i + 1);
        const auto& row = s.typeRows[i];
        ok = store.WriteRegValue(root, lvw, name, row.text + "," + (row.checked ? "True" : "False")) && ok;
    }
    SaveSetting(store, kResultView, resultView);
    return store.EndBatch() && ok;
}

StoredSettings LoadSettings(SettingsStore& store, RegRoot root) {
    StoredSettings s;
    auto text = [&](const char* name, std::string& field) {
        std::string v = store.ReadRegValue(root, kProgramKey, name);
        if (!v.empty()) field = v;
    };
    auto num = [&](const char* name, auto& field) {
        if (auto v = ParseLeadingNumber(store.ReadRegValue(root, kProgramKey, name)))
            field = static_cast<std::remove_reference_t<decltype(field)>>(*v);
    };
    text("HomePath", s.homePath);
    text("BRD", s.browseFolder);
    text("LBR", s.saveAsFolder);
    text("LUD", s.saveFolder);
    text("BUD", s.imageFolder);
    text("TCache", s.tCache);
    text("OCache", s.oCache);
    text("O2Cache", s.o2Cache);
    num("MT", s.top);
    num("ML", s.left);
    num("MW", s.width);
    num("MH", s.height);
    if (s.width == 0) s.width = kDefaultWindowWidth;
    num("CL", s.colourScheme);
    num("TW", s.thumbWidth);
    text("SD", s.scanDrive);
    text("SDVS", s.scanDriveSerial);
    text("DRVe", s.startDrive);
    num("THnr", s.thumbNumber);
    num("LSB", s.lsb);
    if (auto v = ParseLeadingNumber(store.ReadRegValue(root, kProgramKey, "CHKSpec"))) s.showSpecs = *v != 0;
    num("TypeSel", s.typeSelection);
    s.maxMB = ParseSizeLimit(store.ReadRegValue(root, kProgramKey, "LMaxMB"));
    s.minMB = ParseSizeLimit(store.ReadRegValue(root, kProgramKey, "LMinMB"));
    text("UST", s.ust);

    const std::string lvw = std::string(kProgramKey) + "\\LVW";
    const long count = static_cast<long>(ParseLeadingNumber(store.ReadRegValue(root, lvw, "LVWC")).value_or(0));
    for (long i = 1; i <= count && i <= 9999; ++i) {
        char name[24];
        std::snprintf(name, sizeof name, "%03ld", i);
        std::string v = store.ReadRegValue(root, lvw, name);
        if (v.empty()) continue;
        TypeListRow row;
        auto comma = v.rfind(',');
        row.text = v.substr(0, comma);
        if (comma != std::string::npos) {
            std::string state = v.substr(comma + 1);
            row.checked = state == "True" || state == "true" || state == "-1" || state == "1";
        }
        s.typeRows.push_back(row);
    }
    return s;
}

}  // namespace hx::shell
