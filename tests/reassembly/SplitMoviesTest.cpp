// Clips in pieces on a formatted camera card: old files were written, every
// other one deleted, clips (H.264 or H.265 and AAC, MP4 and MOV, their index
// first and last, after a box of the camera's own) written into the holes by first-free allocation, so most lie in two or
// three pieces around old files; then the card was formatted. Every clip
// comes back byte-identical from a scan, and plays.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "fixtures/CardFixture.h"
#include "fixtures/ScriptedUi.h"
#include "scan/ScanState.h"

namespace hx::scan {
namespace {

namespace fs = std::filesystem;

class SplitMovies : public test::CardFixture {
protected:
    void SetUp() override {
        CardFixture::SetUp();
        if (IsSkipped()) return;
        if (!test::HaveTool("ffmpeg") || !test::HaveTool("ffprobe") || !test::HaveTool("mshowfat"))
            GTEST_SKIP() << "ffmpeg or mtools missing (scripts/install-deps.sh installs them)";
        // FAT32 with 4 KiB clusters.
        ASSERT_FALSE(test::MakeFatImage(image, {.fatBits = 32, .sizeKiB = 300 * 1024, .sectorsPerCluster = 8, .label = "CAM"})
                         .empty());
        // Old clips, half of them with the index last, every other one deleted.
        for (int n = 0; n < 20; ++n) {
            const std::string name = "OLD/MVI_" + std::to_string(100 + n) + ".MP4";
            const std::string bytes = clip(40 + n, ".MP4", 1, {.indexLast = n % 2 == 0});
            if (bytes.empty()) GTEST_SKIP() << "ffmpeg has no H.264";
            ASSERT_TRUE(test::FatPutFirstFree(image, name, bytes));
            if (n % 2 == 0) old.push_back(bytes);
            else holes += (bytes.size() + 4095) / 4096 * 4096;
        }
        for (int n = 1; n < 20; n += 2) ASSERT_TRUE(test::FatDelete(image, "OLD/MVI_" + std::to_string(100 + n) + ".MP4"));
    }

    // How a camera writes a clip: its index first unless `indexLast`, in
    // H.264 unless `hevc`, its sound AAC unless `pcm` (uncompressed), its
    // settings repeated before each fresh picture with `inBand`.
    struct Camera {
        bool indexLast = false, hevc = false, pcm = false, inBand = false;
        bool bFrames = false;  // as most cameras record: pictures stored out of the order they are shown in, arithmetic coding, 4:2:0
        bool sound = true;     // pictures alone, without
        const char* size = "240x180";
        int qp = 18;  // lower: larger pictures
    };

    // A clip of `seconds` as `camera` writes it.
    std::string clip(int n, const std::string& extension, int seconds, const Camera& camera) {
        const fs::path file = dir / ("clip" + std::to_string(n) + extension);
        const std::string video = camera.hevc ? "-c:v libx265 -x265-params log-level=error:qp=8" +
                                                    std::string(camera.bFrames ? ":bframes=3:keyint=25" : "") +
                                                    " -preset ultrafast -tag:v hvc1 "
                                              : "-c:v libx264 -qp " + std::to_string(camera.qp) + " -g 25 " +
                                                    std::string(camera.bFrames ? "-preset veryfast -bf 3 -profile:v high -pix_fmt yuv420p "
                                                                               : "-preset ultrafast ") +
                                                    (camera.inBand ? "-x264-params repeat-headers=1 " : "");
        const std::string command =
            "ffmpeg -y -v error -f lavfi -i testsrc=duration=" + std::to_string(seconds) + ":size=" + camera.size +
            ":rate=25" +
            (camera.sound ? " -f lavfi -i sine=frequency=" + std::to_string(300 + 40 * n) + ":duration=" + std::to_string(seconds)
                          : std::string()) +
            " -vf noise=alls=" + std::to_string(20 + n % 20) + ":allf=t " + video +
            (!camera.sound ? "-an " : camera.pcm ? "-c:a pcm_s16le " : "-c:a aac ") +
            (camera.indexLast ? "" : "-movflags +faststart ") + "'" +
            file.string() + "'";
        if (test::RunCommand(command) != 0) return {};
        return test::ReadFile(file);
    }

    // The clip with a box of the camera's own between its samples and its index.
    static std::string withBoxBeforeIndex(std::string bytes) {
        auto be = [&bytes](std::size_t at, int n) {
            std::uint64_t v = 0;
            for (int k = 0; k < n; ++k) v = v << 8 | static_cast<unsigned char>(bytes[at + k]);
            return v;
        };
        for (std::size_t at = 0; at + 16 <= bytes.size();) {
            std::uint64_t size = be(at, 4);
            if (size == 1) size = be(at + 8, 8);
            if (size < 8) break;
            if (bytes.compare(at + 4, 4, "mdat") == 0) {
                std::string box(3000, '\0');
                box.replace(0, 8, std::string("\0\0\x0b\xb8udta", 8));
                for (std::size_t k = 8; k < box.size(); ++k) box[k] = static_cast<char>("CAMERA MAKER DATA "[k % 18]);
                return bytes.insert(at + size, box);
            }
            at += size;
        }
        return {};
    }

    // The clip (its index last) with a box before its media data, so that
    // the media data ends `residue` bytes into a sector; its chunk offsets
    // are moved on to match.
    static std::string mediaEndingAt(std::string bytes, std::size_t residue) {
        const auto be = [&bytes](std::size_t at, int n) {
            std::uint64_t v = 0;
            for (int k = 0; k < n; ++k) v = v << 8 | static_cast<unsigned char>(bytes[at + k]);
            return v;
        };
        std::size_t at = 0;
        while (at + 8 <= bytes.size() && bytes.compare(at + 4, 4, "mdat") != 0) at += be(at, 4);
        if (at + 8 > bytes.size() || be(at, 4) < 8) return {};
        const std::size_t end = at + be(at, 4);
        std::size_t room = (residue + 512 - end % 512) % 512;
        if (room < 8) room += 512;
        std::string box(room, '\0');
        for (int k = 0; k < 4; ++k) box[k] = static_cast<char>(room >> (24 - 8 * k));
        box.replace(4, 4, "free");
        bytes.insert(at, box);
        // Each chunk offset in the index after the media data.
        for (const char* table : {"stco", "co64"}) {
            const int width = table[1] == 't' ? 4 : 8;
            for (std::size_t p = bytes.find(table, end + room); p != std::string::npos; p = bytes.find(table, p + 4)) {
                const std::uint64_t count = be(p + 8, 4);
                for (std::uint64_t i = 0; i < count; ++i) {
                    const std::size_t e = p + 12 + i * width;
                    const std::uint64_t moved = be(e, width) + room;
                    for (int k = 0; k < width; ++k) bytes[e + k] = static_cast<char>(moved >> (8 * (width - 1 - k)));
                }
            }
        }
        return bytes;
    }

