#pragma once
// The joiner of one photo in pieces at a time (see SplitPhotos): where its
// data goes wrong, the places its next piece may lie, tried most likely
// first, and the join kept only when the picture reads cleanly across it and
// to its end. Joiners run side by side, one a core, over the one layout of
// the finds taken before any was joined.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <unordered_map>
#include <utility>
#include <vector>

#include "formats/JpegEntropy.h"
#include "media/SalvagedMedium.h"
#include "reassembly/PictureContinuation.h"
#include "scan/ScanDisk.h"
#include "scan/ScanGeometry.h"

namespace hx::reassembly::photos {

namespace fs = std::filesystem;

// Where every found file lies, taken before any is joined: a join changes
// only its own picture, so joins may run side by side and none sees what
// another changed, as none did when they ran one after the other.
struct Placed {
    std::uint64_t start = 0, units = 0;  // on the medium; units whole
    bool earlier = false;                // of an earlier scan: not placed on this medium
};
struct Held {
    std::uint64_t start, end;  // units, end excluded
    std::size_t index;
};
struct Layout {
    std::vector<Placed> placed;       // by found-file number
    std::vector<Held> held;           // the bytes each found picture is known to hold, in medium order
    std::vector<std::uint64_t> starts;  // every found file's first unit, sorted
    std::atomic<int> probes{0};       // joins tried, by every joiner
    std::atomic<int> glances{0};      // places whose first sector was read, by every joiner
};

void takeLayout(const scan::ScanContext& ctx, std::uint64_t unit, Layout& layout);

class Joiner {
public:
    Joiner(scan::ScanContext& ctx, const scan::ScanGeometry& geo, Layout& layout);

    bool open();

    // Joins a damaged photo, the find `index`; true when it was.
    bool join(std::size_t index);
    // Joins the second picture (or gain map) that a whole photo's MPF index
    // names and that did not come back: it is followed from its own headers
    // on, as the find's units run on, and joined as a first picture is.
    bool joinSecond(std::size_t index);

    // A picture whose second piece was not found is kept as its first piece
    // (partial): what follows the start of the block that holds its fault,
    // when that is no picture data, was another file's or noise.
    void keepFirstPiece(scan::FoundFile& f, const fs::path& path, const std::vector<std::uint8_t>& bytes,
                        std::uint64_t fault);

    // The medium was written in blocks of this many units (see JoinSplitPhotos).
    void setBlockUnits(std::uint64_t units) { blockUnits_ = std::max<std::uint64_t>(units, 1); }

private:
    // Joins the picture whose first `bytes` (one piece or more already
    // joined) read cleanly up to `fault`. Unit k of `bytes` lies at medium
    // unit `base` + k from unit `minUnits` - 1 on; cuts come after that.
    // A second piece that reads cleanly to a fault of its own further on is
    // followed by a search for the next one, up to kMaxPieces in all.
    bool joinFrom(std::size_t index, const fs::path& path, const std::vector<std::uint8_t>& bytes, std::uint64_t fault,
                  std::uint64_t base, std::uint64_t minUnits, int depth);

    // Writes `joined` (to `path`), the find's bytes as joined from `pieces`
    // pieces, with what follows its picture where its last piece runs on from
    // medium byte `after`.
    bool keepJoined(scan::FoundFile& f, const fs::path& path, std::vector<std::uint8_t>& joined, std::uint64_t after,
                    int pieces);
    // The unreadable sectors (zeros) that the find's first `size` bytes as
    // joined (joints_) hold: not those its find ran on into.
    void tellUnreadable(scan::FoundFile& f, std::uint64_t size);

    // joinSecond where the second picture's headers break as the units run
    // on (the picture lies in `bytes` as read so): its first piece ended
    // among them. Its second piece is looked for as blockJoins looks, each
    // place taken when the headers' segments run on across the cut and the
    // picture, of the length its index says, decodes whole to its end marker.
    bool joinSecondAcrossHeaders(std::size_t index, const fs::path& path, const std::vector<std::uint8_t>& bytes,
                                 const formats::PhotoPart& second);

    // The second piece read cleanly for a whole unit or more, then went wrong
    // itself: a third piece is looked for from where it did.
    bool nextPiece(std::size_t index, const fs::path& path, const std::vector<std::uint8_t>& joined, std::size_t joinAt,
                   std::uint64_t next, std::uint64_t pieceUnits, int depth);

    // How the bytes at `unit` look as a continuation, looked at once: a
    // glance at its first sector tells most other data at once.
    const ContinuationLook& lookAt(std::uint64_t unit);

