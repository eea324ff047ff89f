#include "formats/iso/IsoBoxWriter.h"

#include <algorithm>
#include <cstring>

namespace hx::formats {

namespace {
constexpr std::size_t kMostChildren = 64;
}

std::uint64_t BytesBe(std::string_view b, std::uint64_t at, int n) {
    std::uint64_t v = 0;
    for (int k = 0; k < n; ++k) v = v << 8 | static_cast<unsigned char>(b[at + k]);
    return v;
}

void PutBytesBe(std::string& b, std::uint64_t at, std::uint64_t v, int n) {
    for (int k = n - 1; k >= 0; --k, v >>= 8) b[at + k] = static_cast<char>(v & 0xFF);
}

std::string Be32Bytes(std::uint64_t v) {
    std::string s(4, '\0');
    PutBytesBe(s, 0, v, 4);
    return s;
}

ReadAt ReaderOf(std::string_view b) {
    return [b](std::uint64_t at, std::size_t n, std::uint8_t* out) {
        if (at > b.size() || n > b.size() - at) return false;
        if (n > 0) std::memcpy(out, b.data() + at, n);
        return true;
    };
}

std::string MakeBox(const char* type, const std::string& contents) { return Be32Bytes(8 + contents.size()) + type + contents; }
std::string MakeFullBox(const char* type, const std::string& contents) { return MakeBox(type, std::string(4, '\0') + contents); }
std::string BoxBytes(std::string_view b, const IsoBox& box) { return std::string(b.substr(box.at, box.end - box.at)); }

std::vector<IsoBox> ChildBoxes(std::string_view b, std::uint64_t from, std::uint64_t to) {
    std::vector<IsoBox> out;
    const ReadAt read = ReaderOf(b);
    IsoBox child;
    for (std::uint64_t at = from; at < to && out.size() < kMostChildren; at = child.end) {
        if (ReadIsoBox(read, at, to, child) != BoxRead::Box) break;
        out.push_back(child);
    }
    return out;
}

const IsoBox* ChildBox(const std::vector<IsoBox>& boxes, const char* type) {
    for (const IsoBox& b : boxes)
        if (b.is(type)) return &b;
    return nullptr;
}

bool TrackBoxesOf(std::string_view b, const IsoBox& trak, TrackBoxes& out) {
    if (!trak.is("trak")) return false;
    const std::vector<IsoBox> track = ChildBoxes(b, trak.contents, trak.end);
    const IsoBox* mdia = ChildBox(track, "mdia");
    if (!mdia) return false;
    const std::vector<IsoBox> media = ChildBoxes(b, mdia->contents, mdia->end);
    const IsoBox *mdhd = ChildBox(media, "mdhd"), *hdlr = ChildBox(media, "hdlr"), *minf = ChildBox(media, "minf");
    if (!mdhd || !hdlr || !minf || hdlr->contents + 12 > hdlr->end) return false;
    const std::vector<IsoBox> info = ChildBoxes(b, minf->contents, minf->end);
    const IsoBox* stbl = ChildBox(info, "stbl");
    if (!stbl) return false;
    out.handler = b.substr(static_cast<std::size_t>(hdlr->contents + 8), 4);
    out.mdhd = *mdhd;
    out.hdlr = *hdlr;
    out.minf = *minf;
    out.stbl = *stbl;
    out.tables = ChildBoxes(b, stbl->contents, stbl->end);
    return true;
}

std::string WithDuration(std::string_view b, const IsoBox& box, std::uint64_t at0, std::uint64_t at1, std::uint64_t value) {
    std::string out = BoxBytes(b, box);
    if (box.contents >= box.end) return out;
    const bool v1 = out[box.contents - box.at] == 1;
    const std::uint64_t at = box.contents - box.at + (v1 ? at1 : at0);
    if (at + (v1 ? 8 : 4) > out.size()) return out;
    PutBytesBe(out, at, v1 ? value : std::min<std::uint64_t>(value, 0xFFFFFFFFull), v1 ? 8 : 4);
    return out;
}

std::uint64_t TimeScaleOf(std::string_view b, const IsoBox& box, std::uint64_t at0, std::uint64_t at1) {
    if (box.contents >= box.end) return 0;
    const bool v1 = b[box.contents] == 1;
    const std::uint64_t at = box.contents + (v1 ? at1 : at0);
    return at + 4 <= box.end ? BytesBe(b, at, 4) : 0;
}

}  // namespace hx::formats
