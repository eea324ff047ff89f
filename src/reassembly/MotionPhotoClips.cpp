#include "reassembly/MotionPhotoClips.h"

#include <algorithm>
#include <cstring>

#include "formats/PhotoParts.h"
#include "formats/PhotoTail.h"
#include "reassembly/ClipIndex.h"
#include "shell/Strings.h"

namespace hx::reassembly {

namespace {

namespace fs = std::filesystem;
using namespace pieces;

// How far after the picture's end its clip may start (Samsung's record
// before it, a phone's padding), and a trailer after it may run.
constexpr std::uint64_t kClipStartsWithin = 64 * 1024;
constexpr std::uint64_t kMaxTrailer = 64 * 1024;

bool missingClip(const scan::FoundFile& f) {
    return !f.earlier && !f.parts.empty() &&
           std::find(f.partsMissing.begin(), f.partsMissing.end(), formats::PartKind::Clip) != f.partsMissing.end();
}

// Where the clip starts, from the find's first byte, as the find's units run
// on after `pictureEnd`: after Samsung's record (`samsung` then: a trailer of
// its own may follow the clip), or else the first `ftyp` box within a little
// way. 0 when none.
std::uint64_t clipStart(const formats::ReadAt& inPlace, std::uint64_t pictureEnd, bool& samsung) {
    std::vector<std::uint8_t> after(kClipStartsWithin);
    if (!inPlace(pictureEnd, after.size(), after.data())) return 0;
    bool decided = false;
    const std::size_t record = formats::SamsungClipStart(after.data(), after.size(), decided);
    samsung = record != std::string::npos;
    if (samsung) return pictureEnd + record;
    for (std::size_t i = 0; i + 8 <= after.size(); ++i)
        if (std::memcmp(&after[i + 4], "ftyp", 4) == 0) return pictureEnd + i;
    return 0;
}

// The photo whose clip is followed through its pieces, written to `to`
// when every part holds; its parts then.
bool joinOne(scan::ScanContext& ctx, const scan::ScanGeometry& geo, media::SalvagedMedium& medium, std::uint64_t blockUnits,
             Others& others, scan::FoundFile& f, const fs::path& to, formats::PartsCheck& whole, int& pieces) {
    const std::uint64_t from = geo.byteOf(f.startUnit), room = geo.byteOf(geo.endUnit()) - from;
    const formats::ReadAt inPlace = [&medium, from, room](std::uint64_t at, std::size_t n, std::uint8_t* out) {
        return at <= room && n <= room - at && medium.readAt(from + at, out, n) == n;
    };
    bool samsung = false;
    const std::uint64_t base = clipStart(inPlace, f.parts.back().end(), samsung);
    if (base == 0) return false;
    platform::RawFile copy;
    if (!copy.open(ctx.cacheFolder / f.name, platform::RawFile::Mode::Read)) return false;
    AsFound clip;
    clip.read = [&inPlace, base](std::uint64_t at, std::size_t n, std::uint8_t* out) { return inPlace(base + at, n, out); };
    clip.found = room - base;
    clip.base = base;
    clip.startUnit = f.startUnit;
    clip.copy = &copy;
    clip.copyBytes = f.size;
    const Search search{&ctx.ui, shell::FormatStr(shell::LoadStr(0, "Looking for the pieces of %0"), {f.name})};
    Index index;
    IndexFirst(clip, index);
    if (index.samples.empty()) IndexLast(clip, medium, geo, blockUnits, others, search, index);
    if (index.samples.empty()) return false;
    others.own = f.startUnit;
    Clip joined(medium, geo, others, f.startUnit, index.size, std::move(index.samples), std::move(index.tracks));
    joined.readCopy(&copy, f.size);
    joined.writtenInBlocks(blockUnits);
    joined.answer(search);
    if (!joined.follow(true) || !(index.before() || joined.placeIndex(index.indexAt, index.indexUnit))) return false;
    if (index.before()) joined.takeTrailingBoxes(index.size);
    else if (index.restUnit != ~std::uint64_t{0}) joined.placeFrom(index.restAt / geo.unitBytes(), index.restUnit);
    if (samsung) joined.takeTrailer(kMaxTrailer, formats::SamsungTrailerLength);
    if (!joined.write(to, joined.size())) return false;
    platform::RawFile written;
    if (!written.open(to, platform::RawFile::Mode::Read)) return false;
    const std::uint64_t size = joined.size();
    whole = formats::ReadPhotoParts(
        [&written, size](std::uint64_t at, std::size_t n, std::uint8_t* out) {
            return at + n <= size && written.readAt(at, out, n) == n;
        },
        size);
    pieces = joined.pieces();
    return whole.missing.empty() && whole.end == size && whole.parts.size() > 1;
}

}  // namespace

bool AnyMotionPhotoWithoutClip(const scan::ScanContext& ctx) {
    return std::any_of(ctx.found.begin(), ctx.found.end(), missingClip);
}

int JoinMotionPhotoClips(scan::ScanContext& ctx, const scan::ScanGeometry& geo, media::SalvagedMedium& medium,
                         std::uint64_t blockUnits, Others& others) {
    int joined = 0;
    for (scan::FoundFile& f : ctx.found) {
        if (!missingClip(f)) continue;
        const fs::path path = ctx.cacheFolder / f.name, to = ctx.cacheFolder / (f.name + ".joined");
        formats::PartsCheck whole;
        int pieces = 0;
        std::error_code ec;
        if (joinOne(ctx, geo, medium, blockUnits, others, f, to, whole, pieces)) {
            fs::rename(to, path, ec);
            if (!ec) {
                f.size = whole.end;
                f.parts = whole.parts;
                f.partsMissing.clear();
                f.pieces = pieces > 1 ? pieces : 0;
                f.printed = false;
                ++joined;
            }
        }
        fs::remove(to, ec);
        ctx.ui.yield();
        if (ctx.ui.stopRequested()) break;
    }
    return joined;
}

}  // namespace hx::reassembly
