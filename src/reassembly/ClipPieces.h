#pragma once
// A clip in pieces as the search for them sees it: the clip's clusters, each
// where it lies, followed sample by sample (an H.264 or H.265 sample's NAL
// lengths fill it exactly; an AAC frame starts as one does) and, where they
// stop being in place, its next piece looked for over the whole medium.
// Used by the joiners of clips and of motion photos' clips. The following
// is in ClipPieces.cpp, the search for a next piece in PieceSearch.cpp.
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

#include "formats/codecs/PicturesDecode.h"
#include "media/SalvagedMedium.h"
#include "platform/RawFile.h"
#include "reassembly/ClipSamples.h"
#include "reassembly/ClusterMap.h"
#include "scan/ScanGeometry.h"

namespace hx::reassembly::pieces {

namespace fs = std::filesystem;

// Pieces of one clip at most: a long recording on a card of many small
// holes lies in hundreds (each piece found costs a search at most).
constexpr int kMaxPieces = 4096;
// Blocks of the medium (its clusters) tried for where one piece ends, back
// from where its samples stop being in place.
constexpr std::uint64_t kMaxBoundaries = 256;
// A box of a camera's own after the samples or the index, at most.
constexpr std::uint64_t kMaxTrailing = 16ull << 20;
// Boundaries that fit one piece, at most, for its pictures to choose among
// (a picture of a few hundred KiB holds a dozen clusters); and the pictures
// (and their bytes) decoded to tell one, at most, for one boundary and for all.
constexpr std::size_t kMaxFitting = 64;
constexpr std::uint32_t kMaxDecoded = 600;
constexpr std::uint64_t kMaxDecodedForAll = 4096;
constexpr std::uint64_t kMaxDecodedBytes = 256ull << 20;
// Samples shown to be in place before a clip's check is trusted to tell
// where its bytes stop being its own.
constexpr std::size_t kTrustedAfter = 16;

// One clip: its clusters in file order, where each lies on the medium.
class Clip {
public:
    Clip(media::SalvagedMedium& medium, const scan::ScanGeometry& geo, const Others& others, std::uint64_t startUnit,
         std::uint64_t size, std::vector<Sample> samples, std::vector<formats::IsoTrack> tracks = {});

    // Follows the samples as the clusters lie; with `rebuild`, where they
    // stop being there the clip's next piece is looked for. True when every
    // sample was found in place; verified() then, or else, says how far the
    // clip was shown to be its own.
    bool follow(bool rebuild);

    // The first `bytes` of the clip as the scan found them (in one piece from
    // its start) are read from `copy`, the scan's copy of them.
    void readCopy(platform::RawFile* copy, std::uint64_t bytes) {
        copy_ = copy;
        copyBytes_ = bytes;
    }

    // The medium was written in blocks of `units` (its file system's clusters
    // when the scan's units are smaller): a piece starts and ends on them.
    void writtenInBlocks(std::uint64_t units) { block_ = std::max<std::uint64_t>(1, units); }

    // Long searches for a piece answer the window through `search`.
    void answer(const Search& search) { search_ = search; }
    int pieces() const { return pieces_; }
    // The sectors of the medium that read as zeros (unreadable, known or
    // failed since) among the clip's first `bytes` as its clusters are
    // placed, and the byte of the clip where the first of them begins.
    struct Unreadable {
        std::uint64_t sectors = 0, firstByte = 0;
    };
    Unreadable unreadableIn(std::uint64_t bytes) const;
    std::size_t checked() const { return checked_; }
    // A NAL unit's length was read in place.
    bool anyInPlace() const { return lastGood_ > 0; }

    // The clip's index lies after its samples, from byte `at` of the file,
    // and was found at unit `unit` (at its place in the cluster): the
    // clusters from there on lie there, and so do those before it back to
    // where the last piece begins, which is after the last NAL length read
    // in place: taken when one place alone fits (others' finds rule the rest
    // out). False when none does, or the index's cluster was read elsewhere.
    bool placeIndex(std::uint64_t at, std::uint64_t unit);

    // The clusters from `cluster` on lie from `unit` on: the second piece of
    // an index found in two.
    void placeFrom(std::uint64_t cluster, std::uint64_t unit);

    // Where the uncompressed sound after the clip's last checked sample
    // stops sounding like sound, read as the clusters are placed (the
    // index's piece too), or where a cluster of the samples after it lies
    // that another find starts at or holds (any sound); where the clip's
    // last sound frame, compressed, starts, when its end lies in a later
    // cluster and does not end as one does; ~0 where none is.
    std::uint64_t trailingSoundFault() const;

