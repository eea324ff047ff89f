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

bool leads(const std::uint8_t* head) {
    for (const char* type : {"free", "skip", "wide", "uuid", "udta", "meta"})
        if (std::memcmp(head + 4, type, 4) == 0) return true;
    return false;
}

// The samples, placed in the find's bytes.
void moveOn(std::vector<Sample>& samples, std::uint64_t base) {
    for (Sample& sample : samples) sample.offset += base;
}

}  // namespace

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
        const formats::ReadAt inBox = [&box](std::uint64_t from, std::size_t n, std::uint8_t* out) {
            if (from > box.size() || n > box.size() - from) return false;
            std::memcpy(out, box.data() + from, n);
            return true;
        };
        std::vector<formats::IsoTrack> tracks;
        if (!formats::ReadSampleTables(inBox, {0, 8, bytes, {'m', 'o', 'o', 'v'}}, tracks)) continue;
        std::vector<Sample> samples = samplesOf(tracks, mdat, mdat.end);
        if (samples.empty() || samples.front().offset != mdat.contents) continue;
        std::uint64_t filled = 0;
        for (const Sample& sample : samples) filled = std::max(filled, sample.end());
        if (filled != mdat.end) continue;
        moveOn(samples, clip.base);
        // Its first sample's NAL units are in place where the clip was found.
        Clip first(medium, geo, around, clip.startUnit, mdatEnd + lead + bytes, samples);
        if (clip.copy) first.readCopy(clip.copy, clip.copyBytes);
        if (!first.follow(false) && !first.anyInPlace()) continue;
        // Boxes of the camera's own after the index, as it lies.
        const formats::ReadAt onMedium = [&medium, &geo, at](std::uint64_t from, std::size_t n, std::uint8_t* out) {
            return medium.readAt(at + from, out, n) == n;
        };
        const std::uint64_t room = geo.byteOf(endUnit) - at;
        index.size = mdatEnd + lead + formats::TrailingBoxesEnd(onMedium, bytes, room, kMaxTrailing);
        index.indexAt = mdatEnd;
        index.indexUnit = q;
        index.tracks = std::move(tracks);
        index.moov.assign(box.begin(), box.end());
        index.samples = std::move(samples);
        return;
    }
}

}  // namespace hx::reassembly::pieces
