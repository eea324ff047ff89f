#include <gtest/gtest.h>

#include <algorithm>

#include "fixtures/MediaImages.h"
#include "fixtures/TempDir.h"
#include "fixtures/TestJpeg.h"
#include "viewing/CaptureFacts.h"
#include "viewing/Exif.h"
#include "viewing/ExifFullText.h"
#include "formats/PictureCheck.h"
#include "viewing/SamplePhoto.h"

using namespace hx;
using namespace hx::viewing;

namespace {
bool readBuf(const std::string& data, ExifValues& v) {
    return ReadExif("BUF", reinterpret_cast<const std::uint8_t*>(data.data()), data.size(), v);
}

// A big-endian TIFF header with one directory; `entries` are 12-byte records.
std::string motorolaTiff(const std::string& entries, std::uint16_t count, const std::string& tail = {}) {
    std::string t = "MM";
    t += std::string("\x00\x2A\x00\x00\x00\x08", 6);
    t.push_back(static_cast<char>(count >> 8));
    t.push_back(static_cast<char>(count & 0xFF));
    return t + entries + std::string(4, '\0') + tail;
}
}  // namespace

TEST(Exif, ReadsTheCameraFromARealPhoto) {
    const std::string jpeg = hx::test::MakeTestJpeg(1, 1600, 1200);
    ExifValues v;
    ASSERT_TRUE(readBuf(jpeg.substr(0, 1024), v));  // the scan's window
    EXPECT_EQ(v.make, SamplePhotoMake(1));
    EXPECT_EQ(v.model, SamplePhotoModel(1));
    EXPECT_EQ(v.width, 1600);
    EXPECT_EQ(v.height, 1200);
    EXPECT_EQ(v.orientation, 1.0f);
    EXPECT_EQ(v.colorSpace, "sRGB");
    EXPECT_EQ(v.rawDate, SamplePhotoDate(1));
    std::string expected = SamplePhotoDate(1);
    expected[4] = expected[7] = '-';
    EXPECT_EQ(v.date, expected);

    hx::test::TempDir dir;
    hx::test::WriteFile(dir / "p.jpg", jpeg);
    ExifValues f;
    EXPECT_TRUE(ReadExifFile((dir / "p.jpg").string(), f));
    EXPECT_EQ(f.model, v.model);
    EXPECT_FALSE(ReadExifFile((dir / "missing.jpg").string(), f));
}

// EXIF that no container reader knows the way to (an AVI's chunk, a card's
// window): read from the TIFF header the bytes hold, in either byte order.
TEST(Exif, ATiffHeaderInBytesOfNoKnownContainer) {
    ExifValues v;
    const std::string intel = std::string("II*\0\x08\0\0\0\x01\0", 10) +
                              std::string("\x0F\x01\x02\0\x04\0\0\0ABC\0", 12) + std::string(4, '\0');
    readBuf(std::string("RIFF\0\0\0\0AVI LIST\0\0\0\0strd\0\0\0\0AVIF", 32) + intel, v);
    EXPECT_EQ(v.make, "ABC");
    const std::string make = std::string("\x01\x0F\x00\x02\x00\x00\x00\x04XYZ\0", 12);
    readBuf("junk" + motorolaTiff(make, 1), v);
    EXPECT_EQ(v.make, "XYZ");
    // Nothing to go on.
    EXPECT_FALSE(readBuf(std::string(600, 'x'), v));
    EXPECT_TRUE(v.make.empty());
    EXPECT_EQ(v.width, 0);
}

TEST(Exif, TheSizeOfAGif) {
    if (!hx::test::HaveTool("convert")) GTEST_SKIP() << "convert missing (scripts/install-deps.sh installs it)";
    hx::test::TempDir dir("hx-gif");
    ASSERT_EQ(hx::test::RunCommand("convert -size 320x240 plasma: '" + (dir / "a.gif").string() + "'"), 0);
    ExifValues v;
    EXPECT_TRUE(readBuf(hx::test::ReadFile(dir / "a.gif").substr(0, 1024), v));
    EXPECT_EQ(v.width, 320);
    EXPECT_EQ(v.height, 240);
}

