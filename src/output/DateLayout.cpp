#include "output/DateLayout.h"

#include <cctype>

#include "shell/Text.h"
#include "viewing/CaptureFacts.h"
#include "viewing/Exif.h"

namespace hx::output {

std::string DayOf(const std::string& isoDate) {
    bool dated = isoDate.size() >= 10 && isoDate[4] == '-' && isoDate[7] == '-' && isoDate.compare(0, 4, "0000") != 0;
    for (std::size_t i : {0, 1, 2, 3, 5, 6, 8, 9}) dated = dated && std::isdigit(static_cast<unsigned char>(isoDate[i]));
    return dated ? isoDate.substr(0, 10) : std::string();
}

std::filesystem::path DatedFolder(const std::string& isoDate, const std::string& type) {
    const std::string day = DayOf(isoDate);
    if (!day.empty()) return std::filesystem::path(day.substr(0, 4)) / day;
    return std::filesystem::path("Undated") / (type.empty() ? "other" : type);
}

std::filesystem::path DatedFolderOf(const std::filesystem::path& file) {
    std::string type = shell::ToLower(file.extension().string());
    if (!type.empty()) type.erase(0, 1);
    return DatedFolder(viewing::IsoDate(viewing::ReadCaptureFacts(file).rawDate), type);
}

}  // namespace hx::output
