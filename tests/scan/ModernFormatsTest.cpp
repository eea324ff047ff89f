// Files of today's cameras and phones, and of formats whose layout says
// where they end, come back byte-identical from a formatted card and from a
// medium with no file system at all.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "fixtures/CardFixture.h"
#include "fixtures/SampleFiles.h"
#include "fixtures/TestJpeg.h"
#include "output/ScanCommand.h"
#include "scan/ScanState.h"
#include "formats/SignatureTable.h"

namespace hx::scan {
namespace {

using test::PatternBytes;

std::string box(const std::string& type, const std::string& payload) {
    const auto size = static_cast<std::uint32_t>(payload.size() + 8);
    std::string b = {char(size >> 24), char(size >> 16), char(size >> 8), char(size)};
    return b + type + payload;
}

// name -> bytes of one file of each kind.
std::map<std::string, std::string> samples() {
    return {
        {"IMG_0001.HEIC", test::MakeHeic(41000, 1)},
        {"IMG_0002.AVIF", test::MakeIsoFile("avif", {{"meta", std::string(40, 'm')}, {"mdat", PatternBytes(23000, 2)}})},
        {"IMG_0003.CR3", test::MakeCr3(52000, 3)},
        {"MVI_0004.MP4", test::MakeMp4(70001, 4)},
        {"MVI_0005.MOV", test::MakeIsoFile("qt  ", {{"mdat", PatternBytes(33000, 5)}, {"moov", PatternBytes(900, 6)}})},
        {"OLD_0006.MOV", box("wide", "") + box("mdat", PatternBytes(27000, 7)) + box("moov", PatternBytes(500, 8))},
        {"PIC_0007.WEBP", test::MakeRiff("WEBP", "VP8 ", 19001, 9)},
        {"PIC_0008.JXL", std::string("\0\0\0\x0CJXL \r\n\x87\n", 12) + box("ftyp", "jxl \0\0\0\0jxl ") +
                             box("jxlc", PatternBytes(15000, 10))},
        {"PIC_0009.PNG", test::MakePng(90, 70, 11)},
        {"PIC_0010.GIF", test::MakeGif(120, 90, 12)},
        {"DOCS0011.ZIP", test::MakeZip({{"a.txt", PatternBytes(9000, 13), false}, {"b.txt", std::string(30000, 'b')}})},
        {"DOC_0012.PDF", test::MakePdf(25000, 14)},
        {"PIC_0013.BMP", test::MakeBmp(90, 60, 15)},
        {"DSCF0014.RAF", test::MakeRaf(test::MakeTestJpeg(16, 160, 120), 60001, 17)},
    };
}

// Each sample's bytes are among the found files.
void expectAllBack(const std::map<std::string, std::string>& files, const std::filesystem::path& cache,
                   const ScanContext& ctx) {
    std::set<std::string> found;
    for (const auto& name : ctx.FoundNames()) found.insert(test::ReadFile(cache / name));
    for (const auto& [name, bytes] : files) EXPECT_TRUE(found.count(bytes)) << name << " did not come back whole";
}

// The files one after another at 4 KiB boundaries on a medium with no file
// system, other data between them; the whole medium scanned.
void expectAllBackWithoutFileSystem(const std::map<std::string, std::string>& files, const std::filesystem::path& image,
                                    const std::filesystem::path& cache, test::ScriptedUi& ui) {
    std::string medium = PatternBytes(64 * 1024, 90);
    for (const auto& [name, bytes] : files) {
        medium += bytes;
        medium.resize((medium.size() + 4095) / 4096 * 4096 + 8192, '\0');
    }
    medium += PatternBytes(64 * 1024, 91);
    test::WriteFile(image, medium);
    std::filesystem::remove_all(cache);
    output::ScanRequest req = test::WholeScanRequest(image, cache);
    output::ScanCommand command(ui, req);
    ASSERT_EQ(command.run(), ScanOutcome::Finished);
    expectAllBack(files, cache, command.context());
}

class ModernFormats : public test::CardFixture {
protected:
    // The files on a card that is then quick-formatted, and one after another
    // on a medium with no file system: each comes back whole from both.
    void expectBackFromFormattedCardAndNoFileSystem(const std::map<std::string, std::string>& files) {
        makeCard(64, 8, 16);
        int n = 0;
        for (const auto& [name, bytes] : files)
            ASSERT_TRUE(test::FatPutFile(image, "F" + std::to_string(n++) + name, bytes));
        ASSERT_TRUE(test::QuickFormatCard(image, 8, 16));
        auto ctx = context(formats::EveryTypeSelection());
        ASSERT_EQ(ScanDisk(ctx), ScanOutcome::Finished);
        expectAllBack(files, cache, ctx);
        expectAllBackWithoutFileSystem(files, image, cache, ui);
    }
};

TEST_F(ModernFormats, EveryKindComesBackFromAFormattedCardAndFromNoFileSystem) {
    expectBackFromFormattedCardAndNoFileSystem(samples());
}

// Files written by the tools that make them: heif-enc (HEIC, AVIF), cwebp
// (lossy and lossless WebP), img2webp (an animation), ImageMagick (PNG, GIF).
TEST_F(ModernFormats, FilesMadeByTheirOwnToolsComeBackFromAFormattedCardAndFromNoFileSystem) {
    for (const char* tool : {"heif-enc", "cwebp", "img2webp", "convert"})
        if (!test::HaveTool(tool)) GTEST_SKIP() << tool << " missing (scripts/install-deps.sh installs it)";
    const auto src = dir / "src";
    std::filesystem::create_directories(src);
    test::WriteFile(src / "a.jpg", test::MakeTestJpeg(61, 640, 480));
    test::WriteFile(src / "b.jpg", test::MakeTestJpeg(62, 480, 360));
    const std::string s = "'" + src.string() + "/";
    for (const std::string& command :
         {"heif-enc -q 60 " + s + "a.jpg' -o " + s + "a.heic'", "heif-enc -A -q 60 " + s + "b.jpg' -o " + s + "b.avif'",
          "cwebp -quiet -q 80 " + s + "a.jpg' -o " + s + "a.webp'",
          "cwebp -quiet -lossless " + s + "b.jpg' -o " + s + "b.webp'",
          "convert " + s + "a.jpg' " + s + "a.png'", "convert " + s + "a.jpg' -negate " + s + "a2.png'",
          "convert " + s + "b.jpg' -colors 64 " + s + "b.gif'",
          "img2webp -loop 0 -lossy " + s + "a.png' " + s + "a2.png' -o " + s + "anim.webp'"})
        ASSERT_EQ(test::RunCommand(command), 0) << command;
    std::map<std::string, std::string> files;
    for (const char* name : {"a.heic", "b.avif", "a.webp", "b.webp", "anim.webp", "a.png", "b.gif"})
        files[name] = test::ReadFile(src / name);
    expectBackFromFormattedCardAndNoFileSystem(files);
}

// Movies as ffmpeg writes them: MP4 with its index at the end and at the
// front (as phones and web tools do), QuickTime MOV, 3GP, and M4V.
TEST_F(ModernFormats, MoviesMadeByFfmpegComeBackFromAFormattedCardAndFromNoFileSystem) {
    if (!test::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg missing (scripts/install-deps.sh installs it)";
    const auto src = dir / "movies";
    std::filesystem::create_directories(src);
    const std::string in = "ffmpeg -v error -f lavfi -i testsrc=duration=2:size=320x240:rate=15 ";
    const std::string s = " '" + src.string() + "/";
    for (const std::string& command :
         {in + "-c:v mpeg4 -q:v 5" + s + "a.mp4'", in + "-c:v mpeg4 -q:v 7 -movflags +faststart" + s + "b.mp4'",
          in + "-c:v mjpeg -q:v 9" + s + "c.mov'", in + "-c:v h263 -s 176x144" + s + "d.3gp'",
          in + "-c:v mpeg4 -q:v 9 -f ipod" + s + "e.m4v'", in + "-c:v h263 -s 176x144 -f 3g2" + s + "f.3g2'"})
        ASSERT_EQ(test::RunCommand(command), 0) << command;
    std::map<std::string, std::string> files;
    for (const char* name : {"a.mp4", "b.mp4", "c.mov", "d.3gp", "e.m4v", "f.3g2"}) files[name] = test::ReadFile(src / name);
    expectBackFromFormattedCardAndNoFileSystem(files);
}

// The same photo opened by each kind of first segment that encoders, scanners
// and editors write: the JPEG encoder's output with its APPn and COM segments
// taken out, and the one segment of the kind put in their place.
std::string WithFirstSegment(const std::string& jpeg, const std::string& segment) {
    std::string rest;  // the tables, the frame and the picture data
    std::size_t at = 2;
    while (at + 4 <= jpeg.size() && static_cast<unsigned char>(jpeg[at]) == 0xFF) {
        const auto code = static_cast<unsigned char>(jpeg[at + 1]);
        const std::size_t length = static_cast<unsigned char>(jpeg[at + 2]) << 8 | static_cast<unsigned char>(jpeg[at + 3]);
        if (code == 0xDA) break;
        if (!((code >= 0xE0 && code <= 0xEF) || code == 0xFE)) rest += jpeg.substr(at, length + 2);
        at += length + 2;
    }
    rest += jpeg.substr(at);
    return "\xFF\xD8" + segment + rest;
}

std::string Segment(unsigned char code, const std::string& body) {
    const std::size_t length = body.size() + 2;
    return std::string{char(0xFF), char(code), char(length >> 8), char(length & 0xFF)} + body;
}

TEST_F(ModernFormats, JpegsOfEveryFirstSegmentComeBack) {
    using namespace std::string_literals;
    const std::string xmp = "http://ns.adobe.com/xap/1.0/\0"s + "<?xpacket begin=''?><x:xmpmeta xmlns:x='adobe:ns:meta/'>" +
                            std::string(3000, ' ') + "</x:xmpmeta><?xpacket end='w'?>";
    const std::pair<const char*, std::string> kinds[] = {
        {"JFIF", Segment(0xE0, "JFIF\0\1\1\0\0\1\0\1\0\0"s)},
        {"EXIF", ""},  // the encoder's own, EXIF first
        {"ICC", Segment(0xE2, "ICC_PROFILE\0\1\1"s + PatternBytes(500, 3))},
        {"DQT", ""},   // nothing before the tables, as when told to strip everything
        {"COM", Segment(0xFE, "Scanned with a flatbed")},
        {"ADOBE", Segment(0xEE, "Adobe\0\x64\0\0\0\0\1"s)},
        {"XMP", Segment(0xE1, xmp)},
    };
    std::map<std::string, std::string> files;
    int n = 0;
    for (const auto& [kind, segment] : kinds)
        for (int k = 0; k < 3; ++k, ++n) {
            const std::string photo = test::MakeTestJpeg(70 + n, 320 + 16 * k, 240);
            files[std::string(kind) + std::to_string(k) + ".JPG"] =
                std::string(kind) == "EXIF" ? photo : WithFirstSegment(photo, segment);
        }
    expectBackFromFormattedCardAndNoFileSystem(files);
}

// Under DeepScan every sector is looked at: one inside a clip's index that
// starts with the bytes of an old movie signature (00 15, and "mdat" in its
// first KiB, as a table of chunk offsets of about 1.4 MB followed by the
// media data's header has) starts no file, and the clip is not cut there;
// after its media data a clip starts one, whatever the bytes between read as.
TEST_F(ModernFormats, ASignatureInsideAClipsIndexStartsNoFileUnderDeepScan) {
    makeCard(64, 8, 16);
    std::string tables;
    for (std::uint32_t k = 0; tables.size() < 3000; ++k) {
        const std::uint32_t offset = 0x15AE00 + k * 0x1000;
        tables += {char(offset >> 24), char(offset >> 16), char(offset >> 8), char(offset)};
    }
    const std::string ftyp = box("ftyp", std::string("isom\0\0\x02\0isomiso2avc1mp41", 24));
    // The index's tables run on over a sector's start, and its end (the media data's header) is close after.
    const std::size_t pad = 2048 - ftyp.size() - 3 * 8;  // the headers of moov, free and stco
    const std::string moov = box("moov", box("free", PatternBytes(pad, 3)) + box("stco", tables.substr(0, 640)));
    const std::string clip = ftyp + moov + box("mdat", PatternBytes(60000, 4));
    ASSERT_EQ(clip.compare(2048, 2, std::string("\0\x15", 2)), 0);
    ASSERT_NE(clip.find("mdat", 2048), std::string::npos);
    ASSERT_LT(clip.find("mdat", 2048), 2048u + 1024);
    // After its media data, bytes that read as a box of 3 GB (what follows a
    // clip on a card is any other file's), then another clip: found too.
    const std::string other = "\xD2\xE4\xF2\xFFxs,_" + PatternBytes(9000 - (clip.size() + 9008) % 512, 5);
    const std::string next = test::MakeIsoFile("qt  ", {{"mdat", PatternBytes(33000, 6)}, {"moov", PatternBytes(900, 7)}});
    ASSERT_TRUE(test::FatPutFile(image, "MVI_0001.MP4", clip + other + next));
    ASSERT_TRUE(test::QuickFormatCard(image, 8, 16));
    auto ctx = context(formats::EveryTypeSelection());
    ctx.options.deepScan = true;
    ASSERT_EQ(ScanDisk(ctx), ScanOutcome::Finished);
    std::set<std::string> found;
    for (const auto& name : ctx.FoundNames()) found.insert(test::ReadFile(cache / name));
    const auto startsWith = [&](const std::string& bytes) {
        return std::any_of(found.begin(), found.end(), [&](const std::string& f) { return f.rfind(bytes, 0) == 0; });
    };
    EXPECT_TRUE(startsWith(clip)) << "the clip was cut";
    EXPECT_TRUE(startsWith(next)) << "the clip after it was not found";
    std::size_t movies = 0;
    for (const auto& f : ctx.found) movies += f.extension == ".mp4" || f.extension == ".mov";
    EXPECT_EQ(movies, 2u);
}

TEST(ModernRows, KeptApartFromTheOriginalTableAndChosenByExtension) {
    const std::size_t original = formats::BuildSignatureTable("all").size();
    EXPECT_EQ(original, 84u);
    const formats::SignatureTable every = formats::BuildSignatureTable(formats::EveryTypeSelection());
    EXPECT_EQ(every.size(), original + static_cast<std::size_t>(formats::ModernRowCount()));
    const formats::SignatureTable heic = formats::BuildSignatureTable(SelectionForTypes({"heic", "cr3"}));
    ASSERT_EQ(heic.size(), 3u);
    for (const auto& row : heic) EXPECT_EQ(row.SignatureOffset, 4);
}

}  // namespace
}  // namespace hx::scan