TEST(Exif, OffsetsPastTheBufferReadNothing) {
    // A text entry whose value lies far outside, and a directory count that overruns.
    std::string e = std::string("\x01\x0F\x00\x02\x00\x00\x00\x20\x7F\xFF\xFF\xF0", 12);
    ExifValues v;
    EXPECT_FALSE(readBuf(motorolaTiff(e, 1), v));
    EXPECT_TRUE(v.make.empty());
    EXPECT_FALSE(readBuf(motorolaTiff(e, 0xFFFF), v));
    std::string huge = std::string("\x01\x0F\x00\x02\xFF\xFF\xFF\xFF\x00\x00\x00\x08", 12);
    EXPECT_FALSE(readBuf(motorolaTiff(huge, 1), v));
    EXPECT_FALSE(readBuf("Exif", v));
    EXPECT_FALSE(ReadExif("BUF", nullptr, 100, v));
}

TEST(Exif, ValueWords) {
    std::vector<std::string> lines = {"LightSource: 10", "MeteringMode: 255", "Flash: 25", "ColorSpace: -1",
                                      "Orientation: 6",  "ExposureProg: 9",   "Model: 10", "LightSource: x"};
    DescribeExifValues(lines);
    EXPECT_EQ(lines[0], "LightSource: Cloudy");
    EXPECT_EQ(lines[1], "MeteringMode: 255=Other");
    EXPECT_EQ(lines[2], "Flash: Auto, Fired");
    EXPECT_EQ(lines[3], "ColorSpace: Unknown");
    EXPECT_EQ(lines[4], "Orientation: Rotate 90CW");
    EXPECT_EQ(lines[5], "ExposureProg: 9");
    EXPECT_EQ(lines[6], "Model: 10");
    EXPECT_EQ(lines[7], "LightSource: x");
}

TEST(PictureCheck, FindsTheEndOfAPictureAndRejectsJunk) {
    const std::string jpeg = hx::test::MakeTestJpeg(3, 800, 600);
    std::string withTail = jpeg + std::string(70000, '\0') + "more";
    auto c = formats::CheckJpegBuffer(reinterpret_cast<const std::uint8_t*>(withTail.data()), withTail.size());
    EXPECT_TRUE(c.decodes);
    EXPECT_TRUE(c.complete);
    EXPECT_EQ(c.end, jpeg.size());
    EXPECT_EQ(c.width, 800);

    hx::test::TempDir dir;
    hx::test::WriteFile(dir / "t.jpg", withTail);
    auto f = formats::CheckJpegFile((dir / "t.jpg").string());
    EXPECT_TRUE(f.complete);
    EXPECT_EQ(f.end, jpeg.size());

    // Cut in the middle: a picture, but not complete.
    const std::string half = jpeg.substr(0, jpeg.size() / 2);
    c = formats::CheckJpegBuffer(reinterpret_cast<const std::uint8_t*>(half.data()), half.size());
    EXPECT_TRUE(c.decodes);
    EXPECT_FALSE(c.complete);
    // A header followed by garbage does not decode.
    std::string junk = jpeg.substr(0, 20);
    for (int i = 0; i < 50000; ++i) junk.push_back(static_cast<char>(i * 7919 % 251));
    c = formats::CheckJpegBuffer(reinterpret_cast<const std::uint8_t*>(junk.data()), junk.size());
    EXPECT_FALSE(c.decodes);
    EXPECT_FALSE(formats::CheckJpegBuffer(reinterpret_cast<const std::uint8_t*>(junk.data()), junk.size(), true).decodes);

    // The quick check needs no more than the headers, as the scan keeps them.
    hx::formats::JpegEndFinder walk;
    std::size_t headers = 0;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(jpeg.data());
    while (!walk.scanStarted() && headers < jpeg.size()) walk.feed(bytes + headers++, 1);
    c = formats::CheckJpegBuffer(bytes, headers, true);
    EXPECT_TRUE(c.decodes);
    EXPECT_FALSE(c.ranOut);
    // Headers cut short: no picture, and the check says it ran out.
    c = formats::CheckJpegBuffer(bytes, headers - 30, true);
    EXPECT_FALSE(c.decodes);
    EXPECT_TRUE(c.ranOut);
}

