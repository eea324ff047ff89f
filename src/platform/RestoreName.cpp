#include "platform/RestoreName.h"

#include <chrono>
#include <cmath>
#include <ctime>

namespace hx::platform {

std::string BumpRestoreName(const std::string& name) {
    const auto underscore = name.find('_');
    if (underscore == std::string::npos) {
        std::string out;
        for (char c : name) {
            if (c == '.') out += "_0.";
            else out += c;
        }
        if (out == name) out += "_0";  // no dot: still make it differ
        return out;
    }
    std::size_t end = underscore + 1;
    while (end < name.size() && name[end] >= '0' && name[end] <= '9') ++end;
    const std::string digits = name.substr(underscore + 1, end - underscore - 1);
    unsigned long long n = 0;
    for (char c : digits) n = n * 10 + static_cast<unsigned>(c - '0');
    std::string next = std::to_string(n + 1);
    if (next.size() < digits.size()) next.insert(0, digits.size() - next.size(), '0');
    return name.substr(0, underscore + 1) + next + name.substr(end);
}

std::filesystem::path NextFreeRestoreName(const std::filesystem::path& chosen) {
    std::filesystem::path p = chosen;
    std::error_code ec;
    for (int i = 0; i < 100000 && std::filesystem::exists(p, ec); ++i)
        p = p.parent_path() / BumpRestoreName(p.filename().string());
    return p;
}

std::string RestoreFileName(const std::string& listName) {
    std::string out;
    for (char c : listName) {
        if (c == '?') out += '_';  // a lost first letter, as other tools write it
        else if (c == '/' || c == '\\' || c == '\0') out += '_';
        else out += c;
    }
    if (out.empty() || out == "." || out == "..") out = "_" + out;
    // File systems hold 255 bytes of a name: a longer one (a stream's long
    // name after the file's) is cut, never inside a character.
    constexpr std::size_t kMaxName = 255;
    if (out.size() > kMaxName) {
        std::size_t cut = kMaxName;
        while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;
        out.resize(cut);
    }
    return out;
}

void StampRestoredFile(const std::filesystem::path& file, double date) {
    if (!(date > 0) || date > 2958465) return;  // beyond 9999-12-31
    std::error_code ec;
    if (!std::filesystem::exists(file, ec)) return;
    // Day count (local time) to calendar fields, then through mktime for the zone.
    const double day = std::floor(date);
    long long z = static_cast<long long>(day) - 25569 + 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    const long long y = static_cast<long long>(yoe) + era * 400 + (m <= 2);
    const long secs = std::lround((date - day) * 86400.0);
    std::tm t{};
    t.tm_year = static_cast<int>(y - 1900);
    t.tm_mon = static_cast<int>(m) - 1;
    t.tm_mday = static_cast<int>(d);
    t.tm_hour = static_cast<int>(secs / 3600);
    t.tm_min = static_cast<int>((secs / 60) % 60);
    t.tm_sec = static_cast<int>(secs % 60);
    t.tm_isdst = -1;
    const std::time_t when = std::mktime(&t);
    if (when == static_cast<std::time_t>(-1)) return;
    const auto sys = std::chrono::system_clock::from_time_t(when);
    std::filesystem::last_write_time(file, std::chrono::file_clock::from_sys(sys), ec);
}

}  // namespace hx::platform
