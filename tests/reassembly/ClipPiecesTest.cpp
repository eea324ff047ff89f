// A clip in two pieces with another file's bytes between them that read as
// the clip's NAL lengths where its first piece ends, as an older clip's
// index does (its tables are small numbers in a row): the clip's next piece
// is still found, and the clip written whole.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <random>

#include "fixtures/TempDir.h"
#include "platform/ByteOrder.h"
#include "formats/codecs/AacFrames.h"
#include "reassembly/ClipPieces.h"

namespace hx::reassembly::pieces {
namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kCluster = 4096;

// Two clusters of another file's bytes in which no NAL unit's length fits
// (every byte has its top bit set), different for each `key`.
std::string noLengthFits(unsigned key) {
    std::mt19937 random(key);
    std::string bytes(2 * kCluster, '\0');
    for (char& c : bytes) c = static_cast<char>(random() | 0x80);
    return bytes;
}

std::string be32(std::uint32_t v) {
    return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
}

// `bytes` written to `path` and read as a card of kCluster clusters, the
// byte `unreadable`'s sector (where given) known not to read.
struct Card {
    Card(const fs::path& path, const std::string& bytes, std::uint64_t unreadable = ~0ull) {
        test::WriteFile(path, bytes);
        EXPECT_TRUE(file.open(path, platform::RawFile::Mode::Read));
        geo.sectorsPerCluster = kCluster / 512;
        geo.totalUnits = bytes.size() / kCluster;
        if (unreadable != ~0ull) known[unreadable / 512] = 1;
        medium.emplace(file, 512, known);
    }
    platform::RawFile file;
    scan::ScanGeometry geo;
    media::SectorRuns known;
    std::optional<media::SalvagedMedium> medium;
};

class ClipPieces : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg missing (scripts/install-deps.sh installs it)";
        if (!make("-c:v libx264 -qp 18 -g 25 -preset ultrafast")) GTEST_SKIP() << "ffmpeg has no H.264";
    }

    // The clip, coded by `video` (ffmpeg's options), its index first; with
    // `seconds`, that long and with AAC sound.
    bool make(const std::string& video, double seconds = 0) {
        const fs::path made = dir / "clip.mp4";
        const std::string sound = seconds > 0 ? " -f lavfi -i sine=frequency=300:duration=" + std::to_string(seconds) : "";
        const std::string length = std::to_string(seconds > 0 ? seconds : 2);
        if (test::RunCommand("ffmpeg -y -v error -f lavfi -i testsrc=duration=" + length + ":size=240x180:rate=25" + sound +
                             " -vf noise=alls=20:allf=t " + video + (seconds > 0 ? " -c:a aac" : " -an") +
                             " -movflags +faststart '" + made.string() + "'") != 0)
            return false;
        clip = test::ReadFile(made);
        parse();
        return true;
    }

    // The clip's tracks and samples, as its index says.
    void parse() {
        tracks.clear();
        const formats::ReadAt read = [this](std::uint64_t at, std::size_t n, std::uint8_t* out) {
            if (at > clip.size() || n > clip.size() - at) return false;
            std::memcpy(out, clip.data() + at, n);
            return true;
        };
        formats::IsoBox moov, mdat;
        ASSERT_TRUE(formats::FindIsoBox(read, 0, clip.size(), "moov", moov));
        ASSERT_TRUE(formats::FindIsoBox(read, 0, clip.size(), "mdat", mdat));
        ASSERT_TRUE(formats::ReadSampleTables(read, moov, tracks));
        samples = samplesOf(tracks, mdat, mdat.end);
        ASSERT_FALSE(samples.empty());
    }

    // The clip (its index first) with a box of `room` bytes before its
    // media data: its chunk offsets moved on to match.
    void moveMediaOn(std::uint64_t room) {
        const std::size_t mdat = clip.find("mdat") - 4;
        for (std::size_t p = clip.find("stco"); p < mdat; p = clip.find("stco", p + 4)) {
            const std::uint64_t count = platform::Be32(reinterpret_cast<const std::uint8_t*>(clip.data() + p + 8));
            for (std::uint64_t i = 0; i < count; ++i) {
                const std::size_t e = p + 12 + i * 4;
                clip.replace(e, 4, be32(platform::Be32(reinterpret_cast<const std::uint8_t*>(clip.data() + e)) + room));
            }
        }
        clip.insert(mdat, be32(static_cast<std::uint32_t>(room)) + "free" + std::string(room - 8, '\0'));
        parse();
    }

    // Where in the file each NAL unit's length lies, in order.
    std::vector<std::uint64_t> lengthsAt() const {
        std::vector<std::uint64_t> at;
        for (const Sample& s : samples)
            for (std::uint64_t p = s.offset; p + s.lengthBytes < s.end();) {
                at.push_back(p);
                std::uint64_t length = 0;
                for (std::uint8_t k = 0; k < s.lengthBytes; ++k) length = length << 8 | static_cast<unsigned char>(clip[p + k]);
                p += s.lengthBytes + length;
            }
        return at;
    }

    // Ends the first piece in the middle of the clip, on a cluster; the
    // place in the two clusters after it where the clip's first length after
    // the break is read.
    std::uint64_t breakInside() {
        const std::vector<std::uint64_t> lengths = lengthsAt();
        breakAt = clip.size() / 2 / kCluster * kCluster;
        const auto next = std::lower_bound(lengths.begin(), lengths.end(), breakAt);
        if (next == lengths.end() || *next - breakAt + 64 > 2 * kCluster) {
            ADD_FAILURE() << "the pictures are larger than the test expects";
            return 0;
        }
        return *next - breakAt;
    }
    // `unreadable`: a sector of the clip's rest (by its place in the clip)
    // that the scan could not read. `wrapped`: the rest lies before the
    // first piece, at the medium's start, `between` before each.
    void comesBackWhole(const std::string& between, std::uint64_t unreadable = ~0ull, bool wrapped = false,
                        bool firstAtEnd = false);

    test::TempDir dir{"hx-clippieces"};
    std::uint64_t breakAt = 0;
    std::string clip;
    std::vector<formats::IsoTrack> tracks;
    std::vector<Sample> samples;
};