// The scan feeds a picture to the end finder in pieces of any size: where the
// pieces end must not change where the picture does, nor whether its data held
// a blank run no encoder writes.
TEST(PictureCheck, TheEndFinderSeesTheSameEndWhateverThePieces) {
    const std::string jpeg = hx::test::MakeTestJpeg(5, 1200, 900);
    const std::size_t sos = jpeg.find("\xFF\xDA");
    ASSERT_NE(sos, std::string::npos);
    const std::size_t middle = sos + (jpeg.size() - sos) / 2;
    const std::string gapped = jpeg.substr(0, middle) + std::string(1024, '\0') + jpeg.substr(middle);
    const std::string tail(3000, '\x5A');
    for (const std::size_t piece : {std::size_t{1}, std::size_t{63}, std::size_t{64}, std::size_t{65}, std::size_t{512},
                                    std::size_t{4096}, std::size_t{1} << 20}) {
        for (const std::string* picture : {&jpeg, &gapped}) {
            const std::string data = *picture + tail;
            hx::formats::JpegEndFinder walk;
            std::size_t at = 0;
            while (at < data.size() && !walk.done() && !walk.failed()) {
                const std::size_t n = std::min(piece, data.size() - at);
                at += walk.feed(reinterpret_cast<const std::uint8_t*>(data.data()) + at, n);
            }
            ASSERT_TRUE(walk.done()) << piece;
            EXPECT_EQ(walk.length(), picture->size()) << piece;
            EXPECT_TRUE(piece < 512 || walk.sawBlank() == (picture == &gapped)) << piece;
        }
    }
}

// The full information text: every tag the picture holds, the user comment too.
TEST(ExifFullText, EveryTagWithTheUserCommentAndNothingForNoPicture) {
    if (!hx::test::HaveTool("exiftool")) GTEST_SKIP() << "exiftool missing (scripts/install-deps.sh installs it)";
    hx::test::TempDir dir("hx-exiffull");
    const auto photo = dir / "a.jpg";
    hx::test::WriteFile(photo, hx::viewing::MakeSamplePhoto(2));
    ASSERT_EQ(hx::test::RunCommand("exiftool -q -overwrite_original -UserComment='Beach day' -Artist='Ann Smith' '" +
                                   photo.string() + "'"),
              0);
    const auto lines = hx::viewing::ExifFullText(photo);
    auto has = [&](const std::string& part) {
        return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.find(part) != std::string::npos; });
    };
    EXPECT_TRUE(has("Beach day"));
    EXPECT_TRUE(has("Ann Smith"));
    EXPECT_TRUE(has(hx::viewing::SamplePhotoModel(2)));
    hx::test::WriteFile(dir / "notes.txt", "no picture");
    EXPECT_TRUE(hx::viewing::ExifFullText(dir / "notes.txt").empty());
}

