#include "formats/FileStructure.h"
#include "formats/iso/IsoBoxes.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

#include "platform/ByteOrder.h"
#include "formats/PictureCheck.h"

namespace hx::formats {

namespace {

using platform::Le16;
using platform::Le32;
using platform::Le64;
using platform::Be32;
using platform::Be64;

constexpr std::uint64_t kNotFound = ~0ull;
// A JPEG is decoded in memory up to this length.
constexpr std::uint64_t kMaxDecodeBytes = 256ull << 20;
constexpr std::size_t kPiece = 1 << 20;
// Boxes, chunks, blocks or entries walked at most.
constexpr int kMaxParts = 1 << 20;

bool isTag(const std::uint8_t* p) {
    for (int i = 0; i < 4; ++i)
        if (p[i] < 0x20 || p[i] > 0x7E) return false;
    return true;
}

// The file as far as its bytes go: every read is checked against its size.
class Source {
public:
    Source(const ReadAt& read, std::uint64_t size) : read_(read), size_(size) {}
    std::uint64_t size() const { return size_; }

    bool get(std::uint64_t at, std::size_t n, std::uint8_t* out) const {
        return at <= size_ && n <= size_ - at && read_(at, n, out);
    }
    bool byte(std::uint64_t at, std::uint8_t& out) const { return get(at, 1, &out); }

    // Feeds [at, at + n) to `use` piece by piece.
    template <typename Use>
    bool pieces(std::uint64_t at, std::uint64_t n, Use&& use) const {
        if (at > size_ || n > size_ - at) return false;
        std::vector<std::uint8_t> buf(static_cast<std::size_t>(std::min<std::uint64_t>(n, kPiece)));
        while (n > 0) {
            const auto len = static_cast<std::size_t>(std::min<std::uint64_t>(n, kPiece));
            if (!read_(at, len, buf.data())) return false;
            if (!use(buf.data(), len)) return false;
            at += len;
            n -= len;
        }
        return true;
    }

    bool crc(std::uint64_t at, std::uint64_t n, uLong& crc) const {
        return pieces(at, n, [&crc](const std::uint8_t* p, std::size_t len) {
            crc = crc32(crc, p, static_cast<uInt>(len));
            return true;
        });
    }

