#include "viewing/CaptureFacts.h"
#include "formats/iso/IsoBoxes.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <fstream>

#include <exiv2/exiv2.hpp>

#include "platform/ByteOrder.h"
#include "viewing/Exif.h"
#include "formats/Formats.h"

namespace hx::viewing {

namespace {

// Boxes looked at in one level of a movie, at most.

std::string lowerExtension(const std::filesystem::path& file) {
    std::string ext = file.extension().string();
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

// The first of `keys` that the metadata (EXIF or XMP) holds, as text.
template <typename Data, typename Key>
std::string firstOf(const Data& data, std::initializer_list<const char*> keys) {
    for (const char* key : keys) {
        const auto it = data.findKey(Key(key));
        if (it == data.end()) continue;
        if (std::string text = ShownText(it->toString()); !text.empty()) return text;
    }
    return {};
}
const auto exifFirst = firstOf<Exiv2::ExifData, Exiv2::ExifKey>;
const auto xmpFirst = firstOf<Exiv2::XmpData, Exiv2::XmpKey>;

// XMP dates are "YYYY-MM-DDTHH:MM:SS[zone]".
std::string fromXmpDate(const std::string& xmp) {
    if (xmp.size() < 19 || xmp[4] != '-' || xmp[7] != '-' || xmp[10] != 'T') return {};
    std::string raw = xmp.substr(0, 19);
    raw[4] = raw[7] = ':';
    raw[10] = ' ';
    return raw;
}

void readWithExiv2(const std::filesystem::path& file, CaptureFacts& facts) {
    Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
    Exiv2::enableBMFF(true);  // HEIC, AVIF, CR3 and JPEG XL
    try {
        auto image = Exiv2::ImageFactory::open(file.string());
        if (!image.get()) return;
        image->readMetadata();
        const Exiv2::ExifData& exif = image->exifData();
        const Exiv2::XmpData& xmp = image->xmpData();
        if (facts.rawDate.empty())
            facts.rawDate = exifFirst(exif, {"Exif.Photo.DateTimeOriginal", "Exif.Image.DateTimeOriginal",
                                           "Exif.Photo.DateTimeDigitized", "Exif.Image.DateTime"});
        if (facts.rawDate.empty())
            facts.rawDate = fromXmpDate(xmpFirst(xmp, {"Xmp.exif.DateTimeOriginal", "Xmp.photoshop.DateCreated",
                                                      "Xmp.xmp.CreateDate"}));
        if (facts.make.empty()) facts.make = exifFirst(exif, {"Exif.Image.Make"});
        if (facts.make.empty()) facts.make = xmpFirst(xmp, {"Xmp.tiff.Make"});
        if (facts.model.empty()) facts.model = exifFirst(exif, {"Exif.Image.Model"});
        if (facts.model.empty()) facts.model = xmpFirst(xmp, {"Xmp.tiff.Model"});
    } catch (const std::exception&) {
        // Not a container exiv2 reads, or a damaged one: what was found stands.
    }
}

}  // namespace

std::string QuickTimeDate(std::uint64_t seconds) {
    const std::int64_t days = static_cast<std::int64_t>(seconds / 86400) - 24107;  // from 1970-01-01
    const std::uint64_t rest = seconds % 86400;
    // Days to a civil date (proleptic Gregorian).
    const std::int64_t z = days + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const std::int64_t day = doy - (153 * mp + 2) / 5 + 1;
    const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    if (year < 1980 || year > 2100) return {};
    char text[32];
    std::snprintf(text, sizeof text, "%04d:%02d:%02d %02d:%02d:%02d", static_cast<int>(year), static_cast<int>(month),
                  static_cast<int>(day), static_cast<int>(rest / 3600), static_cast<int>(rest / 60 % 60),
                  static_cast<int>(rest % 60));
    return text;
}

std::string MovieCreationTime(const std::filesystem::path& file) {
    std::error_code ec;
    const std::uint64_t size = std::filesystem::file_size(file, ec);
    if (ec) return {};
    std::ifstream in(file, std::ios::binary);
    const formats::ReadAt read = [&in](std::uint64_t at, std::size_t n, std::uint8_t* out) {
        in.clear();
        in.seekg(static_cast<std::streamoff>(at));
        return static_cast<bool>(in.read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(n)));
    };
    formats::IsoBox moov, mvhd;
    if (!in || !formats::FindIsoBox(read, 0, size, "moov", moov) || !formats::FindIsoBox(read, moov.contents, moov.end, "mvhd", mvhd))
        return {};
    std::uint8_t v[12];
    if (mvhd.end - mvhd.contents < sizeof v || !read(mvhd.contents, sizeof v, v)) return {};
    // Version 0 counts in 32 bits, version 1 in 64.
    const std::uint64_t created = v[0] == 1 ? (static_cast<std::uint64_t>(platform::Be32(v + 4)) << 32) | platform::Be32(v + 8)
                                            : platform::Be32(v + 4);
    return created == 0 ? std::string() : QuickTimeDate(created);
}

CaptureFacts ReadCaptureFacts(const std::filesystem::path& file) {
    CaptureFacts facts;
    ExifValues exif;
    ReadExifFile(file.string(), exif);
    facts.rawDate = exif.rawDate;
    facts.make = ShownText(exif.make);
    facts.model = ShownText(exif.model);
    if (!facts.rawDate.empty() && !facts.make.empty()) return facts;
    const std::string ext = lowerExtension(file);
    const formats::Format* format = formats::FormatOf(ext);
    if (!format) return facts;
    if (format->family == formats::Family::Photo || format->family == formats::Family::Raw) readWithExiv2(file, facts);
    if (format->family == formats::Family::Movie && facts.rawDate.empty()) facts.rawDate = MovieCreationTime(file);
    // Containers keep texts of their own: they are cleaned as the EXIF's are.
    facts.rawDate = CaptureDate(facts.rawDate);
    facts.make = ShownText(facts.make);
    facts.model = ShownText(facts.model);
    return facts;
}

}  // namespace hx::viewing
