#include "reassembly/SplitMovies.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <optional>
#include <thread>

#include "platform/ByteOrder.h"
#include "platform/RawFile.h"
#include "filesystems/FileSystemTypes.h"
#include "reassembly/RebuiltIndex.h"
#include "reassembly/SplitPhotos.h"
#include "shell/Strings.h"
#include "formats/Formats.h"
#include "formats/codecs/PicturesDecode.h"
#include "formats/iso/IndexCut.h"
#include "formats/iso/IsoSampleTables.h"
#include "reassembly/ClipIndex.h"
#include "reassembly/ClipPieces.h"
#include "reassembly/MotionPhotoClips.h"
#include "scan/LaterChecks.h"

namespace hx::reassembly {

namespace {

namespace fs = std::filesystem;
using shell::FormatStr;
using shell::LoadStr;
using namespace pieces;

// A clip whose index comes after its samples, written at `path` as far as
// its own bytes go (`own`): its `mdat` is made to end there, and its index
// `moov` cut to the samples it still has is put after them. Returns the
// file's size (`own` where the index cannot be cut: the clip then has none).
std::uint64_t EndWithCutIndex(const fs::path& path, std::uint64_t own, const std::string& moov) {
    const std::string cut = formats::IndexCutAt(moov, own);
    std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
    std::uint64_t at = 0;
    for (int boxes = 0; !cut.empty() && file && boxes < 64 && at + 16 <= own; ++boxes) {
        std::uint8_t head[16];
        file.seekg(static_cast<std::streamoff>(at));
        if (!file.read(reinterpret_cast<char*>(head), sizeof head)) break;
        const bool large = platform::Be32(head) == 1;
        const std::uint64_t size = large ? platform::Be64(head + 8) : platform::Be32(head);
        if (std::memcmp(head + 4, "mdat", 4) == 0) {
            // Its size, in the field that held it, now to where its own bytes end.
            std::uint8_t field[8];
            const std::uint64_t bytes = own - at;
            if (!large && bytes > 0xFFFFFFFFull) break;
            const int width = large ? 8 : 4;
            for (int k = 0; k < width; ++k) field[k] = static_cast<std::uint8_t>(bytes >> (8 * (width - 1 - k)));
            file.seekp(static_cast<std::streamoff>(large ? at + 8 : at));
            file.write(reinterpret_cast<const char*>(field), width);
            file.seekp(static_cast<std::streamoff>(own));
            file.write(cut.data(), static_cast<std::streamsize>(cut.size()));
            return file.flush() ? own + cut.size() : own;
        }
        if (size < 8 || size > own - at) break;
        at += size;
    }
    return own;
}

// Each clip whose index is lost is written again, as a find of its own,
// with an index made after the one of a whole clip of the same camera: of
// the nearest few on the medium whose first bytes (its `ftyp`) are the same,
// the one with which the most of the clip is taken.
void IndexLostClips(scan::ScanContext& ctx, const std::vector<std::size_t>& lost, const std::vector<std::size_t>& whole) {
    constexpr int kTries = 3;  // references tried for one clip
    auto headOf = [&ctx](std::size_t k) {
        std::string head(256, '\0');
        std::ifstream in(ctx.cacheFolder / ctx.found[k].name, std::ios::binary);
        in.read(head.data(), static_cast<std::streamsize>(head.size()));
        head.resize(static_cast<std::size_t>(in.gcount()));
        return head;
    };
    for (std::size_t k : lost) {
        const std::string head = headOf(k);
        std::vector<std::size_t> refs;
        for (std::size_t r : whole) {
            const std::string other = headOf(r);
            const std::size_t ftyp = other.size() >= 8 ? platform::Be32(reinterpret_cast<const std::uint8_t*>(other.data())) : 0;
            if (ftyp >= 8 && ftyp <= other.size() && head.compare(0, ftyp, other, 0, ftyp) == 0) refs.push_back(r);
        }
        const std::uint64_t at = ctx.found[k].startUnit;
        std::sort(refs.begin(), refs.end(), [&](std::size_t a, std::size_t b) {
            const auto far = [&](std::size_t r) { const std::uint64_t u = ctx.found[r].startUnit; return u > at ? u - at : at - u; };
            return far(a) < far(b);
        });
        long counter = static_cast<long>(ctx.found.size());
        while (fs::exists(ctx.cacheFolder / scan::FoundFileName(counter, ctx.found[k].extension))) ++counter;
        const std::string name = scan::FoundFileName(counter, ctx.found[k].extension);
        // Of the clips tried, the one that takes the clip furthest: a clip of
        // another camera with the same `ftyp` stops the walk soon.
        const fs::path to = ctx.cacheFolder / name, trying = ctx.cacheFolder / (name + ".part");
        std::uint64_t best = 0;
        bool bestSound = false;
        if (refs.empty()) continue;
        std::error_code ec;
        for (std::size_t t = 0; t < refs.size() && t < kTries; ++t) {
            const scan::FoundFile& ref = ctx.found[refs[t]];
            RebuiltClip made;
            if (!WriteWithRebuiltIndex(ctx.cacheFolder / ctx.found[k].name, ctx.found[k].size, ctx.cacheFolder / ref.name,
                                       ref.size, trying, &made) ||
                made.taken <= best)
                continue;
            fs::rename(trying, to, ec);
            if (ec) continue;
            best = made.taken;
            bestSound = made.sound;
        }
        fs::remove(trying, ec);
        if (best > 0) {
            // The clip as found is its own only as far as its pictures follow one another.
            if (best < ctx.found[k].size) {
                fs::resize_file(ctx.cacheFolder / ctx.found[k].name, best, ec);
                if (!ec) {
                    ctx.found[k].size = best;
                    ctx.found[k].printed = false;
                }
            }
            scan::FoundFile made = ctx.found[k];
            made.name = name;
            made.size = fs::file_size(to, ec);
            made.indexRebuilt = bestSound ? 2 : 1;
            made.pieces = 0;
            made.damaged = false;
            made.faultAt = ~0ull;
            made.printed = false;
            if (counter < 32760) ctx.List3.push_back(scan::FoundEntryText(counter, made.description));
            ctx.found.push_back(std::move(made));
        }
        ctx.ui.yield();
        if (ctx.ui.stopRequested()) return;
    }
}

// The units a find is known to fill, from its first: all its bytes where
// its format says where it ends, its first unit alone where it only ran on
// to the next find (a weak signature, such as PCX's, is met inside other
// files' bytes, DeepScan's sectors more often than clusters).
std::uint64_t heldUnits(const scan::FoundFile& f, std::uint64_t bytes, std::uint64_t unit) {
    const formats::Format* format = formats::FormatOf(f.extension);
    if (format && format->ending == formats::Ending::NextFind) return 1;
    return std::max<std::uint64_t>(1, (bytes + unit - 1) / unit);
}

// The units the finds that are no movies hold, and where the scan saw blank:
// no clip's index lies there.
Others noClips(const scan::ScanContext& ctx, std::uint64_t unit) {
    Others around;
    around.blank = &ctx.blank;
    for (const scan::FoundFile& f : ctx.found) {
        const formats::Format* format = formats::FormatOf(f.extension);
        if (!f.earlier && (!format || format->family != formats::Family::Movie))
            around.held.emplace_back(f.startUnit, f.startUnit + heldUnits(f, f.size, unit));
    }
    std::sort(around.held.begin(), around.held.end());
    return around;
}

// Every clip found with its index, first or after its samples; `lost` gets
// those whose index was not found. Empty when the user stopped.
std::vector<std::pair<std::size_t, Index>> clipsWithIndex(scan::ScanContext& ctx, const scan::ScanGeometry& geo,
                                                          std::uint64_t blockUnits, media::SalvagedMedium& medium,
                                                          std::vector<std::size_t>& lost) {
    const Others around = noClips(ctx, geo.unitBytes());
    std::vector<std::pair<std::size_t, Index>> clips;
    for (std::size_t k = 0; k < ctx.found.size(); ++k) {
        const scan::FoundFile& f = ctx.found[k];
        const formats::Format* format = formats::FormatOf(f.extension);
        if (!format || format->family != formats::Family::Movie || f.earlier || f.listedSize > 0 ||
            f.size < 2 * geo.unitBytes())
            continue;
        platform::RawFile copy;
        if (!copy.open(ctx.cacheFolder / f.name, platform::RawFile::Mode::Read)) continue;
        const AsFound clip = AsFound::FromCopy(copy, f.size, f.startUnit);
        Index index;
        IndexFirst(clip, index);
        const Search search{&ctx.ui, FormatStr(LoadStr(0, "Looking for the pieces of %0"), {f.name})};
        if (index.samples.empty()) IndexLast(clip, medium, geo, blockUnits, around, search, index);
        if (index.samples.empty()) lost.push_back(k);
        // A clip is no larger than the medium that holds its pieces.
        else if (index.size <= geo.byteOf(geo.endUnit())) clips.emplace_back(k, std::move(index));
        ctx.ui.yield();
        if (ctx.ui.stopRequested()) return {};
    }
    return clips;
}

// What every find holds: a clip as far as its samples are where they should
// be as found, any other find all its bytes. `shownTo` gets each clip's bytes
// shown to be its own (~0: all).
Others heldByFinds(const scan::ScanContext& ctx, const scan::ScanGeometry& geo, media::SalvagedMedium& medium,
                   const std::vector<std::pair<std::size_t, Index>>& clips, std::vector<std::uint64_t>& shownTo) {
    const std::uint64_t unit = geo.unitBytes();
    shownTo.assign(ctx.found.size(), ~0ull);
    Others others;
    others.blank = &ctx.blank;
    for (const auto& [k, index] : clips) {
        Clip asFound(medium, geo, others, ctx.found[k].startUnit, index.size, index.samples, index.tracks);
        platform::RawFile copy;
        if (copy.open(ctx.cacheFolder / ctx.found[k].name, platform::RawFile::Mode::Read))
            asFound.readCopy(&copy, ctx.found[k].size);
        if (!index.before() && index.indexUnit == ctx.found[k].startUnit + index.indexAt / geo.unitBytes())
            asFound.indexInPlace(index.indexAt);
        if (!asFound.follow(false) || !asFound.lastPictureShown() || asFound.trailingSoundFault() != ~0ull) {
            asFound.settle();
            shownTo[k] = asFound.verified();
        }
    }
    for (std::size_t k = 0; k < ctx.found.size(); ++k) {
        const scan::FoundFile& f = ctx.found[k];
        if (f.earlier) continue;
        others.starts.push_back(f.startUnit);
        others.held.emplace_back(f.startUnit, f.startUnit + heldUnits(f, std::min(f.size, shownTo[k]), unit));
    }
    std::sort(others.starts.begin(), others.starts.end());
    std::sort(others.held.begin(), others.held.end());
    return others;
}

// A clip written as far as its own bytes go (`own`) is told so: an index
// after its samples is cut to those there are and put after them, and how
// far it plays is said in the list, the JSON and the report (by the index as
// it was).
void markIncomplete(scan::FoundFile& f, const fs::path& path, const Index& index, std::uint64_t own) {
    f.size = own;
    if (!index.moov.empty()) f.size = EndWithCutIndex(path, own, index.moov);
    f.damaged = true;
    f.faultAt = own;
    f.printed = false;
    platform::RawFile written;
    if (!written.open(path, platform::RawFile::Mode::Read)) return;
    const std::string& moov = index.moov;
    // (after the media data as it now ends, or where it ended)
    const std::uint64_t moovAt = moov.empty() ? ~0ull : f.size > own ? own : index.indexAt;
    const formats::Playable p = formats::PlayableSeconds(
        [&](std::uint64_t at, std::size_t n, std::uint8_t* out) {
            if (at >= moovAt) {
                if (at - moovAt > moov.size() || n > moov.size() - (at - moovAt)) return false;
                std::memcpy(out, moov.data() + (at - moovAt), n);
                return true;
            }
            return at + n <= own && written.readAt(at, out, n) == n;
        },
        moov.empty() ? index.size : moovAt + moov.size(), own);
    f.plays = p.plays;
    f.lasts = p.lasts;
}

// The unreadable sectors that a clip put together holds, as zeros: its
// own, not those the find as the scan read it ran on into.
void tellUnreadable(scan::FoundFile& f, const Clip::Unreadable& u) {
    f.unreadableSectors = u.sectors;
    f.firstUnreadable = u.firstByte;
}

// What rebuilding one clip made of its find.
struct Rebuilt {
    bool whole = false;    // every sample placed by proof, and written so
    bool written = false;  //   or written as far as it plays
    scan::FoundFile f;
};

// The clip of find `k` (its index `index`), whose bytes as found are its own
// up to `shownTo` (~0: all), followed through its pieces and written whole
// or as far as it plays, in place of its copy. Reads ctx, writes nothing of it.
Rebuilt rebuildClip(const scan::ScanContext& ctx, const scan::ScanGeometry& geo, media::SalvagedMedium& medium,
                    Others& others, std::uint64_t blockUnits, std::size_t k, Index& index, std::uint64_t shownTo,
                    const Search& search) {
    const std::uint64_t unit = geo.unitBytes();
    Rebuilt made{false, false, ctx.found[k]};
    scan::FoundFile& f = made.f;
    // Its own units are no other find's while it is rebuilt.
    others.own = f.startUnit;
    Clip clip(medium, geo, others, f.startUnit, index.size, std::move(index.samples), std::move(index.tracks));
    platform::RawFile copy;
    if (copy.open(ctx.cacheFolder / f.name, platform::RawFile::Mode::Read)) clip.readCopy(&copy, f.size);
    clip.answer(search);
    clip.writtenInBlocks(blockUnits);
    const fs::path path = ctx.cacheFolder / f.name;
    const bool followed = clip.follow(true);
    // Its last picture, where pieces lie wholly inside it.
    if (followed && !clip.lastPictureShown()) clip.findLastInnerPieces();
    const bool placed = followed && (index.before() || clip.placeIndex(index.indexAt, index.indexUnit));
    // Its last picture, where nothing read after it shows its clusters.
    const bool lastShown = followed && (clip.lastPictureShown() || (placed && index.before() && clip.findLastPiece()));
    // Its sound after the last picture, where nothing else checked it.
    const std::uint64_t soundFault = placed && lastShown ? clip.trailingSoundFault() : ~0ull;
    if (placed && lastShown && soundFault == ~0ull) {
        if (index.before()) clip.takeTrailingBoxes(index.size);
        else if (index.restUnit != ~std::uint64_t{0}) clip.placeFrom(index.restAt / unit, index.restUnit);
        if (clip.write(path, clip.size())) {
            f.size = clip.size();
            tellUnreadable(f, clip.unreadableIn(f.size));
            f.pieces = clip.pieces() > 1 ? clip.pieces() : 0;
            f.printed = false;
            made.whole = made.written = true;
        }
    } else if (const std::uint64_t own = soundFault != ~0ull ? soundFault
                                         : !followed        ? std::max(std::min(shownTo, index.size), clip.shown())
                                         : lastShown        ? index.indexAt
                                                            : clip.shown();
               (clip.trusted() || own > 0) && clip.write(path, own)) {
        // What follows is another file's, or an index whose place is not
        // known for sure. A clip of few samples is cut too once one of its
        // NAL units was read in place: its samples are then known to be read right.
        markIncomplete(f, path, index, own);
        tellUnreadable(f, clip.unreadableIn(own));
        made.written = true;
    }
    return made;
}

}  // namespace

int RebuildSplitMovies(scan::ScanContext& ctx, const scan::ScanGeometry& geo) {
    // What the scan could not read is not read again.
    media::SalvagedDrive drive;
    if (!drive.open(ctx.drive, geo.bytesPerSector, ctx.unreadable)) return 0;
    const std::uint64_t unit = geo.unitBytes();
    // A file system's clusters, when the scan's units are its sectors
    // (DeepScan); else what the finds' starts tell.
    const std::uint64_t blockUnits = WrittenBlockUnits(ctx, geo);
    std::vector<std::size_t> lost;  // clips whose index was not found
    std::vector<std::pair<std::size_t, Index>> clips = clipsWithIndex(ctx, geo, blockUnits, *drive, lost);
    if ((clips.empty() && !AnyMotionPhotoWithoutClip(ctx)) || ctx.ui.stopRequested()) return 0;
    std::vector<std::uint64_t> shownTo;
    Others others = heldByFinds(ctx, geo, *drive, clips, shownTo);
    // Whole as found: every sample in place, and the index too. The others
    // are rebuilt a clip a core, each reading the medium through its own
    // reader; this thread's also keeps the window answering and hears a stop.
    std::vector<std::size_t> rebuild;
    std::vector<bool> wholeAsFound(clips.size());
    for (std::size_t c = 0; c < clips.size(); ++c) {
        const auto& [k, index] = clips[c];
        wholeAsFound[c] = shownTo[k] == ~0ull && (index.size == ctx.found[k].size || index.tail == ctx.found[k].size) &&
                          (index.before() || (index.indexUnit == ctx.found[k].startUnit + index.indexAt / unit && index.restUnit == ~0ull));
        if (!wholeAsFound[c]) rebuild.push_back(c);
    }
    std::vector<std::optional<Rebuilt>> made(clips.size());
    std::atomic<std::size_t> next{0};
    std::atomic<bool> stop{false};
    std::atomic<std::size_t> helpersDone{0};
    const auto work = [&](bool answers) {
        media::SalvagedDrive helper;
        struct Done {
            std::atomic<std::size_t>* count;
            ~Done() {
                if (count) ++*count;
            }
        } done{answers ? nullptr : &helpersDone};
        if (!answers && !helper.open(ctx.drive, geo.bytesPerSector, ctx.unreadable)) return;
        media::SalvagedMedium& medium = answers ? *drive : *helper;
        Others mine = others;
        for (std::size_t n; !stop && (n = next++) < rebuild.size();) {
            auto& [k, index] = clips[rebuild[n]];
            const Search search = answers ? Search{&ctx.ui, FormatStr(LoadStr(0, "Looking for the pieces of %0"), {ctx.found[k].name})}
                                          : Search{nullptr, {}, &stop};
            made[rebuild[n]] = rebuildClip(ctx, geo, medium, mine, blockUnits, k, index, shownTo[k], search);
            if (!answers) continue;
            ctx.ui.yield();
            if (ctx.ui.stopRequested()) stop = true;
        }
    };
    const std::size_t helpers = rebuild.empty() ? 0 : std::min<std::size_t>(scan::HelperThreads(), rebuild.size() - 1);
    std::vector<std::thread> threads;
    for (std::size_t h = 0; h < helpers; ++h) threads.emplace_back(work, false);
    work(true);
    // A clip can take long: the window keeps answering, and hears a stop, until the last is done.
    while (helpersDone < threads.size()) {
        ctx.ui.yield();
        if (ctx.ui.stopRequested()) stop = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    for (auto& t : threads) t.join();
    std::vector<std::size_t> whole;  // clips that are as their index says, as found or rebuilt
    int rebuilt = 0;
    for (std::size_t c = 0; c < clips.size(); ++c) {
        const std::size_t k = clips[c].first;
        if (wholeAsFound[c]) whole.push_back(k);
        if (!made[c] || !made[c]->written) continue;
        ctx.found[k] = std::move(made[c]->f);
        if (made[c]->whole) {
            whole.push_back(k);
            ++rebuilt;
        }
    }
    if (stop || ctx.ui.stopRequested()) return rebuilt;
    rebuilt += JoinMotionPhotoClips(ctx, geo, *drive, blockUnits, others);
    IndexLostClips(ctx, lost, whole);
    return rebuilt;
}

}  // namespace hx::reassembly
