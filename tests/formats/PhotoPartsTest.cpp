// The parts of a phone picture are followed the same way however its bytes
// arrive, and an index that names parts which are not there, or lies about
// them, takes nothing on trust.
#include <gtest/gtest.h>

#include <cstring>

#include "fixtures/MediaImages.h"
#include "fixtures/PhonePictures.h"
#include "fixtures/TempDir.h"
#include "fixtures/TestJpeg.h"
#include "formats/PhotoParts.h"
#include "formats/PhotoTail.h"
#include "formats/PictureCheck.h"

namespace hx::formats {
namespace {

ReadAt Over(const std::string& bytes) {
    return [&bytes](std::uint64_t at, std::size_t n, std::uint8_t* out) {
        if (at > bytes.size() || n > bytes.size() - at) return false;
        std::memcpy(out, bytes.data() + at, n);
        return true;
    };
}

const std::uint8_t* U(const std::string& s) { return reinterpret_cast<const std::uint8_t*>(s.data()); }

// The file's length and parts as the scan follows them, fed `piece` bytes at a time.
std::pair<std::uint64_t, std::vector<PhotoPart>> follow(const std::string& file, std::size_t piece) {
    JpegEndFinder finder;
    PhotoTail tail;
    std::uint64_t kept = 0;
    bool ends = false;
    for (std::size_t at = 0; at < file.size() && !ends; at += piece) {
        const std::size_t n = std::min(piece, file.size() - at);
        const std::uint8_t* p = U(file) + at;
        if (tail.started()) {
            kept += tail.feed(p, n, ends);
            continue;
        }
        const std::size_t picture = finder.feed(p, n);
        if (!finder.done()) {
            kept += n;
            continue;
        }
        tail.start(PartsNamedInHeaders(U(file), file.size(), finder.length()), finder.length());
        kept += picture + tail.feed(p + picture, n - picture, ends);
    }
    const PartsCheck check = CheckPhotoParts(Over(file), file.size(), finder.length(), tail.parts());
    EXPECT_TRUE(check.missing.empty());
    return {std::min(kept, check.end), check.parts};
}

TEST(PhotoParts, EachFormIsFollowedToItsEndHoweverItsBytesArrive) {
    for (const char* tool : {"ffmpeg", "exiftool"})
        if (!test::HaveTool(tool)) GTEST_SKIP() << tool << " missing (scripts/install-deps.sh installs it)";
    const std::string clip = test::MakeClip(1, 3);
    if (clip.empty()) GTEST_SKIP() << "ffmpeg has no H.264";
    const std::string jpeg = test::MakeTestJpeg(90, 320, 240), second = test::MakeTestJpeg(91, 160, 120);
    const std::string junk = test::PatternBytes(20000, 4);
    for (const auto& [name, file] : std::map<std::string, std::string>{
             {"micro video", test::MicroVideoPhoto(jpeg, clip)},
             {"container", test::ContainerMotionPhoto(jpeg, clip)},
             {"samsung", test::SamsungMotionPhoto(jpeg, clip)},
             {"samsung without trailer", test::SamsungMotionPhoto(jpeg, clip, false)},
             {"mpf little-endian", test::MpfPhoto(jpeg, second, false)},
             {"mpf big-endian, gain map", test::MpfPhoto(jpeg, second, true, true)}}) {
        for (std::size_t piece : {std::size_t{1}, std::size_t{509}, std::size_t{4096}, std::size_t{1} << 20}) {
            SCOPED_TRACE(name + ", pieces of " + std::to_string(piece));
            const auto [length, parts] = follow(file + junk, piece);
            EXPECT_EQ(length, file.size());
            ASSERT_GE(parts.size(), 2u);
            EXPECT_EQ(parts.back().end(), file.size());
        }
    }
}

TEST(PhotoParts, AnIndexThatNamesWhatIsNotThereKeepsOnlyThePicture) {
    const std::string jpeg = test::MakeTestJpeg(92, 320, 240), second = test::MakeTestJpeg(93, 160, 120);
    const std::string mpf = test::MpfPhoto(jpeg, second, false);
    const std::uint64_t picture = mpf.size() - second.size();
    // The second picture cut short, then overwritten by other bytes of its length.
    for (const std::string& file : std::vector<std::string>{mpf.substr(0, mpf.size() - 100),
                                    mpf.substr(0, picture) + test::PatternBytes(second.size(), 5)}) {
        const auto parts = PartsNamedInHeaders(U(file), file.size(), picture);
        ASSERT_EQ(parts.size(), 1u);
        const PartsCheck check = CheckPhotoParts(Over(file), file.size(), picture, parts);
        EXPECT_EQ(check.end, picture);
        EXPECT_EQ(check.missing, std::vector<PartKind>{PartKind::SecondPicture});
        EXPECT_EQ(MissingPartsText(check.missing), "second picture missing");
    }
    // A container whose items are of a kind that cannot be checked, or of no sane length, names nothing.
    const std::string xmp = "http://ns.adobe.com/xap/1.0/" + std::string(1, '\0') +
                            "<Container:Item Item:Semantic=\"Primary\"/><Container:Item Item:Mime=\"application/x-what\" "
                            "Item:Length=\"100\"/><Container:Item Item:Mime=\"video/mp4\" Item:Length=\"99999999999999\"/>";
    std::string segment = "\xFF\xE1";
    segment.push_back(static_cast<char>((xmp.size() + 2) >> 8));
    segment.push_back(static_cast<char>(xmp.size() + 2));
    const std::string withXmp = jpeg.substr(0, 2) + segment + xmp + jpeg.substr(2);
    EXPECT_TRUE(PartsNamedInHeaders(U(withXmp), withXmp.size(), withXmp.size()).empty());
}

}  // namespace
}  // namespace hx::formats