// The clip with its first piece ending in its middle, then `between` (two
// clusters, `w` being where the clip's first length after the break is
// read in them, see breakInside()), then the rest: the clip comes back whole.
void ClipPieces::comesBackWhole(const std::string& between, std::uint64_t unreadable, bool wrapped, bool firstAtEnd) {
    std::string rest = clip.substr(breakAt);
    rest.resize((rest.size() + kCluster - 1) / kCluster * kCluster, '\0');
    const std::string after = firstAtEnd ? std::string() : std::string(4 * kCluster, '\x55');
    const std::string medium = wrapped ? between + rest + between + clip.substr(0, breakAt) + after
                                       : clip.substr(0, breakAt) + between + rest + after;
    const std::uint64_t startUnit = wrapped ? (2 * between.size() + rest.size()) / kCluster : 0;
    Card card(dir / "medium.img", medium, unreadable == ~0ull ? unreadable : unreadable + 2 * kCluster);
    const Others others;
    Clip found(*card.medium, card.geo, others, startUnit, samples.back().end(), samples, tracks);
    ASSERT_TRUE(found.follow(true));
    EXPECT_EQ(found.pieces(), 2);
    ASSERT_TRUE(found.write(dir / "back.mp4", found.size()));
    std::string expected = clip.substr(0, samples.back().end());
    if (unreadable != ~0ull) expected.replace(unreadable, 512, std::string(512, '\0'));
    EXPECT_TRUE(test::ReadFile(dir / "back.mp4") == expected);
}

// Two clusters of an index's table: numbers of 16 and less, as sample sizes
// and counts are. Where the clip's length is read, it reads 16 and then 16
// again 20 bytes on, each followed by a zero.
TEST_F(ClipPieces, AnIndexsTablesBetweenThePiecesAreNotTakenForTheClip) {
    const std::uint64_t w = breakInside();
    std::string between(2 * kCluster, '\0');
    for (std::uint64_t p = 0; p + 4 <= between.size(); p += 4) between.replace(p, 4, be32(1 + p / 4 % 16));
    between.replace(w, 4, be32(16));
    between.replace(w + 20, 4, be32(16));
    between.replace(w + 40, 8, std::string(8, '\0'));
    comesBackWhole(between);
}

// Another clip's bytes where one length read fits as a NAL unit's would,
// and where it points does not: the piece is looked for from the length
// before the fault, not from the fault.
TEST_F(ClipPieces, OneLengthThatFitsByChanceDoesNotMisleadTheSearch) {
    const std::uint64_t w = breakInside();
    std::string between = noLengthFits(5);
    between.replace(w, 5, be32(40) + "\x41");  // a slice of 40 bytes
    comesBackWhole(between);
}

