#include "reassembly/RebuiltIndex.h"

#include "reassembly/IndexMade.h"

#include <algorithm>
#include <cstring>
#include <numeric>
#include <tuple>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "formats/codecs/PcmSound.h"
#include "formats/codecs/SliceHeaders.h"
#include "formats/iso/IsoBoxWriter.h"
#include "formats/iso/IsoBoxes.h"
#include "formats/iso/IsoSampleTables.h"
#include "platform/MappedFile.h"
#include "platform/RawFile.h"

namespace hx::reassembly {

namespace {

namespace fs = std::filesystem;
using formats::IsoBox;

// Of a clip looked at where the system caches it, what the walk keeps
// behind it before letting go: its memory does not grow with the clip.
constexpr std::uint64_t kKeptBehind = 16ull << 20;
constexpr std::uint64_t kMaxIndexBytes = 64ull << 20;
constexpr std::uint64_t kMaxSoundRun = 4ull << 20;  // bytes of sound between runs of video, at most
constexpr std::size_t kMaxSamples = 1u << 22;
constexpr int kMaxBoxes = 64;  // boxes side by side looked at, at most
// A camera that shows its pictures in another order than it stores them
// (B-frames) shows each within this many steps of its order count of the
// furthest one stored so far (16 pictures held back, two steps each).
constexpr std::int64_t kReorderWindow = 64;

using Bytes = std::string_view;

// A file looked at where the system caches it, not copied: its first bytes,
// of which only the pages looked at are read, and those before a place let
// go once the walk has passed them.
struct Viewed {
    platform::MappedFile map;
    platform::RawFile file;  // for copies, which the view would read again
    Bytes bytes;
    bool open(const fs::path& path, std::uint64_t size) {
        if (!map.open(path, size) || !file.open(path, platform::RawFile::Mode::Read)) return false;
        bytes = Bytes(reinterpret_cast<const char*>(map.data()), static_cast<std::size_t>(map.size()));
        return true;
    }
    void passed(std::uint64_t at) {
        if (at > kKeptBehind) map.releaseBefore(at - kKeptBehind);
    }
};

// How the reference camera writes its video.
struct Camera {
    explicit Camera(Bytes reference) : ref(reference) {}
    Bytes ref;  // the reference clip's bytes
    std::string ftyp;
    IsoBox moov, trak;
    formats::VideoCoding coding;
    std::uint32_t delta = 0;  // a frame's duration, in its track's time scale
    std::uint64_t gap = 0;      // bytes between two runs of video, the most
    std::uint64_t largest = 0;  // bytes of a picture, the most
    bool oneSlice = false;      // every picture is one slice
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
        formats::TrackBoxes track;
        if (!formats::TrackBoxesOf(cam.ref, trak, track) || track.handler != "soun") continue;
        const IsoBox *stsd = formats::ChildBox(track.tables, "stsd"), *stts = formats::ChildBox(track.tables, "stts"),
                     *stsz = formats::ChildBox(track.tables, "stsz");
        if (!stsd || !stts || !stsz || stts->contents + 16 > stts->end || stsz->contents + 8 > stsz->end) return;
        const std::vector<IsoBox> entries = formats::ChildBoxes(cam.ref, stsd->contents + 8, stsd->end);
        if (entries.empty() || !formats::IsPcmCodec(std::string_view(entries.front().type.data(), 4))) return;
        cam.soundTrak = trak;
        cam.frameBytes = static_cast<std::uint32_t>(formats::BytesBe(cam.ref, stsz->contents + 4, 4));
        cam.frameDelta = static_cast<std::uint32_t>(formats::BytesBe(cam.ref, stts->contents + 12, 4));
        if (cam.frameDelta == 0) cam.frameBytes = 0;
        return;
    }
}

// The spacing of the reference's sync samples, when it is one (and they are several).
std::uint64_t syncEveryOf(Bytes b, const IsoBox* stss) {
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
        formats::TrackBoxes track;
        if (!formats::TrackBoxesOf(cam.ref, trak, track) || track.handler != "vide") continue;
        const std::vector<IsoBox>& s = track.tables;
        const IsoBox *stsd = formats::ChildBox(s, "stsd"), *stts = formats::ChildBox(s, "stts");
        if (!stsd || !stts || stts->contents + 16 > stts->end) return false;
        cam.reorders = formats::ChildBox(s, "ctts") != nullptr;
        const std::vector<IsoBox> entries = formats::ChildBoxes(cam.ref, stsd->contents + 8, stsd->end);
        if (entries.empty()) return false;
        const IsoBox& entry = entries.front();
        // H.264 or H.265, and how its NAL units' headers are read.
        IsoBox config;
        const bool avc = entry.is("avc1") || entry.is("avc3"), hevc = entry.is("hvc1") || entry.is("hev1");
        if (!(avc || hevc) ||
            !formats::FindIsoBox(formats::ReaderOf(cam.ref), entry.contents + 78, entry.end, avc ? "avcC" : "hvcC", config) ||
            config.contents + 4 >= config.end)
            return false;
        if (avc) formats::ReadH264Coding(cam.ref, config.contents, config.end, cam.coding);
        else formats::ReadH265Coding(cam.ref, config.contents, config.end, cam.coding);
        cam.delta = static_cast<std::uint32_t>(formats::BytesBe(cam.ref, stts->contents + 12, 4));
        cam.trak = trak;
        cam.syncEvery = syncEveryOf(cam.ref, formats::ChildBox(s, "stss"));
        // Without frame numbers (H.264) or order counts (H.265) to follow,
        // pictures of an older recording after the cut could not be told
        // from the clip's own. Pictures shown out of order are put in order
        // by their order counts.
        const bool followed = cam.coding.hevc ? cam.coding.pps && cam.coding.pocBits > 0
                                              : cam.coding.frameNumBits > 0 && (!cam.reorders || cam.coding.pocBits > 0);
        return cam.delta > 0 && (cam.coding.lengthBytes == 1 || cam.coding.lengthBytes == 2 || cam.coding.lengthBytes == 4) && followed;
    }
    return false;
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
            for (formats::SliceNal n = formats::ReadNal(cam.ref, at, end, cam.coding); n.ok; n = formats::ReadNal(cam.ref, n.next, end, cam.coding)) slices += n.vcl;
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
// a row: each is new since the count started afresh, and near the furthest.
// H.265 has no frame numbers: its order counts are followed alone, and run
// on past a picture that needs none before it unless it starts them afresh.
struct FrameCount {
    std::int64_t last = -1, lastPoc = -1, step = 0;
    bool lastRef = false;
    std::int64_t lastOrder = -1;            // H.265: of the last picture
    std::uint64_t pictures = 0;
    std::uint64_t runs = 0;                 // times the order count started afresh
    std::int64_t refMsb = 0, refLsb = 0;     // of the last reference picture's order count
    std::int64_t furthest = 0;
    std::vector<std::int64_t> shown;        // order counts since it did, the latest few

