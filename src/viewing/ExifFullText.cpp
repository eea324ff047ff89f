#include "viewing/ExifFullText.h"

#include "viewing/Exif.h"
#include "viewing/MetadataRead.h"

namespace hx::viewing {

namespace {

// A value that is pages of binary (a thumbnail, an unknown maker block) is summarised.
constexpr std::size_t kMaxValueText = 200;

std::string shown(const std::string& value) {
    std::string text = ShownText(value);
    if (text.size() > kMaxValueText) {
        std::size_t cut = kMaxValueText;
        while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;  // not inside a character
        text = text.substr(0, cut) + "…";
    }
    return text;
}

}  // namespace

std::vector<std::string> ExifFullText(const std::filesystem::path& file) {
    std::vector<std::string> lines;
    const Metadata image = OpenMetadata(file);
    if (!image) return lines;
    try {
        for (const auto& d : image->exifData()) {
            std::string label = d.tagLabel();
            if (label.empty()) label = d.tagName();
            lines.push_back(d.groupName() + "." + label + ": " + shown(d.print(&image->exifData())));
        }
        for (const auto& d : image->iptcData()) lines.push_back("Iptc." + d.tagName() + ": " + shown(d.print()));
        for (const auto& d : image->xmpData()) lines.push_back("Xmp." + d.tagName() + ": " + shown(d.print()));
    } catch (const std::exception&) {
        // Unreadable or no picture at all: what was read so far is given.
    }
    return lines;
}

}  // namespace hx::viewing