// A sector of the second piece that the scan could not read, inside a
// picture: the clip is followed and put together as before, that sector
// zeros (it is not read again), every other byte its own.
TEST_F(ClipPieces, ASectorTheScanCouldNotReadIsZerosInTheClipPutTogether) {
    breakInside();
    std::string between = noLengthFits(3);
    // A sector past the first cluster of the rest that holds no NAL unit's length.
    const std::vector<std::uint64_t> lengths = lengthsAt();
    std::uint64_t sector = breakAt + 2 * kCluster;
    while (sector + 512 < samples.back().end()) {
        const auto near = std::lower_bound(lengths.begin(), lengths.end(), sector - 8);
        if (near == lengths.end() || *near >= sector + 512) break;
        sector += 512;
    }
    ASSERT_LT(sector + 512, samples.back().end());
    comesBackWhole(between, sector);
}

// The first piece ends two bytes into a NAL unit's length: the read of it
// runs on into the other file's bytes, and the next piece begins at the
// cluster after the one the read starts in.
TEST_F(ClipPieces, APieceThatEndsInsideALengthIsFollowed) {
    const std::vector<std::uint64_t> lengths = lengthsAt();
    const std::uint64_t p = *std::lower_bound(lengths.begin(), lengths.end(), clip.size() / 2);
    moveMediaOn(8 + (kCluster - 2 - (p + 8) % kCluster) % kCluster);
    const std::vector<std::uint64_t> moved = lengthsAt();
    const std::uint64_t at = *std::lower_bound(moved.begin(), moved.end(), p);
    ASSERT_EQ(at % kCluster, kCluster - 2);
    breakAt = at + 2;
    std::string between = noLengthFits(9);
    comesBackWhole(between);
}

// After many deletions a card's allocation wraps past its end to its start:
// the clip's second piece lies before its first, and is found there.
TEST_F(ClipPieces, ASecondPieceBeforeTheFirstOnTheMediumIsFound) {
    breakInside();
    std::string between = noLengthFits(10);
    comesBackWhole(between, ~0ull, true);
}

// The same where the first piece ends at the medium's end, in H.265, whose
// pictures decode whatever bytes they hold: a boundary after its end, which
// would put the clip's next clusters past the medium, is none to try.
TEST_F(ClipPieces, AFirstPieceAtTheMediumsEndIsFollowedByTheSecondBeforeIt) {
    if (!make("-c:v libx265 -x265-params log-level=error:qp=18:keyint=25 -preset ultrafast -tag:v hvc1"))
        GTEST_SKIP() << "ffmpeg has no H.265";
    breakInside();
    std::string between = noLengthFits(11);
    comesBackWhole(between, ~0ull, true, true);
}

// The clip's last sample, a sound frame, starts near the end of a cluster
// and ends alone in the next, where the piece ends: the cluster after its
// piece's end, another file's, is not taken for the rest of that frame,
// which does not decode to its end (nor, mostly, end as a frame does); the
// clip's own is.
TEST_F(ClipPieces, TheRestOfAClipsLastSoundFrameInAnotherFilesClusterIsNotTakenForItsOwn) {
    const auto endsWithSound = [&] { return samples.back().kind == Sample::Kind::Aac && samples.back().size > 48; };
    for (double seconds = 2; seconds < 3 && !endsWithSound(); seconds += 0.03)
        ASSERT_TRUE(make("-c:v libx264 -qp 18 -g 25 -preset ultrafast", seconds));
    ASSERT_TRUE(endsWithSound()) << "the clip ends with a picture or a short sound frame";
    // Its last frame's first 40 bytes in one cluster, the rest in the next.
    const std::uint64_t at = samples.back().offset;
    moveMediaOn(8 + (2 * kCluster - 40 - at % kCluster - 8) % kCluster);
    const Sample last = samples.back();
    ASSERT_EQ(last.offset % kCluster, kCluster - 40);
    const std::string kept = clip.substr(0, last.offset + 40);
    int endsAsFrame = 0;  // other files' clusters whose bytes end as a frame does by chance
    for (unsigned key = 1; key <= 16; ++key) {
        SCOPED_TRACE(key);
        // The clip's own tail, or another file's cluster in its place.
        for (const bool own : {true, false}) {
            const std::string medium = kept + (own ? clip.substr(kept.size()) : std::string()) + noLengthFits(key);
            Card card(dir / "medium.img", medium.substr(0, medium.size() / kCluster * kCluster));
            const Others others;
            Clip found(*card.medium, card.geo, others, 0, last.end(), samples, tracks);
            ASSERT_TRUE(found.follow(true));
            EXPECT_EQ(found.trailingSoundFault(), own ? ~0ull : last.offset);
            const std::uint8_t* tail = reinterpret_cast<const std::uint8_t*>(medium.data()) + last.end() - 2;
            endsAsFrame += !own && formats::AacFrameEnds(tail, 2);
        }
    }
    EXPECT_GE(endsAsFrame, 2) << "how a frame ends tells too few of them";
}

}  // namespace
}  // namespace hx::reassembly::pieces
