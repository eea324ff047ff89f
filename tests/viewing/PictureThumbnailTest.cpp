// Small pictures of HEIC/AVIF photos (made by heif-enc), of camera raws
// (by the JPEG preview inside them) and of clips (their first picture, made
// by ffmpeg, and that of a motion photo's clip), and the EXIF of a HEIC photo.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <map>

#include "fixtures/MediaImages.h"
#include "fixtures/PhonePictures.h"
#include "fixtures/SampleFiles.h"
#include "fixtures/TempDir.h"
#include "fixtures/TestJpeg.h"
#include "fixtures/TestRaw.h"
#include "viewing/ClipPicture.h"
#include "viewing/Exif.h"
#include "viewing/JpegThumbnail.h"
#include "viewing/PictureThumbnail.h"
#include "viewing/SamplePhoto.h"
#include "viewing/ThumbnailFiles.h"

namespace hx::viewing {
namespace {

namespace fs = std::filesystem;

std::string box(const std::string& type, const std::string& payload) {
    const auto size = static_cast<std::uint32_t>(payload.size() + 8);
    return std::string{char(size >> 24), char(size >> 16), char(size >> 8), char(size)} + type + payload;
}

RgbPicture decoded(const std::string& jpeg, int maxWidth) {
    RgbPicture p;
    EXPECT_TRUE(DecodeJpegScaled(reinterpret_cast<const std::uint8_t*>(jpeg.data()), jpeg.size(), maxWidth, p));
    return p;
}

// The mean of each colour: a picture of the right photo keeps them.
std::array<double, 3> meanColour(const RgbPicture& p) {
    std::array<double, 3> sum{};
    for (std::size_t i = 0; i + 2 < p.pixels.size(); i += 3)
        for (int c = 0; c < 3; ++c) sum[c] += p.pixels[i + c];
    const double n = std::max<double>(1, p.pixels.size() / 3.0);
    return {sum[0] / n, sum[1] / n, sum[2] / n};
}

void expectSamePicture(const RgbPicture& got, const RgbPicture& want, double tolerance, const std::string& what) {
    ASSERT_GT(got.width, 0u) << what;
    EXPECT_NEAR(double(got.width) / got.height, double(want.width) / want.height, 0.05) << what;
    const auto a = meanColour(got), b = meanColour(want);
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(a[c], b[c], tolerance) << what << " colour " << c;
}

// The mean colours of an 8 by 8 grid over the picture: close for two
// decodes of one picture at any size, far apart at a wrong contrast or tint.
std::vector<double> gridColours(const RgbPicture& p) {
    std::vector<double> sum(8 * 8 * 3), n(8 * 8);
    for (unsigned y = 0; y < p.height; ++y)
        for (unsigned x = 0; x < p.width; ++x) {
            const unsigned cell = y * 8 / p.height * 8 + x * 8 / p.width;
            for (int c = 0; c < 3; ++c) sum[cell * 3 + c] += p.pixels[(std::size_t(y) * p.width + x) * 3 + c];
            ++n[cell];
        }
    for (std::size_t i = 0; i < sum.size(); ++i) sum[i] /= std::max(1.0, n[i / 3]);
    return sum;
}

// A sample photo of `width` by `height`, written as a.jpg in `dir`.
std::string writeSamplePhoto(const test::TempDir& dir, int number, int width, int height) {
    SamplePhotoOptions o;
    o.width = width;
    o.height = height;
    const std::string photo = MakeSamplePhoto(number, o);
    test::WriteFile(dir / "a.jpg", photo);
    return photo;
}

TEST(PictureThumbnail, HeicAndAvifPhotosGiveTheirPictureAndTheirCamera) {
    if (!test::HaveTool("heif-enc")) GTEST_SKIP() << "heif-enc missing (scripts/install-deps.sh installs it)";
    test::TempDir dir("hx-heif");
    const std::string photo = writeSamplePhoto(dir, 1, 640, 480);
    const std::string s = "'" + dir.path().string() + "/";
    ASSERT_EQ(test::RunCommand("heif-enc -q 70 " + s + "a.jpg' -o " + s + "a.heic'"), 0);
    ASSERT_EQ(test::RunCommand("heif-enc -A -q 70 " + s + "a.jpg' -o " + s + "a.avif'"), 0);
    const RgbPicture original = decoded(photo, 0);
    for (const char* name : {"a.heic", "a.avif"}) {
        RgbPicture small;
        ASSERT_TRUE(LoadSmallPicture(dir / name, 160, small)) << name;
        EXPECT_EQ(small.width, 160u) << name;
        expectSamePicture(small, original, 6, name);
        // As a thumbnail file: a JPEG of the same picture.
        const fs::path thumb = dir / (std::string(name) + ".jpg");
        ASSERT_TRUE(MakePictureThumbnail(dir / name, thumb));
        expectSamePicture(decoded(test::ReadFile(thumb), 0), original, 8, thumb.string());
        // The camera and the moment, from the photo's own EXIF item.
        ExifValues exif;
        EXPECT_TRUE(ReadExifFile((dir / name).string(), exif)) << name;
        EXPECT_EQ(exif.make, SamplePhotoMake(1)) << name;
        EXPECT_EQ(exif.rawDate, SamplePhotoDate(1)) << name;
        EXPECT_EQ(exif.width, 640) << name;
    }
}

TEST(PictureThumbnail, RawsGiveTheirLargestEmbeddedPreview) {
    test::TempDir dir("hx-rawthumb");
    const std::string preview = test::MakeTestJpeg(3, 320, 240);
    const std::string small = test::MakeTestJpeg(4, 160, 120);
    // A CR2-like raw whose preview strip is a real JPEG (padded to the strip's length).
    test::RawBuilder b;
    std::string cr2 = b.build(true, "Canon", preview.size() + 64, 20000);
    const auto at = cr2.find("\xFF\xD8\xFF\xDB");
    ASSERT_NE(at, std::string::npos);
    cr2.replace(at, preview.size(), preview);
    // A RAF (its header names the preview), and a CR3-like file whose only
    // JPEG sits in a box without any table pointing at it.
    const std::map<std::string, std::string> raws = {
        {"a.cr2", cr2},
        {"b.raf", test::MakeRaf(preview, 30000, 5)},
        {"c.cr3", test::MakeIsoFile("crx ", {{"moov", box("THMB", small)}, {"mdat", test::PatternBytes(40000, 6)}})},
    };
    for (const auto& [name, bytes] : raws) {
        test::WriteFile(dir / name, bytes);
        RgbPicture got;
        ASSERT_TRUE(LoadSmallPicture(dir / name, 0, got)) << name;
        const RgbPicture want = decoded(name == "c.cr3" ? small : preview, 0);
        EXPECT_EQ(got.width, want.width) << name;
        EXPECT_TRUE(got.pixels == want.pixels) << name;
    }

    // Offsets that point past the end, and bytes of no picture: nothing, and no file left.
    std::string broken = raws.at("b.raf");
    broken.resize(200);
    test::WriteFile(dir / "broken.raf", broken);
    test::WriteFile(dir / "noise.nef", test::PatternBytes(70000, 9));
    for (const char* name : {"broken.raf", "noise.nef"}) {
        EXPECT_FALSE(MakePictureThumbnail(dir / name, dir / "t.jpg")) << name;
        EXPECT_FALSE(fs::exists(dir / "t.jpg")) << name;
    }
}

// Each a photo turned into a short clip: the first picture comes back with
// the photo's colours and shape, whether it is 8 or 10 bits, limited or full
// range, H.264 or H.265, and the list's thumbnail of a clip is made from it.
TEST(PictureThumbnail, ClipsGiveTheirFirstPicture) {
    if (!test::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg missing (scripts/install-deps.sh installs it)";
    test::TempDir dir("hx-clip-picture");
    const std::string photo = writeSamplePhoto(dir, 3, 640, 360);
    const RgbPicture want = decoded(photo, 0);
    const std::map<std::string, std::string> clips = {
        {"h264.mp4", "-c:v libx264 -pix_fmt yuv420p"},
        {"full.mov", "-vf scale=out_range=full -pix_fmt yuvj420p -color_range pc -c:v libx264"},
        {"h265-10.mp4", "-c:v libx265 -pix_fmt yuv420p10le -tag:v hvc1 -x265-params log-level=none"},
        {"h265-422.mov", "-c:v libx265 -pix_fmt yuv422p -x265-params log-level=none"},
    };
    for (const auto& [name, codec] : clips) {
        const fs::path clip = dir / name;
        if (test::RunCommand("ffmpeg -y -v error -loop 1 -i '" + (dir / "a.jpg").string() + "' -t 0.4 -r 10 " + codec +
                             " -bf 2 '" + clip.string() + "'") != 0)
            GTEST_SKIP() << "ffmpeg cannot make " << name;
        RgbPicture got;
        ASSERT_TRUE(LoadSmallPicture(clip, 160, got)) << name;
        EXPECT_GE(got.width, 160u) << name;
        EXPECT_LE(got.width, 320u) << name;
        expectSamePicture(got, want, 6.0, name);
        const auto a = gridColours(got), b = gridColours(want);
        double worst = 0;
        for (std::size_t i = 0; i < a.size(); ++i) worst = std::max(worst, std::abs(a[i] - b[i]));
        EXPECT_LT(worst, 8.0) << name;
    }
    const fs::path thumb = ThumbnailFile(dir / "h264.mp4", dir / "thumbs", 120);
    ASSERT_FALSE(thumb.empty());
    EXPECT_GT(fs::file_size(thumb), 0u);
    // Not a clip at all, or one cut before its first picture: nothing drawn, and no fault.
    test::WriteFile(dir / "none.mp4", box("ftyp", "isom") + box("mdat", std::string(4000, '\x5a')));
    const std::string whole = test::ReadFile(dir / "h264.mp4");
    test::WriteFile(dir / "cut.mp4", whole.substr(0, whole.size() / 3));
    RgbPicture none;
    EXPECT_FALSE(LoadSmallPicture(dir / "none.mp4", 160, none));
    EXPECT_FALSE(LoadSmallPicture(dir / "cut.mp4", 160, none));
}

// A motion photo's clip, in Google's form and in Samsung's, gives its first
// picture (that of the clip on its own, as ffmpeg draws it, not the photo's),
// and all of them when it is played; a photo without a clip, or whose clip is
// cut short, gives none.
TEST(PictureThumbnail, AMotionPhotoGivesItsClipsFirstPicture) {
    const std::string clip = test::MakeClip(1.5, 6);
    if (clip.empty()) GTEST_SKIP() << "ffmpeg cannot make an H.264 clip";
    test::TempDir dir("hx-motion-picture");
    test::WriteFile(dir / "clip.mp4", clip);
    ASSERT_EQ(test::RunCommand("ffmpeg -y -v error -i '" + (dir / "clip.mp4").string() + "' -frames:v 1 -q:v 1 '" +
                               (dir / "first.jpg").string() + "'"),
              0);
    const RgbPicture want = decoded(test::ReadFile(dir / "first.jpg"), 0);
    const std::string photo = test::MakeTestJpeg(51, 640, 480);
    const auto gridDistance = [](const RgbPicture& a, const RgbPicture& b) {
        const auto x = gridColours(a), y = gridColours(b);
        double worst = 0;
        for (std::size_t i = 0; i < x.size(); ++i) worst = std::max(worst, std::abs(x[i] - y[i]));
        return worst;
    };
    ASSERT_GT(gridDistance(decoded(photo, 0), want), 40.0) << "the photo and the clip must differ to tell them apart";
    const std::map<std::string, std::string> photos = {
        {"PXL.MP.jpg", test::ContainerMotionPhoto(photo, clip)},
        {"samsung.jpg", test::SamsungMotionPhoto(photo, clip, true)},
    };
    for (const auto& [name, bytes] : photos) {
        test::WriteFile(dir / name, bytes);
        EXPECT_TRUE(HasPhotoClip(dir / name)) << name;
        RgbPicture got;
        ASSERT_TRUE(LoadPhotoClipPicture(dir / name, 160, got)) << name;
        expectSamePicture(got, want, 6.0, name);
        EXPECT_LT(gridDistance(got, want), 12.0) << name;  // sharp bars, drawn small
    }
    // Played, the clip gives its 45 pictures in turn, the last as ffmpeg
    // draws it, each for a 30th of a second, and then its first again.
    ASSERT_EQ(test::RunCommand("ffmpeg -y -v error -i '" + (dir / "clip.mp4").string() +
                               "' -vf 'select=eq(n\\,44)' -frames:v 1 -q:v 1 '" + (dir / "last.jpg").string() + "'"),
              0);
    const RgbPicture lastWanted = decoded(test::ReadFile(dir / "last.jpg"), 0);
    const auto frames = OpenClipFrames(dir / "PXL.MP.jpg", true, 160);
    ASSERT_TRUE(frames);
    EXPECT_NEAR(frames->millisecondsEach(), 33, 1);
    RgbPicture first, picture;
    ASSERT_TRUE(frames->next(first));
    for (int k = 1; k < 45; ++k) ASSERT_TRUE(frames->next(picture)) << k;
    EXPECT_LT(gridDistance(picture, lastWanted), 12.0);
    EXPECT_GT(gridDistance(picture, first), 12.0);
    ASSERT_TRUE(frames->next(picture));
    EXPECT_EQ(picture.pixels, first.pixels);
    EXPECT_FALSE(OpenClipFrames(dir / "PXL.MP.jpg", false, 160)) << "a photo is no clip file";
    const std::map<std::string, std::string> without = {
        {"plain.jpg", photo},
        {"cut.MP.jpg", test::ContainerMotionPhoto(photo, clip).substr(0, photo.size() + clip.size() / 2)},
    };
    for (const auto& [name, bytes] : without) {
        test::WriteFile(dir / name, bytes);
        RgbPicture none;
        EXPECT_FALSE(HasPhotoClip(dir / name)) << name;
        EXPECT_FALSE(LoadPhotoClipPicture(dir / name, 160, none)) << name;
        EXPECT_FALSE(OpenClipFrames(dir / name, true, 160)) << name;
    }
}

}  // namespace
}  // namespace hx::viewing