TEST(ExifText, CameraValuesAreCutAtNulValidTextAndNamedOnce) {
    using hx::viewing::CameraName;
    using hx::viewing::ShownText;
    EXPECT_EQ(ShownText(std::string("Nokia\0 2", 8)), "Nokia");
    EXPECT_EQ(ShownText(std::string("Trust.\0\0\0Gemini11", 18)), "Trust.");
    EXPECT_EQ(ShownText("  Canon  "), "Canon");
    EXPECT_EQ(ShownText("Caf\xE9 Kodak"), "Caf\xC3\xA9 Kodak") << "Latin-1 read as such";
    EXPECT_EQ(ShownText("\xC3\xA9t\xC3\xA9"), "\xC3\xA9t\xC3\xA9") << "UTF-8 kept";
    EXPECT_EQ(ShownText("A\x01" "B"), "AB");
    EXPECT_EQ(CameraName("OLYMPUS IMAGING CORP.", "E-510"), "OLYMPUS E-510");
    EXPECT_EQ(CameraName("NIKON CORPORATION", "NIKON D70"), "NIKON D70");
    EXPECT_EQ(CameraName("Canon", "Canon EOS 400D DIGITAL"), "Canon EOS 400D DIGITAL");
    EXPECT_EQ(CameraName("Apple", ""), "Apple");
    EXPECT_EQ(CameraName("", "iPhone 12"), "iPhone 12");
    EXPECT_EQ(hx::viewing::IsoDate("2009:01:01 08:00:00"), "2009-01-01 08:00:00");
    EXPECT_EQ(hx::viewing::IsoDate("garbage"), "garbage");
}

namespace {

using namespace std::string_literals;

// A JPEG whose EXIF holds these texts as they are, NULs and all: Make and
// Model in the first directory, the date in the EXIF one.
std::string JpegWithTexts(const std::string& make, const std::string& model, const std::string& date) {
    std::string tiff = "II*\0\x08\0\0\0"s;
    const auto le16 = [](std::uint32_t v) { return std::string{char(v & 0xFF), char(v >> 8 & 0xFF)}; };
    const auto le32 = [&](std::uint32_t v) { return le16(v & 0xFFFF) + le16(v >> 16); };
    // IFD0 at 8: three entries; the EXIF IFD after it; the texts after that.
    const std::uint32_t ifd0 = 8, exif = ifd0 + 2 + 3 * 12 + 4, texts = exif + 2 + 12 + 4;
    const auto entry = [&](std::uint32_t tag, std::uint32_t type, std::uint32_t count, std::uint32_t value) {
        return le16(tag) + le16(type) + le32(count) + le32(value);
    };
    tiff += le16(3) + entry(0x010F, 2, make.size(), texts) + entry(0x0110, 2, model.size(), texts + make.size()) +
            entry(0x8769, 4, 1, exif) + le32(0);
    tiff += le16(1) + entry(0x9003, 2, date.size(), texts + make.size() + model.size()) + le32(0);
    tiff += make + model + date;
    const std::string app1 = "Exif\0\0"s + tiff;
    const std::size_t length = app1.size() + 2;  // big-endian, itself included
    return "\xFF\xD8\xFF\xE1"s + char(length >> 8) + char(length & 0xFF) + app1 + "\xFF\xD9"s;
}

bool ValidUtf8(const std::string& s) {
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        const std::size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (n == 0 || i + n > s.size()) return false;
        for (std::size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += n;
    }
    return true;
}

}  // namespace

