#include "formats/PhotoParts.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "formats/FileStructure.h"
#include "formats/JpegSegments.h"
#include "formats/PictureCheck.h"
#include "formats/iso/IsoBoxes.h"
#include "formats/iso/IsoSampleTables.h"
#include "platform/ByteOrder.h"
#include "shell/Strings.h"

namespace hx::formats {

namespace {

constexpr std::string_view kXmp{"http://ns.adobe.com/xap/1.0/\0", 29};
// A file's parts are at most this long together (a clip of a few seconds is tens of MB).
constexpr std::uint64_t kMaxPhotoBytes = 4ull << 30;
// A second picture is decoded in memory up to this length.
constexpr std::uint64_t kMaxPictureBytes = 64ull << 20;
// A clip named by its length from the file's end may start this much after the picture.
constexpr std::size_t kClipSlack = 64 * 1024;
constexpr std::size_t kMaxEntries = 16;
constexpr std::string_view kSamsungClip = "MotionPhoto_Data";
constexpr std::size_t kSamsungProbe = 64;

// An XMP property's value, written as an attribute (name="v") or as an element (<name>v</name>).
std::string_view xmpValue(std::string_view text, std::string_view name) {
    for (std::size_t at = text.find(name); at != std::string_view::npos; at = text.find(name, at + 1)) {
        std::size_t v = at + name.size();
        if (v < text.size() && text[v] == '=' && v + 1 < text.size() && (text[v + 1] == '"' || text[v + 1] == '\'')) {
            const std::size_t close = text.find(text[v + 1], v + 2);
            if (close != std::string_view::npos) return text.substr(v + 2, close - v - 2);
        } else if (v < text.size() && text[v] == '>' && at > 0 && text[at - 1] == '<') {
            const std::size_t close = text.find('<', v + 1);
            if (close != std::string_view::npos) return text.substr(v + 1, close - v - 1);
        }
    }
    return {};
}

// A whole number of bytes; 0 when it is none or past every sane length.
std::uint64_t byteCount(std::string_view v) {
    while (!v.empty() && v.front() == ' ') v.remove_prefix(1);
    if (v.empty() || v.size() > 12) return 0;
    std::uint64_t n = 0;
    for (char c : v) {
        if (c < '0' || c > '9') return 0;
        n = n * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return n <= kMaxPhotoBytes ? n : 0;
}

std::string_view xmpText(const std::uint8_t* head, std::size_t size) {
    std::string_view found;
    ForEachJpegSegment(head, size, [&](const JpegSegment& s) {
        const std::size_t n = s.available(size);
        if (s.marker != 0xE1 || n <= kXmp.size() || std::memcmp(head + s.body, kXmp.data(), kXmp.size()) != 0)
            return true;
        found = std::string_view(reinterpret_cast<const char*>(head + s.body + kXmp.size()), n - kXmp.size());
        return false;
    });
    return found;
}

// The items of an XMP container directory after the primary picture, laid end to end after it.
std::vector<PhotoPart> containerItems(std::string_view xmp, std::uint64_t pictureEnd) {
    std::vector<PhotoPart> parts;
    std::vector<std::string_view> items;
    for (std::size_t at = xmp.find("Container:Item"); at != std::string_view::npos;) {
        const std::size_t next = xmp.find("Container:Item", at + 1);
        if (at > 0 && xmp[at - 1] != '/') items.push_back(xmp.substr(at, next == std::string_view::npos ? next : next - at));
        at = next;
        if (items.size() > kMaxEntries) break;
    }
    if (items.size() < 2) return parts;
    std::uint64_t at = pictureEnd + byteCount(xmpValue(items[0], "Item:Padding"));
    for (std::size_t i = 1; i < items.size(); ++i) {
        const std::string_view mime = xmpValue(items[i], "Item:Mime");
        const std::string_view semantic = xmpValue(items[i], "Item:Semantic");
        const std::uint64_t length = byteCount(xmpValue(items[i], "Item:Length"));
        PartKind kind;
        if (mime.substr(0, 6) == "video/") kind = PartKind::Clip;
        else if (semantic == "GainMap") kind = PartKind::GainMap;
        else if (mime == "image/jpeg") kind = PartKind::SecondPicture;
        else break;  // a part that cannot be checked: what follows is not taken on trust
        if (length == 0) break;
        parts.push_back({kind, at, length});
        at += length + (i + 1 < items.size() ? byteCount(xmpValue(items[i], "Item:Padding")) : 0);
    }
    return parts;
}

// The pictures after the first that an MPF index lists; its offsets count from its own TIFF header.
std::vector<PhotoPart> mpfPictures(const std::uint8_t* head, std::size_t size) {
    std::vector<PhotoPart> parts;
    ForEachJpegSegment(head, size, [&](const JpegSegment& s) {
        const std::size_t n = s.available(size);
        if (s.marker != 0xE2 || n < 12 || std::memcmp(head + s.body, "MPF\0", 4) != 0) return true;
        const std::size_t base = s.body + 4;
        TiffReader tiff(head + base, n - 4);
        std::vector<TiffEntry> entries;
        std::uint32_t next = 0;
        if (!tiff.open() || !tiff.directory(tiff.firstDirectory(), entries, next, 64)) return false;
        for (const TiffEntry& e : entries) {
            if (e.tag != 0xB002 || e.count < 32 || e.count % 16 != 0) continue;
            const std::size_t count = std::min<std::size_t>(e.count / 16, kMaxEntries);
            std::vector<std::uint8_t> table(count * 16);
            if (!tiff.read(tiff.valueOffset(e), table.size(), table.data())) break;
            for (std::size_t i = 1; i < count; ++i) {
                const std::uint32_t length = tiff.u32(&table[i * 16 + 4]);
                const std::uint32_t offset = tiff.u32(&table[i * 16 + 8]);
                if (length == 0 || offset == 0) continue;
                parts.push_back({PartKind::SecondPicture, base + offset, length});
            }
        }
        return false;
    });
    return parts;
}

bool startsClip(const std::uint8_t* p) { return std::memcmp(p + 4, "ftyp", 4) == 0; }

// A clip holds by its boxes, and by its pictures where its index says:
// the boxes of a clip whose pieces lie apart may hold another file's bytes.
bool clipHolds(const ReadAt& read, const PhotoPart& part) {
    const ReadAt inClip = [&read, &part](std::uint64_t at, std::size_t n, std::uint8_t* out) {
        return at + n <= part.length && read(part.offset + at, n, out);
    };
    const FileStructure s = ReadFileStructure(inClip, part.length, false);
    if (s.proof == Proof::None || s.end != part.length) return false;
    IsoBox moov;
    std::vector<IsoTrack> tracks;
    return !FindIsoBox(inClip, 0, part.length, "moov", moov) ||
           (ReadSampleTables(inClip, moov, tracks) && NalSamplesInPlace(inClip, tracks));
}

bool pictureHolds(const ReadAt& read, const PhotoPart& part) {
    if (part.length > kMaxPictureBytes) return false;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(part.length));
    if (!read(part.offset, bytes.size(), bytes.data())) return false;
    const JpegCheck check = CheckJpegData(bytes.data(), bytes.size(), false);
    return check.complete && check.warnings == 0 && check.end <= bytes.size();
}

// A clip named by its length from the file's end that does not start right
// after the picture: where its first box starts within a little way.
bool placeClip(const ReadAt& read, std::uint64_t size, PhotoPart& part) {
    std::uint8_t h[8];
    if (read(part.offset, 8, h) && startsClip(h)) return true;
    const std::uint64_t window = std::min<std::uint64_t>(kClipSlack, size > part.offset ? size - part.offset : 0);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(window));
    if (window < 8 || !read(part.offset, bytes.size(), bytes.data())) return false;
    for (std::size_t i = 1; i + 8 <= bytes.size(); ++i)
        if (startsClip(&bytes[i])) {
            part.offset += i;
            return true;
        }
    return false;
}

}  // namespace

