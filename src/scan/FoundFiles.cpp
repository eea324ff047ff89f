#include <cstdio>
#include <cstring>
#include <fstream>

#include "scan/ScanDisk.h"
#include "media/FileDamage.h"
#include "shell/Strings.h"
#include "shell/Text.h"

namespace hx::scan {

std::string FoundEntryText(long counter, const std::string& description) {
    char num[32];
    std::snprintf(num, sizeof num, "%03ld ", counter);
    std::string desc = shell::Trim(description);
    std::string text = shell::Trim(num + desc);
    while (text.size() > 16) {
        const auto sp = desc.rfind(' ');
        if (sp == std::string::npos || sp == 0) {
            text = text.substr(0, 16);
            break;
        }
        desc = shell::Trim(desc.substr(0, sp));
        text = shell::Trim(num + desc);
    }
    return text;
}

std::vector<std::string> ScanContext::FoundNames() const {
    std::vector<std::string> names;
    names.reserve(found.size());
    for (const auto& f : found) names.push_back(f.name);
    return names;
}

std::vector<std::uint64_t> ScanContext::FoundSizes() const {
    std::vector<std::uint64_t> sizes;
    sizes.reserve(found.size());
    for (const auto& f : found) sizes.push_back(f.listedSize);
    return sizes;
}

std::string FoundFileName(long counter, const std::string& extension) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "R#%04ld", counter);
    return buf + extension;
}

std::string DamageText(const FoundFile& f) { return media::DamageText(f.unreadableSectors, f.firstUnreadable); }

std::string RebuiltText(const FoundFile& f) {
    if (f.lasts > 0) {
        char plays[32], lasts[32];
        std::snprintf(plays, sizeof plays, "%.1f", f.plays);
        std::snprintf(lasts, sizeof lasts, "%.1f", f.lasts);
        return shell::FormatStr(shell::LoadStr(0, "incomplete: %0 of %1 s"), {plays, lasts});
    }
    if (f.indexRebuilt == 1) return shell::LoadStr(0, "index rebuilt after another clip of the same camera, without sound");
    if (f.indexRebuilt == 2) return shell::LoadStr(0, "index rebuilt after another clip of the same camera");
    if (f.pieces < 2) return {};
    return shell::FormatStr(shell::LoadStr(0, "rebuilt from %0 pieces"), {std::to_string(f.pieces)});
}

std::string PartsText(const FoundFile& f, const std::filesystem::path& file) {
    if (f.parts.size() < 2 && f.partsMissing.empty()) return {};
    std::ifstream in(file, std::ios::binary);
    const formats::ReadAt read = [&in](std::uint64_t at, std::size_t n, std::uint8_t* out) {
        in.clear();
        in.seekg(static_cast<std::streamoff>(at));
        return static_cast<bool>(in.read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(n)));
    };
    return formats::PartsText(f.parts, f.partsMissing, in ? formats::ClipSeconds(read, f.parts) : 0);
}

}  // namespace hx::scan
