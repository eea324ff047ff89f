#include "reassembly/ClipIndex.h"

#include <cstring>

#include "formats/iso/IsoBoxes.h"
#include "platform/ByteOrder.h"

namespace hx::reassembly::pieces {

namespace {

// A moov box read from the medium into memory, for its tables.
constexpr std::uint64_t kMaxIndex = 64ull << 20;
// Boxes between a clip's samples and its index (a camera's own data, room
// left to grow the index): how many, and their bytes, at most.
constexpr int kMaxLeadBoxes = 4;
constexpr std::uint64_t kMaxLead = 1ull << 20;
// Indexes read across two pieces, at most, for one clip.
constexpr int kMaxSplitTries = 4;

bool leads(const std::uint8_t* head) {
    for (const char* type : {"free", "skip", "wide", "uuid", "udta", "meta"})
        if (std::memcmp(head + 4, type, 4) == 0) return true;
    return false;
}

// The samples, placed in the find's bytes.
void moveOn(std::vector<Sample>& samples, std::uint64_t base) {
    for (Sample& sample : samples) sample.offset += base;
}

// Of an index `box` read where it starts, the first box header at or after
// byte `cut` (the boxes that hold boxes looked into); 0 when none, or one
// lies across it.
std::uint64_t firstHeaderFrom(const std::vector<std::uint8_t>& box, std::uint64_t cut) {
    const std::uint64_t end = box.size();
    std::uint64_t at = 8;
    for (int boxes = 0; at < end && boxes < 4096; ++boxes) {
        if (at >= cut) return at;
        if (at + 8 > cut || at + 8 > end) return 0;
        const std::uint64_t size = platform::Be32(&box[at]);
        if (size < 8 || size > end - at) return 0;
        bool holds = false;
        for (const char* type : {"trak", "mdia", "minf", "stbl", "edts", "dinf", "udta", "mvex"})
            holds |= std::memcmp(&box[at + 4], type, 4) == 0;
        // Into a box that holds boxes, its children follow one another to its end, and its next sibling after.
        at += holds && at + size > cut ? 8 : size;
    }
    return 0;
}

bool saneHeader(const std::uint8_t* h, std::uint64_t room) {
    const std::uint64_t size = platform::Be32(h);
    if (size < 8 || size > room) return false;
    for (int k = 4; k < 8; ++k)
        if (!((h[k] >= 'a' && h[k] <= 'z') || (h[k] >= '0' && h[k] <= '9') || h[k] == ' ' || h[k] == 0xA9)) return false;
    return true;
}

}  // namespace

// An index found where a clip's samples end, taken when its samples fill
// the clip's `mdat` from its start and the first of them are in place in
// the piece that was found.
bool Placement::take(const std::vector<std::uint8_t>& box, Index& index) const {
    const formats::ReadAt inBox = [&box](std::uint64_t from, std::size_t n, std::uint8_t* out) {
        if (from > box.size() || n > box.size() - from) return false;
        std::memcpy(out, box.data() + from, n);
        return true;
    };
    std::vector<formats::IsoTrack> tracks;
    if (!formats::ReadSampleTables(inBox, {0, 8, box.size(), {'m', 'o', 'o', 'v'}}, tracks)) return false;
    std::vector<Sample> samples = samplesOf(tracks, mdat, mdat.end);
    if (samples.empty() || samples.front().offset != mdat.contents) return false;
    std::uint64_t filled = 0;
    for (const Sample& sample : samples) filled = std::max(filled, sample.end());
    if (filled != mdat.end) return false;
    moveOn(samples, clip.base);
    // Its first sample's NAL units are in place where the clip was found.
    Clip first(medium, geo, around, clip.startUnit, indexAt + box.size(), samples);
    if (clip.copy) first.readCopy(clip.copy, clip.copyBytes);
    if (!first.follow(false) && !first.anyInPlace()) return false;
    index.size = indexAt + box.size();
    index.tracks = std::move(tracks);
    index.moov.assign(box.begin(), box.end());
    index.samples = std::move(samples);
    return true;
}

// The index's bytes from `cut` on, looked for at the start of a block
// elsewhere (nearest first after `q`, where its start was found): a unit
// whose bytes there hold the next box header the index's first bytes
// expect, and with which the whole index is taken.
bool Placement::restElsewhere(std::vector<std::uint8_t> box, std::uint64_t cut, std::uint64_t blockUnits, std::uint64_t q,
                              const Search& search, Index& index) {
    constexpr int kMaxTaken = 64;  // candidates read whole, at most
    const std::uint64_t header = firstHeaderFrom(box, cut);
    if (header == 0) return false;
    const std::uint64_t unit = geo.unitBytes(), endUnit = geo.endUnit(), restBytes = box.size() - cut;
    const std::uint64_t phase = (clip.startUnit + (indexAt + cut) / unit) % blockUnits;
    std::vector<std::uint8_t> rest(static_cast<std::size_t>(restBytes));
    std::uint8_t h[8];
    int taken = 0;
    for (std::uint64_t k = 1; k < endUnit && taken < kMaxTaken && search.goOn(k, endUnit); ++k) {
        const std::uint64_t r = (q + k) % endUnit;
        if (r % blockUnits != phase || around.holds(r) || around.starts_at(r) || around.blankAt(r)) continue;
        if (geo.byteOf(r) + restBytes > geo.byteOf(endUnit)) continue;
        if (medium.readAt(geo.byteOf(r) + (header - cut), h, 8) != 8 || !saneHeader(h, box.size() - header)) continue;
        ++taken;
        if (medium.readAt(geo.byteOf(r), rest.data(), rest.size()) != rest.size()) continue;
        std::copy(rest.begin(), rest.end(), box.begin() + static_cast<std::ptrdiff_t>(cut));
        if (!take(box, index)) continue;
        index.restAt = indexAt + cut;
        index.restUnit = r;
        return true;
    }
    return false;
}

AsFound AsFound::FromCopy(platform::RawFile& copy, std::uint64_t size, std::uint64_t startUnit) {
    AsFound clip;
    clip.read = [&copy, size](std::uint64_t at, std::size_t n, std::uint8_t* out) {
        return at + n <= size && copy.readAt(at, out, n) == n;
    };
    clip.found = size;
    clip.startUnit = startUnit;
    clip.copy = &copy;
    clip.copyBytes = size;
    return clip;
}

void IndexFirst(const AsFound& clip, Index& index) {
    formats::IsoBox moov, mdat;
    if (!formats::FindIsoBox(clip.read, 0, kMaxClip, "moov", moov) || moov.end > clip.found ||
        !formats::FindIsoBox(clip.read, 0, kMaxClip, "mdat", mdat) || moov.at > mdat.at)
        return;
    if (!formats::ReadSampleTables(clip.read, moov, index.tracks)) return;
    index.samples = samplesOf(index.tracks, mdat, mdat.end);
    moveOn(index.samples, clip.base);
    index.size = clip.base + mdat.end;
    index.tail = clip.base + formats::TrailingBoxesEnd(clip.read, mdat.end, clip.found, kMaxTrailing);
}

void IndexLast(const AsFound& clip, media::SalvagedMedium& medium, const scan::ScanGeometry& geo, std::uint64_t blockUnits,
               const Others& around, const Search& search, Index& index) {
    formats::IsoBox ftyp, mdat, moov;
    if (formats::ReadIsoBox(clip.read, 0, kMaxClip, ftyp) != formats::BoxRead::Box || !ftyp.is("ftyp") ||
        !formats::FindIsoBox(clip.read, 0, kMaxClip, "mdat", mdat) || (formats::FindIsoBox(clip.read, 0, mdat.at, "moov", moov)))
        return;
    const std::uint64_t unit = geo.unitBytes();
    const std::uint64_t mdatEnd = clip.base + mdat.end;  // in the find
    const std::uint64_t within = mdatEnd % unit;
    // The index's header is read where it lies: in one block of the medium
    // (a cluster, which DeepScan's sectors run on in), or else in two pieces.
    const std::uint64_t block = blockUnits * unit;
    if (mdatEnd % block + 16 > block) return;
    const std::uint64_t endUnit = geo.endUnit();
    const std::uint64_t natural = clip.startUnit + mdatEnd / unit;
    std::uint8_t head[16];
    std::vector<std::uint8_t> box;
    int splitTries = 0;
    for (std::uint64_t k = 0; k < endUnit && search.goOn(k + 1, endUnit); ++k) {
        const std::uint64_t q = (natural + k) % endUnit;
        if (q % blockUnits != natural % blockUnits || around.holds(q) || around.blankAt(q)) continue;
        if (medium.readAt(geo.byteOf(q) + within, head, 16) != 16) continue;
        // Boxes a camera may put between its samples and their index, then the index.
        std::uint64_t lead = 0;
        for (int boxes = 0; boxes < kMaxLeadBoxes && leads(head) && lead <= kMaxLead; ++boxes) {
            const std::uint64_t bytes = platform::Be32(head);
            if (bytes < 8 || bytes > kMaxLead) break;
            lead += bytes;
            if (medium.readAt(geo.byteOf(q) + within + lead, head, 16) != 16) break;
        }
        if (std::memcmp(head + 4, "moov", 4) != 0 || std::memcmp(head + 12, "mvhd", 4) != 0) continue;
        const std::uint64_t bytes = platform::Be32(head);
        const std::uint64_t at = geo.byteOf(q) + within + lead;
        if (bytes < 16 || bytes > kMaxIndex || at + bytes > geo.byteOf(endUnit)) continue;
        box.resize(static_cast<std::size_t>(bytes));
        if (medium.readAt(at, box.data(), box.size()) != box.size()) continue;
        const std::uint64_t indexAt = mdatEnd + lead;  // in the find
        Placement placed{clip, medium, geo, around, mdat, indexAt};
        if (!placed.take(box, index)) {
            // An index across two pieces: its bytes from the next block on lie elsewhere.
            const std::uint64_t cut = (indexAt / block + 1) * block - indexAt;
            if (cut >= bytes || ++splitTries > kMaxSplitTries || !placed.restElsewhere(box, cut, blockUnits, q, search, index))
                continue;
        } else {
            // Boxes of the camera's own after the index, as it lies.
            const formats::ReadAt onMedium = [&medium, &geo, at](std::uint64_t from, std::size_t n, std::uint8_t* out) {
                return medium.readAt(at + from, out, n) == n;
            };
            index.size = indexAt + formats::TrailingBoxesEnd(onMedium, bytes, geo.byteOf(endUnit) - at, kMaxTrailing);
        }
        index.indexAt = mdatEnd;
        index.indexUnit = q;
        return;
    }
}

}  // namespace hx::reassembly::pieces