// Camera texts as cameras really write them: padded with NULs, in Latin-1, and
// dates in other orders or that are no dates at all.
TEST(ExifText, DatesAreReadInEveryWayCamerasWriteThemAndGarbageIsAbsent) {
    using hx::viewing::CaptureDate;
    EXPECT_EQ(CaptureDate("1998:01:06 10:11:12"), "1998:01:06 10:11:12");
    EXPECT_EQ(CaptureDate("1998-01-06T10:11:12+01:00"), "1998:01:06 10:11:12");
    EXPECT_EQ(CaptureDate("1998:01:06 10:11:12.345Z"), "1998:01:06 10:11:12");
    EXPECT_EQ(CaptureDate(std::string("06-01-1998\0\0\0\0\0\0\0\0\0", 19)), "1998:01:06 00:00:00");
    EXPECT_EQ(CaptureDate("12/25/2003 08:00:00"), "2003:12:25 08:00:00") << "the month first where the day cannot be";
    EXPECT_EQ(CaptureDate("1998:01:06"), "1998:01:06 00:00:00");
    for (const char* bad : {"2\x9e" "08-09-08 09:42:29", "0000:00:00 00:00:00", "    :  :     :  :  ", "", "2008:13:01 00:00:00",
                            "2008:02:01 25:00:00", "hello"})
        EXPECT_EQ(CaptureDate(bad), "") << bad;

    hx::test::TempDir dir("hx-texts");
    const struct {
        std::string make, model, date, wantMake, wantDate;
    } cases[] = {
        {"Caf\xE9\0junk"s, "X1\0"s, "06-01-1998\0\0\0\0\0\0\0\0\0\0"s, "Caf\xC3\xA9", "1998-01-06 00:00:00"},
        {"NIKON\0"s, "E990\0"s, "2\x9e" "08-09-08 09:42:29\0"s, "NIKON", ""},
        {"Canon\0"s, "EOS\0"s, "2024:05:01 10:00:00\0"s, "Canon", "2024-05-01 10:00:00"},
    };
    int n = 0;
    for (const auto& c : cases) {
        const std::string jpeg = JpegWithTexts(c.make, c.model, c.date);
        hx::viewing::ExifValues v;
        hx::viewing::ReadExif("BUF", reinterpret_cast<const std::uint8_t*>(jpeg.data()), jpeg.size(), v);
        EXPECT_EQ(v.make, c.wantMake);
        EXPECT_EQ(hx::viewing::IsoDate(v.rawDate), c.wantDate);
        // What the command line prints is text: no NUL, valid UTF-8.
        const auto file = dir / ("t" + std::to_string(n++) + ".jpg");
        hx::test::WriteFile(file, jpeg);
        std::string out;
        hx::test::RunCommand(hx::test::CliCommand() + " exif '" + file.string() + "' --full", &out);
        EXPECT_EQ(out.find('\0'), std::string::npos) << out;
        EXPECT_TRUE(ValidUtf8(out)) << out;
        EXPECT_NE(out.find("Make: " + c.wantMake), std::string::npos) << out;
    }
}

TEST(CaptureFacts, DatesAndCamerasInsideHeifWebpAndMovies) {
    for (const char* tool : {"convert", "exiftool", "ffmpeg"})
        if (!hx::test::HaveTool(tool)) GTEST_SKIP() << tool << " missing";
    hx::test::TempDir dir("hx-capture");
    const std::string d = dir.path().string();
    ASSERT_EQ(hx::test::RunCommand("convert -size 64x48 plasma: '" + d + "/a.jpg' && convert '" + d + "/a.jpg' '" + d +
                                   "/a.heic' && convert '" + d + "/a.jpg' '" + d + "/a.webp'"), 0);
    for (const char* name : {"a.heic", "a.webp"})
        ASSERT_EQ(hx::test::RunCommand("exiftool -q -overwrite_original -Make=Nokia '-Model=Nokia 7 plus' "
                                       "'-DateTimeOriginal=2021:06:01 10:20:30' '" + d + "/" + name + "'"), 0);
    for (const char* name : {"a.heic", "a.webp"}) {
        const CaptureFacts facts = ReadCaptureFacts(dir.path() / name);
        EXPECT_EQ(facts.rawDate, "2021:06:01 10:20:30") << name;
        EXPECT_EQ(CameraName(facts.make, facts.model), "Nokia 7 plus") << name;
    }
    // A movie's creation time, from its movie header (version 0 boxes, MP4 and QuickTime).
    for (const char* name : {"b.mp4", "b.mov"}) {
        ASSERT_EQ(hx::test::RunCommand("ffmpeg -loglevel error -f lavfi -i testsrc=size=64x48:rate=5 -t 1 "
                                       "-metadata creation_time=2021-06-02T11:22:33Z '" + d + "/" + name + "'"), 0);
        EXPECT_EQ(ReadCaptureFacts(dir.path() / name).rawDate, "2021:06:02 11:22:33") << name;
    }
    // No date at all, or a movie header that lies about its size: nothing, and no hang.
    hx::test::WriteFile(dir.path() / "c.mp4", std::string("\0\0\0\x18" "ftypisom\0\0\0\0isom" "\xff\xff\xff\xff" "moov", 32));
    EXPECT_EQ(ReadCaptureFacts(dir.path() / "c.mp4").rawDate, "");
    EXPECT_EQ(QuickTimeDate(0), "");
    EXPECT_EQ(QuickTimeDate(3705477753ull), "2021:06:02 11:22:33");
}

