#include "scan/ListingCursor.h"
#include "shell/Text.h"

#include <algorithm>
#include <cctype>
#include <string_view>

namespace hx::scan {

namespace fs = std::filesystem;

namespace {

std::string lowerExtension(const std::string& name) {
    const auto dot = name.rfind('.');
    std::string ext = dot == std::string::npos ? std::string() : name.substr(dot);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return ext;
}

}  // namespace

ListingCursor::ListingCursor(ListedNames& listing, bool sortByName, std::string tableExtensions, fs::path cacheFolder,
                             const ScanGeometry& geo)
    : listing_(listing), extensions_(std::move(tableExtensions)), cache_(std::move(cacheFolder)), geo_(geo) {
    if (sortByName)
        std::stable_sort(listing_.begin(), listing_.end(),
                         [](const ListedName& a, const ListedName& b) { return a.name < b.name; });
    else
        std::stable_sort(listing_.begin(), listing_.end(),
                         [](const ListedName& a, const ListedName& b) { return a.firstCluster < b.firstCluster; });
}

void ListingCursor::advance(std::uint64_t from, std::uint64_t endUnit) {
    next_ = ListedFile{};
    while (cursor_ < listing_.size()) {
        const ListedName& e = listing_[cursor_++];
        const std::uint64_t unit = geo_.unitOfCluster(e.firstCluster);
        if (unit < from || unit == UINT64_MAX || unit > endUnit + 1024 || e.size == 0) continue;
        if (e.name.find('.') == std::string::npos) continue;
        const std::string ext = lowerExtension(e.name);
        if (ext.size() < 2 || extensions_.find(ext) == std::string::npos) continue;
        std::string name = shell::Trim(e.name);
        if (name.size() > 12) name = name.substr(name.size() - 12);
        // A deleted entry's name starts with "?"; no listed character may leave the cache folder.
        for (char& c : name)
            if (std::string_view("?*:\"<>|/\\").find(c) != std::string_view::npos ||
                static_cast<unsigned char>(c) < 0x20)
                c = '_';
        std::error_code ec;
        if (name.size() < 5 || fs::exists(cache_ / name, ec)) name.clear();
        next_ = ListedFile{unit, name, e.size};
        return;
    }
}

}  // namespace hx::scan
