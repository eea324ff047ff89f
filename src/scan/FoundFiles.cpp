#include <cstdio>

#include "scan/ScanDisk.h"
#include "shell/Text.h"

namespace hx::scan {

namespace {

}  // namespace

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

}  // namespace hx::scan
