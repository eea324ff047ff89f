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
#include "formats/TiffReader.h"

namespace hx::viewing {

namespace {

char gDateSeparator = '-';

constexpr std::size_t kFileHead = 128 * 1024;  // an APP1 segment is at most 64 kB

std::size_t find(std::string_view data, std::string_view what, std::size_t from = 0) {
    return data.find(what, from);
}

std::string trim(std::string s) {
    auto notSpace = [](unsigned char c) { return c != ' ' && c != '\0' && c != '\t' && c != '\r' && c != '\n'; };
    s.erase(s.begin(), std::find_if(s.begin(), s.end(), notSpace));
    s.erase(std::find_if(s.rbegin(), s.rend(), notSpace).base(), s.end());
    return s;
}

// The header's values with every offset checked against the data: walked
// from IFD0 and the EXIF sub-directory when they are sound, searched byte-wise
// for their tags otherwise.
class Tiff {
public:
    Tiff(std::string_view data, std::size_t header)
        : d_(data), h_(header),
          reader_(reinterpret_cast<const std::uint8_t*>(data.data()) + header, data.size() - header) {
        opened_ = reader_.open();
    }

    void walk() {
        if (opened_) walked_ = walkIfd(reader_.firstDirectory(), 0);
    }

    std::optional<formats::TiffEntry> entry(std::uint16_t tag) const {
        if (walked_) {
            for (const auto& e : entries_)
                if (e.tag == tag) return e;
            return std::nullopt;
        }
        const bool little = d_[h_] == 'I';
        const char id[2] = {static_cast<char>(little ? tag & 0xFF : tag >> 8),
                            static_cast<char>(little ? tag >> 8 : tag & 0xFF)};
        const std::size_t at = d_.find(std::string_view(id, 2));
        if (at == std::string_view::npos || at < h_ || d_.size() - at < 12) return std::nullopt;
        // Read as an entry where it was found.
        const auto* p = reinterpret_cast<const std::uint8_t*>(d_.data()) + at;
        formats::TiffEntry e;
        e.tag = tag;
        e.type = reader_.u16(p + 2);
        e.count = reader_.u32(p + 4);
        std::memcpy(e.value, p + 8, 4);
        e.at = at - h_;
        return e;
    }

    std::uint32_t number(const formats::TiffEntry& e) const { return reader_.number(e); }

    std::string text(const formats::TiffEntry& e) const {
        if (e.count == 0 || e.count > d_.size()) return {};
        std::string out(e.count, '\0');
        if (e.count <= 4) std::memcpy(out.data(), e.value, e.count);
        else if (!reader_.read(reader_.valueOffset(e), e.count, reinterpret_cast<std::uint8_t*>(out.data()))) return {};
        return out;
    }

private:
    bool walkIfd(std::uint32_t offset, int depth) {
        std::vector<formats::TiffEntry> entries;
        std::uint32_t next = 0;
        if (depth > 1 || !reader_.directory(offset, entries, next, 512)) return false;
        for (const formats::TiffEntry& e : entries) {
            entries_.push_back(e);
            if (e.tag == 0x8769) walkIfd(reader_.valueOffset(e), depth + 1);
        }
        return true;
    }

