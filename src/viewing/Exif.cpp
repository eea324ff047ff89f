#include "viewing/Exif.h"

#include "viewing/HeifPicture.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <ctime>
#include <optional>
#include <string_view>

#include "platform/RawFile.h"
#include "shell/Text.h"
#include "viewing/MetadataRead.h"

namespace hx::viewing {

namespace {

char gDateSeparator = '-';

constexpr std::size_t kFileHead = 128 * 1024;  // an APP1 segment is at most 64 kB

std::string trim(std::string s) {
    auto notSpace = [](unsigned char c) { return c != ' ' && c != '\0' && c != '\t' && c != '\r' && c != '\n'; };
    s.erase(s.begin(), std::find_if(s.begin(), s.end(), notSpace));
    s.erase(std::find_if(s.rbegin(), s.rend(), notSpace).base(), s.end());
    return s;
}

// What exiv2 read of a picture, and the size of the picture itself.
struct Read {
    Exiv2::ExifData exif;
    Exiv2::XmpData xmp;
    int width = 0;
    int height = 0;
    bool adobeProfile = false;  // the colour profile embedded is Adobe RGB
};

bool namesAdobeRgb(const std::uint8_t* data, std::size_t size) {
    return shell::ContainsNoCase(std::string_view(reinterpret_cast<const char*>(data), size), "adobe rgb");
}

void take(const Metadata& image, Read& r) {
    r.exif = image->exifData();
    r.xmp = image->xmpData();
    try {
        r.width = image->pixelWidth();
        r.height = image->pixelHeight();
        if (image->iccProfileDefined())
            r.adobeProfile = namesAdobeRgb(image->iccProfile()->pData_, static_cast<std::size_t>(image->iccProfile()->size_));
    } catch (const std::exception&) {
    }
}

// A TIFF header inside bytes no container reader knew (an AVI's EXIF chunk, a
// raw cut short): after "Exif\0\0", else the first "II*\0" or "MM\0*".
std::size_t tiffHeader(std::string_view data) {
    std::size_t best = std::string_view::npos;
    const std::size_t exif = data.find(std::string_view("Exif\0\0", 6));
    if (exif != std::string_view::npos) best = exif + 6;
    for (const std::string_view magic : {std::string_view("II*\0", 4), std::string_view("MM\0*", 4)}) {
        const std::size_t at = data.find(magic);
        if (at < best) best = at;
    }
    return best;
}

void readBareTiff(std::string_view data, Read& r) {
    const std::size_t at = tiffHeader(data);
    if (at == std::string_view::npos) return;
    DecodeTiffExif(reinterpret_cast<const std::uint8_t*>(data.data()) + at, data.size() - at, r.exif);
    if (!r.adobeProfile) r.adobeProfile = namesAdobeRgb(reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
}

// The first of `keys` the metadata holds as a text that is not blank.
template <typename Data, typename Key>
std::string firstOf(const Data& data, std::initializer_list<const char*> keys) {
    for (const char* key : keys) {
        try {
            const auto it = data.findKey(Key(key));
            if (it == data.end()) continue;
            if (std::string text = ShownText(it->toString()); !text.empty()) return text;
        } catch (const std::exception&) {
        }
    }
    return {};
}
const auto exifText = firstOf<Exiv2::ExifData, Exiv2::ExifKey>;
const auto xmpText = firstOf<Exiv2::XmpData, Exiv2::XmpKey>;

long exifNumber(const Exiv2::ExifData& exif, const char* key, long none) {
    try {
        const auto it = exif.findKey(Exiv2::ExifKey(key));
        if (it != exif.end() && it->count() > 0) return it->toLong();
    } catch (const std::exception&) {
    }
    return none;
}

// The moment of the shot, from where cameras keep it: the original's date
// wherever it is written (EXIF, a raw's other directories, XMP, the maker's
// notes), and only where there is none the date it was digitized or saved.
std::string captureDate(const Read& r) {
    for (const std::string& text :
         {exifText(r.exif, {"Exif.Photo.DateTimeOriginal", "Exif.Image.DateTimeOriginal", "Exif.Image2.DateTimeOriginal",
                            "Exif.Image3.DateTimeOriginal"}),
          xmpText(r.xmp, {"Xmp.exif.DateTimeOriginal", "Xmp.photoshop.DateCreated"}),
          exifText(r.exif, {"Exif.Sony2010e.SonyDateTime", "Exif.NikonPreview.DateTimeOriginal",
                            "Exif.SamsungPreview.DateTimeOriginal"}),
          exifText(r.exif, {"Exif.Pentax.Date", "Exif.PentaxDng.Date"}) + " " +
              exifText(r.exif, {"Exif.Pentax.Time", "Exif.PentaxDng.Time"}),
          exifText(r.exif, {"Exif.Photo.DateTimeDigitized"}), xmpText(r.xmp, {"Xmp.xmp.CreateDate", "Xmp.exif.DateTimeDigitized"}),
          exifText(r.exif, {"Exif.Image.DateTime"}), xmpText(r.xmp, {"Xmp.xmp.ModifyDate"})})
        if (std::string date = CaptureDate(text); !date.empty()) return date;
    return {};
}

std::string colourSpace(const Read& r) {
    const long space = exifNumber(r.exif, "Exif.Photo.ColorSpace", -1);
    if (space == 255) return "unspecified";
    // Cameras mark a shot in Adobe RGB by its interoperability index, or its profile.
    if (r.adobeProfile || exifText(r.exif, {"Exif.Iop.InteroperabilityIndex"}) == "R03") return "Adobe RGB";
    if (space == 1) return "sRGB";
    return space < 0 ? std::string() : std::to_string(space);
}

void fill(const Read& r, ExifValues& out) {
    out.make = exifText(r.exif, {"Exif.Image.Make"});
    if (out.make.empty()) out.make = xmpText(r.xmp, {"Xmp.tiff.Make"});
    out.model = exifText(r.exif, {"Exif.Image.Model"});
    if (out.model.empty()) out.model = xmpText(r.xmp, {"Xmp.tiff.Model"});
    out.orientation = static_cast<float>(exifNumber(r.exif, "Exif.Image.Orientation", 0));
    out.rawDate = captureDate(r);
    if (!out.rawDate.empty()) {
        out.date = out.rawDate;
        out.date[4] = out.date[7] = gDateSeparator;
    }
    out.colorSpace = colourSpace(r);
    out.width = static_cast<int>(exifNumber(r.exif, "Exif.Photo.PixelXDimension", 0));
    out.height = static_cast<int>(exifNumber(r.exif, "Exif.Photo.PixelYDimension", 0));
    if (out.width <= 0 || out.height <= 0) {
        out.width = std::max(r.width, 0);
        out.height = std::max(r.height, 0);
    }
}

}  // namespace

void SetDateSeparator(char separator) { gDateSeparator = separator; }

bool ReadExif(const std::string& source, const std::uint8_t* data, std::size_t size, ExifValues& out) {
    out = ExifValues{};
    Read r;
    if (source == "BUF") {
        if (data == nullptr) return false;
        if (const Metadata image = OpenMetadata(data, size)) take(image, r);
        if (r.exif.empty()) readBareTiff(std::string_view(reinterpret_cast<const char*>(data), size), r);
    } else {
        platform::RawFile file;
        if (!file.open(source, platform::RawFile::Mode::Read)) return false;
        if (const Metadata image = OpenMetadata(source)) take(image, r);
        if (r.exif.empty() || r.width <= 0 || r.height <= 0) {
            std::string head(kFileHead, '\0');
            head.resize(file.readAt(0, head.data(), head.size()));
            if (r.exif.empty()) readBareTiff(head, r);
            // A HEIC or AVIF photo: its size, and its EXIF where exiv2 did not read it, from its own items.
            std::string tiff;
            unsigned width = 0, height = 0;
            if (LooksLikeHeif(reinterpret_cast<const std::uint8_t*>(head.data()), head.size()) &&
                ReadHeifExif(source, tiff, width, height)) {
                if (r.exif.empty()) DecodeTiffExif(reinterpret_cast<const std::uint8_t*>(tiff.data()), tiff.size(), r.exif);
                r.width = static_cast<int>(width);
                r.height = static_cast<int>(height);
            }
        }
    }
    fill(r, out);
    return out.width != 0 && out.height != 0;
}

void DescribeExifValues(std::vector<std::string>& lines) {
    struct Word {
        long value;
        const char* text;
    };
    struct Table {
        const char* label;
        std::vector<Word> words;
    };
    static const std::vector<Table> tables = {
        {"MeteringMode:",
         {{1, "Average"}, {2, "Center-Weighted Average"}, {3, "Spot"}, {4, "Multi-Spot"}, {5, "Multi-Segment"},
          {6, "Partial"}, {255, "255=Other"}}},
        {"Orientation:",
         {{1, "Horizontal"}, {2, "Mirror horizontal"}, {3, "Rotate 180"}, {4, "Mirror vertical"},
          {5, "Mirror horizontal rotate 270CW"}, {6, "Rotate 90CW"}, {7, "Mirror horizontal rotate 90CW"},
          {8, "Rotate 270CW"}}},
        {"Flash:",
         {{0, "No Flash"}, {5, "Fired, Return not detected"}, {7, "Fired, Return detected"}, {9, "On"},
          {13, "On, Return not detected"}, {16, "Off"}, {24, "Auto, Did not fire"}, {25, "Auto, Fired"},
          {29, "Auto, Fired, Return not detected"}, {31, "Auto, Fired, Return detected"},
          {32, "No flash function"}, {65, "Fired, Red-eye reduction"},
          {69, "Fired, Red-eye reduction, Return not detected"}, {71, "Fired, Red-eye reduction, Return detected"},
          {73, "On, Red-eye reduction"}, {77, "On, Red-eye reduction, Return not detected"},
          {79, "Auto, Fired, Red-eye reduction"}, {89, "Fired, Red-eye reduction, Return detected"},
          {93, "Auto, Fired, Red-eye reduction, Return not detected"},
          {95, "Auto, Fired, Red-eye reduction, Return detected"}}},
        {"ExposureProg:",
         {{1, "Manual"}, {2, "Program AE"}, {3, "Aperture-priority AE"}, {4, "Shutter speed priority AE"},
          {5, "Creative (Slow Speed)"}, {6, "Action (High Speed)"}, {7, "Portrait"}, {8, "Landscape"}}},
        {"ColorSpace:", {{1, "sRGB"}, {2, "Adobe RGB"}, {65535, "Uncalibrated"}, {-1, "Unknown"}}},
        {"LightSource:",
         {{0, "Unknown"}, {1, "Daylight"}, {2, "Fluorescent"}, {3, "Tungsten"}, {4, "Flash"}, {9, "Fine Weather"},
          {10, "Cloudy"}, {11, "Shade"}, {12, "Daylight Fluorescent"}, {13, "Day White Fluorescent"},
          {14, "Cool White Fluorescent"}, {15, "White Fluorescent"}, {17, "Standard Light A"},
          {18, "Standard Light B"}, {19, "Standard Light C"}, {20, "D55"}, {21, "D65"}, {22, "D75"}, {23, "D50"},
          {24, "ISO Studio Tungsten"}, {255, "Other"}}},
    };
    for (std::string& line : lines) {
        for (const Table& t : tables) {
            const std::size_t n = std::strlen(t.label);
            if (line.compare(0, n, t.label) != 0) continue;
            const std::size_t sep = line.find(": ");
            if (sep == std::string::npos) break;
            const std::string value = trim(line.substr(sep + 2));
            char* end = nullptr;
            const long v = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || end == nullptr || *end != '\0') break;
            for (const Word& w : t.words)
                if (w.value == v) {
                    line = line.substr(0, sep + 2) + w.text;
                    break;
                }
            break;
        }
    }
}

bool ExifDateToTime(const std::string& rawDate, std::int64_t& secondsSinceEpoch) {
    if (rawDate.size() < 19) return false;
    std::tm tm{};
    int fields[6];
    const int at[6] = {0, 5, 8, 11, 14, 17};
    const int len[6] = {4, 2, 2, 2, 2, 2};
    for (int i = 0; i < 6; ++i) {
        fields[i] = 0;
        for (int k = 0; k < len[i]; ++k) {
            const char c = rawDate[at[i] + k];
            if (c < '0' || c > '9') return false;
            fields[i] = fields[i] * 10 + (c - '0');
        }
    }
    if (fields[0] < 1980 || fields[1] < 1 || fields[1] > 12 || fields[2] < 1 || fields[2] > 31 || fields[3] > 23 ||
        fields[4] > 59 || fields[5] > 59)
        return false;
    tm.tm_year = fields[0] - 1900;
    tm.tm_mon = fields[1] - 1;
    tm.tm_mday = fields[2];
    tm.tm_hour = fields[3];
    tm.tm_min = fields[4];
    tm.tm_sec = fields[5];
    tm.tm_isdst = -1;
    const std::time_t t = std::mktime(&tm);
    if (t == static_cast<std::time_t>(-1)) return false;
    secondsSinceEpoch = static_cast<std::int64_t>(t);
    return true;
}

std::string ShownText(const std::string& raw) {
    std::string text = trim(raw.substr(0, raw.find('\0')));
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        // The length of a well-formed UTF-8 sequence starting here, or 0.
        std::size_t n = c < 0x80 ? 1 : (c >= 0xC2 && c <= 0xDF) ? 2 : (c >= 0xE0 && c <= 0xEF) ? 3 : (c >= 0xF0 && c <= 0xF4) ? 4 : 0;
        for (std::size_t k = 1; k < n; ++k)
            if (i + k >= text.size() || (static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) n = 0;
        if (n > 0) {
            if (c >= 0x20 || c == '\t') out.append(text, i, n);
            i += n;
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));  // Latin-1 as UTF-8
            out += static_cast<char>(0x80 | (c & 0x3F));
            ++i;
        }
    }
    return out;
}