    // Where the uncompressed sound of `sample` in bytes [lo, hi) of the file
    // stops sounding like sound, cluster by cluster, as the clusters are
    // placed (and as tried); ~0 where it never does, or is not such sound.
    std::uint64_t soundFault(const Sample& sample, std::uint64_t lo, std::uint64_t hi) const;

    // The clip's last picture, where its NAL unit runs on past the last
    // length read in place over clusters that nothing read after it shows
    // (the clip's bytes end there, or sound follows that nothing checks):
    // true when it decodes as the clusters are placed, or lies in the
    // cluster already shown. Clips given no tracks are taken as they lie.
    bool lastPictureShown();
    // The clip's bytes from `at` on (its index after the samples) were found
    // in place, as the clusters are placed: the picture before them is shown
    // up to the cluster before theirs.
    void indexInPlace(std::uint64_t at) { indexInPlace_ = at; }
    // The rest of that picture looked for over the medium when it does not
    // decode as placed, nearest first, each boundary after the last length
    // read in place tried: a piece is taken when the picture decodes with it,
    // with one boundary alone at that place (of those that decode, the ones
    // with which it reads its bytes to their end), and the samples after it
    // are in place there too, its uncompressed sound sounding like sound.
    bool findLastPiece();
    // The pieces wholly inside the clip's last picture, where its NAL unit
    // runs on past the last length read in place (see findInnerPieces).
    bool findLastInnerPieces();
    // The clip's bytes shown to be its own so far: up to the end of the last
    // NAL unit's length borne out.
    std::uint64_t shown() const { return lastGood_; }

    std::uint64_t verified() const { return verified_; }
    std::uint64_t size() const { return size_; }

    // Boxes of the camera's own after the samples (at `at`, the clip's end
    // so far) lie where its last piece runs on: the clip then ends where they do.
    void takeTrailingBoxes(std::uint64_t at);
    // What follows the clip's end where its last piece runs on and belongs
    // to the file (a phone's trailer of its own): of the `most` bytes there,
    // as many as `lengthOf` says.
    template <class LengthOf>
    void takeTrailer(std::uint64_t most, LengthOf lengthOf) {
        const std::uint64_t end = size_;
        if (map_.empty()) return;
        resize(end + most);
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(most));
        const std::uint64_t n = read(end, most, bytes.data()) ? lengthOf(bytes.data(), bytes.size()) : 0;
        resize(end + std::min(n, most));
    }
    bool trusted() const { return checked_ >= kTrustedAfter; }

    // Writes the clip's first `bytes` from its pieces in place of `path`
    // (which may be the copy it reads).
    bool write(const fs::path& path, std::uint64_t bytes);

private:
    bool writeTo(const fs::path& path, std::uint64_t bytes) const;

    static constexpr std::uint64_t kGood = ~0ull;

    // The clip's clusters made as many as `bytes` take, those added running
    // on from its last.
    void resize(std::uint64_t bytes);

    std::uint64_t unitOf(std::uint64_t cluster) const {
        return cluster >= from_ ? next_ + (cluster - from_) : map_[cluster];
    }

    // Of `length` bytes of the file at `offset`, how many lie one after
    // another on the medium from there.
    std::uint64_t runBytes(std::uint64_t offset, std::uint64_t length) const;
    // `length` bytes of the file at `offset`, through the clusters as placed.
    bool read(std::uint64_t offset, std::uint64_t length, std::uint8_t* out) const;

    // What is at `at` of the file, a sample's start or a NAL unit's length
    // inside it, is as the sample needs: `bytes` holds what lies there.
    static bool fits(const Sample& sample, std::uint64_t at, const std::uint8_t* bytes, std::size_t n);

    // How many bytes fits() looks at for this sample.
    static std::size_t looked(const Sample& sample, std::uint64_t at);

    // The sample's bytes are where the index says: NAL units that fill it
    // exactly, each with its forbidden bit clear, or an AAC frame that starts
    // as one does. kGood, else where in the file the first thing that is not
    // so was read. lastGood_ goes on to the end of each NAL unit's length
    // shown to be the clip's: by the next one read where it points, or by
    // the sample's end where the last one does (a length that fits alone
    // may be another file's bytes that happen to).
    std::uint64_t check(const Sample& sample);

    // The read at `bad` of sample `s` is not as the clusters run on: the
    // clip goes on at a cluster boundary after the last byte shown to be its
    // own and not past the cluster the read ends in, from a unit elsewhere.
    // Units whose bytes where the read lies fit are tried, nearest first
    // (forward, then from the medium's start), for each boundary; a piece
    // is taken when the samples from `s` on fit two clusters into it, and
    // neither its units nor those the clip keeps up to it are another find's.
    bool findPiece(std::size_t s, std::uint64_t bad);