// The moment of the shot from wherever the file keeps it, and the original's
// date before the other dates a file may carry.
TEST(CaptureFacts, TheOriginalsDateFromEveryPlaceCamerasKeepIt) {
    for (const char* tool : {"convert", "exiftool"})
        if (!hx::test::HaveTool(tool)) GTEST_SKIP() << tool << " missing";
    hx::test::TempDir dir("hx-dates");
    const std::string d = dir.path().string() + "/";
    ASSERT_EQ(hx::test::RunCommand("convert -size 64x48 plasma: '" + d + "a.jpg' && convert '" + d + "a.jpg' '" + d +
                                   "a.png' && convert '" + d + "a.jpg' '" + d + "a.tif'"), 0);
    const struct {
        const char* name;
        const char* from;  // the picture it is made of
        const char* tags;  // as exiftool writes them
        const char* want;
    } cases[] = {
        // Saved, digitized and taken at three moments: the shot's.
        {"all.jpg", "a.jpg",
         "'-ModifyDate=2020:03:03 03:03:03' '-CreateDate=2020:02:02 02:02:02' '-DateTimeOriginal=2020:01:01 01:01:01'",
         "2020:01:01 01:01:01"},
        {"saved.jpg", "a.jpg", "'-ModifyDate=2020:03:03 03:03:03'", "2020:03:03 03:03:03"},
        {"digitized.jpg", "a.jpg", "'-ModifyDate=2020:03:03 03:03:03' '-CreateDate=2020:02:02 02:02:02'",
         "2020:02:02 02:02:02"},
        // Only in XMP, as editors and some phones keep it.
        {"xmp.jpg", "a.jpg", "'-XMP-exif:DateTimeOriginal=2019:05:06 07:08:09+02:00'", "2019:05:06 07:08:09"},
        {"both.jpg", "a.jpg", "'-EXIF:ModifyDate=2020:03:03 03:03:03' '-XMP-exif:DateTimeOriginal=2019:05:06 07:08:09'",
         "2019:05:06 07:08:09"},
        {"a.png", "a.png", "'-DateTimeOriginal=2018:04:05 06:07:08'", "2018:04:05 06:07:08"},
        {"a.tif", "a.tif", "'-ModifyDate=2020:03:03 03:03:03' '-DateTimeOriginal=2017:01:02 03:04:05'",
         "2017:01:02 03:04:05"},
    };
    for (const auto& c : cases) {
        std::filesystem::copy_file(dir / c.from, dir / ("made-" + std::string(c.name)));
        ASSERT_EQ(hx::test::RunCommand("exiftool -q -overwrite_original " + std::string(c.tags) + " '" + d + "made-" + c.name +
                                       "'"), 0) << c.name;
        const auto file = dir / ("made-" + std::string(c.name));
        EXPECT_EQ(ReadCaptureFacts(file).rawDate, c.want) << c.name;
        ExifValues v;
        ReadExifFile(file.string(), v);
        EXPECT_EQ(v.rawDate, c.want) << c.name << ": the summary reads what the recovery sorts by";
        EXPECT_EQ(v.width, 64) << c.name;
    }
}
