#include "reassembly/RebuiltIndex.h"

#include <algorithm>
#include <cstring>
#include <numeric>
#include <tuple>
#include <fstream>
#include <string>
#include <vector>

#include "formats/iso/IsoBoxWriter.h"
#include "formats/iso/IsoBoxes.h"
#include "formats/iso/IsoSampleTables.h"

namespace hx::reassembly {

namespace {

namespace fs = std::filesystem;
using formats::IsoBox;

constexpr std::uint64_t kMaxClipBytes = 1ull << 30;  // a clip rebuilt in memory, at most
constexpr std::uint64_t kMaxIndexBytes = 64ull << 20;
constexpr std::uint64_t kMaxSoundRun = 4ull << 20;  // bytes of sound between runs of video, at most
constexpr std::size_t kMaxSamples = 1u << 22;
constexpr int kMaxBoxes = 64;  // boxes side by side looked at, at most
// A camera that shows its pictures in another order than it stores them
// (B-frames) shows each within this many steps of its order count of the
// furthest one stored so far (16 pictures held back, two steps each).
constexpr std::int64_t kReorderWindow = 64;

using Bytes = std::string;

bool load(const fs::path& path, std::uint64_t bytes, Bytes& out) {
    if (bytes > kMaxClipBytes) return false;
    std::ifstream in(path, std::ios::binary);
    out.resize(static_cast<std::size_t>(bytes));
    in.read(out.data(), static_cast<std::streamsize>(bytes));
    out.resize(static_cast<std::size_t>(in.gcount()));
    return !out.empty();
}

// Bits of a NAL unit's payload (its emulation prevention bytes taken out).
class Rbsp {
public:
    Rbsp(const Bytes& b, std::uint64_t from, std::uint64_t to) {
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
    bool bit(std::uint32_t& v) {
        if (at_ / 8 >= bytes_.size()) return false;
        v = (bytes_[at_ / 8] >> (7 - at_ % 8)) & 1;
        ++at_;
        return true;
    }
    bool bits(unsigned n, std::uint32_t& v) {
        v = 0;
        std::uint32_t b = 0;
        for (unsigned k = 0; k < n; ++k, v = v << 1 | b)
            if (!bit(b)) return false;
        return true;
    }
    bool ue(std::uint32_t& v) {  // Exp-Golomb
        unsigned zeros = 0;
        std::uint32_t b = 0;
        while (bit(b) && b == 0)
            if (++zeros > 31) return false;
        if (b != 1 || !bits(zeros, v)) return false;
        v += (1u << zeros) - 1;
        return true;
    }

private:
    std::vector<unsigned char> bytes_;
    std::uint64_t at_ = 0;
};

// How the reference camera writes its video.
struct Camera {
    explicit Camera(const Bytes& reference) : ref(reference) {}
    const Bytes& ref;  // the reference clip's bytes
    Bytes ftyp;
    IsoBox moov, trak;
    std::uint8_t lengthBytes = 0;
    std::uint32_t delta = 0;  // a frame's duration, in its track's time scale
    std::uint64_t gap = 0;      // bytes between two runs of video, the most
    std::uint64_t largest = 0;  // bytes of a picture, the most
    bool oneSlice = false;      // every picture is one slice
    // H.264: the bits of a slice's frame number and whether a colour plane
    // is named before it (0 bits: not known, not checked); the bits of its
    // picture order count (0: not in its slices), and whether a slice says
    // if it is a field.
    unsigned frameNumBits = 0;
    bool colourPlanes = false;
    Bytes sps;  // its first sequence parameter set, as a NAL unit
    unsigned pocBits = 0;
    bool fields = false;
    bool reorders = false;  // pictures are shown in another order than they are stored (composition offsets)
    // Every this many pictures one that needs none before it, when the
    // reference has them so (0: not so regular).
    std::uint64_t syncEvery = 0;
    // Its sound, when uncompressed and alone beside the video in the runs
    // between pictures: its track, the bytes of one frame of it, a frame's
    // duration (0 bytes: the sound cannot be kept).
    IsoBox soundTrak;
    std::uint32_t frameBytes = 0, frameDelta = 0;
};

// The reference's sound track, when it is uncompressed: frames of one size.
void readSound(Camera& cam) {
    for (const IsoBox& trak : formats::ChildBoxes(cam.ref, cam.moov.contents, cam.moov.end)) {
        const std::vector<IsoBox> t = formats::ChildBoxes(cam.ref, trak.contents, trak.end);
        const IsoBox* mdia = formats::ChildBox(t, "mdia");
        if (!trak.is("trak") || !mdia) continue;
        const std::vector<IsoBox> m = formats::ChildBoxes(cam.ref, mdia->contents, mdia->end);
        const IsoBox *hdlr = formats::ChildBox(m, "hdlr"), *minf = formats::ChildBox(m, "minf");
        if (!hdlr || !minf || hdlr->contents + 12 > hdlr->end || cam.ref.compare(hdlr->contents + 8, 4, "soun") != 0) continue;
        const std::vector<IsoBox> n = formats::ChildBoxes(cam.ref, minf->contents, minf->end);
        const IsoBox* stbl = formats::ChildBox(n, "stbl");
        if (!stbl) return;
        const std::vector<IsoBox> tables = formats::ChildBoxes(cam.ref, stbl->contents, stbl->end);
        const IsoBox *stsd = formats::ChildBox(tables, "stsd"), *stts = formats::ChildBox(tables, "stts"), *stsz = formats::ChildBox(tables, "stsz");
        if (!stsd || !stts || !stsz || stts->contents + 16 > stts->end || stsz->contents + 8 > stsz->end) return;
        const std::vector<IsoBox> entries = formats::ChildBoxes(cam.ref, stsd->contents + 8, stsd->end);
        bool pcm = false;
        for (const char* type : {"sowt", "twos", "lpcm", "in24", "in32", "fl32", "fl64", "ipcm"})
            pcm |= !entries.empty() && entries.front().is(type);
        if (!pcm) return;
        cam.soundTrak = trak;
        cam.frameBytes = static_cast<std::uint32_t>(formats::BytesBe(cam.ref, stsz->contents + 4, 4));
        cam.frameDelta = static_cast<std::uint32_t>(formats::BytesBe(cam.ref, stts->contents + 12, 4));
        if (cam.frameDelta == 0) cam.frameBytes = 0;
        return;
    }
}

// The frame number's size, from the first sequence parameter set of an avcC.
void readFrameNumBits(const Bytes& b, const IsoBox& avcC, Camera& cam) {
    const std::uint64_t at = avcC.contents + 6;  // the count of sets, then each set's length
    if (at + 3 > avcC.end || (b[at - 1] & 0x1F) == 0) return;
    const std::uint64_t length = formats::BytesBe(b, at, 2);
    if (length < 4 || at + 2 + length > avcC.end) return;
    cam.sps = b.substr(at + 2, length);
    Rbsp r(b, at + 3, at + 2 + length);  // past the NAL header
    std::uint32_t profile = 0, v = 0;
    if (!r.bits(8, profile) || !r.bits(16, v) || !r.ue(v)) return;
    for (std::uint32_t p : {100u, 110u, 122u, 244u, 44u, 83u, 86u, 118u, 128u, 138u, 139u, 134u, 135u})
        if (profile == p) {
            std::uint32_t chroma = 0, scaling = 0;
            if (!r.ue(chroma) || (chroma == 3 && !r.bit(v))) return;
            cam.colourPlanes = chroma == 3 && v == 1;
            if (!r.ue(v) || !r.ue(v) || !r.bit(v) || !r.bit(scaling)) return;
            if (scaling) return;  // scaling lists: not read, and the frame numbers not checked
        }
    if (!r.ue(v) || v > 12) return;
    cam.frameNumBits = v + 4;
    std::uint32_t pocType = 0, pocBits = 0, frameOnly = 0;
    if (!r.ue(pocType) || pocType != 0 || !r.ue(pocBits) || pocBits > 12) return;
    if (!r.ue(v) || !r.bit(v) || !r.ue(v) || !r.ue(v) || !r.bit(frameOnly)) return;
    cam.pocBits = pocBits + 4;
    cam.fields = frameOnly == 0;
}

// The spacing of the reference's sync samples, when it is one (and they are several).
std::uint64_t syncEveryOf(const Bytes& b, const IsoBox* stss) {
    if (!stss || stss->contents + 8 > stss->end) return 0;
    const std::uint64_t count = formats::BytesBe(b, stss->contents + 4, 4);
    if (count < 3 || count > (stss->end - stss->contents - 8) / 4) return 0;
    std::uint64_t every = 0;
    for (std::uint64_t k = 1; k < count; ++k) {
        const std::uint64_t a = formats::BytesBe(b, stss->contents + 4 + 4 * k, 4), n = formats::BytesBe(b, stss->contents + 8 + 4 * k, 4);
        if (n <= a || (every != 0 && n - a != every)) return 0;
        every = n - a;
    }
    return formats::BytesBe(b, stss->contents + 8, 4) == 1 ? every : 0;
}

// The reference's video track: H.264 or H.265, shown in the order it is
// stored (no composition offsets), one frame duration.
bool readCamera(Camera& cam) {
    const std::vector<IsoBox> top = formats::ChildBoxes(cam.ref, 0, cam.ref.size());
    if (top.empty() || !top.front().is("ftyp") || !formats::ChildBox(top, "moov")) return false;
    cam.ftyp = formats::BoxBytes(cam.ref, top.front());
    cam.moov = *formats::ChildBox(top, "moov");
    if (cam.moov.end - cam.moov.at > kMaxIndexBytes) return false;
    for (const IsoBox& trak : formats::ChildBoxes(cam.ref, cam.moov.contents, cam.moov.end)) {
        if (!trak.is("trak")) continue;
        const std::vector<IsoBox> t = formats::ChildBoxes(cam.ref, trak.contents, trak.end);
        const IsoBox* mdia = formats::ChildBox(t, "mdia");
        if (!mdia) continue;
        const std::vector<IsoBox> m = formats::ChildBoxes(cam.ref, mdia->contents, mdia->end);
        const IsoBox* hdlr = formats::ChildBox(m, "hdlr");
        const IsoBox* minf = formats::ChildBox(m, "minf");
        if (!hdlr || !minf || hdlr->contents + 12 > hdlr->end || cam.ref.compare(hdlr->contents + 8, 4, "vide") != 0) continue;
        const std::vector<IsoBox> n = formats::ChildBoxes(cam.ref, minf->contents, minf->end);
        const IsoBox* stbl = formats::ChildBox(n, "stbl");
        if (!stbl) return false;
        const std::vector<IsoBox> s = formats::ChildBoxes(cam.ref, stbl->contents, stbl->end);
        const IsoBox *stsd = formats::ChildBox(s, "stsd"), *stts = formats::ChildBox(s, "stts");
        if (!stsd || !stts || stts->contents + 16 > stts->end) return false;
        cam.reorders = formats::ChildBox(s, "ctts") != nullptr;
        const std::vector<IsoBox> entries = formats::ChildBoxes(cam.ref, stsd->contents + 8, stsd->end);
        if (entries.empty()) return false;
        const IsoBox& entry = entries.front();
        // H.264 (its configuration's fifth byte holds the NAL length size).
        IsoBox config;
        if (!(entry.is("avc1") || entry.is("avc3")) ||
            !formats::FindIsoBox(formats::ReaderOf(cam.ref), entry.contents + 78, entry.end, "avcC", config) ||
            config.contents + 4 >= config.end)
            return false;
        cam.lengthBytes = static_cast<std::uint8_t>((cam.ref[config.contents + 4] & 3) + 1);
        readFrameNumBits(cam.ref, config, cam);
        cam.delta = static_cast<std::uint32_t>(formats::BytesBe(cam.ref, stts->contents + 12, 4));
        cam.trak = trak;
        cam.syncEvery = syncEveryOf(cam.ref, formats::ChildBox(s, "stss"));
        // Without frame numbers to follow, pictures of an older recording
        // after the cut could not be told from the clip's own.
        // Pictures shown out of order are put in order by their order counts.
        return cam.delta > 0 && (cam.lengthBytes == 1 || cam.lengthBytes == 2 || cam.lengthBytes == 4) &&
               cam.frameNumBits > 0 && (!cam.reorders || cam.pocBits > 0);
    }
    return false;
}

// A NAL unit, as the clip's bytes at one place read as one.
struct Nal {
    bool ok = false;
    bool vcl = false;     // a slice of a picture
    bool sync = false;    // of a picture that needs none before it
    bool startsAu = false;
    bool reference = false;  // kept for later pictures
    std::int64_t frameNum = -1;  // of an H.264 slice, when known
    std::int64_t poc = -1;       //   and its picture order count's low bits
    std::uint64_t next = 0;
};

Nal nalAt(const Bytes& c, std::uint64_t at, std::uint64_t end, const Camera& cam) {
    Nal n;
    const std::uint64_t lb = cam.lengthBytes;
    end = std::min<std::uint64_t>(end, c.size());  // a table may point past the bytes there are
    if (at + lb + 3 > end) return n;
    const std::uint64_t length = formats::BytesBe(c, at, static_cast<int>(lb));
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
    Rbsp r(c, at + lb + 1, at + lb + length);
    std::uint32_t v = 0, frame = 0;
    if (n.vcl && cam.frameNumBits > 0 && r.ue(v) && r.ue(v) && r.ue(v) && (!cam.colourPlanes || r.bits(2, v)) &&
        r.bits(cam.frameNumBits, frame)) {
        n.frameNum = frame;
        std::uint32_t field = 0, poc = 0;
        if (cam.pocBits > 0 && (!cam.fields || (r.bit(field) && (!field || r.bit(v)))) && (!n.sync || r.ue(v)) &&
            r.bits(cam.pocBits, poc))
            n.poc = poc;
    }
    n.ok = true;
    n.next = at + lb + length;
    return n;
}

struct Walked {
    struct Sample {
        std::uint64_t offset = 0, size = 0;
        bool sync = false;
        std::uint64_t run = 0;  // pictures since the first are counted afresh at each sync picture
        std::int64_t order = 0;  // its order count in the run, when the camera shows pictures out of order
    };
    std::vector<Sample> samples;
    std::vector<std::pair<std::uint64_t, std::uint32_t>> chunks;  // where each run of samples starts, how many
    std::vector<std::pair<std::uint64_t, std::uint64_t>> sound;   // the runs between pictures: where, how many bytes
    void add(const Sample& s) {
        if (s.size == 0) return;
        if (!samples.empty() && samples.back().offset + samples.back().size == s.offset) ++chunks.back().second;
        else chunks.emplace_back(s.offset, 1);
        samples.push_back(s);
    }
};

// What the reference's own samples say of how the camera lays out its video:
// the most sound between two runs of it, its largest picture, and whether
// its first pictures are one slice each.
void learnLayout(Camera& cam) {
    std::vector<formats::IsoTrack> tracks;
    if (!formats::ReadSampleTables(formats::ReaderOf(cam.ref), cam.moov, tracks)) {
        cam.frameBytes = 0;
        return;
    }
    // The sound is kept only when the video and it fill the reference's samples' box between them.
    std::uint64_t filled = 0;
    for (const formats::IsoTrack& track : tracks)
        for (const formats::ChunkSpan& span : formats::ChunkSpans(track)) filled += span.bytes;
    const std::vector<IsoBox> top = formats::ChildBoxes(cam.ref, 0, cam.ref.size());
    const IsoBox* mdat = formats::ChildBox(top, "mdat");
    if (tracks.size() != 2 || !mdat || filled != mdat->end - mdat->contents) cam.frameBytes = 0;
    for (const formats::IsoTrack& track : tracks) {
        if (track.nalLengthBytes == 0) continue;
        for (std::uint32_t size : track.sampleSizes) cam.largest = std::max<std::uint64_t>(cam.largest, size);
        std::vector<formats::ChunkSpan> spans = formats::ChunkSpans(track);
        std::sort(spans.begin(), spans.end(), [](const auto& a, const auto& b) { return a.offset < b.offset; });
        for (std::size_t k = 1; k < spans.size(); ++k)
            if (spans[k].offset > spans[k - 1].offset + spans[k - 1].bytes)
                cam.gap = std::max(cam.gap, spans[k].offset - spans[k - 1].offset - spans[k - 1].bytes);
        // The first pictures of the first chunk (the reference is whole: they lie where the table says).
        if (spans.empty()) return;
        std::uint64_t at = spans.front().offset;
        int slices = 0, pictures = 0;
        for (std::uint32_t k = 0; k < spans.front().samples && k < 8 && at < cam.ref.size(); ++k, ++pictures) {
            const std::uint64_t end = std::min<std::uint64_t>(at + track.sampleSizes[spans.front().firstSample + k], cam.ref.size());
            for (Nal n = nalAt(cam.ref, at, end, cam); n.ok; n = nalAt(cam.ref, n.next, end, cam)) slices += n.vcl;
            at = end;
        }
        cam.oneSlice = pictures > 0 && slices == pictures;
        return;
    }
}

// The frame numbers walked so far (H.264 counts reference pictures, and
// orders them by a count that grows by one step a picture when none is shown
// out of order): a picture whose numbers do not follow is another recording's.
// Where pictures are shown out of order, their order counts are no steps in
// a row: each is new since the last sync picture, and near the furthest.
struct FrameCount {
    std::int64_t last = -1, lastPoc = -1, step = 0;
    bool lastRef = false;
    std::uint64_t pictures = 0;
    std::uint64_t runs = 0;                 // sync pictures so far
    std::int64_t refMsb = 0, refLsb = 0;     // of the last reference picture's order count
    std::int64_t furthest = 0;
    std::vector<std::int64_t> shown;        // order counts since the last sync picture, the latest few