std::string_view PartKindName(PartKind kind) {
    switch (kind) {
        case PartKind::Picture: return "picture";
        case PartKind::SecondPicture: return "second picture";
        case PartKind::GainMap: return "gain map";
        case PartKind::Clip: return "clip";
        case PartKind::Trailer: return "trailer";
    }
    return "";
}

std::vector<PhotoPart> PartsNamedInHeaders(const std::uint8_t* head, std::size_t size, std::uint64_t pictureEnd) {
    const std::string_view xmp = xmpText(head, size);
    std::vector<PhotoPart> named = containerItems(xmp, pictureEnd);
    // The MPF index places pictures exactly; the XMP may tell which is a gain map.
    std::vector<PhotoPart> pictures = mpfPictures(head, size);
    for (PhotoPart& p : pictures)
        for (const PhotoPart& item : named)
            if (item.offset == p.offset && item.kind == PartKind::GainMap) p.kind = PartKind::GainMap;
    if (!pictures.empty()) {
        named.erase(std::remove_if(named.begin(), named.end(), [](const PhotoPart& p) { return p.kind != PartKind::Clip; }),
                    named.end());
        named.insert(named.end(), pictures.begin(), pictures.end());
    }
    if (std::none_of(named.begin(), named.end(), [](const PhotoPart& p) { return p.kind == PartKind::Clip; }))
        if (const std::uint64_t clip = byteCount(xmpValue(xmp, "GCamera:MicroVideoOffset")); clip > 0) {
            const std::uint64_t after = named.empty() ? pictureEnd : named.back().end();
            named.push_back({PartKind::Clip, after, clip});
        }
    std::sort(named.begin(), named.end(), [](const PhotoPart& a, const PhotoPart& b) { return a.offset < b.offset; });
    // Parts lie after the picture, one after the other, within a sane length.
    std::vector<PhotoPart> parts;
    std::uint64_t end = pictureEnd;
    for (const PhotoPart& p : named) {
        if (p.offset < end || p.end() > kMaxPhotoBytes) break;
        parts.push_back(p);
        end = p.end();
    }
    return parts;
}