    // The order count of the picture whose count's low bits are `lsb`, by the last reference picture's.
    std::int64_t orderOf(const formats::SliceNal& n, const Camera& cam) const {
        if (n.sync && (n.fresh || pictures == 0)) return n.poc;
        const std::int64_t max = std::int64_t{1} << cam.coding.pocBits;
        std::int64_t msb = refMsb;
        if (n.poc < refLsb && refLsb - n.poc >= max / 2) msb += max;
        else if (n.poc > refLsb && n.poc - refLsb > max / 2) msb -= max;
        return msb + n.poc;
    }
    // A picture stored out of order is shown near the furthest shown so far, and not twice.
    bool newNearFurthest(std::int64_t order) const {
        return order > 0 && order <= furthest + kReorderWindow && order >= furthest - kReorderWindow &&
               std::find(shown.begin(), shown.end(), order) == shown.end();
    }
    bool fitsH265(const formats::SliceNal& n, const Camera& cam) const {
        if (n.poc < 0 || (pictures == 0 && !n.sync)) return false;
        if (pictures == 0 || n.fresh) return true;
        const std::int64_t order = orderOf(n, cam);
        if (!cam.reorders) return order > lastOrder && (step == 0 ? order - lastOrder <= 8 : order == lastOrder + step);
        if (n.sync) return order > furthest && order <= furthest + kReorderWindow;
        return newNearFurthest(order);
    }
    bool fits(const formats::SliceNal& n, const Camera& cam) const {
        // A camera that starts afresh every N pictures does so on the Nth, and only there.
        if (cam.syncEvery > 0 && (n.frameNum >= 0 || cam.coding.hevc) && n.sync != (pictures % cam.syncEvery == 0)) return false;
        if (cam.coding.hevc) return fitsH265(n, cam);
        if (n.frameNum < 0 || last < 0) return !n.sync || n.frameNum <= 0;
        if (n.sync) return n.frameNum == 0;
        const std::int64_t modulo = std::int64_t{1} << cam.coding.frameNumBits;
        if (n.frameNum != (lastRef ? (last + 1) % modulo : last)) return false;
        if (cam.reorders) return n.poc < 0 || newNearFurthest(orderOf(n, cam));
        return n.poc < 0 || lastPoc < 0 || step == 0 || n.poc == (lastPoc + step) % (std::int64_t{1} << cam.coding.pocBits);
    }
    // Takes the picture; returns its order count (0 when not known).
    std::int64_t take(const formats::SliceNal& n, const Camera& cam) {
        if (n.fresh) {
            ++runs;
            refMsb = refLsb = furthest = 0;
            shown.clear();
        }
        const bool counted = n.poc >= 0 && (cam.coding.hevc || (n.frameNum >= 0 && cam.reorders));
        std::int64_t order = 0;
        if (counted) {
            order = orderOf(n, cam);
            if (n.reference) {
                refMsb = order - n.poc;
                refLsb = n.poc;
            }
            furthest = std::max(furthest, order);
            shown.push_back(order);
            if (shown.size() > 64) shown.erase(shown.begin());
        }
        ++pictures;
        if (cam.coding.hevc) {
            if (lastOrder >= 0 && !n.fresh && step == 0) step = order - lastOrder;
            lastOrder = order;
            return cam.reorders ? order : 0;
        }
        if (n.frameNum < 0) return 0;
        if (n.poc >= 0 && lastPoc >= 0 && !n.sync && step == 0)
            step = (n.poc - lastPoc + (std::int64_t{1} << cam.coding.pocBits)) % (std::int64_t{1} << cam.coding.pocBits);
        last = n.frameNum;
        lastRef = n.reference;
        lastPoc = n.poc;
        return order;
    }
};

// One access unit: NAL units from a picture's start up to the next's.
struct Picture {
    bool ok = false;
    formats::SliceNal first;  // its first slice
    std::uint64_t end = 0;
};

Picture pictureAt(Bytes c, std::uint64_t at, std::uint64_t end, const Camera& cam) {
    Picture pic;
    formats::SliceNal n = formats::ReadNal(c, at, end, cam.coding);
    if (!n.ok || !n.startsAu) return pic;
    for (int units = 0; n.ok && units < 256; ++units, n = formats::ReadNal(c, n.next, end, cam.coding)) {
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
std::uint64_t nextPicture(Bytes c, std::uint64_t from, std::uint64_t to, std::uint64_t end, std::uint64_t gap,
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
Walked walk(Bytes c, std::uint64_t from, std::uint64_t end, const Camera& cam, const std::function<void(std::uint64_t)>& passed) {
    Walked w;
    FrameCount count;
    std::uint64_t seen = 0;  // the longest run of sound so far
    for (std::uint64_t p = from, told = from; p < end && w.samples.size() < kMaxSamples;) {
        if (passed && p - told > kKeptBehind) passed(told = p);
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

}  // namespace

namespace {

// What the clip becomes: its bytes up to `dataEnd`, those in [from, to)
// replaced by `header` (the `mdat`'s size set to what it holds), then `moov`.
struct Remade {
    std::string moov;
    std::uint64_t dataEnd = 0, from = 0, to = 0;
    std::string header;
};

// The header that says how much `mdat` (at `at`, of a 64-bit size when
// `large`) holds up to `dataEnd`; its samples move on by what it grows.
// Over 4 GiB a 32-bit size becomes a 64-bit one: over the `wide` box that
// QuickTime cameras leave before it for that, or else 8 bytes longer.
std::uint64_t sizeHeader(Bytes c, std::uint64_t at, bool large, std::uint64_t dataEnd, Remade& out) {
    if (large) {
        out.from = at + 8;
        out.to = at + 16;
        out.header = std::string(8, '\0');
        formats::PutBytesBe(out.header, 0, dataEnd - at, 8);
        return 0;
    }
    if (dataEnd - at <= 0xFFFFFFFFull) {
        out.from = at;
        out.to = at + 4;
        out.header = formats::Be32Bytes(static_cast<std::uint32_t>(dataEnd - at));
        return 0;
    }
    const bool wide = at >= 8 && formats::BytesBe(c, at - 8, 4) == 8 && c.compare(at - 4, 4, "wide") == 0;
    out.from = wide ? at - 8 : at;
    out.to = at + 8;
    out.header = formats::Be32Bytes(1) + "mdat" + std::string(8, '\0');
    formats::PutBytesBe(out.header, 8, dataEnd - (at + 8) + 16, 8);
    return wide ? 0 : 8;
}

bool make(Bytes c, Bytes reference, Remade& out, RebuiltClip* made, const std::function<void(std::uint64_t)>& passed = {}) {
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
    const std::uint64_t lb = cam.coding.lengthBytes;
    for (std::uint64_t p = at + header, units = 0; units < 8 && p + lb + 1 <= end; ++units) {
        const std::uint64_t length = formats::BytesBe(c, p, static_cast<int>(lb));
        if (length == 0 || length > end - p - lb) break;
        const unsigned type = cam.coding.typeOf(static_cast<unsigned char>(c[p + lb]));
        if (cam.coding.isSps(type) && !cam.coding.sps.empty() && c.compare(p + lb, length, cam.coding.sps) != 0) return false;
        if (cam.coding.isSlice(type)) break;
        p += lb + length;
    }
    Walked w = walk(c, at + header, end, cam, passed);
    // A recording cut off never wrote its size: its last picture runs into what the card held before.
    if (!written && !w.samples.empty()) {
        if (--w.chunks.back().second == 0) w.chunks.pop_back();
        w.samples.pop_back();
    }
    if (w.samples.size() < 2) return false;
    const std::uint64_t dataEnd = w.samples.back().offset + w.samples.back().size;
    const std::uint64_t moved = sizeHeader(c, at, large, dataEnd, out);
    for (auto& [offset, bytes] : w.sound) offset += moved;
    for (auto& [offset, samples] : w.chunks) offset += moved;
    MadeTrack video;
    video.delta = cam.delta;
    video.count = w.samples.size();
    video.listSyncs = true;
    for (std::size_t k = 0; k < w.samples.size(); ++k) {
        video.sizes.push_back(static_cast<std::uint32_t>(w.samples[k].size));
        if (w.samples[k].sync) video.syncs.push_back(static_cast<std::uint32_t>(k + 1));
    }
    video.chunks = w.chunks;
    if (cam.reorders) {
        std::vector<std::pair<std::uint64_t, std::int64_t>> shownBy;
        for (const Walked::Sample& sample : w.samples) shownBy.emplace_back(sample.run, sample.order);
        SetComposition(shownBy, video);
    }
    // The sound between the pictures kept, when it is of whole frames.
    MadeTrack sound;
    sound.delta = cam.frameDelta;
    sound.each = cam.frameBytes;
    for (const auto& [offset, bytes] : w.sound) {
        if (cam.frameBytes == 0 || bytes % cam.frameBytes != 0 || bytes / cam.frameBytes > 0xFFFFFFFFull) {
            sound = {};
            break;
        }
        if (offset + bytes > dataEnd + moved) break;
        sound.chunks.emplace_back(offset, static_cast<std::uint32_t>(bytes / cam.frameBytes));
        sound.count += bytes / cam.frameBytes;
    }
    if (made) *made = {sound.count > 0, dataEnd};
    out.moov = MakeIndex(cam.ref, cam.moov, cam.trak, cam.soundTrak, video, sound);
    out.dataEnd = dataEnd;
    return !out.moov.empty();
}

}  // namespace

bool RebuildIndex(const std::string& clip, const std::string& reference, std::string& out, RebuiltClip* made) {
    Remade remade;
    if (!make(clip, reference, remade, made)) return false;
    out = clip.substr(0, static_cast<std::size_t>(remade.from)) + remade.header +
          clip.substr(static_cast<std::size_t>(remade.to), static_cast<std::size_t>(remade.dataEnd - remade.to)) + remade.moov;
    return true;
}

bool WriteWithRebuiltIndex(const fs::path& clipPath, std::uint64_t clipBytes, const fs::path& reference,
                           std::uint64_t referenceBytes, const fs::path& out, RebuiltClip* made) {
    Viewed clip, ref;
    Remade remade;
    if (!clip.open(clipPath, clipBytes) || !ref.open(reference, referenceBytes) ||
        !make(clip.bytes, ref.bytes, remade, made, [&clip](std::uint64_t at) { clip.passed(at); }))
        return false;
    std::ofstream file(out, std::ios::binary | std::ios::trunc);
    // Copied with reads, not through the view: the walk let its pages go.
    std::vector<char> buffer(1 << 20);
    const auto copy = [&](std::uint64_t from, std::uint64_t to) {
        for (std::uint64_t at = from; at < to && file;) {
            const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), to - at));
            if (clip.file.readAt(at, reinterpret_cast<std::uint8_t*>(buffer.data()), n) != n) return false;
            file.write(buffer.data(), static_cast<std::streamsize>(n));
            at += n;
        }
        return static_cast<bool>(file);
    };
    if (!copy(0, remade.from)) return false;
    file.write(remade.header.data(), static_cast<std::streamsize>(remade.header.size()));
    if (!copy(remade.to, remade.dataEnd)) return false;
    file.write(remade.moov.data(), static_cast<std::streamsize>(remade.moov.size()));
    return static_cast<bool>(file.flush());
}

}  // namespace hx::reassembly