    // The clip as a recording cut off by a flat battery leaves it: its samples
    // but the last `lost` bytes, no index, and its `mdat` size never written.
    static std::string cutOff(const std::string& bytes, std::size_t lost) {
        for (std::size_t at = 0; at + 8 <= bytes.size();) {
            std::uint64_t size = 0;
            for (int k = 0; k < 4; ++k) size = size << 8 | static_cast<unsigned char>(bytes[at + k]);
            if (bytes.compare(at + 4, 4, "mdat") == 0 && size > lost + 8) {
                std::string cut = bytes.substr(0, at + size - lost);
                cut.replace(at, 4, std::string(4, '\0'));
                return cut;
            }
            if (size < 8) break;
            at += size;
        }
        return {};
    }

    // The video's packets: their times, sizes and digests, one line each.
    std::vector<std::string> videoPackets(const fs::path& file) {
        std::string said;
        test::RunCommand("ffmpeg -v error -i '" + file.string() + "' -map 0:v -c copy -f framemd5 - 2>/dev/null", &said);
        std::vector<std::string> lines;
        std::istringstream in(said);
        for (std::string line; std::getline(in, line);)
            if (!line.empty() && line[0] != '#') lines.push_back(line);
        return lines;
    }

    // The sound's samples as they are stored.
    std::string soundBytes(const fs::path& file) {
        std::string said;
        test::RunCommand("ffmpeg -nostdin -v error -i '" + file.string() + "' -map 0:a -c copy -f s16le - 2>/dev/null", &said);
        return said;
    }

    // `n` bytes of an older file no signature tells.
    static std::string randomBytes(std::mt19937& random, std::size_t n) {
        std::string bytes(n, '\0');
        for (char& c : bytes) c = static_cast<char>(random());
        return bytes;
    }

    // The files a scan of the card gives back (with DeepScan, `deepScan`),
    // by their bytes: from how many pieces each was put together.
    std::map<std::string, int> piecesBack(bool deepScan, const fs::path& to) {
        output::ScanRequest request = test::WholeScanRequest(image, to);
        request.options.deepScan = deepScan;
        output::ScanCommand command(ui, request);
        EXPECT_EQ(command.run(), ScanOutcome::Finished);
        std::map<std::string, int> pieces;
        for (const FoundFile& f : command.context().found) pieces[test::ReadFile(to / f.name)] = f.pieces;
        return pieces;
    }

    void cutRecordingComesBack(bool pcm, bool otherCamera, bool bFrames = false, bool hevc = false);
    // Clips on a card of older files whose breaks fall inside their pictures
    // (coded in H.265 with `hevc`) come back, plain and under DeepScan.
    void breaksInsidePicturesComeBack(bool hevc);
    void overwrittenPieceComesBackAsFarAsItPlays(bool indexLast);
    void cameraCodedClipsComeBack(int seconds, int qp);
    void soundWrittenOverIsNotWhole(bool olderClipStart);

    std::vector<std::string> old;  // the old clips left on the card
    std::size_t holes = 0;         // the bytes of the clusters the deleted ones left

    // Clusters [from, to) of a file that lies in `clusters` get another
    // file's bytes; then the card is quick-formatted.
    void overwriteThenFormat(const std::vector<std::uint32_t>& clusters, std::size_t from, std::size_t to, std::uint32_t key) {
        const auto geometry = test::FatGeometry(image);
        for (std::size_t k = from; k < to; ++k)
            test::PatchFile(image, (geometry.FirstDataSector + (clusters[k] - 2ull) * geometry.SectorsPerCluster) * 512,
                            test::PatternBytes(512ull * geometry.SectorsPerCluster, key + static_cast<std::uint32_t>(k)));
        ASSERT_EQ(test::RunCommand("mkfs.fat -F 32 -s 8 -n CAM '" + image.string() + "' >/dev/null"), 0);
    }

