#include "formats/codecs/H264Slices.h"

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

bool NalBits::ue(std::uint32_t& v) {
    unsigned zeros = 0;
    std::uint32_t b = 0;
    while (bit(b) && b == 0)
        if (++zeros > 31) return false;
    if (b != 1 || !bits(zeros, v)) return false;
    v += (1u << zeros) - 1;
    return true;
}

void ReadH264Coding(std::string_view b, std::uint64_t contents, std::uint64_t end, H264Coding& coding) {
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


H264Nal ReadH264Nal(std::string_view c, std::uint64_t at, std::uint64_t end, const H264Coding& coding) {
    H264Nal n;
    const std::uint64_t lb = coding.lengthBytes;
    end = std::min<std::uint64_t>(end, c.size());  // a table may point past the bytes there are
    if (at + lb + 3 > end) return n;
    const std::uint64_t length = BytesBe(c, at, static_cast<int>(lb));
    if (length < 3 || length > end - at - lb) return n;
    const auto h = static_cast<unsigned char>(c[at + lb]);
    const auto h2 = static_cast<unsigned char>(c[at + lb + 1]);
    if (h & 0x80) return n;
    const unsigned type = h & 0x1F, ref = h >> 5;
    const bool known = type == 1 || type == 5 || type == 6 || type == 7 || type == 8 || type == 9 || type == 12;
    if (!known || ((type == 5 || type == 7 || type == 8) && ref == 0) || ((type == 6 || type == 9 || type == 12) && ref != 0))
        return n;
    n.vcl = type == 1 || type == 5;
    n.sync = type == 5;
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

}  // namespace hx::formats
