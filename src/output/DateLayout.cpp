#include "output/DateLayout.h"

#include <cctype>

#include "shell/Text.h"
#include "viewing/CaptureFacts.h"
#include "viewing/Exif.h"

namespace hx::output {

std::filesystem::path DatedFolder(const std::string& isoDate, const std::string& type) {
    bool dated = isoDate.size() >= 10 && isoDate[4] == '-' && isoDate[7] == '-' && isoDate.compare(0, 4, "0000") != 0;
    for (std::size_t i : {0, 1, 2, 3, 5, 6, 8, 9}) dated = dated && std::isdigit(static_cast<unsigned char>(isoDate[i]));
    if (dated) return std::filesystem::path(isoDate.substr(0, 4)) / isoDate.substr(0, 10);
    return std::filesystem::path("Undated") / (type.empty() ? "other" : type);
}

std::filesystem::path DatedFolderOf(const std::filesystem::path& file) {
    std::string type = shell::ToLower(file.extension().string());
    if (!type.empty()) type.erase(0, 1);
    return DatedFolder(viewing::IsoDate(viewing::ReadCaptureFacts(file).rawDate), type);
}

}  // namespace hx::output