std::size_t SamsungClipStart(const std::uint8_t* after, std::size_t size, bool& decided) {
    decided = true;
    // The record opens with two zero bytes (or the name itself): most pictures are told at once.
    if (size > 0 && after[0] != 0 && after[0] != 'M') return std::string_view::npos;
    const std::string_view seen(reinterpret_cast<const char*>(after), std::min(size, kSamsungProbe));
    const std::size_t name = seen.find(kSamsungClip);
    if (name == std::string_view::npos) {
        decided = size >= kSamsungProbe;
        return std::string_view::npos;
    }
    const std::size_t clip = name + kSamsungClip.size();
    if (size < clip + 8) {
        decided = false;
        return std::string_view::npos;
    }
    return startsClip(after + clip) ? clip : std::string_view::npos;
}

std::size_t SamsungTrailerLength(const std::uint8_t* t, std::size_t size) {
    const std::string_view seen(reinterpret_cast<const char*>(t), size);
    for (std::size_t at = seen.find("SEFT"); at != std::string_view::npos; at = seen.find("SEFT", at + 1)) {
        if (at < 4) continue;
        const std::uint64_t length = platform::Le32(t + at - 4);
        if (length + 4 > at) continue;
        const std::size_t head = at - 4 - static_cast<std::size_t>(length);
        if (std::memcmp(t + head, "SEFH", 4) == 0) return at + 4;
    }
    return 0;
}

PartsCheck CheckPhotoParts(const ReadAt& read, std::uint64_t size, std::uint64_t pictureEnd,
                           std::vector<PhotoPart> parts) {
    PartsCheck check;
    check.parts.push_back({PartKind::Picture, 0, pictureEnd});
    check.end = pictureEnd;
    bool holding = true;
    for (PhotoPart& part : parts) {
        if (holding) {
            if (part.kind == PartKind::Clip && part.offset >= check.end) placeClip(read, size, part);
            const bool there = part.offset >= check.end && part.end() <= size;
            holding = there && (part.kind == PartKind::Trailer  ? true
                                : part.kind == PartKind::Clip ? clipHolds(read, part)
                                                              : pictureHolds(read, part));
            if (holding) {
                check.parts.push_back(part);
                check.end = part.end();
                continue;
            }
        }
        if (part.kind != PartKind::Trailer) check.missing.push_back(part.kind);
    }
    return check;
}

std::string MissingPartsText(const std::vector<PartKind>& missing) {
    std::string text;
    auto add = [&text](const std::string& what) {
        if (text.find(what) == std::string::npos) text += (text.empty() ? "" : "; ") + what;
    };
    for (PartKind kind : missing) {
        if (kind == PartKind::Clip) add(shell::LoadStr(0, "motion photo: clip missing"));
        else if (kind == PartKind::GainMap) add(shell::LoadStr(0, "gain map missing"));
        else add(shell::LoadStr(0, "second picture missing"));
    }
    return text;
}

std::string PartsText(const std::vector<PhotoPart>& parts, const std::vector<PartKind>& missing, double clipSeconds) {
    std::string text;
    auto add = [&text](const std::string& what) { text += (text.empty() ? "" : "; ") + what; };
    for (const PhotoPart& p : parts) {
        if (p.kind == PartKind::Clip) {
            char seconds[32];
            std::snprintf(seconds, sizeof seconds, "%.1f", clipSeconds);
            add(clipSeconds > 0 ? shell::FormatStr(shell::LoadStr(0, "motion photo, %0 s clip"), {seconds})
                                : shell::LoadStr(0, "motion photo"));
        } else if (p.kind == PartKind::GainMap) {
            add(shell::LoadStr(0, "with gain map"));
        } else if (p.kind == PartKind::SecondPicture) {
            add(shell::LoadStr(0, "with second picture"));
        }
    }
    if (!missing.empty()) add(MissingPartsText(missing));
    return text;
}

double ClipSeconds(const ReadAt& read, const std::vector<PhotoPart>& parts) {
    for (const PhotoPart& p : parts)
        if (p.kind == PartKind::Clip) return MovieSeconds(read, p.offset, p.end());
    return 0;
}

}  // namespace hx::formats