    // Where the clusters from a boundary up to `cluster` on lie, looked for
    // over the medium nearest first (forward from the piece before, then
    // from the medium's start), at the units that put `cluster` where the
    // clip's start would put it in a block and that `glance` does not rule
    // out: each boundary whose clusters are placeable there is tried with
    // `fits` (the clusters from it placed there as from_/next_ say), at most
    // `most` of them; `choose` keeps those of them that tell (the boundaries,
    // the unit `cluster` would be at, the first boundary). One alone places
    // the clusters; two end the search (they tell nothing); none goes on.
    // `budgeted`: the search also ends once the pictures decoded for it are
    // more than kMaxDecodedForAll.
    template <class Glance, class Fits, class Choose>
    bool nearestPlace(std::uint64_t cluster, std::size_t most, bool budgeted, Glance glance, Fits fits, Choose choose);

    // The first cluster where a piece may end before `last`, on a block's
    // start: after the last byte shown to be the clip's own, and at most
    // kMaxBoundaries blocks back. Past `last` when there is none.
    std::uint64_t firstBoundary(std::uint64_t last) const;

    // What placeable() asks of the clusters as they are placed, worked out
    // once for a search (the map does not change while it runs): the first
    // cluster kept unproven that another find holds, and the map's runs.
    struct Placed {
        std::uint64_t firstHeld = 0;
        std::vector<std::pair<std::uint64_t, std::uint64_t>> runs;  // first cluster of each run, its unit
    };
    Placed placed() const;

    // Of the boundaries `fitting` (clusters b.. at the units that put
    // `badCluster`, the cluster of the read at `bad` or the next one it runs
    // into, at q), those with which the pictures from cluster `first` up to
    // `bad` decode; all of them when there is nothing to decode or too much.
    std::vector<std::uint64_t> decodedBoundaries(const std::vector<std::uint64_t>& fitting, std::uint64_t q,
                                                 std::uint64_t first, std::uint64_t bad, std::uint64_t badCluster);
    // Of the boundaries `clean` (clusters b.. at the units that put
    // `cluster` at q) with which the pictures decode, where more than one
    // does, those whose last picture before the boundary reads its bytes to
    // their end (see cutPictureEndsShort), or all where none does. With
    // arithmetic coding another file's bytes in a picture often decode
    // without a fault, its slice ending short of them.
    std::vector<std::uint64_t> readToTheirEnd(std::vector<std::uint64_t> clean, std::uint64_t q, std::uint64_t cluster);
    // Of the boundaries `ways`, where the pictures are of a codec whose
    // decoder says nothing of another file's bytes in a picture (H.265):
    // those whose pictures in bytes [lo, hi) decode (from the run theirs
    // start in, or the one before), and of them the one whose pictures look
    // like a recording (see SmoothestWay) where one does, their looks kept
    // only of those decoded whole where one is. None where the pictures are of
    // another codec or cannot be decoded here.
    std::optional<std::vector<std::uint64_t>> byLooks(const std::vector<std::uint64_t>& ways, std::uint64_t q,
                                                      std::uint64_t cluster, std::uint64_t lo, std::uint64_t hi);
    // The last picture before cluster `b`, where a piece ends (the one it
    // cuts through, or one that ends in the clusters kept in place before
    // it), as the clusters are placed (and as tried), decodes with its last
    // bytes cut off too (see PicturesDecodeWithoutTheirEnd): its bytes there
    // are not its own. Decoded alone where the codec tells so, else from its
    // sync sample (with `aloneOnly` not at all: none). False where every
    // picture before `b` is shown to be the clip's own, or it cannot tell.
    std::optional<bool> cutPictureEndsShort(std::uint64_t b, bool aloneOnly = false) const;
    // The first sample that lies in bytes lo.. of the file, and whether a
    // picture of a video track lies in [lo, hi).
    std::vector<Sample>::const_iterator firstIn(std::uint64_t lo) const;
    bool pictureIn(std::uint64_t lo, std::uint64_t hi) const;

    // The pictures of every video track that lie in bytes [lo, hi) of the
    // file decode cleanly, each from the last that needs none before it,
    // read through the clusters as placed (and as tried).
    bool picturesDecode(std::uint64_t lo, std::uint64_t hi) const;

    // Pictures `from` to `to` of track `t`, read through the clusters as
    // placed (and as tried), counted against the pictures decoded for the
    // piece looked for: false past kMaxDecoded of them or that budget.
    bool readPictures(std::size_t t, std::uint32_t from, std::uint32_t to,
                      std::vector<std::vector<std::uint8_t>>& pictures) const;

