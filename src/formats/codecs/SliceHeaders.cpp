#include "formats/codecs/SliceHeaders.h"

#include <algorithm>

#include "formats/iso/IsoBoxWriter.h"

namespace hx::formats {

NalBits::NalBits(std::string_view b, std::uint64_t from, std::uint64_t to) {
    int zeros = 0;
    for (std::uint64_t k = from; k < to && bytes_.size() < 64; ++k) {
        const auto v = static_cast<unsigned char>(b[k]);
        if (zeros >= 2 && v == 3) {
            zeros = 0;
            continue;
        }
        zeros = v == 0 ? zeros + 1 : 0;
        bytes_.push_back(v);
    }
}

bool NalBits::bit(std::uint32_t& v) {
    if (at_ / 8 >= bytes_.size()) return false;
    v = (bytes_[at_ / 8] >> (7 - at_ % 8)) & 1;
    ++at_;
    return true;
}

bool NalBits::bits(unsigned n, std::uint32_t& v) {
    v = 0;
    std::uint32_t b = 0;
    for (unsigned k = 0; k < n; ++k, v = v << 1 | b)
        if (!bit(b)) return false;
    return true;
}

bool NalBits::skip(unsigned n) {
    at_ += n;
    return at_ <= 8 * bytes_.size();
}

bool NalBits::ue(std::uint32_t& v) {
    unsigned zeros = 0;
    std::uint32_t b = 0;
    while (bit(b) && b == 0)
        if (++zeros > 31) return false;
    if (b != 1 || !bits(zeros, v)) return false;
    v += (1u << zeros) - 1;
    return true;
}

void ReadH264Coding(std::string_view b, std::uint64_t contents, std::uint64_t end, VideoCoding& coding) {
    if (contents + 5 > end) return;
    coding.lengthBytes = static_cast<std::uint8_t>((b[contents + 4] & 3) + 1);
    const std::uint64_t at = contents + 6;  // the count of sets, then each set's length
    if (at + 3 > end || (b[at - 1] & 0x1F) == 0) return;
    const std::uint64_t length = BytesBe(b, at, 2);
    if (length < 4 || at + 2 + length > end) return;
    coding.sps = std::string(b.substr(at + 2, length));
    NalBits r(b, at + 3, at + 2 + length);  // past the NAL header
    std::uint32_t profile = 0, v = 0;
    if (!r.bits(8, profile) || !r.bits(16, v) || !r.ue(v)) return;
    for (std::uint32_t p : {100u, 110u, 122u, 244u, 44u, 83u, 86u, 118u, 128u, 138u, 139u, 134u, 135u})
        if (profile == p) {
            std::uint32_t chroma = 0, scaling = 0;
            if (!r.ue(chroma) || (chroma == 3 && !r.bit(v))) return;
            coding.colourPlanes = chroma == 3 && v == 1;
            if (!r.ue(v) || !r.ue(v) || !r.bit(v) || !r.bit(scaling)) return;
            if (scaling) return;  // scaling lists: not read, and the frame numbers not checked
        }
    if (!r.ue(v) || v > 12) return;
    coding.frameNumBits = v + 4;
    std::uint32_t pocType = 0, pocBits = 0, frameOnly = 0;
    if (!r.ue(pocType) || pocType != 0 || !r.ue(pocBits) || pocBits > 12) return;
    if (!r.ue(v) || !r.bit(v) || !r.ue(v) || !r.ue(v) || !r.bit(frameOnly)) return;
    coding.pocBits = pocBits + 4;
    coding.fields = frameOnly == 0;
}

bool H264CodedWithVariableLengths(std::string_view b, std::uint64_t contents, std::uint64_t end) {
    if (contents + 6 > end) return false;
    std::uint64_t at = contents + 6;
    for (unsigned n = static_cast<unsigned char>(b[contents + 5]) & 0x1F; n > 0; --n) {  // the sequence sets, passed over
        if (at + 2 > end) return false;
        at += 2 + BytesBe(b, at, 2);
    }
    if (at + 1 > end) return false;
    const unsigned sets = static_cast<unsigned char>(b[at++]);
    for (unsigned n = 0; n < sets; ++n) {
        if (at + 2 > end) return false;
        const std::uint64_t length = BytesBe(b, at, 2);
        if (length < 2 || at + 2 + length > end) return false;
        NalBits r(b, at + 3, at + 2 + length);  // past the NAL header: its set's number, its sequence set's, its coding
        std::uint32_t v = 0, arithmetic = 0;
        if (!r.ue(v) || !r.ue(v) || !r.bit(arithmetic) || arithmetic) return false;
        at += 2 + length;
    }
    return sets > 0;
}

namespace {

// A unit's length, and the first two bytes of its header.
struct NalHead {
    std::uint64_t length = 0;
    unsigned char h = 0, h2 = 0;
};

SliceNal readH264Nal(std::string_view c, std::uint64_t at, const NalHead& head, const VideoCoding& coding) {
    SliceNal n;
    const std::uint64_t lb = coding.lengthBytes, length = head.length;
    const unsigned char h = head.h, h2 = head.h2;
    if (h & 0x80) return n;
    const unsigned type = h & 0x1F, ref = h >> 5;
    const bool known = type == 1 || type == 5 || type == 6 || type == 7 || type == 8 || type == 9 || type == 12;
    if (!known || ((type == 5 || type == 7 || type == 8) && ref == 0) || ((type == 6 || type == 9 || type == 12) && ref != 0))
        return n;
    n.vcl = type == 1 || type == 5;
    n.sync = n.fresh = type == 5;
    n.startsAu = (type >= 6 && type <= 9) || (n.vcl && (h2 & 0x80));
    n.reference = ref != 0;
    NalBits r(c, at + lb + 1, at + lb + length);
    std::uint32_t v = 0, frame = 0;
    if (n.vcl && coding.frameNumBits > 0 && r.ue(v) && r.ue(v) && r.ue(v) && (!coding.colourPlanes || r.bits(2, v)) &&
        r.bits(coding.frameNumBits, frame)) {
        n.frameNum = frame;
        std::uint32_t field = 0, poc = 0;
        if (coding.pocBits > 0 && (!coding.fields || (r.bit(field) && (!field || r.bit(v)))) && (!n.sync || r.ue(v)) &&
            r.bits(coding.pocBits, poc))
            n.poc = poc;
    }
    n.ok = true;
    n.next = at + lb + length;
    return n;
}

// H.265's unit types: slices 0 to 9 and 16 to 21 (16 on: needing no picture
// before; 19 and 20 starting the order count afresh), parameter sets 32 to
// 34, the access unit delimiter 35, end of sequence and stream, filler, and
// supplemental information before (39) or after (40) a picture's slices.
SliceNal readH265Nal(std::string_view c, std::uint64_t at, const NalHead& head, const VideoCoding& coding) {
    SliceNal n;
    const std::uint64_t lb = coding.lengthBytes, length = head.length;
    const unsigned char h = head.h, h2 = head.h2;
    // No forbidden bit, the base layer, a temporal layer numbered from 1.
    if ((h & 0x80) || (h & 1) || (h2 & 0xF8) || (h2 & 7) == 0) return n;
    const unsigned type = coding.typeOf(h), layer = (h2 & 7) - 1u;
    if (!(type <= 9 || (type >= 16 && type <= 21) || (type >= 32 && type <= 40))) return n;
    n.vcl = type <= 21;
    n.sync = type >= 16 && type <= 21;
    n.fresh = type == 19 || type == 20;
    if (n.sync && layer != 0) return n;
    // Pictures that no later one is read by: those of a higher layer, the
    // leading ones (6 to 9), and the ones marked so (even types up to 14).
    n.reference = n.vcl && layer == 0 && !(type >= 6 && type <= 9) && !(type <= 14 && type % 2 == 0);
    n.ok = true;
    n.next = at + lb + length;
    if (!n.vcl) {
        n.startsAu = type <= 35 || type == 39;
        return n;
    }
    NalBits r(c, at + lb + 2, at + lb + length);
    std::uint32_t first = 0, v = 0, poc = 0;
    if (!r.bit(first) || first == 0) return n;  // a further slice of the picture
    n.startsAu = true;
    if (n.fresh) n.poc = 0;
    if (!coding.pps || coding.pocBits == 0) return n;
    if (n.sync && !r.bit(v)) return n;
    if (!r.ue(v) || !r.skip(coding.extraSliceBits) || !r.ue(v) || v > 2) return n;
    if ((coding.outputFlag && !r.bit(v)) || (coding.colourPlanes && !r.bits(2, v))) return n;
    if (!n.fresh && r.bits(coding.pocBits, poc)) n.poc = poc;
    return n;
}

// Of an H.265 sequence parameter set (its payload in r): the bits of a
// picture's order count, and whether colour planes are coded apart.
void readH265Sps(NalBits& r, VideoCoding& coding) {
    std::uint32_t v = 0, subLayers = 0, chroma = 0;
    if (!r.bits(4, v) || !r.bits(3, subLayers) || !r.bit(v)) return;
    // The profile, tier and level: 96 bits, then each sub-layer's.
    if (!r.skip(96)) return;
    std::vector<std::uint32_t> present(subLayers);
    for (std::uint32_t& p : present)
        if (!r.bits(2, p)) return;
    if (subLayers > 0 && !r.skip(2 * (8 - subLayers))) return;
    for (std::uint32_t p : present)
        if (!r.skip((p & 2 ? 88 : 0) + (p & 1 ? 8 : 0))) return;
    if (!r.ue(v) || !r.ue(chroma) || chroma > 3 || (chroma == 3 && !r.bit(v))) return;
    const bool planes = chroma == 3 && v == 1;
    std::uint32_t window = 0;
    if (!r.ue(v) || !r.ue(v) || !r.bit(window)) return;
    for (int k = 0; window && k < 4; ++k)
        if (!r.ue(v)) return;
    std::uint32_t pocBits = 0;
    if (!r.ue(v) || !r.ue(v) || !r.ue(pocBits) || pocBits > 12) return;
    coding.colourPlanes = planes;
    coding.pocBits = pocBits + 4;
}

}  // namespace

void ReadH265Coding(std::string_view b, std::uint64_t contents, std::uint64_t end, VideoCoding& coding) {
    coding.hevc = true;
    if (contents + 23 > end) return;
    coding.lengthBytes = static_cast<std::uint8_t>((b[contents + 21] & 3) + 1);
    // Arrays of parameter sets: each its type, count, and sets each after its length.
    const unsigned arrays = static_cast<unsigned char>(b[contents + 22]);
    std::uint64_t at = contents + 23;
    for (unsigned a = 0; a < arrays && at + 3 <= end; ++a) {
        const unsigned type = static_cast<unsigned char>(b[at]) & 0x3F;
        const std::uint64_t count = BytesBe(b, at + 1, 2);
        at += 3;
        for (std::uint64_t k = 0; k < count && at + 2 <= end; ++k) {
            const std::uint64_t length = BytesBe(b, at, 2);
            if (length < 3 || length > end - at - 2) return;
            NalBits r(b, at + 4, at + 2 + length);  // past the unit's two header bytes
            if (type == 33 && coding.sps.empty()) {
                coding.sps = std::string(b.substr(at + 2, length));
                readH265Sps(r, coding);
            }
            std::uint32_t v = 0, dependent = 0, output = 0, extra = 0;
            if (type == 34 && !coding.pps && r.ue(v) && r.ue(v) && r.bit(dependent) && r.bit(output) && r.bits(3, extra)) {
                coding.pps = true;
                coding.outputFlag = output == 1;
                coding.extraSliceBits = extra;
            }
            at += 2 + length;
        }
    }
}

std::uint64_t NalUnitLength(const std::uint8_t* b, unsigned lengthBytes, unsigned headerBytes) {
    std::uint64_t length = 0;
    for (unsigned k = 0; k < lengthBytes; ++k) length = length << 8 | b[k];
    const std::uint8_t* header = b + lengthBytes;
    const bool encoded = !(header[0] & 0x80) && (headerBytes == 2 ? (header[1] & 0x07) != 0 : (header[0] & 0x1F) != 0);
    return encoded && length >= headerBytes ? length : 0;
}

SliceNal ReadNal(std::string_view c, std::uint64_t at, std::uint64_t end, const VideoCoding& coding) {
    end = std::min<std::uint64_t>(end, c.size());  // a table may point past the bytes there are
    const std::uint64_t lb = coding.lengthBytes;
    if (at + lb + 3 > end) return {};
    NalHead head;
    head.length = BytesBe(c, at, static_cast<int>(lb));
    if (head.length < 3 || head.length > end - at - lb) return {};
    head.h = static_cast<unsigned char>(c[at + lb]);
    head.h2 = static_cast<unsigned char>(c[at + lb + 1]);
    return coding.hevc ? readH265Nal(c, at, head, coding) : readH264Nal(c, at, head, coding);
}

}  // namespace hx::formats
