#include "viewing/CaptureFacts.h"
#include "formats/iso/IsoBoxes.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <fstream>

#include "platform/ByteOrder.h"
#include "viewing/Exif.h"
#include "formats/Formats.h"

namespace hx::viewing {

namespace {

std::string lowerExtension(const std::filesystem::path& file) {
    std::string ext = file.extension().string();
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
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
    facts.make = exif.make;
    facts.model = exif.model;
    const formats::Format* format = formats::FormatOf(lowerExtension(file));
    if (facts.rawDate.empty() && format && format->family == formats::Family::Movie)
        facts.rawDate = CaptureDate(MovieCreationTime(file));
    return facts;
}

}  // namespace hx::viewing