    // The order count of the picture whose count's low bits are `lsb`, by the last reference picture's.
    std::int64_t orderOf(const Nal& n, const Camera& cam) const {
        if (n.sync) return n.poc;
        const std::int64_t max = std::int64_t{1} << cam.pocBits;
        std::int64_t msb = refMsb;
        if (n.poc < refLsb && refLsb - n.poc >= max / 2) msb += max;
        else if (n.poc > refLsb && n.poc - refLsb > max / 2) msb -= max;
        return msb + n.poc;
    }
    bool fits(const Nal& n, const Camera& cam) const {
        // A camera that starts afresh every N pictures does so on the Nth, and only there.
        if (cam.syncEvery > 0 && n.frameNum >= 0 && n.sync != (pictures % cam.syncEvery == 0)) return false;
        if (n.frameNum < 0 || last < 0) return !n.sync || n.frameNum <= 0;
        if (n.sync) return n.frameNum == 0;
        const std::int64_t modulo = std::int64_t{1} << cam.frameNumBits;
        if (n.frameNum != (lastRef ? (last + 1) % modulo : last)) return false;
        if (cam.reorders) {
            if (n.poc < 0) return true;
            const std::int64_t order = orderOf(n, cam);
            return order > 0 && order <= furthest + kReorderWindow && order >= furthest - kReorderWindow &&
                   std::find(shown.begin(), shown.end(), order) == shown.end();
        }
        return n.poc < 0 || lastPoc < 0 || step == 0 || n.poc == (lastPoc + step) % (std::int64_t{1} << cam.pocBits);
    }
    // Takes the picture; returns its order count (0 when not known).
    std::int64_t take(const Nal& n, const Camera& cam) {
        ++pictures;
        if (n.sync) {
            ++runs;
            refMsb = refLsb = furthest = 0;
            shown.clear();
        }
        if (n.frameNum < 0) return 0;
        std::int64_t order = 0;
        if (cam.reorders && n.poc >= 0) {
            order = orderOf(n, cam);
            if (n.reference) {
                refMsb = order - n.poc;
                refLsb = n.poc;
            }
            furthest = std::max(furthest, order);
            shown.push_back(order);
            if (shown.size() > 64) shown.erase(shown.begin());
        }
        if (n.poc >= 0 && lastPoc >= 0 && !n.sync && step == 0)
            step = (n.poc - lastPoc + (std::int64_t{1} << cam.pocBits)) % (std::int64_t{1} << cam.pocBits);
        last = n.frameNum;
        lastRef = n.reference;
        lastPoc = n.poc;
        return order;
    }
};

// One access unit: NAL units from a picture's start up to the next's.
struct Picture {
    bool ok = false;
    Nal first;  // its first slice
    std::uint64_t end = 0;
};

Picture pictureAt(const Bytes& c, std::uint64_t at, std::uint64_t end, const Camera& cam) {
    Picture pic;
    Nal n = nalAt(c, at, end, cam);
    if (!n.ok || !n.startsAu) return pic;
    for (int units = 0; n.ok && units < 256; ++units, n = nalAt(c, n.next, end, cam)) {
        if (n.startsAu && pic.first.ok) break;  // the next picture, or its first units
        // Of one picture, no more than one slice when the camera makes one, each of the same frame.
        if (pic.first.ok && (cam.oneSlice || (n.vcl && n.frameNum != pic.first.frameNum))) break;
        if (cam.largest > 0 && n.next - at > 4 * cam.largest) break;
        if (n.vcl && !pic.first.ok) pic.first = n;
        pic.first.sync |= n.sync;
        pic.end = n.next;
        if (n.next >= end) break;
    }
    pic.ok = pic.first.ok && pic.first.vcl;
    return pic;
}

// The first picture in [from, to) whose numbers follow `count`; with
// `confirmed`, one that the picture after it (at once, or after sound of
// no more than `gap` bytes) also follows, or that ends where the clip does.
std::uint64_t nextPicture(const Bytes& c, std::uint64_t from, std::uint64_t to, std::uint64_t end, std::uint64_t gap,
                          const Camera& cam, const FrameCount& count, bool confirmed) {
    for (std::uint64_t q = from; q < to; ++q) {
        const Picture pic = pictureAt(c, q, end, cam);
        if (!pic.ok || !count.fits(pic.first, cam)) continue;
        if (!confirmed || pic.end == end) return q;
        FrameCount after = count;
        after.take(pic.first, cam);
        if (nextPicture(c, pic.end, std::min(end, pic.end + gap + 1), end, gap, cam, after, false) != end) return q;
    }
    return end;
}

// The clip's video samples from `from` to `end`: access units one after
// another, runs of them between runs of sound.
Walked walk(const Bytes& c, std::uint64_t from, std::uint64_t end, const Camera& cam) {
    Walked w;
    FrameCount count;
    std::uint64_t seen = 0;  // the longest run of sound so far
    for (std::uint64_t p = from; p < end && w.samples.size() < kMaxSamples;) {
        const Picture pic = pictureAt(c, p, end, cam);
        if (pic.ok && count.fits(pic.first, cam)) {
            const std::int64_t order = count.take(pic.first, cam);
            w.add({p, pic.end - p, pic.first.sync, count.runs, order});
            p = pic.end;
            continue;
        }
        // Sound, or where the recording stopped.
        const std::uint64_t gap = std::min(kMaxSoundRun, 2 * std::max(cam.gap, seen) + 4096);
        const std::uint64_t q = nextPicture(c, p, std::min(end, p + gap + 1), end, gap, cam, count, true);
        if (q >= end) break;
        seen = std::max(seen, q - p);
        w.sound.emplace_back(p, q - p);
        p = q;
    }
    return w;
}

// One track's samples as made: their duration, their sizes (or all of
// `each` bytes), the pictures that need none before them (when listed) and
// the chunks they lie in.
struct Made {
    std::uint32_t delta = 0;
    std::uint64_t count = 0;
    std::vector<std::uint32_t> sizes;
    std::uint32_t each = 0;
    bool listSyncs = false;
    std::vector<std::uint32_t> syncs;  // numbered from 1
    std::vector<std::pair<std::uint64_t, std::uint32_t>> chunks;
    std::vector<std::uint32_t> offsets;  // when shown out of order: each sample's composition offset
    std::uint32_t shift = 0;             // the offset of the first shown, which the edit list takes back
};

// Pictures shown out of order: each is shown at its place among the others
// by their order counts, run by run, and the offsets say so; all are made
// no smaller than 0 by the most any picture is shown before it is stored.
void composition(const std::vector<Walked::Sample>& samples, Made& video) {
    std::vector<std::size_t> shown(samples.size());
    std::iota(shown.begin(), shown.end(), std::size_t{0});
    std::stable_sort(shown.begin(), shown.end(), [&](std::size_t a, std::size_t b) {
        return std::tie(samples[a].run, samples[a].order) < std::tie(samples[b].run, samples[b].order);
    });
    std::vector<std::int64_t> place(samples.size());
    std::int64_t ahead = 0;
    for (std::size_t r = 0; r < shown.size(); ++r) {
        place[shown[r]] = static_cast<std::int64_t>(r);
        ahead = std::max(ahead, static_cast<std::int64_t>(shown[r]) - static_cast<std::int64_t>(r));
    }
    for (std::size_t k = 0; k < samples.size(); ++k)
        video.offsets.push_back(static_cast<std::uint32_t>((place[k] - static_cast<std::int64_t>(k) + ahead) * video.delta));
    video.shift = static_cast<std::uint32_t>(ahead * video.delta);
}

// A stbl with the reference's description and the samples made.
std::string sampleTables(const Bytes& ref, const IsoBox& stbl, const Made& m) {
    std::string out;
    for (const IsoBox& b : formats::ChildBoxes(ref, stbl.contents, stbl.end))
        if (b.is("stsd")) out += formats::BoxBytes(ref, b);
    out += formats::MakeFullBox("stts", formats::Be32Bytes(1) + formats::Be32Bytes(m.count) + formats::Be32Bytes(m.delta));
    if (!m.offsets.empty()) {
        std::string runs;
        std::uint32_t entries = 0;
        for (std::size_t k = 0; k < m.offsets.size();) {
            std::size_t n = 1;
            while (k + n < m.offsets.size() && m.offsets[k + n] == m.offsets[k]) ++n;
            runs += formats::Be32Bytes(n) + formats::Be32Bytes(m.offsets[k]);
            ++entries;
            k += n;
        }
        out += formats::MakeFullBox("ctts", formats::Be32Bytes(entries) + runs);
    }
    if (m.listSyncs) {
        std::string sync;
        for (std::uint32_t k : m.syncs) sync += formats::Be32Bytes(k);
        out += formats::MakeFullBox("stss", formats::Be32Bytes(m.syncs.size()) + sync);
    }
    std::string runs;
    std::uint32_t runCount = 0;
    for (std::size_t k = 0; k < m.chunks.size(); ++k)
        if (k == 0 || m.chunks[k].second != m.chunks[k - 1].second) {
            runs += formats::Be32Bytes(k + 1) + formats::Be32Bytes(m.chunks[k].second) + formats::Be32Bytes(1);
            ++runCount;
        }
    out += formats::MakeFullBox("stsc", formats::Be32Bytes(runCount) + runs);
    std::string sizes;
    for (std::uint32_t size : m.sizes) sizes += formats::Be32Bytes(size);
    out += formats::MakeFullBox("stsz", formats::Be32Bytes(m.each) + formats::Be32Bytes(m.count) + sizes);
    const bool wide = !m.chunks.empty() && m.chunks.back().first > 0xFFFFFFFFull;
    std::string offsets;
    for (const auto& [offset, samples] : m.chunks) {
        if (wide) offsets += formats::Be32Bytes(offset >> 32);
        offsets += formats::Be32Bytes(offset & 0xFFFFFFFFull);
    }
    out += formats::MakeFullBox(wide ? "co64" : "stco", formats::Be32Bytes(m.chunks.size()) + offsets);
    return formats::MakeBox("stbl", out);
}

// The reference's track `trak` (its edit list left out), timed and placed
// for the samples made; `duration` is its length in the movie's time scale.
// Pictures shown out of order get an edit list that starts with the first shown.
std::string trackBox(const Bytes& ref, const IsoBox& trak, const Made& m, std::uint64_t movieScale, std::uint64_t& duration) {
    const std::vector<IsoBox> track = formats::ChildBoxes(ref, trak.contents, trak.end);
    const IsoBox *tkhd = formats::ChildBox(track, "tkhd"), *mdia = formats::ChildBox(track, "mdia");
    if (!tkhd || !mdia) return {};
    const std::vector<IsoBox> media = formats::ChildBoxes(ref, mdia->contents, mdia->end);
    const IsoBox *mdhd = formats::ChildBox(media, "mdhd"), *hdlr = formats::ChildBox(media, "hdlr"), *minf = formats::ChildBox(media, "minf");
    if (!mdhd || !hdlr || !minf) return {};
    const std::uint64_t mediaScale = formats::TimeScaleOf(ref, *mdhd, 12, 20);
    if (mediaScale == 0) return {};
    const std::uint64_t mediaDuration = m.count * m.delta;
    duration = mediaDuration * movieScale / mediaScale;
    std::string info;
    for (const IsoBox& b : formats::ChildBoxes(ref, minf->contents, minf->end))
        info += b.is("stbl") ? sampleTables(ref, b, m) : formats::BoxBytes(ref, b);
    const std::string mdiaBox =
        formats::MakeBox("mdia", formats::WithDuration(ref, *mdhd, 16, 24, mediaDuration) + formats::BoxBytes(ref, *hdlr) + formats::MakeBox("minf", info));
    const std::string edits =
        m.shift == 0 ? std::string()
                     : formats::MakeBox("edts", formats::MakeFullBox("elst", formats::Be32Bytes(1) + formats::Be32Bytes(std::min<std::uint64_t>(duration, 0xFFFFFFFFull)) +
                                                        formats::Be32Bytes(m.shift) + formats::Be32Bytes(0x00010000)));
    return formats::MakeBox("trak", formats::WithDuration(ref, *tkhd, 20, 28, duration) + edits + mdiaBox);
}

// The new index: the reference's movie header, its video track and, when
// `sound` has samples, its sound track, timed and placed for the samples made.
std::string index(const Camera& cam, const Made& video, const Made& sound) {
    const std::vector<IsoBox> movie = formats::ChildBoxes(cam.ref, cam.moov.contents, cam.moov.end);
    const IsoBox* mvhd = formats::ChildBox(movie, "mvhd");
    if (!mvhd) return {};
    const std::uint64_t movieScale = formats::TimeScaleOf(cam.ref, *mvhd, 12, 20);
    if (movieScale == 0) return {};
    std::uint64_t videoDuration = 0, soundDuration = 0;
    const std::string tracks = trackBox(cam.ref, cam.trak, video, movieScale, videoDuration) +
                               (sound.count > 0 ? trackBox(cam.ref, cam.soundTrak, sound, movieScale, soundDuration) : "");
    return formats::MakeBox("moov", formats::WithDuration(cam.ref, *mvhd, 16, 24, std::max(videoDuration, soundDuration)) + tracks);
}

}  // namespace

namespace {

// What the clip becomes: its bytes up to `dataEnd`, its `mdat`'s size (the
// field at `sizeAt`, of `sizeBytes`) set to what it holds, then `moov`.
struct Remade {
    std::string moov;
    std::uint64_t dataEnd = 0, sizeAt = 0;
    int sizeBytes = 4;
    std::string sizeField() const {
        std::string field(static_cast<std::size_t>(sizeBytes), '\0');
        formats::PutBytesBe(field, 0, dataEnd - (sizeBytes == 8 ? sizeAt - 8 : sizeAt), sizeBytes);
        return field;
    }
};

bool make(const Bytes& c, const Bytes& reference, Remade& out, RebuiltClip* made) {
    Camera cam(reference);
    if (!readCamera(cam)) return false;
    readSound(cam);
    learnLayout(cam);
    // Its boxes before its samples: the camera's `ftyp`, then any up to the `mdat`
    // (whose size may be a placeholder never written).
    if (c.compare(0, cam.ftyp.size(), cam.ftyp) != 0) return false;
    std::uint64_t at = cam.ftyp.size();
    for (int boxes = 0; boxes < kMaxBoxes && at + 16 <= c.size() && c.compare(at + 4, 4, "mdat") != 0; ++boxes) {
        const std::uint64_t size = formats::BytesBe(c, at, 4);
        if (size < 8 || size > c.size() - at) return false;
        at += size;
    }
    if (at + 16 > c.size() || c.compare(at + 4, 4, "mdat") != 0) return false;
    const bool large = formats::BytesBe(c, at, 4) == 1;
    const std::uint64_t header = large ? 16 : 8;
    std::uint64_t end = large ? formats::BytesBe(c, at + 8, 8) : formats::BytesBe(c, at, 4);
    const bool written = end >= header && end <= c.size() - at;
    end = written ? at + end : c.size();
    // A camera that repeats its settings before its pictures says whether they are the reference's.
    const std::uint64_t lb = cam.lengthBytes;
    for (std::uint64_t p = at + header, units = 0; units < 8 && p + lb + 1 <= end; ++units) {
        const std::uint64_t length = formats::BytesBe(c, p, static_cast<int>(lb));
        if (length == 0 || length > end - p - lb) break;
        const unsigned type = static_cast<unsigned char>(c[p + lb]) & 0x1F;
        if (type == 7 && !cam.sps.empty() && c.compare(p + lb, length, cam.sps) != 0) return false;
        if (type == 1 || type == 5) break;
        p += lb + length;
    }
    Walked w = walk(c, at + header, end, cam);
    // A recording cut off never wrote its size: its last picture runs into what the card held before.
    if (!written && !w.samples.empty()) {
        if (--w.chunks.back().second == 0) w.chunks.pop_back();
        w.samples.pop_back();
    }
    if (w.samples.size() < 2) return false;
    const std::uint64_t dataEnd = w.samples.back().offset + w.samples.back().size;
    if (!large && dataEnd - at > 0xFFFFFFFFull) return false;
    Made video;
    video.delta = cam.delta;
    video.count = w.samples.size();
    video.listSyncs = true;
    for (std::size_t k = 0; k < w.samples.size(); ++k) {
        video.sizes.push_back(static_cast<std::uint32_t>(w.samples[k].size));
        if (w.samples[k].sync) video.syncs.push_back(static_cast<std::uint32_t>(k + 1));
    }
    video.chunks = w.chunks;
    if (cam.reorders) composition(w.samples, video);
    // The sound between the pictures kept, when it is of whole frames.
    Made sound;
    sound.delta = cam.frameDelta;
    sound.each = cam.frameBytes;
    for (const auto& [offset, bytes] : w.sound) {
        if (cam.frameBytes == 0 || bytes % cam.frameBytes != 0 || bytes / cam.frameBytes > 0xFFFFFFFFull) {
            sound = {};
            break;
        }
        if (offset + bytes > dataEnd) break;
        sound.chunks.emplace_back(offset, static_cast<std::uint32_t>(bytes / cam.frameBytes));
        sound.count += bytes / cam.frameBytes;
    }
    if (made) *made = {sound.count > 0, dataEnd};
    out.moov = index(cam, video, sound);
    out.dataEnd = dataEnd;
    out.sizeAt = large ? at + 8 : at;
    out.sizeBytes = large ? 8 : 4;
    return !out.moov.empty();
}

}  // namespace

bool RebuildIndex(const std::string& clip, const std::string& reference, std::string& out, RebuiltClip* made) {
    Remade remade;
    if (!make(clip, reference, remade, made)) return false;
    out = clip.substr(0, static_cast<std::size_t>(remade.dataEnd)) + remade.moov;
    out.replace(remade.sizeAt, static_cast<std::size_t>(remade.sizeBytes), remade.sizeField());
    return true;
}

bool ReadClip(const fs::path& path, std::uint64_t bytes, std::string& out) { return load(path, bytes, out); }

bool WriteWithRebuiltIndex(const std::string& clip, const fs::path& reference, std::uint64_t referenceBytes,
                           const fs::path& out, RebuiltClip* made) {
    Bytes ref;
    Remade remade;
    if (!load(reference, referenceBytes, ref) || !make(clip, ref, remade, made)) return false;
    const std::string field = remade.sizeField();
    std::ofstream file(out, std::ios::binary | std::ios::trunc);
    file.write(clip.data(), static_cast<std::streamsize>(remade.sizeAt));
    file.write(field.data(), static_cast<std::streamsize>(field.size()));
    file.write(clip.data() + remade.sizeAt + field.size(),
               static_cast<std::streamsize>(remade.dataEnd - remade.sizeAt - field.size()));
    file.write(remade.moov.data(), static_cast<std::streamsize>(remade.moov.size()));
    return static_cast<bool>(file.flush());
}

}  // namespace hx::reassembly