    bool plays(const fs::path& file) {
        std::string said;
        return test::RunCommand("ffprobe -v error '" + file.string() + "' 2>&1", &said) == 0 && said.empty();
    }
};

TEST_F(SplitMovies, ClipsWrittenIntoHolesComeBackWholeAfterAQuickFormat) {
    std::map<std::string, std::string> clips;  // name by bytes
    std::map<std::string, bool> split;         // by name
    int inPieces = 0;
    for (int n = 1; n <= 6; ++n) {
        const std::string extension = n % 3 == 0 ? ".MOV" : ".MP4";
        const std::string name = "DCIM/100CAM/MVI_" + std::to_string(200 + n) + extension;
        // One clip in H.265; one with a box of the camera's own before its index.
        std::string bytes = clip(n, extension, 2, {.indexLast = n % 2 == 0, .hevc = n == 3});
        if (bytes.empty()) GTEST_SKIP() << "ffmpeg has no H.264 or H.265";
        if (n == 4) bytes = withBoxBeforeIndex(bytes);
        ASSERT_FALSE(bytes.empty());
        ASSERT_TRUE(test::FatPutFirstFree(image, name, bytes));
        split[name] = test::InPieces(test::FatClustersOf(image, name));
        inPieces += split[name];
        clips[bytes] = name;
    }
    ASSERT_GE(inPieces, 4) << "the card does not hold clips in pieces";
    // A quick format: new tables, the clusters as they were.
    ASSERT_EQ(test::RunCommand("mkfs.fat -F 32 -s 8 -n CAM '" + image.string() + "' >/dev/null"), 0);

    output::ScanCommand command(ui, test::WholeScanRequest(image, cache));
    ASSERT_EQ(command.run(), ScanOutcome::Finished);
    std::map<std::string, int> back;  // the clips that came back whole, by name, and from how many pieces
    std::set<std::string> contents;
    for (const FoundFile& f : command.context().found) {
        contents.insert(test::ReadFile(cache / f.name));
        const auto it = clips.find(test::ReadFile(cache / f.name));
        if (it == clips.end()) continue;
        back[it->second] = f.pieces;
        EXPECT_TRUE(plays(cache / f.name)) << f.name;
    }
    for (const auto& [bytes, name] : clips) {
        EXPECT_TRUE(back.count(name)) << name << " did not come back whole";
        EXPECT_EQ(back[name] > 1, split[name]) << name;
    }
    // The window and a later run are told which were rebuilt.
    std::map<std::string, std::string> rebuilt;
    DamagedFinds(cache, &rebuilt);
    EXPECT_EQ(rebuilt.size(), static_cast<std::size_t>(inPieces));
    // The old clips between the pieces are found as they were.
    for (const std::string& bytes : old) EXPECT_TRUE(contents.count(bytes)) << "an old clip of " << bytes.size() << " bytes";
}

// A clip one of whose pieces was written over after it was deleted: it
// comes back as far as its own bytes go and no further, plays up to there
// (an index after its samples is cut to them) and says how far it plays.
void SplitMovies::overwrittenPieceComesBackAsFarAsItPlays(bool indexLast) {
    const std::string name = "DCIM/100CAM/MVI_0300.MP4";
    const std::string bytes = clip(7, ".MP4", 4, {.indexLast = indexLast, .size = "320x240"});
    if (bytes.empty()) GTEST_SKIP() << "ffmpeg has no H.264";
    ASSERT_TRUE(test::FatPutFirstFree(image, name, bytes));
    const std::vector<std::uint32_t> clusters = test::FatClustersOf(image, name);
    ASSERT_TRUE(test::InPieces(clusters)) << "the clip does not lie in pieces";
    std::size_t firstRun = 1;
    while (firstRun < clusters.size() && clusters[firstRun] == clusters[firstRun - 1] + 1) ++firstRun;
    // Every cluster of its second piece gets another file's bytes; with its
    // index last, the clusters after that piece (which hold the index) stay.
    std::size_t secondRun = firstRun + 1;
    while (secondRun < clusters.size() && clusters[secondRun] == clusters[secondRun - 1] + 1) ++secondRun;
    ASSERT_LT(secondRun, clusters.size() - 1) << "the clip's index does not lie after its second piece";
    const auto geometry = test::FatGeometry(image);
    const std::uint64_t clusterBytes = 512ull * geometry.SectorsPerCluster;
    ASSERT_NO_FATAL_FAILURE(overwriteThenFormat(clusters, firstRun, indexLast ? secondRun : clusters.size(), 900));

    output::ScanCommand command(ui, test::WholeScanRequest(image, cache));
    ASSERT_EQ(command.run(), ScanOutcome::Finished);
    const FoundFile* cut = nullptr;
    for (const FoundFile& f : command.context().found)  // past the size of its media data
        if (test::ReadFile(cache / f.name).compare(64, 4096, bytes, 64, 4096) == 0) cut = &f;
    ASSERT_NE(cut, nullptr) << "the clip's first piece was not found";
    const std::string found = test::ReadFile(cache / cut->name);
    EXPECT_EQ(found.size(), cut->size);
    // Its own bytes, then (index last) its index: no zeros, no other file's bytes.
    const std::size_t own = static_cast<std::size_t>(cut->faultAt);
    ASSERT_LE(own, found.size());
    ASSERT_LE(own, firstRun * clusterBytes);
    std::size_t differ = 0;
    for (std::size_t k = 0; k < own; ++k) differ += found[k] != bytes[k];
    EXPECT_LE(differ, indexLast ? 4u : 0u) << "only the size of its media data changes";
    EXPECT_EQ(found.size() > own, indexLast);
    if (indexLast) {
        EXPECT_EQ(found.compare(own + 4, 4, "moov"), 0);
    }
    EXPECT_TRUE(plays(cache / cut->name));
    EXPECT_GE(videoPackets(cache / cut->name).size(), 5u);
    EXPECT_NEAR(cut->lasts, 4.0, 0.1);
    EXPECT_GT(cut->plays, 0.2);
    EXPECT_LT(cut->plays, cut->lasts * firstRun / clusters.size() + 0.5);
    const std::string said = RebuiltText(*cut);
    EXPECT_EQ(said.rfind("incomplete: ", 0), 0u) << said;
    EXPECT_NE(said.find(" of 4.0 s"), std::string::npos) << said;
    // The window and a later run are told too.
    std::map<std::string, std::string> rebuilt;
    DamagedFinds(cache, &rebuilt);
    EXPECT_EQ(rebuilt[cut->name], said);
}

TEST_F(SplitMovies, AClipWhosePieceWasWrittenOverSaysHowFarItPlays) { overwrittenPieceComesBackAsFarAsItPlays(false); }

TEST_F(SplitMovies, AClipWithItsIndexLastWhosePieceWasWrittenOverPlaysAsFarAsItCan) {
    overwrittenPieceComesBackAsFarAsItPlays(true);
}

// A clip that ends in uncompressed sound, after its last picture, whose last
// clusters were written over: nothing checks the sound's samples one by one,
// but another file's bytes do not sound like sound. The clip is not called
// whole, and it holds none of them.
TEST_F(SplitMovies, AClipWhoseSoundAfterItsLastPictureWasWrittenOverIsNotWhole) { soundWrittenOverIsNotWhole(false); }

// The same where the clip's last cluster holds the start of an older clip
// instead: its header reads as quiet sound, but it is another find's start.
TEST_F(SplitMovies, AClipWhoseLastClusterHoldsAnOlderClipsStartIsNotWhole) { soundWrittenOverIsNotWhole(true); }

void SplitMovies::soundWrittenOverIsNotWhole(bool olderClipStart) {
    const std::string name = "DCIM/100CAM/MVI_0310.MOV";
    const std::string bytes = clip(12, ".MOV", 2, {.pcm = true});
    if (bytes.empty()) GTEST_SKIP() << "ffmpeg has no H.264";
    const fs::path file = dir / "clip12.MOV";
    std::string packets;
    ASSERT_EQ(test::RunCommand("ffprobe -v error -select_streams v -show_entries packet=pos,size -of csv=p=0 '" +
                                   file.string() + "'",
                               &packets),
              0);
    std::uint64_t pictures = 0;  // where the last picture ends
    std::istringstream lines(packets);
    for (std::string line; std::getline(lines, line);)
        if (const auto comma = line.find(','); comma != std::string::npos)
            pictures = std::max<std::uint64_t>(pictures, std::stoull(line.substr(comma + 1)) + std::stoull(line));
    ASSERT_GT(pictures, 0u);
    ASSERT_GE(bytes.size() - pictures, 1024u) << "no sound after the last picture";
    ASSERT_TRUE(test::FatPutFirstFree(image, name, bytes));
    const std::vector<std::uint32_t> clusters = test::FatClustersOf(image, name);
    const auto geometry = test::FatGeometry(image);
    const std::uint64_t clusterBytes = 512ull * geometry.SectorsPerCluster;
    // From the cluster that holds the sound's first 512 bytes on, or its last cluster.
    const std::size_t from = olderClipStart ? clusters.size() - 1 : static_cast<std::size_t>((pictures + 512) / clusterBytes);
    ASSERT_LT(from, clusters.size());
    if (olderClipStart) ASSERT_GE(from * clusterBytes, pictures) << "the last cluster holds a picture";
    if (olderClipStart) {
        ASSERT_FALSE(old.empty());
        test::PatchFile(image, (geometry.FirstDataSector + (clusters[from] - 2ull) * geometry.SectorsPerCluster) * 512,
                        old.front().substr(0, clusterBytes));
        ASSERT_EQ(test::RunCommand("mkfs.fat -F 32 -s 8 -n CAM '" + image.string() + "' >/dev/null"), 0);
    } else {
        ASSERT_NO_FATAL_FAILURE(overwriteThenFormat(clusters, from, clusters.size(), 700));
    }

    output::ScanCommand command(ui, test::WholeScanRequest(image, cache));
    ASSERT_EQ(command.run(), ScanOutcome::Finished);
    const FoundFile* found = nullptr;
    for (const FoundFile& f : command.context().found)
        if (test::ReadFile(cache / f.name).compare(64, 4096, bytes, 64, 4096) == 0) found = &f;
    ASSERT_NE(found, nullptr) << "the clip was not found";
    const std::string back = test::ReadFile(cache / found->name);
    EXPECT_TRUE(found->damaged);
    EXPECT_EQ(RebuiltText(*found).rfind("incomplete: ", 0), 0u) << RebuiltText(*found);
    // Its pictures, up to the last one's end at most (where the other
    // bytes began inside it, up to that picture), and none of the other
    // bytes as its sound.
    ASSERT_LE(back.size(), olderClipStart ? from * clusterBytes : pictures) << "it holds another file's bytes as its sound";
    EXPECT_GT(back.size(), pictures / 2);
    EXPECT_EQ(back, bytes.substr(0, back.size()));
}

// Clips that end with a picture which runs from one piece into the next:
// nothing read after that picture shows where its rest lies, but the picture
// decodes with its own rest alone. One comes back whole; the other, whose
// rest was written over, comes back cut before its last picture and says
// so, holding none of the bytes that lie where its rest was.
TEST_F(SplitMovies, AClipWhoseLastPictureRunsIntoAnotherPieceIsWholeOrCutBeforeIt) {
    ASSERT_FALSE(test::MakeFatImage(image, {.fatBits = 16, .sizeKiB = 64 * 1024, .sectorsPerCluster = 8, .label = "CAM"})
                     .empty());
    ASSERT_EQ(test::RunCommand("mkfs.fat -F 16 -s 8 -n CAM '" + image.string() + "' >/dev/null"), 0);
    const auto geometry = test::FatGeometry(image);
    const std::uint64_t clusterBytes = 512ull * geometry.SectorsPerCluster;
    std::mt19937 random(3);
    const auto randomBytes = [&random](std::size_t n) {
        std::string bytes(n, '\0');
        for (char& c : bytes) c = static_cast<char>(random());
        return bytes;
    };
    std::uint64_t cluster = 200;  // the next free one, as the camera took them
    const auto put = [&](const std::string& bytes) {
        test::PatchFile(image, (geometry.FirstDataSector + (cluster - 2) * geometry.SectorsPerCluster) * 512ull, bytes);
        cluster += (bytes.size() + clusterBytes - 1) / clusterBytes;
    };
    std::string clips[2];
    std::uint64_t lastPicture[2] = {};  // where each clip's last picture starts
    for (int n = 0; n < 2; ++n) {
        clips[n] = clip(20 + n, ".MP4", 1, {.sound = false});
        if (clips[n].empty()) GTEST_SKIP() << "ffmpeg has no H.264";
        std::string said;
        ASSERT_EQ(test::RunCommand("ffprobe -v error -show_entries packet=pos -of default=nw=1:nk=1 '" +
                                       (dir / ("clip" + std::to_string(20 + n) + ".MP4")).string() + "'",
                                   &said),
                  0);
        std::istringstream lines(said);
        for (std::string line; std::getline(lines, line);)
            if (!line.empty()) lastPicture[n] = std::max<std::uint64_t>(lastPicture[n], std::stoull(line));
        const std::uint64_t lastCluster = (clips[n].size() - 1) / clusterBytes;
        // The break lies inside the last picture, past the cluster of its NAL unit's length.
        ASSERT_LT((lastPicture[n] + 8) / clusterBytes, lastCluster) << "the last picture lies in one cluster";
        const std::size_t cut = static_cast<std::size_t>(lastCluster * clusterBytes);
        put(randomBytes(5 * clusterBytes));
        put(clips[n].substr(0, cut));
        put(randomBytes(9 * clusterBytes + 100));  // an older file between the pieces
        // The second clip's rest was written over.
        put(n == 0 ? clips[n].substr(cut) : randomBytes(clips[n].size() - cut));
    }
    put(randomBytes(6 * clusterBytes));

    output::ScanCommand command(ui, test::WholeScanRequest(image, cache));
    ASSERT_EQ(command.run(), ScanOutcome::Finished);
    const FoundFile* back[2] = {};
    for (const FoundFile& f : command.context().found)
        for (int n = 0; n < 2; ++n)
            if (test::ReadFile(cache / f.name).compare(0, 4096, clips[n], 0, 4096) == 0) back[n] = &f;
    ASSERT_TRUE(back[0] && back[1]) << "a clip's first piece was not found";
    EXPECT_EQ(test::ReadFile(cache / back[0]->name), clips[0]) << "the clip whose last picture ends elsewhere";
    EXPECT_EQ(back[0]->pieces, 2);
    const std::string cut = test::ReadFile(cache / back[1]->name);
    EXPECT_TRUE(back[1]->damaged);
    EXPECT_EQ(RebuiltText(*back[1]).rfind("incomplete: ", 0), 0u) << RebuiltText(*back[1]);
    EXPECT_LE(cut.size(), lastPicture[1] + 8) << "it holds the other file's bytes as its last picture";
    EXPECT_EQ(cut, clips[1].substr(0, cut.size()));
    EXPECT_TRUE(plays(cache / back[1]->name));
}

// Some cameras end a clip with a box of their own after its media data or
// its index (a `uuid`): it is the clip's, whole or in pieces.
TEST_F(SplitMovies, ABoxOfTheCamerasOwnAfterTheClipComesBackWithIt) {
    std::string box(5000, '\0');
    box.replace(0, 8, std::string("\0\0\x13\x88uuid", 8));
    for (std::size_t k = 8; k < box.size(); ++k) box[k] = static_cast<char>("CAMERA LOG "[k % 11]);
    std::map<std::string, std::string> clips;  // name by bytes
    for (int n = 1; n <= 4; ++n) {
        const std::string name = "DCIM/100CAM/MVI_4" + std::to_string(n) + ".MP4";
        const std::string bytes = clip(60 + n, ".MP4", n <= 2 ? 1 : 2, {.indexLast = n % 2 == 0}) + box;
        if (bytes.size() == box.size()) GTEST_SKIP() << "ffmpeg has no H.264";
        ASSERT_TRUE(test::FatPutFirstFree(image, name, bytes));
        clips[bytes] = name;
    }
    ASSERT_EQ(test::RunCommand("mkfs.fat -F 32 -s 8 -n CAM '" + image.string() + "' >/dev/null"), 0);
    output::ScanCommand command(ui, test::WholeScanRequest(image, cache));
    ASSERT_EQ(command.run(), ScanOutcome::Finished);
    std::set<std::string> back;
    for (const FoundFile& f : command.context().found) {
        const auto it = clips.find(test::ReadFile(cache / f.name));
        if (it != clips.end()) back.insert(it->second);
    }
    for (const auto& [bytes, name] : clips) EXPECT_TRUE(back.count(name)) << name << " did not come back whole";
}

// Older files that no signature tells (random bytes) in the holes, and
// pictures of many clusters each: a clip's break then often falls inside one
// picture, where its NAL lengths fit the break on either side of the
// clusters they leap over. The pictures decode one way only.
void SplitMovies::breaksInsidePicturesComeBack(bool hevc) {
    // H.265 as a camcorder records it, on a card of larger clusters.
    const int sectors = hevc ? 64 : 8, bits = hevc ? 16 : 32;
    ASSERT_FALSE(test::MakeFatImage(image, {.fatBits = bits, .sizeKiB = 300 * 1024, .sectorsPerCluster = sectors, .label = "CAM"})
                     .empty());
    std::mt19937 random(7);
    const int olds = hevc ? 64 : 24;
    for (int n = 0; n < olds; ++n) {
        std::string bytes(500000 + random() % 1500000, '\0');
        for (char& c : bytes) c = static_cast<char>(random());
        ASSERT_TRUE(test::FatPutFirstFree(image, "OLD/FILE" + std::to_string(n) + ".BIN", bytes));
    }
    for (int n = 1; n < olds; n += 2) ASSERT_TRUE(test::FatDelete(image, "OLD/FILE" + std::to_string(n) + ".BIN"));
    std::map<std::string, std::string> clips;  // name by bytes
    int inPieces = 0;
    for (int n = 1; n <= 4; ++n) {
        const std::string name = "DCIM/100CAM/MVI_" + std::to_string(300 + n) + (n == 3 ? ".MOV" : ".MP4");
        const std::string bytes =
            clip(10 + n, n == 3 ? ".MOV" : ".MP4", hevc ? 2 : 1,
                 {.indexLast = n % 2 == 0, .hevc = hevc, .pcm = n == 3, .bFrames = hevc, .size = "320x240"});
        if (bytes.empty()) GTEST_SKIP() << "ffmpeg has no " << (hevc ? "H.265" : "H.264");
        ASSERT_TRUE(test::FatPutFirstFree(image, name, bytes));
        inPieces += test::InPieces(test::FatClustersOf(image, name));
        clips[bytes] = name;
    }
    ASSERT_GE(inPieces, 3) << "the card does not hold clips in pieces";
    ASSERT_EQ(test::RunCommand("mkfs.fat -F " + std::to_string(bits) + " -s " + std::to_string(sectors) + " -n CAM '" + image.string() +
                               "' >/dev/null"),
              0);

    output::ScanCommand command(ui, test::WholeScanRequest(image, cache));
    ASSERT_EQ(command.run(), ScanOutcome::Finished);
    std::set<std::string> back;
    for (const FoundFile& f : command.context().found) {
        const std::string found = test::ReadFile(cache / f.name);
        const auto it = clips.find(found);
        if (it != clips.end()) back.insert(it->second);
        // A clip not whole holds its own bytes and zeros, never another file's, and says so.
        for (const auto& [bytes, name] : clips) {
            if (it != clips.end() || found.size() != bytes.size() || found.compare(0, 4096, bytes, 0, 4096) != 0) continue;
            EXPECT_TRUE(f.damaged) << name;
            for (std::size_t k = 0; k < found.size(); ++k)
                if (found[k] != bytes[k] && found[k] != '\0') {
                    ADD_FAILURE() << name << " holds another file's bytes from byte " << k;
                    break;
                }
        }
    }
    // A picture decodes with another file's clusters now and then, where its
    // break is left open: most come back whole all the same.
    EXPECT_GE(back.size(), clips.size() - 1);

    // DeepScan reads the card sector by sector: the pieces still start and
    // end on its clusters, and as many clips come back.
    output::ScanRequest deep = test::WholeScanRequest(image, dir / "deep");
    deep.options.deepScan = true;
    output::ScanCommand deepCommand(ui, deep);
    ASSERT_EQ(deepCommand.run(), ScanOutcome::Finished);
    std::set<std::string> deepBack;
    for (const FoundFile& f : deepCommand.context().found) {
        const auto it = clips.find(test::ReadFile(dir / "deep" / f.name));
        if (it != clips.end()) deepBack.insert(it->second);
    }
    EXPECT_GE(deepBack.size(), clips.size() - 1);
}

TEST_F(SplitMovies, ClipsWhoseBreakFallsInsideAPictureComeBackByTheirPictures) { breaksInsidePicturesComeBack(false); }

// The H.265 decoder says nothing of another file's bytes in a picture: the
// boundary is told by how the picture looks beside the one shown next to it.
TEST_F(SplitMovies, H265ClipsWhoseBreakFallsInsideAPictureComeBackByHowTheirPicturesLook) { breaksInsidePicturesComeBack(true); }

// Holes a little longer than a picture: nearly every break falls inside a
// picture, and the picture after it runs on past the next break too. The
// boundary is told by the pictures before the break, which lie in pieces
// already placed, and every clip comes back whole.
TEST_F(SplitMovies, PiecesAboutAPictureLongComeBackWhole) {
    ASSERT_FALSE(test::MakeFatImage(image, {.fatBits = 16, .sizeKiB = 64 * 1024, .sectorsPerCluster = 8, .label = "CAM"})
                     .empty());
    // Pictures of about 90 KB.
    const std::string first = clip(8, ".MP4", 1, {.qp = 10});
    const std::string last = clip(9, ".MOV", 1, {.indexLast = true, .pcm = true, .qp = 10});
    if (first.empty() || last.empty()) GTEST_SKIP() << "ffmpeg has no H.264";
    std::mt19937 random(5);
    for (int n = 0; n < 80; ++n)
        ASSERT_TRUE(test::FatPutFirstFree(image, "OLD/F" + std::to_string(n) + ".BIN",
                                          randomBytes(random, (104 << 10) + random() % (32 << 10))));
    for (int n = 0; n < 80; n += 2) ASSERT_TRUE(test::FatDelete(image, "OLD/F" + std::to_string(n) + ".BIN"));
    ASSERT_TRUE(test::FatPutFirstFree(image, "DCIM/MVI_0001.MP4", first));
    ASSERT_TRUE(test::FatPutFirstFree(image, "DCIM/MVI_0002.MOV", last));
    ASSERT_TRUE(test::InPieces(test::FatClustersOf(image, "DCIM/MVI_0002.MOV")));
    ASSERT_EQ(test::RunCommand("mkfs.fat -F 16 -s 8 -n CAM '" + image.string() + "' >/dev/null"), 0);
    std::map<std::string, int> pieces = piecesBack(false, cache);
    EXPECT_GE(pieces.count(first) ? pieces[first] : 0, 12) << "the clip with its index first";
    EXPECT_GE(pieces.count(last) ? pieces[last] : 0, 12) << "the clip with its index last";
}

// The same, coded as cameras code (arithmetic coding, B-frames): another
// file's bytes in a picture then often decode without a fault, the slice
// ending short of them, at more than one boundary. The boundary whose last
// picture reads its bytes to their end, and whose uncompressed sound sounds
// like sound, is the clip's own: every clip comes back whole, also where its
// last picture runs into its last piece with only sound after it.
void SplitMovies::cameraCodedClipsComeBack(int seconds, int qp) {
    ASSERT_FALSE(test::MakeFatImage(image, {.fatBits = 16, .sizeKiB = 48 * 1024, .sectorsPerCluster = 8, .label = "CAM"})
                     .empty());
    std::vector<std::string> clips;
    for (int n = 0; n < 4; ++n) {
        clips.push_back(clip(20 + n, n % 2 ? ".MOV" : ".MP4", seconds, {.indexLast = n >= 2, .pcm = n % 2 == 1, .bFrames = true, .qp = qp}));
        if (clips.back().empty()) GTEST_SKIP() << "ffmpeg has no H.264";
    }
    std::mt19937 random(17);
    for (int n = 0; n < 200; ++n)
        ASSERT_TRUE(test::FatPutFirstFree(image, "OLD/F" + std::to_string(n) + ".BIN", randomBytes(random, (64 << 10) + random() % (64 << 10))));
    for (int n = 0; n < 200; n += 2) ASSERT_TRUE(test::FatDelete(image, "OLD/F" + std::to_string(n) + ".BIN"));
    for (std::size_t n = 0; n < clips.size(); ++n) {
        const std::string name = "DCIM/MVI_000" + std::to_string(n) + (n % 2 ? ".MOV" : ".MP4");
        ASSERT_TRUE(test::FatPutFirstFree(image, name, clips[n]));
        ASSERT_TRUE(test::InPieces(test::FatClustersOf(image, name))) << name << " of " << clips[n].size() << " bytes";
    }
    ASSERT_EQ(test::RunCommand("mkfs.fat -F 16 -s 8 -n CAM '" + image.string() + "' >/dev/null"), 0);
    std::map<std::string, int> pieces = piecesBack(false, cache);
    for (std::size_t n = 0; n < clips.size(); ++n)
        EXPECT_GE(pieces.count(clips[n]) ? pieces[clips[n]] : 0, 8) << "clip " << n << " of " << clips[n].size() << " bytes";
}

TEST_F(SplitMovies, CameraCodedPiecesAboutAPictureLongComeBackWhole) { cameraCodedClipsComeBack(3, 10); }
TEST_F(SplitMovies, CameraCodedPiecesAboutAPictureLongComeBackWholeToTheirLastPicture) { cameraCodedClipsComeBack(2, 12); }

// Holes shorter than a picture between older files of random bytes: a clip
// of pictures of many clusters then lies in pieces of which many are wholly
// inside one picture, its last too, where no sample starts and nothing but
// the picture's decode tells where they lie. The camera codes its pictures
// without arithmetic coding (as the simplest profile does), where a decoder
// tells how far a picture's bytes are its own: both clips come back whole,
// plain and with DeepScan.
TEST_F(SplitMovies, PiecesWhollyInsideAPictureComeBackByHowFarItDecodes) {
    ASSERT_FALSE(test::MakeFatImage(image, {.fatBits = 16, .sizeKiB = 48 * 1024, .sectorsPerCluster = 8, .label = "CAM"})
                     .empty());
    // Pictures of about 90 KB (22 clusters), holes of 12 to 20 between files of 2 to 7.
    const std::string first = clip(12, ".MP4", 1, {.qp = 10});
    const std::string last = clip(13, ".MOV", 1, {.indexLast = true, .pcm = true, .qp = 10});
    if (first.empty() || last.empty()) GTEST_SKIP() << "ffmpeg has no H.264";
    std::mt19937 random(11);
    const auto junk = [&](std::size_t clusters) { return randomBytes(random, clusters * 4096 - random() % 4000); };
    for (int n = 0; n < 80; ++n) {
        ASSERT_TRUE(test::FatPutFirstFree(image, "OLD/S" + std::to_string(n) + ".BIN", junk(12 + random() % 9)));
        ASSERT_TRUE(test::FatPutFirstFree(image, "OLD/F" + std::to_string(n) + ".BIN", junk(2 + random() % 6)));
    }
    for (int n = 0; n < 80; ++n) ASSERT_TRUE(test::FatDelete(image, "OLD/S" + std::to_string(n) + ".BIN"));
    ASSERT_TRUE(test::FatPutFirstFree(image, "DCIM/MVI_0001.MP4", first));
    ASSERT_TRUE(test::FatPutFirstFree(image, "DCIM/MVI_0002.MOV", last));
    for (const char* name : {"DCIM/MVI_0001.MP4", "DCIM/MVI_0002.MOV"}) {
        const std::vector<std::uint32_t> clusters = test::FatClustersOf(image, name);
        std::size_t runs = 1;
        for (std::size_t k = 1; k < clusters.size(); ++k) runs += clusters[k] != clusters[k - 1] + 1;
        ASSERT_GE(runs, 25u) << name << " lies in pieces shorter than a picture";
    }
    ASSERT_EQ(test::RunCommand("mkfs.fat -F 16 -s 8 -n CAM '" + image.string() + "' >/dev/null"), 0);
    for (const bool deepScan : {false, true}) {
        std::map<std::string, int> pieces = piecesBack(deepScan, dir / (deepScan ? "deep" : "plain"));
        EXPECT_GE(pieces.count(first) ? pieces[first] : 0, 20) << (deepScan ? "DeepScan" : "scan") << ": the clip with its index first";
        EXPECT_GE(pieces.count(last) ? pieces[last] : 0, 20) << (deepScan ? "DeepScan" : "scan") << ": the clip with its index last";
    }
}

// DeepScan reads sector by sector, and a piece may break or an index lie
// anywhere in one: a break inside a picture larger than many sectors, and
// an index whose header runs from one sector into the next, come back as
// from the plain scan.
TEST_F(SplitMovies, DeepScanJoinsPiecesWhereverTheyLieInASector) {
    ASSERT_FALSE(test::MakeFatImage(image, {.fatBits = 16, .sizeKiB = 48 * 1024, .sectorsPerCluster = 8, .label = "CAM"})
                     .empty());
    const std::string large = clip(5, ".MP4", 1, {.size = "400x240", .qp = 10});  // pictures of about 200 KB
    const std::string last = mediaEndingAt(clip(6, ".MOV", 1, {.indexLast = true, .pcm = true}), 510);
    if (large.empty() || last.empty()) GTEST_SKIP() << "ffmpeg has no H.264";
    std::mt19937 random(3);
    const auto put = [&](const std::string& name, std::size_t bytes, const std::string& at1536 = {}) {
        std::string junk(bytes, '\0');
        for (char& c : junk) c = static_cast<char>(random());
        ASSERT_TRUE(test::FatPutFirstFree(image, name, junk.replace(1536, at1536.size(), at1536)));
    };
    // The large clip's first piece ends 40 KiB in, inside its first picture;
    // the other's halfway. Between the large clip's pieces, a sector begins as
    // a PCX picture does: DeepScan's find there runs on over the next piece.
    put("OLD/A.BIN", 40 << 10);
    put("OLD/B.BIN", 1 << 20, std::string("\x0A\x05\x01\x08", 4));
    ASSERT_TRUE(test::FatDelete(image, "OLD/A.BIN"));
    ASSERT_TRUE(test::FatPutFirstFree(image, "DCIM/MVI_0001.MP4", large));
    put("OLD/C.BIN", last.size() / 2 / 4096 * 4096);
    put("OLD/D.BIN", 1 << 20);
    ASSERT_TRUE(test::FatDelete(image, "OLD/C.BIN"));
    ASSERT_TRUE(test::FatPutFirstFree(image, "DCIM/MVI_0002.MOV", last));
    ASSERT_TRUE(test::InPieces(test::FatClustersOf(image, "DCIM/MVI_0001.MP4")));
    ASSERT_TRUE(test::InPieces(test::FatClustersOf(image, "DCIM/MVI_0002.MOV")));
    ASSERT_EQ(test::RunCommand("mkfs.fat -F 16 -s 8 -n CAM '" + image.string() + "' >/dev/null"), 0);
    for (const bool deepScan : {false, true}) {
        output::ScanRequest request = test::WholeScanRequest(image, dir / (deepScan ? "deep" : "plain"));
        request.options.deepScan = deepScan;
        output::ScanCommand command(ui, request);
        ASSERT_EQ(command.run(), ScanOutcome::Finished);
        std::set<std::string> back;
        for (const FoundFile& f : command.context().found) back.insert(test::ReadFile(request.cacheFolder / f.name));
        EXPECT_TRUE(back.count(large)) << (deepScan ? "DeepScan" : "scan") << ": a break inside a large picture, a weak find over its next piece";
        EXPECT_TRUE(back.count(last)) << (deepScan ? "DeepScan" : "scan") << ": an index across two sectors";
    }
}

// A recording cut off (no index, its `mdat` size never written) on a card
// that holds other clips of the camera, the rest of an older recording right
// after it; then a quick format. With `pcm`, the camera's clips are MOV with
// uncompressed sound, two of them on the card (so too with `hevc`, as the
// older clips are H.264). With `otherCamera`, the camera
// repeats its settings before its pictures, and a clip of another camera
// (another picture size, the same `ftyp`) lies nearest to the recording.
// With `bFrames`, the camera stores its pictures out of the order it shows
// them; with `hevc`, it records H.265.
void SplitMovies::cutRecordingComesBack(bool pcm, bool otherCamera, bool bFrames, bool hevc) {
    const std::string extension = pcm ? ".MOV" : ".MP4";
    const Camera camera{.indexLast = true, .hevc = hevc, .pcm = pcm, .inBand = otherCamera, .bFrames = bFrames};
    const std::string whole = clip(90, extension, 3, camera);
    const std::string cut = cutOff(whole, 20000);
    ASSERT_FALSE(cut.empty());
    // The holes filled first, so that the clip lies in one piece.
    ASSERT_TRUE(test::FatPutFirstFree(image, "DCIM/100CAM/FILL.DAT", std::string(holes, '\x5A')));
    for (int n = 0; (pcm || hevc) && n < 2; ++n)
        ASSERT_TRUE(test::FatPutFirstFree(image, "DCIM/100CAM/MVI_29" + std::to_string(n) + extension, clip(80 + n, extension, 2, camera)));
    if (otherCamera) {
        ASSERT_TRUE(test::FatPutFirstFree(image, "DCIM/100CAM/OTHER.MP4",
                                          clip(85, extension, 2, {.indexLast = true, .inBand = true, .size = "320x240"})));
    }
    ASSERT_TRUE(test::FatPutFirstFree(image, "DCIM/100CAM/MVI_300" + extension, cut));
    ASSERT_FALSE(test::InPieces(test::FatClustersOf(image, "DCIM/100CAM/MVI_300" + extension)));
    const std::string older = clip(91, extension, 3, camera);
    ASSERT_TRUE(test::FatPutFirstFree(image, "DCIM/100CAM/OLDER.BIN", older.substr(older.size() / 3, older.size() / 2)));
    ASSERT_EQ(test::RunCommand("mkfs.fat -F 32 -s 8 -n CAM '" + image.string() + "' >/dev/null"), 0);
    test::WriteFile(dir / ("whole" + extension), whole);
    const std::vector<std::string> recorded = videoPackets(dir / ("whole" + extension));
    ASSERT_GE(recorded.size(), 70u);

    output::ScanCommand command(ui, test::WholeScanRequest(image, cache));
    ASSERT_EQ(command.run(), ScanOutcome::Finished);
    std::vector<const FoundFile*> made;
    bool cutFound = false;
    for (const FoundFile& f : command.context().found) {
        if (f.indexRebuilt) made.push_back(&f);
        cutFound |= test::ReadFile(cache / f.name).compare(0, 4096, cut, 0, 4096) == 0 && !f.indexRebuilt;
    }
    EXPECT_TRUE(cutFound) << "the clip as found is kept beside the one with its index made";
    for (const FoundFile& f : command.context().found) {
        if (!f.indexRebuilt && test::ReadFile(cache / f.name).compare(0, 4096, cut, 0, 4096) == 0) {
            EXPECT_LT(f.size, cut.size()) << "the clip as found runs on past its last picture into the older recording";
            EXPECT_EQ(f.size, fs::file_size(cache / f.name));
        }
    }
    ASSERT_EQ(made.size(), 1u);
    const fs::path file = cache / made.front()->name;
    EXPECT_TRUE(plays(file));
    // Every picture up to the one the recording was cut in, byte for byte and
    // at its time; none of what the card held after it.
    const std::vector<std::string> back = videoPackets(file);
    std::string size;
    test::RunCommand("ffprobe -v error -select_streams v -show_entries stream=width,height -of csv=p=0 '" + file.string() + "'",
                     &size);
    EXPECT_EQ(size, "240,180\n") << "made after a clip of another camera";
    ASSERT_GE(back.size(), recorded.size() - 3);
    ASSERT_LT(back.size(), recorded.size());
    for (std::size_t k = 0; k < back.size(); ++k) EXPECT_EQ(back[k], recorded[k]) << "picture " << k;
    // Uncompressed sound is kept, as recorded, up to the last picture; AAC is not.
    EXPECT_EQ(made.front()->indexRebuilt, pcm ? 2 : 1);
    if (pcm) {
        const std::string sound = soundBytes(file);
        EXPECT_GT(sound.size(), 200000u);  // 2.3 of the 3 seconds
        EXPECT_EQ(sound, soundBytes(dir / ("whole" + extension)).substr(0, sound.size()));
    }
    std::map<std::string, std::string> rebuilt;
    DamagedFinds(cache, &rebuilt);
    EXPECT_EQ(rebuilt[made.front()->name], pcm ? "index rebuilt after another clip of the same camera"
                                               : "index rebuilt after another clip of the same camera, without sound");
}

TEST_F(SplitMovies, ACutRecordingPlaysWithAnIndexMadeAfterAnotherOfTheCamera) { cutRecordingComesBack(false, false); }

TEST_F(SplitMovies, ACutRecordingWithUncompressedSoundKeepsItsSound) { cutRecordingComesBack(true, false); }

TEST_F(SplitMovies, ACutRecordingIsNotGivenTheIndexOfAnotherCameraNearer) { cutRecordingComesBack(false, true); }

// Each picture at its own time, though stored before pictures shown earlier.
TEST_F(SplitMovies, ACutRecordingWhosePicturesAreStoredOutOfOrderPlaysInOrder) { cutRecordingComesBack(true, false, true); }

// H.265 has no frame numbers: its pictures follow by their order counts alone,
// which run on past the pictures that need none before them (open GOPs).
TEST_F(SplitMovies, ACutH265RecordingPlaysInOrderToo) { cutRecordingComesBack(false, false, true, true); }

}  // namespace
}  // namespace hx::scan