std::string CameraName(const std::string& make, const std::string& model) {
    const std::string maker = make.substr(0, make.find(' '));
    if (model.empty()) return make;
    if (maker.empty()) return model;
    std::string lowerModel = model, lowerMaker = maker;
    for (auto* s : {&lowerModel, &lowerMaker})
        for (char& c : *s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lowerModel.find(lowerMaker) != std::string::npos ? model : maker + " " + model;
}

std::string CaptureDate(const std::string& text) {
    const std::string t = ShownText(text);
    // The numbers in order, each with the character that ends it.
    struct Part {
        int value = 0;
        int digits = 0;
    };
    std::vector<Part> parts;
    std::size_t i = 0;
    while (i < t.size() && parts.size() < 6) {
        Part p;
        while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i])) && p.digits < 5) {
            p.value = p.value * 10 + (t[i] - '0');
            ++p.digits;
            ++i;
        }
        if (p.digits == 0) return {};
        parts.push_back(p);
        if (i >= t.size()) break;
        const char sep = t[i];
        const std::size_t n = parts.size();
        // Between the date's numbers ':', '-', '/' or '.'; before the time ' ' or 'T'; in it ':'.
        const bool ok = n < 3 ? (sep == ':' || sep == '-' || sep == '/' || sep == '.')
                        : n == 3 ? (sep == ' ' || sep == 'T')
                                 : sep == ':';
        if (!ok) break;  // a fraction of a second, a time zone, or the end
        ++i;
    }
    if (parts.size() < 3) return {};
    int year = parts[0].value, month = parts[1].value, day = parts[2].value;
    if (parts[0].digits != 4) {
        if (parts[2].digits != 4) return {};
        // "06-01-1998": the day first, unless it cannot be a day.
        year = parts[2].value;
        day = parts[0].value;
        month = parts[1].value;
        if (month > 12 && day <= 12) std::swap(day, month);
    }
    int clock[3] = {0, 0, 0};
    if (parts.size() > 3) {
        if (parts.size() < 5) return {};
        for (std::size_t k = 3; k < parts.size(); ++k) clock[k - 3] = parts[k].value;
    }
    if (year < 1900 || year > 2099 || month < 1 || month > 12 || day < 1 || day > 31 || clock[0] > 23 ||
        clock[1] > 59 || clock[2] > 60)
        return {};
    char out[32];
    std::snprintf(out, sizeof out, "%04d:%02d:%02d %02d:%02d:%02d", year, month, day, clock[0], clock[1], clock[2]);
    return out;
}

std::string IsoDate(const std::string& rawDate) {
    if (rawDate.size() != 19 || rawDate[4] != ':' || rawDate[7] != ':' || rawDate[10] != ' ') return rawDate;
    std::string iso = rawDate;
    iso[4] = iso[7] = '-';
    return iso;
}

}  // namespace hx::viewing