    // Where a piece of picture data starts (after a block of something else)
    // before the blocks inside such a run: another picture's data read from
    // its middle decodes cleanly for a while, and would use up the tries.
    // The few blocks right after the split keep their place ahead (a whole
    // picture may lie between the pieces).
    std::vector<std::pair<std::uint64_t, std::uint64_t>> runStartsFirst(
        std::vector<std::pair<std::uint64_t, std::uint64_t>> joins, std::uint64_t base);
    // The joined photo shows past its first piece what its own EXIF
    // thumbnail shows (or the thumbnail cannot tell): no other photo's piece.
    bool ownThumbnail(const std::vector<std::uint8_t>& joined) const;

    // An end marker lies within a few bytes before `at` in `bytes`.
    static bool endMarkerNear(const std::vector<std::uint8_t>& bytes, std::uint64_t at);

    // On a medium written in blocks larger than its units: the split at the
    // start of the block that holds the fault (or the block before), the
    // second piece at any block start up to kReach bytes further on, nearest
    // first, never among the bytes another found picture is known to hold.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> blockJoins(std::size_t index, std::uint64_t base,
                                                                    std::uint64_t fault, std::size_t have);

    // `unit` lies among the bytes another found picture holds: all of a
    // whole one, a damaged one's up to its fault.
    bool heldByAnother(std::uint64_t unit, std::size_t index) const;

    // The first `joinAt` bytes of the picture followed by `probe` read
    // without a fault, up to the probe's end or the picture's.
    // `more` gets the walk's marks past the cut, where the whole picture's
    // walk may go on from; `fault`, where it went wrong in `bytes` as joined.
    bool continues(const std::vector<std::uint8_t>& bytes, std::size_t joinAt, const std::vector<std::uint8_t>& probe,
                   std::vector<formats::JpegEntropy::Mark>* more, std::uint64_t* fault = nullptr);

    // As wholeAcross, the walk going on from the last mark the probe's walk
    // left: the probe's bytes are the joined picture's own, walked once.
    bool wholeFromProbe(const std::vector<std::uint8_t>& joined, std::size_t joinAt,
                        const std::vector<formats::JpegEntropy::Mark>& probeMarks);

    // The joined picture holds exactly its MCUs up to its end marker.
    bool wholeAcross(const std::vector<std::uint8_t>& joined, std::size_t joinAt);

    // The entropy walk from the last mark before the cut, over the rest of
    // the first piece and then `size` bytes of the second.
    formats::JpegEntropy::Walk walkAcross(const std::vector<std::uint8_t>& bytes, std::size_t joinAt,
                                          const std::uint8_t* second, std::size_t size,
                                          std::vector<formats::JpegEntropy::Mark>* more = nullptr);

    // Where the second piece may start, most likely first: right after a
    // small gap, then right after each found file that lies in the way.
    // `far`: the longer gaps and the files further on.
    std::vector<std::uint64_t> continuations(std::size_t index, std::uint64_t from, bool far) const;

    // The unit right after each other find, nearest first from `from`
    // (forward, then from the medium's start), where no find starts and
    // none is known to hold; at most kFarCandidates.
    std::vector<std::uint64_t> afterAnyFind(std::size_t index, std::uint64_t from) const;

    // `joined` holds the medium from `unit` on after its first `joinAt`
    // bytes (the probe, whole units): more of it is appended until the
    // picture's markers reach its end, and the bytes past that are dropped.
    bool appendToEnd(std::vector<std::uint8_t>& joined, std::size_t joinAt, std::uint64_t unit);

    // Appends up to `length` bytes of the medium from `unit` on.
    bool append(std::vector<std::uint8_t>& out, std::uint64_t unit, std::uint64_t length);

    scan::ScanContext& ctx_;
    const scan::ScanGeometry& geo_;
    const std::uint64_t unit_;
    Layout& layout_;
    media::SalvagedDrive salvaged_;
    int tried_ = 0;  // candidates of the picture being joined
    int allowance_ = 0;  //   and how many more than kProbesPerPicture the piece after a short one gets
    std::unordered_map<std::uint64_t, ContinuationLook> looks_;
    std::uint64_t blockUnits_ = 1;
    formats::JpegEntropy entropy_;
    std::vector<formats::JpegEntropy::Mark> marks_;
    bool walkable_ = false;
    std::vector<std::uint8_t> tail_;
    std::vector<std::uint8_t> glance_;
    std::uint64_t skip_ = 0;  // where the picture being joined starts in its find's bytes
    std::size_t firstJoint_ = 0;  // where its first piece ends, in the join being tried
    // The joints of the join being tried, in order: from each byte of the
    // joined photo on, its bytes lie from that medium unit on.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> joints_;
};


}  // namespace hx::reassembly::photos