    // Every place of `what` in [from, size), in order, until `seen` says stop.
    template <typename Seen>
    void find(std::string_view what, std::uint64_t from, Seen&& seen) const {
        const std::size_t overlap = what.size() - 1;
        std::uint64_t at = from;
        std::vector<char> buf;
        while (at < size_ && size_ - at >= what.size()) {
            const auto len = static_cast<std::size_t>(std::min<std::uint64_t>(size_ - at, kPiece + overlap));
            buf.resize(len);
            if (!read_(at, len, reinterpret_cast<std::uint8_t*>(buf.data()))) return;
            const std::string_view view(buf.data(), len);
            for (std::size_t p = view.find(what); p != std::string_view::npos; p = view.find(what, p + 1))
                if (!seen(at + p)) return;
            if (len < kPiece + overlap) return;
            at += kPiece;
        }
    }

private:
    const ReadAt& read_;
    std::uint64_t size_;
};

FileStructure jpeg(const Source& s) {
    if (s.size() > kMaxDecodeBytes) return {};
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(s.size()));
    if (!s.get(0, bytes.size(), bytes.data())) return {};
    const JpegCheck check = CheckJpegData(bytes.data(), bytes.size(), false);
    if (!check.complete || check.warnings > 0 || check.end > bytes.size()) return {};
    return {Proof::Content, check.end};
}

// Chunks of length, type, data and CRC from the signature to IEND.
FileStructure png(const Source& s, bool checkContent) {
    std::uint64_t at = 8;
    for (int n = 0; n < kMaxParts; ++n) {
        std::uint8_t h[8], c[4];
        if (!s.get(at, 8, h)) return {};
        const std::uint32_t len = Be32(h);
        if (len > 0x7FFFFFFFu || !isTag(h + 4) || (n == 0 && std::memcmp(h + 4, "IHDR", 4) != 0)) return {};
        if (!s.get(at + 8 + len, 4, c)) return {};
        uLong crc = crc32(0, h + 4, 4);
        if (checkContent && (!s.crc(at + 8, len, crc) || crc != Be32(c))) return {};
        at += 12ull + len;
        if (std::memcmp(h + 4, "IEND", 4) == 0) return {checkContent ? Proof::Content : Proof::Layout, at};
    }
    return {};
}

// Sub-blocks: a length byte, that many bytes, up to a zero length.
bool gifBlocks(const Source& s, std::uint64_t& at) {
    for (int n = 0; n < kMaxParts; ++n) {
        std::uint8_t len;
        if (!s.byte(at++, len)) return false;
        if (len == 0) return true;
        at += len;
    }
    return false;
}

FileStructure gif(const Source& s) {
    std::uint8_t h[13];
    if (!s.get(0, 13, h)) return {};
    std::uint64_t at = 13 + ((h[10] & 0x80) ? 3u << ((h[10] & 7) + 1) : 0);
    int images = 0;
    for (int n = 0; n < kMaxParts; ++n) {
        std::uint8_t b;
        if (!s.byte(at, b)) return {};
        if (b == 0x3B) return images > 0 ? FileStructure{Proof::Layout, at + 1} : FileStructure{};
        if (b == 0x21) {
            at += 2;
        } else if (b == 0x2C) {
            std::uint8_t d[10];
            if (!s.get(at, 10, d)) return {};
            at += 10 + ((d[9] & 0x80) ? 3u << ((d[9] & 7) + 1) : 0);
            std::uint8_t codeSize;
            if (!s.byte(at++, codeSize) || codeSize < 1 || codeSize > 11) return {};
            ++images;
        } else {
            return {};
        }
        if (!gifBlocks(s, at)) return {};
    }
    return {};
}

// Inflates a deflate stream of `packed` bytes and checks its length and CRC.
bool inflatesTo(const Source& s, std::uint64_t at, std::uint64_t packed, std::uint64_t size, std::uint32_t crc) {
    z_stream z{};
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return false;
    std::vector<std::uint8_t> out(kPiece);
    uLong sum = crc32(0, nullptr, 0);
    std::uint64_t produced = 0;
    int rc = Z_OK;
    const bool read = s.pieces(at, packed, [&](const std::uint8_t* p, std::size_t len) {
        z.next_in = const_cast<Bytef*>(p);
        z.avail_in = static_cast<uInt>(len);
        while (z.avail_in > 0 && rc == Z_OK) {
            z.next_out = out.data();
            z.avail_out = static_cast<uInt>(out.size());
            rc = inflate(&z, Z_NO_FLUSH);
            const std::size_t made = out.size() - z.avail_out;
            sum = crc32(sum, out.data(), static_cast<uInt>(made));
            produced += made;
            if (rc == Z_BUF_ERROR && made > 0) rc = Z_OK;
        }
        return rc == Z_OK || rc == Z_STREAM_END;
    });
    inflateEnd(&z);
    return read && rc == Z_STREAM_END && produced == size && sum == crc;
}

struct ZipEnd {
    std::uint64_t end = 0, directory = 0, directorySize = 0, entries = 0;
};

// The first end-of-central-directory record whose directory lies right before it.
bool findZipEnd(const Source& s, ZipEnd& out) {
    bool found = false;
    s.find("PK\x05\x06", 0, [&](std::uint64_t at) {
        std::uint8_t e[22];
        if (!s.get(at, 22, e)) return true;
        ZipEnd z{at + 22 + Le16(e + 20), Le32(e + 16), Le32(e + 12), Le16(e + 10)};
        std::uint64_t recordAt = at;
        if (z.directory == 0xFFFFFFFFu || z.directorySize == 0xFFFFFFFFu || z.entries == 0xFFFF) {
            std::uint8_t loc[20], e64[56];
            if (at < 20 || !s.get(at - 20, 20, loc) || std::memcmp(loc, "PK\x06\x07", 4) != 0) return true;
            recordAt = Le64(loc + 8);
            if (!s.get(recordAt, 56, e64) || std::memcmp(e64, "PK\x06\x06", 4) != 0) return true;
            z.entries = Le64(e64 + 32);
            z.directorySize = Le64(e64 + 40);
            z.directory = Le64(e64 + 48);
        }
        if (z.end > s.size() || z.directory > recordAt || recordAt - z.directory != z.directorySize) return true;
        out = z;
        found = true;
        return false;
    });
    return found;
}

// Zip64 extra field: the 64-bit values of those that are 0xFFFFFFFF, in order.
void zip64Sizes(const std::vector<std::uint8_t>& extra, std::uint64_t& size, std::uint64_t& packed,
                std::uint64_t& local) {
    for (std::size_t at = 0; at + 4 <= extra.size();) {
        const std::uint16_t id = Le16(&extra[at]), len = Le16(&extra[at + 2]);
        if (at + 4 + len > extra.size()) return;
        if (id == 1) {
            std::size_t v = at + 4;
            for (std::uint64_t* field : {&size, &packed, &local})
                if (*field == 0xFFFFFFFFu && v + 8 <= at + 4 + len) {
                    *field = Le64(&extra[v]);
                    v += 8;
                }
            return;
        }
        at += 4 + len;
    }
}

FileStructure zip(const Source& s, bool checkContent) {
    ZipEnd z;
    if (!findZipEnd(s, z) || z.entries > static_cast<std::uint64_t>(kMaxParts)) return {};
    if (!checkContent) return {Proof::Layout, z.end};
    bool checked = true;
    std::uint64_t at = z.directory;
    for (std::uint64_t n = 0; n < z.entries; ++n) {
        std::uint8_t c[46], l[30];
        if (at + 46 > z.directory + z.directorySize || !s.get(at, 46, c) || std::memcmp(c, "PK\x01\x02", 4) != 0)
            return {};
        const std::uint16_t flags = Le16(c + 8), method = Le16(c + 10);
        const std::uint32_t crc = Le32(c + 16);
        std::uint64_t packed = Le32(c + 20), size = Le32(c + 24), local = Le32(c + 42);
        std::vector<std::uint8_t> extra(Le16(c + 30));
        if (!s.get(at + 46 + Le16(c + 28), extra.size(), extra.data())) return {};
        zip64Sizes(extra, size, packed, local);
        at += 46ull + Le16(c + 28) + extra.size() + Le16(c + 32);
        if (!s.get(local, 30, l) || std::memcmp(l, "PK\x03\x04", 4) != 0) return {};
        const std::uint64_t data = local + 30 + Le16(l + 26) + Le16(l + 28);
        if (data > z.directory || packed > z.directory - data) return {};
        if (flags & 1) checked = false;  // encrypted: only its place is known
        else if (method == 0) {
            uLong sum = crc32(0, nullptr, 0);
            if (packed != size || !s.crc(data, packed, sum) || sum != crc) return {};
        } else if (method == 8) {
            if (!inflatesTo(s, data, packed, size, crc)) return {};
        } else {
            checked = false;
        }
    }
    return {checked ? Proof::Content : Proof::Layout, z.end};
}

// ISO base media boxes side by side, up to the last that fits.
FileStructure isoBoxes(const Source& s) {
    const ReadAt read = [&s](std::uint64_t at, std::size_t n, std::uint8_t* out) { return s.get(at, n, out); };
    std::uint64_t at = 0;
    bool media = false;
    int n = 0;
    IsoBox box;
    for (; n < kMaxParts && at < s.size(); ++n, at = box.end) {
        const BoxRead found = ReadIsoBox(read, at, s.size(), box);
        if (found == BoxRead::TooLong) return {};  // cut short
        if (found == BoxRead::None) break;
        media = media || box.is("moov") || box.is("meta") || box.is("moof") || box.is("mdat") || box.is("jxlc") ||
                box.is("jxlp");
    }
    if (!media || n < 2) return {};
    return {Proof::Layout, at};
}

// RIFF: a length, a form and chunks that fill it; AVI's "AVIX" extensions follow on.
FileStructure riff(const Source& s) {
    std::uint64_t at = 0;
    for (int form = 0; form < 256; ++form) {
        std::uint8_t h[12];
        if (!s.get(at, 12, h) || std::memcmp(h, "RIFF", 4) != 0 || !isTag(h + 8)) break;
        if (form > 0 && std::memcmp(h + 8, "AVIX", 4) != 0) break;
        const std::uint64_t end = at + 8 + Le32(h + 4);
        if (end > s.size()) return {};
        std::uint64_t chunk = at + 12;
        for (int n = 0; n < kMaxParts && chunk + 8 <= end; ++n) {
            std::uint8_t c[8];
            if (!s.get(chunk, 8, c) || !isTag(c)) return {};
            chunk += 8ull + Le32(c + 4) + (Le32(c + 4) & 1);
        }
        if (chunk < end || chunk > end + 1) return {};
        at = std::min(chunk, s.size());
    }
    return at == 0 ? FileStructure{} : FileStructure{Proof::Layout, at};
}

FileStructure bmp(const Source& s) {
    std::uint8_t h[18];
    if (!s.get(0, 18, h)) return {};
    const std::uint32_t size = Le32(h + 2), pixels = Le32(h + 10), dib = Le32(h + 14);
    const bool knownHeader = dib == 12 || dib == 40 || dib == 52 || dib == 56 || dib == 64 || dib == 108 || dib == 124;
    if (!knownHeader || Le32(h + 6) != 0 || pixels < 14 + dib || pixels >= size || size > s.size()) return {};
    return {Proof::Layout, size};
}

// A PDF ends after its last "%%EOF" line.
FileStructure pdf(const Source& s) {
    std::uint64_t last = kNotFound;
    s.find("%%EOF", 0, [&last](std::uint64_t at) {
        last = at;
        return true;
    });
    if (last == kNotFound) return {};
    std::uint64_t end = last + 5;
    std::uint8_t eol[2] = {0, 0};
    if (s.get(end, 2, eol) && eol[0] == '\r' && eol[1] == '\n') end += 2;
    else if (s.byte(end, eol[0]) && (eol[0] == '\n' || eol[0] == '\r')) end += 1;
    return {Proof::Layout, end};
}

FileStructure tiff(const Source& s) {
    const std::uint64_t end = TiffFileEnd([&s](std::uint64_t at, std::size_t n, std::uint8_t* out) {
        return s.get(at, n, out);
    });
    if (end == 0 || end > s.size()) return {};
    return {Proof::Layout, end};
}

enum class Kind { None, Jpeg, Png, Gif, Zip, Iso, Riff, Bmp, Pdf, Tiff };

Kind kindOf(const std::uint8_t* h, std::size_t n) {
    auto starts = [&](std::string_view what, std::size_t at = 0) {
        return n >= at + what.size() && std::memcmp(h + at, what.data(), what.size()) == 0;
    };
    if (starts("\xFF\xD8\xFF")) return Kind::Jpeg;
    if (starts("\x89PNG\r\n\x1A\n")) return Kind::Png;
    if (starts("GIF87a") || starts("GIF89a")) return Kind::Gif;
    if (starts("PK\x03\x04")) return Kind::Zip;
    for (const char* box : {"ftyp", "moov", "mdat", "wide", "free", "skip", "pnot", "JXL "})
        if (starts(box, 4)) return Kind::Iso;
    if (starts("RIFF")) return Kind::Riff;
    if (starts("BM")) return Kind::Bmp;
    if (starts("%PDF-")) return Kind::Pdf;
    if (starts("II") || starts("MM")) return Kind::Tiff;
    return Kind::None;
}

}  // namespace