    // A picture before sample `s` whose NAL unit runs on past the last
    // length read in place, where the samples' lengths tell nothing of the
    // pieces that lie wholly inside it: they are looked for one after
    // another by how far the picture decodes (where its coding tells), each
    // nearest first after the one before, until it decodes whole. Nothing is
    // kept unless it does.
    bool findInnerPieces(std::size_t s);
    // The picture that clusters b.. at units m.. would cut through decodes
    // alone (see picturesDecodeAlone).
    bool cutPictureDecodes(std::uint64_t b, std::uint64_t m);
    // The pictures of every video track that lie in bytes [lo, hi) decode
    // each alone, as far as a fault the decoder names a macroblock for says
    // (see PicturesDecodeSoFar, any coding; a picture's bits are read
    // without the pictures it refers to); true where it does not tell.
    bool picturesDecodeAlone(std::uint64_t lo, std::uint64_t hi) const;
    // How far a picture decodes as the clusters are placed (and as tried),
    // alone or `afterSync` (after the pictures from the last that needs
    // none before it), its bytes from `cut` on taken as another file's
    // (`noise`, see PicturesDecodeSoFar).
    formats::DecodedSoFar decodedSoFar(const Sample& picture, std::uint64_t cut = ~0ull, std::uint32_t noise = 1,
                                       bool afterSync = false, bool anyCoding = false) const;

    // A picture of a video track that needs none before it (its sync samples
    // in order, as cameras write them).
    bool startsRun(const Sample& sample) const;

    // The clip's last picture (of a video track), or null.
    const Sample* lastPicture() const;
    // The last picture of `track` at or before `number` that needs none before it.
    static std::uint32_t runStart(const formats::IsoTrack& track, std::uint32_t number);

    // How many units back from `q`, itself included, no other find takes; `most` at most.
    std::uint64_t freeBack(std::uint64_t q, std::uint64_t most) const;

    // Clusters b.. at units m.., and those before b where they are: none of
    // the units up to `badCluster` is another find's (`free`: freeBack() of
    // the unit `badCluster` goes to) or the clip's own.
    bool placeable(const Placed& p, std::uint64_t b, std::uint64_t m, std::uint64_t badCluster, std::uint64_t free) const;

    // The samples from `s` fit two clusters past the one `bad` lies in, and
    // a video sample among them (an AAC frame's start says little alone).
    bool confirms(std::size_t s, std::uint64_t bad);

    media::SalvagedMedium& medium_;
    const scan::ScanGeometry& geo_;
    const std::uint64_t unit_;
    const Others& others_;
    std::uint64_t size_;
    const std::vector<Sample> samples_;
    const std::vector<formats::IsoTrack> tracks_;  // when given, their pictures decide a piece the lengths cannot
    mutable std::uint64_t decodedPictures_ = 0;    //   and how many were decoded for the piece looked for (all its places)
    static constexpr std::uint32_t kNoSample = ~0u;
    std::vector<std::vector<std::uint32_t>> byNumber_;  // each track's samples (their place in samples_) by number
    std::uint64_t block_ = 1;                      // units a block of the medium
    ClusterMap map_;                     // where each cluster of the file lies
    std::uint64_t from_ = 0, next_ = 0;  // a piece tried: clusters from `from_` at `next_` on
    std::uint64_t indexInPlace_ = kGood;
    std::uint64_t lastGood_ = 0;         // the end of the last NAL unit's length shown to be the clip's own
    std::uint64_t unproven_ = kGood;     // where the length read before the last check's fault was, unless shown
    std::uint64_t verified_ = 0;
    std::size_t checked_ = 0;
    int pieces_ = 1;
    // While follow() takes pieces: a boundary that alone passes the
    // pictures decoded alone is taken without its run decoded from the sync
    // picture, that run owed (see follow()).
    bool deferring_ = false;
    struct Owed {
        std::uint64_t from = kGood, to = 0;  // the bytes whose pictures' run is owed
        std::size_t pieces = 0;
    } owed_;
    // What lastPictureShown() last decoded, and the clusters as placed for it.
    struct LastShown {
        std::vector<ClusterMap::Run> runs;
        std::uint64_t size, lastGood;
        bool shown;
    };
    std::optional<LastShown> lastShown_;
    Search search_;
    platform::RawFile* copy_ = nullptr;
    std::uint64_t copyBytes_ = 0;
    mutable std::uint64_t cachedUnit_ = kGood;  // the unit cache_ holds
    mutable std::vector<std::uint8_t> cache_;

public:
    // After follow(false) failed: the bytes up to the last good read are its own.
    void settle() { verified_ = lastGood_; }
};

}  // namespace hx::reassembly::pieces