    std::string_view d_;
    std::size_t h_;
    formats::TiffReader reader_;
    bool opened_ = false;
    bool walked_ = false;
    std::vector<formats::TiffEntry> entries_;
};

std::size_t headerPosition(std::string_view data) {
    std::size_t pos = std::string_view::npos;
    const std::size_t exif = find(data, "Exif");
    if (exif != std::string_view::npos) {
        pos = exif + 6;
    } else {
        const std::size_t ttw = find(data, "TTW");
        pos = ttw != std::string_view::npos ? ttw + 7 : find(data, "MM");
    }
    const std::size_t ii = find(data, "II");
    if (ii != std::string_view::npos && (pos == std::string_view::npos || ii < pos)) pos = ii;
    if (pos == std::string_view::npos || pos + 8 > data.size()) return std::string_view::npos;
    if (data.substr(pos, 2) != "MM" && data.substr(pos, 2) != "II") return std::string_view::npos;
    return pos;
}

void readValues(std::string_view data, ExifValues& out) {
    const std::size_t header = headerPosition(data);
    if (header != std::string_view::npos) {
        Tiff tiff(data, header);
        tiff.walk();
        auto e = tiff.entry(0x010F);
        if (e) out.make = ShownText(tiff.text(*e));
        e = tiff.entry(0x0110);
        if (e) out.model = ShownText(tiff.text(*e));
        e = tiff.entry(0x0112);
        if (e) out.orientation = static_cast<float>(tiff.number(*e));
        e = tiff.entry(0x9003);
        if (!e) e = tiff.entry(0x0132);
        if (e) {
            std::string d = CaptureDate(tiff.text(*e));
            if (!d.empty()) {
                out.rawDate = d;
                int replaced = 0;
                for (char& c : d)
                    if (c == ':' && replaced < 2) {
                        c = gDateSeparator;
                        ++replaced;
                    }
                out.date = d;
            }
        }
        e = tiff.entry(0xA001);
        if (e) {
            const std::uint32_t v = tiff.number(*e);
            if (v == 255) out.colorSpace = "unspecified";
            else if (shell::ContainsNoCase(data, "adobe rgb")) out.colorSpace = "Adobe RGB";
            else if (v == 1) out.colorSpace = "sRGB";
            else out.colorSpace = std::to_string(v);
        } else if (shell::ContainsNoCase(data, "adobe rgb")) {
            out.colorSpace = "Adobe RGB";
        }
        e = tiff.entry(0xA002);
        if (e) out.width = static_cast<int>(tiff.number(*e) & 0xFFFF);
        e = tiff.entry(0xA003);
        if (e) out.height = static_cast<int>(tiff.number(*e) & 0xFFFF);
    } else if (find(data.substr(0, 10), "GIF") != std::string_view::npos && data.size() >= 10) {
        auto b = reinterpret_cast<const unsigned char*>(data.data());
        out.width = b[6] | b[7] << 8;
        out.height = b[8] | b[9] << 8;
    }
    // Minolta raw: the picture block gives the sensor's size.
    const std::size_t prd = find(data, std::string_view("\0PRD", 4));
    if (prd != std::string_view::npos && prd + 1 + 23 <= data.size()) {
        auto b = reinterpret_cast<const unsigned char*>(data.data()) + prd + 1;
        out.height = b[19] << 8 | b[20];
        out.width = b[21] << 8 | b[22];
    }
}

}  // namespace

void SetDateSeparator(char separator) { gDateSeparator = separator; }

bool ReadExif(const std::string& source, const std::uint8_t* data, std::size_t size, ExifValues& out) {
    out = ExifValues{};
    std::string fileData;
    std::string_view view;
    if (source == "BUF") {
        if (data == nullptr) return false;
        view = std::string_view(reinterpret_cast<const char*>(data), size);
    } else {
        platform::RawFile file;
        if (!file.open(source, platform::RawFile::Mode::Read)) return false;
        fileData.resize(kFileHead);
        fileData.resize(file.readAt(0, fileData.data(), fileData.size()));
        view = fileData;
        // A HEIC or AVIF photo keeps its EXIF block as an item of its own.
        unsigned width = 0, height = 0;
        if (LooksLikeHeif(reinterpret_cast<const std::uint8_t*>(fileData.data()), fileData.size())) {
            std::string tiff;
            if (ReadHeifExif(source, tiff, width, height)) readValues(tiff, out);
            if (out.width == 0 || out.height == 0) {
                out.width = static_cast<int>(width);
                out.height = static_cast<int>(height);
            }
            return out.width != 0 && out.height != 0;
        }
    }
    readValues(view, out);
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