bool HasFileStructure(const std::uint8_t* head, std::size_t size) { return kindOf(head, size) != Kind::None; }

FileStructure ReadFileStructure(const ReadAt& read, std::uint64_t size, bool checkContent) {
    const Source s(read, size);
    std::uint8_t head[16] = {};
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(size, sizeof head));
    if (!s.get(0, n, head)) return {};
    switch (kindOf(head, n)) {
        case Kind::Jpeg: return checkContent ? jpeg(s) : FileStructure{};
        case Kind::Png: return png(s, checkContent);
        case Kind::Gif: return gif(s);
        case Kind::Zip: return zip(s, checkContent);
        case Kind::Iso: return isoBoxes(s);
        case Kind::Riff: return riff(s);
        case Kind::Bmp: return bmp(s);
        case Kind::Pdf: return pdf(s);
        case Kind::Tiff: return tiff(s);
        case Kind::None: break;
    }
    return {};
}

FileStructure ReadFileStructure(const std::uint8_t* data, std::size_t size, bool checkContent) {
    return ReadFileStructure(
        [data, size](std::uint64_t at, std::size_t n, std::uint8_t* out) {
            if (at > size || n > size - at) return false;
            if (n > 0) std::memcpy(out, data + at, n);
            return true;
        },
        size, checkContent);
}

FileStructure CandidateStructures::read(std::vector<std::uint8_t> candidate) {
    lastWasJpeg_ = candidate.size() >= 16 && kindOf(candidate.data(), candidate.size()) == Kind::Jpeg;
    if (!lastWasJpeg_) return ReadFileStructure(candidate.data(), candidate.size());
    const JpegEntropy::Walk walk = jpeg_.walk(std::move(candidate));
    const std::uint8_t* data = jpeg_.candidate().data();
    const std::size_t size = jpeg_.candidate().size();
    if (walk.outcome == JpegEntropy::Outcome::Unsupported) return ReadFileStructure(data, size);
    if (walk.outcome != JpegEntropy::Outcome::Complete || !CheckJpegBuffer(data, size, true).decodes) return {};
    return {Proof::Content, walk.at};
}

}  // namespace hx::formats
