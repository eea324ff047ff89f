// Clips as ffmpeg writes them (H.264 and AAC, MP4 and MOV, the index first and
// last): their sample tables place every sample, chunk by chunk, so that the
// chunks fill the media data exactly and every video sample is a run of NAL
// units whose lengths add up to it.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "fixtures/TempDir.h"
#include "platform/ByteOrder.h"
#include "formats/codecs/PicturesDecode.h"
#include "formats/iso/IsoSampleTables.h"

namespace hx::formats {
namespace {

formats::ReadAt Over(const std::string& bytes) {
    return [&bytes](std::uint64_t at, std::size_t n, std::uint8_t* out) {
        if (at > bytes.size() || n > bytes.size() - at) return false;
        std::copy_n(bytes.data() + at, n, out);
        return true;
    };
}

// The sample at `offset` of `size` bytes is H.264 as MP4 holds it: NAL units, each after its 4-byte length.
bool NalUnits(const std::string& bytes, std::uint64_t offset, std::uint64_t size) {
    std::uint64_t at = 0;
    while (at + 4 <= size) {
        const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data() + offset + at);
        at += 4 + platform::Be32(p);
    }
    return at == size;
}

// The pictures of the first track of a clip that ffmpeg makes of `source`
// with `coder` and `settings`, in decode order, and its track.
std::vector<std::vector<std::uint8_t>> TrackPictures(const std::filesystem::path& dir, const std::string& source,
                                                     const std::string& settings, IsoTrack& track,
                                                     const std::string& coder = "libx264") {
    std::vector<std::vector<std::uint8_t>> out;
    const std::filesystem::path file = dir / "clip.mp4";
    if (test::RunCommand("ffmpeg -y -v error -f lavfi -i " + source + " -c:v " + coder + " -g 25 -an " + settings + " '" +
                         file.string() + "'") != 0)
        return out;
    const std::string bytes = test::ReadFile(file);
    const ReadAt read = Over(bytes);
    IsoBox moov;
    std::vector<IsoTrack> tracks;
    if (!FindIsoBox(read, 0, bytes.size(), "moov", moov) || !ReadSampleTables(read, moov, tracks) || tracks.empty())
        return out;
    track = tracks.front();
    for (const ChunkSpan& span : ChunkSpans(track))
        for (std::uint64_t k = 0, at = span.offset; k < span.samples; ++k) {
            const std::uint32_t size = track.sampleSizes[span.firstSample + k];
            out.emplace_back(bytes.begin() + static_cast<std::ptrdiff_t>(at), bytes.begin() + static_cast<std::ptrdiff_t>(at + size));
            at += size;
        }
    return out;
}

TEST(IsoSampleTables, ClipsOfFfmpegArePlacedSampleBySampleIndexFirstAndLast) {
    if (!test::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg missing (scripts/install-deps.sh installs it)";
    test::TempDir dir("hx-isoboxes");
    const std::string in = "ffmpeg -v error -f lavfi -i testsrc=duration=2:size=320x240:rate=25 -f lavfi -i "
                           "sine=duration=2 -c:v libx264 -preset ultrafast -g 10 -c:a aac ";
    int clips = 0;
    for (const std::string name : {"last.mp4", "first.mp4", "last.mov", "first.mov"}) {
        SCOPED_TRACE(name);
        const std::string flags = name.rfind("first", 0) == 0 ? "-movflags +faststart " : "";
        if (test::RunCommand(in + flags + "'" + (dir / name).string() + "'") != 0) GTEST_SKIP() << "ffmpeg has no H.264";
        const std::string bytes = test::ReadFile(dir / name);
        const formats::ReadAt read = Over(bytes);
        formats::IsoBox moov, mdat;
        ASSERT_TRUE(formats::FindIsoBox(read, 0, bytes.size(), "moov", moov));
        ASSERT_TRUE(formats::FindIsoBox(read, 0, bytes.size(), "mdat", mdat));
        EXPECT_EQ(moov.at < mdat.at, name.rfind("first", 0) == 0);
        std::vector<formats::IsoTrack> tracks;
        ASSERT_TRUE(formats::ReadSampleTables(read, moov, tracks));
        ASSERT_EQ(tracks.size(), 2u);
        std::vector<formats::ChunkSpan> all;
        for (const formats::IsoTrack& track : tracks) {
            const bool video = std::string(track.handler.data(), 4) == "vide";
            EXPECT_TRUE(video || std::string(track.handler.data(), 4) == "soun");
            EXPECT_EQ(std::string(track.codec.data(), 4), video ? "avc1" : "mp4a");
            EXPECT_EQ(track.nalLengthBytes, video ? 4 : 0);
            EXPECT_GT(track.sampleSizes.size(), 20u);
            for (const formats::ChunkSpan& span : ChunkSpans(track)) {
                all.push_back(span);
                if (!video) continue;
                std::uint64_t at = span.offset;
                for (std::uint32_t k = 0; k < span.samples; ++k) {
                    const std::uint32_t size = track.sampleSizes[span.firstSample + k];
                    EXPECT_TRUE(NalUnits(bytes, at, size)) << "sample " << span.firstSample + k;
                    at += size;
                }
            }
        }
        // The chunks of both tracks, in file order, fill the media data with nothing left over.
        std::sort(all.begin(), all.end(), [](const formats::ChunkSpan& a, const formats::ChunkSpan& b) { return a.offset < b.offset; });
        std::uint64_t at = mdat.contents;
        for (const formats::ChunkSpan& span : all) {
            EXPECT_EQ(span.offset, at);
            at = span.offset + span.bytes;
        }
        EXPECT_EQ(at, mdat.end);
        // A table cut short is refused, not read past.
        formats::IsoBox cut = moov;
        cut.end = moov.contents + (moov.end - moov.contents) / 2;
        EXPECT_FALSE(formats::ReadSampleTables(read, cut, tracks));
        ++clips;
    }
    EXPECT_EQ(clips, 4);
}

// A clip's pictures decode, from the first; a black picture of 3840 by 2160
// coded without arithmetic coding too, whose bytes repeat for a row of its
// blocks. A picture whose rest is filler (erased flash, a byte repeated)
// does not, with arithmetic coding or without, though a decoder may read
// that without a fault.
TEST(PicturesDecode, AClipsPicturesDecodeAndFillerInThemDoesNot) {
    if (!test::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg missing (scripts/install-deps.sh installs it)";
    test::TempDir dir("hx-decode");
    const auto pictures = [&](const std::string& source, const std::string& settings, IsoTrack& track) {
        return TrackPictures(dir.path(), source, settings, track);
    };
    IsoTrack track;
    const auto black = pictures("color=black:size=3840x2160:rate=25:duration=0.08", "-preset ultrafast -qp 0", track);
    if (black.empty()) GTEST_SKIP() << "ffmpeg has no H.264";
    EXPECT_TRUE(PicturesDecode(track.codec, track.codecConfig, black));
    for (const std::string settings : {"-preset ultrafast -qp 10", "-preset veryfast -bf 0 -qp 10"}) {
        SCOPED_TRACE(settings);
        auto noisy = pictures("testsrc=duration=1:size=240x180:rate=25 -vf noise=alls=29:allf=t", settings, track);
        ASSERT_GE(noisy.size(), 21u);
        noisy.resize(21);
        EXPECT_TRUE(PicturesDecode(track.codec, track.codecConfig, noisy));
        std::vector<std::uint8_t>& last = noisy.back();
        ASSERT_GT(last.size(), 12000u);
        for (const int filler : {0xFF, 0x00, 0x55, 0x7F})
            for (const std::size_t tail : {3000, 8192}) {
                std::vector<std::uint8_t> filled = last;
                std::fill(filled.end() - static_cast<std::ptrdiff_t>(tail), filled.end(), static_cast<std::uint8_t>(filler));
                std::swap(filled, last);
                EXPECT_FALSE(PicturesDecode(track.codec, track.codecConfig, noisy)) << filler << ", " << tail << " bytes";
                std::swap(filled, last);
            }
    }
}

// A picture whose bytes from some point on are another file's: coded with
// variable-length codes, the decoder gives up within a macroblock or two of
// that point, so a later point decodes further, and noise decoded from a
// point goes as far as other foreign bytes from there do. Alone, without the
// pictures it refers to, a picture of its own bytes decodes whole. With
// arithmetic coding nothing is told.
TEST(PicturesDecode, HowFarAPictureDecodesTellsWhereItsBytesStopBeingItsOwn) {
    if (!test::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg missing (scripts/install-deps.sh installs it)";
    test::TempDir dir("hx-decode-so-far");
    IsoTrack track;
    const auto noisy = TrackPictures(dir.path(), "testsrc=duration=1:size=320x240:rate=25 -vf noise=alls=29:allf=t",
                                     "-preset ultrafast -qp 10", track);
    if (noisy.empty()) GTEST_SKIP() << "ffmpeg has no H.264";
    ASSERT_GE(noisy.size(), 21u);
    const std::vector<std::uint8_t>& picture = noisy[20];  // not one that needs none before it
    ASSERT_GT(picture.size(), 20000u);
    const DecodedSoFar whole = PicturesDecodeSoFar(track.codec, track.codecConfig, {picture});
    EXPECT_TRUE(whole.told);
    EXPECT_TRUE(whole.whole);
    EXPECT_EQ(whole.blocks, 20u * 15u);
    std::uint32_t before = 0;
    for (const std::size_t cut : {picture.size() / 8, picture.size() / 2, picture.size() * 7 / 8}) {
        SCOPED_TRACE(cut);
        const DecodedSoFar noise = PicturesDecodeSoFar(track.codec, track.codecConfig, {picture}, cut);
        EXPECT_TRUE(noise.told);
        EXPECT_FALSE(noise.whole);
        EXPECT_GT(noise.blocks, before);
        EXPECT_LT(noise.blocks, whole.blocks);
        // Another picture's bytes from there, as another clip's piece would be.
        std::vector<std::uint8_t> other = picture;
        for (std::size_t k = cut; k < other.size(); ++k) other[k] = noisy[10][4 + (k - cut) % (noisy[10].size() - 4)];
        const DecodedSoFar foreign = PicturesDecodeSoFar(track.codec, track.codecConfig, {other});
        EXPECT_FALSE(foreign.whole);
        EXPECT_LE(foreign.blocks, noise.blocks + 24) << "more than a row of macroblocks past the point";
        EXPECT_GE(foreign.blocks + 24, noise.blocks);
        before = noise.blocks;
    }
    const auto arithmetic = TrackPictures(dir.path(), "testsrc=duration=1:size=320x240:rate=25", "-preset veryfast -qp 10", track);
    ASSERT_GE(arithmetic.size(), 2u);
    EXPECT_FALSE(PicturesDecodeSoFar(track.codec, track.codecConfig, {arithmetic[1]}, arithmetic[1].size() / 2).told);
}

// With arithmetic coding (as cameras code), a picture whose bytes are
// another file's from some point often decodes without a fault all the
// same: its slice ends short of its bytes. Its own bytes are read to their
// end, so cut short they no longer decode; those others mostly still do.
// The picture decoded alone tells the same.
TEST(PicturesDecode, APictureOfItsOwnBytesIsReadToItsEndAndOneOfOthersOftenIsNot) {
    if (!test::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg missing (scripts/install-deps.sh installs it)";
    test::TempDir dir("hx-decode-to-end");
    IsoTrack track;
    const auto pictures = TrackPictures(dir.path(), "testsrc=duration=2:size=240x180:rate=25 -vf noise=alls=20:allf=t",
                                        "-preset veryfast -profile:v high -pix_fmt yuv420p -b:v 6M", track);
    if (pictures.empty()) GTEST_SKIP() << "ffmpeg has no H.264";
    ASSERT_GE(pictures.size(), 25u);
    int own = 0, ownToEnd = 0, foreignClean = 0, foreignShort = 0;
    // The same told of the picture alone, without the pictures before it.
    int ownAloneToEnd = 0, aloneAgrees = 0;
    const auto aloneShort = [&](const std::vector<std::uint8_t>& picture) {
        const std::optional<bool> alone = PictureDecodesAloneWithoutItsEnd(track.codec, track.codecConfig, picture);
        return alone.value_or(false);
    };
    std::uint32_t noise = 7;
    for (std::size_t k = 1; k < 25; ++k) {
        std::vector<std::vector<std::uint8_t>> run(pictures.begin(), pictures.begin() + static_cast<std::ptrdiff_t>(k + 1));
        ASSERT_TRUE(PicturesDecode(track.codec, track.codecConfig, run)) << k;
        ++own;
        ownToEnd += !PicturesDecodeWithoutTheirEnd(track.codec, track.codecConfig, run);
        ownAloneToEnd += !aloneShort(run.back());
        // The picture's bytes from a cluster's worth before its end on are another file's.
        for (const std::size_t fromEnd : {512u, 2048u, 4096u}) {
            std::vector<std::uint8_t>& last = run.back();
            if (last.size() <= fromEnd + 64) continue;
            std::vector<std::uint8_t> other = pictures[k];
            for (std::size_t at = other.size() - fromEnd; at < other.size(); ++at) {
                noise ^= noise << 13;
                noise ^= noise >> 17;
                noise ^= noise << 5;
                other[at] = static_cast<std::uint8_t>(noise);
            }
            last = other;
            if (!PicturesDecode(track.codec, track.codecConfig, run)) continue;
            ++foreignClean;
            const bool endsShort = PicturesDecodeWithoutTheirEnd(track.codec, track.codecConfig, run);
            foreignShort += endsShort;
            aloneAgrees += aloneShort(run.back()) == endsShort;
        }
    }
    EXPECT_EQ(ownToEnd, own);
    EXPECT_EQ(ownAloneToEnd, own);
    EXPECT_EQ(aloneAgrees, foreignClean);
    EXPECT_GT(foreignClean, 0) << "another file's bytes always tell with a fault";
    EXPECT_GE(foreignShort * 10, foreignClean * 9) << foreignShort << " of " << foreignClean;
}

// H.265's decoder says nothing of another file's bytes in a picture: now
// and then they end its slice early, and the rest of the picture is not
// decoded. A picture of its own bytes is always decoded to its last block.
// The pictures before the one looked from that none refers to are not
// decoded: those shown are shown as a decode of them all shows them.
TEST(PicturesDecode, AnH265PictureOfItsOwnBytesIsDecodedWholeAndOneOfOthersNowAndThenIsNot) {
    if (!test::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg missing (scripts/install-deps.sh installs it)";
    test::TempDir dir("hx-decode-hevc-whole");
    IsoTrack track;
    const auto pictures = TrackPictures(dir.path(), "testsrc=duration=2:size=320x240:rate=25 -vf noise=alls=20:allf=t",
                                        "-preset veryfast -x265-params log-level=error -tag:v hvc1 -pix_fmt yuv420p -b:v 4M",
                                        track, "libx265");
    if (pictures.empty()) GTEST_SKIP() << "ffmpeg has no H.265";
    ASSERT_GE(pictures.size(), 25u);
    int foreign = 0, foreignCut = 0;
    std::uint32_t noise = 7;
    for (std::size_t k = 1; k < 25; ++k) {
        SCOPED_TRACE(k);
        std::vector<std::vector<std::uint8_t>> run(pictures.begin(), pictures.begin() + static_cast<std::ptrdiff_t>(k + 1));
        const std::optional<PicturesSeen> own = PicturesShown(track.codec, track.codecConfig, run, k);
        const std::optional<PicturesSeen> all = PicturesShown(track.codec, track.codecConfig, run, 0);
        ASSERT_TRUE(own && all);
        EXPECT_TRUE(own->whole);
        EXPECT_TRUE(own->allShown);
        ASSERT_FALSE(own->brightness.empty());
        auto at = all->brightness.begin();
        for (const Brightness& shown : own->brightness) {
            at = std::find(at, all->brightness.end(), shown);
            EXPECT_NE(at, all->brightness.end()) << "a picture shown otherwise than it is";
        }
        // A cluster of another file's bytes inside the picture, its own after it.
        std::vector<std::uint8_t>& last = run.back();
        ASSERT_GT(last.size(), 6000u);
        for (std::size_t at = last.size() / 3; at < last.size() / 3 + 2048; ++at) {
            noise ^= noise << 13;
            noise ^= noise >> 17;
            noise ^= noise << 5;
            last[at] = static_cast<std::uint8_t>(noise);
        }
        if (const std::optional<PicturesSeen> spoilt = PicturesShown(track.codec, track.codecConfig, run, k)) {
            ++foreign;
            foreignCut += !spoilt->whole;
        }
    }
    EXPECT_GT(foreign, 10);
    EXPECT_GT(foreignCut, 0) << "of " << foreign;
    // Decoded from a later sync picture, the pictures that lead it (shown
    // before it, predicted from the run before) are not shown, and that is told.
    ASSERT_TRUE(track.syncListed);
    const auto sync = std::find_if(track.syncSamples.begin(), track.syncSamples.end(), [](std::uint32_t n) { return n > 1; });
    ASSERT_NE(sync, track.syncSamples.end());
    const std::vector<std::vector<std::uint8_t>> run(pictures.begin() + *sync - 1,
                                                     pictures.begin() + std::min<std::ptrdiff_t>(*sync + 8, pictures.size()));
    const std::optional<PicturesSeen> fromSync = PicturesShown(track.codec, track.codecConfig, run, 0);
    const std::optional<PicturesSeen> fromLast = PicturesShown(track.codec, track.codecConfig, run, run.size() - 1);
    ASSERT_TRUE(fromSync && fromLast);
    EXPECT_FALSE(fromSync->allShown) << "x265 leads a sync picture with pictures shown before it";
    EXPECT_TRUE(fromLast->allShown) << "the last, which follows it, is shown";
}

}  // namespace
}  // namespace hx::formats
