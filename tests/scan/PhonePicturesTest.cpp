// Phone pictures of more than one picture come back whole, once: motion
// photos with their clip (Google's two forms and Samsung's) and MPF pictures
// with their second picture or gain map, from a formatted card, by the plain
// scan and the DeepScan, and from a medium with no file system. A photo
// whose clip or second picture is gone comes back as its first picture,
// marked.
#include <gtest/gtest.h>

#include <set>

#include "fixtures/CardFixture.h"
#include "fixtures/PhonePictures.h"
#include "fixtures/TestJpeg.h"
#include "formats/PhotoParts.h"
#include "output/ScanCommand.h"
#include "scan/ScanState.h"

namespace hx::scan {
namespace {

using formats::PartKind;

class PhonePictures : public test::CardFixture {
protected:
    void SetUp() override {
        test::CardFixture::SetUp();
        if (IsSkipped()) return;
        for (const char* tool : {"ffmpeg", "exiftool", "ffprobe"})
            if (!test::HaveTool(tool)) GTEST_SKIP() << tool << " missing (scripts/install-deps.sh installs it)";
        clip1 = test::MakeClip(1.5, 1);
        clip2 = test::MakeClip(2, 2);
        if (clip1.empty() || clip2.empty()) GTEST_SKIP() << "ffmpeg has no H.264";
        const std::string gain = test::MakeTestJpeg(80, 480, 360, 80);
        second = test::MakeTestJpeg(76, 640, 480);
        files = {
            {"MVIMG_0001.jpg", test::MicroVideoPhoto(test::MakeTestJpeg(71, 1024, 768), clip1)},
            {"PXL_0002.MP.jpg", test::ContainerMotionPhoto(test::MakeTestJpeg(72, 1024, 768), clip2)},
            {"SAM_0003.jpg", test::SamsungMotionPhoto(test::MakeTestJpeg(73, 1024, 768), clip1)},
            {"SAM_0004.jpg", test::SamsungMotionPhoto(test::MakeTestJpeg(74, 800, 600), clip2, false)},
            {"MPF_0005.jpg", test::MpfPhoto(test::MakeTestJpeg(75, 1024, 768), second, false)},
            {"HDR_0006.jpg", test::MpfPhoto(test::MakeTestJpeg(77, 1024, 768), gain, true, true)},
            {"IMG_0007.jpg", test::MakeTestJpeg(78, 1024, 768)},
        };
        kinds = {{"MVIMG_0001.jpg", {PartKind::Picture, PartKind::Clip}},
                 {"PXL_0002.MP.jpg", {PartKind::Picture, PartKind::Clip}},
                 {"SAM_0003.jpg", {PartKind::Picture, PartKind::Clip, PartKind::Trailer}},
                 {"SAM_0004.jpg", {PartKind::Picture, PartKind::Clip}},
                 {"MPF_0005.jpg", {PartKind::Picture, PartKind::SecondPicture}},
                 {"HDR_0006.jpg", {PartKind::Picture, PartKind::GainMap}},
                 {"IMG_0007.jpg", {}}};
    }

    // Every file comes back byte-identical with its parts, and nothing else is found.
    void expectEachWholeOnce(const ScanContext& ctx) {
        std::map<std::string, const FoundFile*> byBytes;
        for (const FoundFile& f : ctx.found) byBytes[test::ReadFile(cache / f.name)] = &f;
        for (const auto& [name, bytes] : files) {
            SCOPED_TRACE(name);
            const auto it = byBytes.find(bytes);
            ASSERT_NE(it, byBytes.end()) << "not back whole";
            std::vector<PartKind> got;
            for (const formats::PhotoPart& p : it->second->parts) got.push_back(p.kind);
            EXPECT_EQ(got, kinds[name]);
            EXPECT_TRUE(it->second->partsMissing.empty());
            if (got.size() > 1) EXPECT_EQ(it->second->parts.back().end(), bytes.size());
        }
        EXPECT_EQ(ctx.found.size(), files.size()) << "a clip or second picture was also found on its own";
    }

    // A photo written in two pieces: the first `first` bytes of it, and the rest.
    struct Split {
        std::string name, bytes;
        std::size_t first;
    };

    // The photos written first-free on the card (after a small one, lest the
    // folder's cluster take one of the holes) into holes of older files,
    // every other one deleted: for each a hole for its first piece, and one
    // 3 MB on for the rest of it. Then the card is quick-formatted.
    void writeInTwoPieces(const std::vector<Split>& phones) {
        ASSERT_TRUE(test::FatPutFirstFree(image, "DCIM/IMG_0010.jpg", test::MakeTestJpeg(84, 320, 240)));
        int n = 0;
        for (const Split& phone : phones) {
            const std::size_t rest = (phone.bytes.size() - phone.first + 4095) / 4096 * 4096;
            const std::string k = std::to_string(n++);
            ASSERT_TRUE(test::FatPutFirstFree(image, "OLD/A" + k + ".BIN", test::PatternBytes(phone.first, 10 + n)));
            ASSERT_TRUE(test::FatPutFirstFree(image, "OLD/B" + k + ".BIN", test::PatternBytes(3 << 20, 20 + n)));
            ASSERT_TRUE(test::FatPutFirstFree(image, "OLD/C" + k + ".BIN", test::PatternBytes(rest, 30 + n)));
            ASSERT_TRUE(test::FatPutFirstFree(image, "OLD/D" + k + ".BIN", test::PatternBytes(1 << 20, 40 + n)));
        }
        for (int k = 0; k < n; ++k)
            for (const char* hole : {"OLD/A", "OLD/C"}) ASSERT_TRUE(test::FatDelete(image, hole + std::to_string(k) + ".BIN"));
        for (const Split& phone : phones) {
            ASSERT_TRUE(test::FatPutFirstFree(image, "DCIM/" + phone.name, phone.bytes));
            ASSERT_TRUE(test::InPieces(test::FatClustersOf(image, "DCIM/" + phone.name))) << phone.name;
        }
        ASSERT_TRUE(test::QuickFormatCard(image, 8, 32));
    }

    // The scan and the DeepScan give each back whole, from its two pieces,
    // with all its parts, and nothing of it also on its own.
    void expectEachWholeFromTwoPieces(const std::vector<Split>& phones) {
        for (const bool deep : {false, true}) {
            SCOPED_TRACE(deep ? "DeepScan" : "scan");
            output::ScanRequest request = test::WholeScanRequest(image, cache / (deep ? "deep" : "plain"));
            request.options.deepScan = deep;
            output::ScanCommand command(ui, request);
            ASSERT_EQ(command.run(), ScanOutcome::Finished);
            std::map<std::string, const FoundFile*> byBytes;
            for (const FoundFile& f : command.context().found) byBytes[test::ReadFile(request.cacheFolder / f.name)] = &f;
            for (const Split& phone : phones) {
                SCOPED_TRACE(phone.name);
                const auto it = byBytes.find(phone.bytes);
                ASSERT_NE(it, byBytes.end()) << "not back whole";
                EXPECT_TRUE(it->second->partsMissing.empty());
                EXPECT_EQ(it->second->parts.back().end(), phone.bytes.size());
                EXPECT_EQ(it->second->pieces, 2);
            }
            EXPECT_EQ(command.context().found.size(), phones.size() + 1) << "a piece was also found on its own";
        }
    }

    std::string clip1, clip2, second;
    std::map<std::string, std::string> files;
    std::map<std::string, std::vector<PartKind>> kinds;
};

TEST_F(PhonePictures, EachComesBackWholeOnceFromAFormattedCardByTheScanAndTheDeepScan) {
    makeCard(64, 1, 32);
    for (const auto& [name, bytes] : files) ASSERT_TRUE(test::FatPutFile(image, name, bytes));
    ASSERT_TRUE(test::QuickFormatCard(image, 1, 32));
    for (const bool deep : {false, true}) {
        SCOPED_TRACE(deep ? "DeepScan" : "scan");
        std::filesystem::remove_all(cache);
        std::filesystem::create_directories(cache);
        auto ctx = context(formats::EveryTypeSelection());
        ctx.options.deepScan = deep;
        ASSERT_EQ(ScanDisk(ctx), ScanOutcome::Finished);
        expectEachWholeOnce(ctx);
    }
    // What is inside is what the tools read: the clip by ffprobe, the index by exiftool.
    auto ctx = context(formats::EveryTypeSelection());
    ASSERT_EQ(ScanDisk(ctx), ScanOutcome::Finished);
    for (const FoundFile& f : ctx.found) {
        if (f.parts.size() < 2) continue;
        const std::string bytes = test::ReadFile(cache / f.name);
        if (f.parts[1].kind == PartKind::Clip) {
            test::WriteFile(dir / "inside.mp4", bytes.substr(f.parts[1].offset, f.parts[1].length));
            std::string out;
            test::RunCommand("ffprobe -v error -show_entries format=duration -of csv=p=0 '" + (dir / "inside.mp4").string() + "'", &out);
            EXPECT_GT(std::atof(out.c_str()), 1.0) << f.name;
        } else {
            std::string out;
            test::RunCommand("exiftool -s3 -MPF:NumberOfImages '" + (cache / f.name).string() + "'", &out);
            EXPECT_EQ(out, "2\n") << f.name;
        }
    }
}

TEST_F(PhonePictures, EachComesBackWholeOnceFromAMediumWithNoFileSystem) {
    // Junk of a few sectors between them: the files start where a unit starts, or not at all.
    std::string medium = test::PatternBytes(64 * 1024, 90);
    for (const auto& [name, bytes] : files) {
        medium += bytes;
        medium.resize((medium.size() + 4095) / 4096 * 4096, '\0');
        medium += test::PatternBytes(12 * 1024, static_cast<std::uint32_t>(medium.size()));
    }
    test::WriteFile(image, medium + test::PatternBytes(64 * 1024, 91));
    output::ScanCommand command(ui, test::WholeScanRequest(image, cache));
    ASSERT_EQ(command.run(), ScanOutcome::Finished);
    expectEachWholeOnce(command.context());
    // The scan state keeps the parts for the window and a later recover.
    ScanContext saved(ui);
    ASSERT_EQ(LoadScanState(cache, saved), ScanStateLoad::Loaded);
    ASSERT_EQ(saved.found.size(), command.context().found.size());
    for (std::size_t i = 0; i < saved.found.size(); ++i) {
        const FoundFile &a = saved.found[i], &b = command.context().found[i];
        ASSERT_EQ(a.parts.size(), b.parts.size()) << a.name;
        for (std::size_t p = 0; p < a.parts.size(); ++p)
            EXPECT_TRUE(a.parts[p].kind == b.parts[p].kind && a.parts[p].offset == b.parts[p].offset &&
                        a.parts[p].length == b.parts[p].length);
        if (a.parts.size() > 1 && a.parts[1].kind == PartKind::Clip)
            EXPECT_EQ(PartsText(a, cache / a.name), a.parts[1].length == clip1.size() ? "motion photo, 1.5 s clip"
                                                                                        : "motion photo, 2.0 s clip");
        if (a.parts.size() > 1 && a.parts[1].kind == PartKind::GainMap) EXPECT_EQ(PartsText(a, cache / a.name), "with gain map");
    }
}

// Inside other data, off any unit's start, the DeepScan's search at every
// byte takes each whole: its second picture or clip is no find of its own.
TEST_F(PhonePictures, InsideOtherDataTheDeepScanTakesEachWhole) {
    std::string medium = test::PatternBytes(64 * 1024, 95);
    for (const char* name : {"MPF_0005.jpg", "HDR_0006.jpg", "SAM_0003.jpg"}) {
        medium += test::PatternBytes(700, static_cast<std::uint32_t>(medium.size())) + files[name];
        medium += test::PatternBytes(9000, static_cast<std::uint32_t>(medium.size()));
    }
    test::WriteFile(image, medium + test::PatternBytes(64 * 1024, 96));
    output::ScanRequest req = test::WholeScanRequest(image, cache);
    req.options.deepScan = true;
    output::ScanCommand command(ui, req);
    ASSERT_EQ(command.run(), ScanOutcome::Finished);
    std::map<std::string, int> found;
    for (const FoundFile& f : command.context().found) ++found[test::ReadFile(cache / f.name)];
    for (const char* name : {"MPF_0005.jpg", "HDR_0006.jpg", "SAM_0003.jpg"})
        EXPECT_EQ(found[files[name]], 1) << name << " is not back whole, once";
    for (const auto& [bytes, n] : found)
        for (const char* name : {"MPF_0005.jpg", "HDR_0006.jpg", "SAM_0003.jpg"})
            EXPECT_TRUE(bytes == files[name] || files[name].find(bytes) == std::string::npos)
                << "a part of " << name << " was found on its own (" << bytes.size() << " bytes)";
}

TEST_F(PhonePictures, APhotoWhosePartIsGoneComesBackAsItsFirstPictureMarked) {
    // The clip's and the second picture's bytes overwritten by another file after the card was formatted.
    const std::string motion = files["MVIMG_0001.jpg"], mpf = files["MPF_0005.jpg"];
    const std::string first = motion.substr(0, motion.size() - clip1.size());
    const std::string mpfFirst = mpf.substr(0, mpf.size() - second.size());
    std::string medium = test::PatternBytes(8192, 1) + first + test::PatternBytes(clip1.size(), 2);
    medium.resize((medium.size() + 4095) / 4096 * 4096, '\0');
    medium += mpfFirst + test::PatternBytes(mpf.size() - mpfFirst.size(), 3);
    medium.resize((medium.size() + 4095) / 4096 * 4096 + 8192, '\0');
    test::WriteFile(image, medium);
    output::ScanCommand command(ui, test::WholeScanRequest(image, cache));
    ASSERT_EQ(command.run(), ScanOutcome::Finished);
    std::map<std::string, const FoundFile*> byBytes;
    for (const FoundFile& f : command.context().found) byBytes[test::ReadFile(cache / f.name)] = &f;
    ASSERT_TRUE(byBytes.count(first));
    ASSERT_TRUE(byBytes.count(mpfFirst));
    EXPECT_EQ(formats::MissingPartsText(byBytes[first]->partsMissing), "motion photo: clip missing");
    EXPECT_EQ(formats::MissingPartsText(byBytes[mpfFirst]->partsMissing), "second picture missing");
    EXPECT_EQ(byBytes[first]->parts.size(), 1u);
}

// A motion photo written into the holes older files left: its clip runs on in
// a piece of its own, an older file's bytes between. Both forms, with the
// clip's index first and last, and an index that itself lies in two pieces.
TEST_F(PhonePictures, AMotionPhotoWhoseClipLiesInTwoPiecesComesBackWhole) {
    makeCard();
    const std::string indexLast = test::MakeClip(1.5, 3, false), longer = test::MakeClip(6, 4, false);
    ASSERT_FALSE(indexLast.empty() || longer.empty());
    std::vector<Split> phones = {
        {"PXL_0011.MP.jpg", test::ContainerMotionPhoto(test::MakeTestJpeg(81, 1024, 768), indexLast), indexLast.size()},
        {"SAM_0012.jpg", test::SamsungMotionPhoto(test::MakeTestJpeg(82, 1024, 768), clip2), clip2.size() + 200},
        {"MVIMG_0013.jpg", test::MicroVideoPhoto(test::MakeTestJpeg(83, 1024, 768), clip1), clip1.size()},
        {"PXL_0014.MP.jpg", test::ContainerMotionPhoto(test::MakeTestJpeg(85, 1024, 768), longer), longer.size()},
    };
    // The first piece ends a few clusters into the clip (`first` holds the
    // clip's bytes until then); for the last photo, inside the clip's index
    // (the last box, of some KB).
    for (Split& phone : phones) phone.first = ((phone.bytes.size() - phone.first) / 4096 + 6) * 4096;
    const std::size_t moov = phones.back().bytes.rfind("moov") - 4;
    phones.back().first = (moov + 16 + 4095) / 4096 * 4096;
    ASSERT_LT(phones.back().first + 512, phones.back().bytes.size()) << "the index lies in one cluster";
    writeInTwoPieces(phones);
    expectEachWholeFromTwoPieces(phones);
}

// Joined from two pieces, a photo goes on after its picture's end where its
// second piece does: its clip, second picture or trailer come back with it.
// A second picture in two pieces is joined as a first one is, also where
// its first piece ends among its own headers, before any picture data.
TEST_F(PhonePictures, APhotoOfMorePicturesThanOneInTwoPiecesComesBackWhole) {
    makeCard();
    // The first piece ends in the middle of the first picture; for the last
    // two, in the middle of the second picture or gain map.
    const std::string picture = test::MakeTestJpeg(91, 1600, 1200), gain = test::MakeTestJpeg(92, 800, 600, 80);
    const std::size_t first = picture.size() / 2 / 4096 * 4096;
    std::vector<Split> phones = {
        {"MPF_0021.jpg", test::MpfPhoto(picture, second, false), first},
        {"MVIMG_0022.jpg", test::MicroVideoPhoto(test::MakeTestJpeg(93, 1600, 1200), clip1), first},
        {"SAM_0023.jpg", test::SamsungMotionPhoto(test::MakeTestJpeg(94, 1600, 1200), clip2), first},
        {"HDR_0024.jpg", test::MpfPhoto(test::MakeTestJpeg(95, 1600, 1200), gain, true, true), first},
        {"MPF_0025.jpg", test::MpfPhoto(test::MakeTestJpeg(96, 1024, 768), second, true), 0},
        {"HDR_0026.jpg", test::MpfPhoto(test::MakeTestJpeg(97, 1024, 768), gain, false, true), 0},
    };
    phones[4].first = (phones[4].bytes.size() - second.size() / 2) / 4096 * 4096;
    phones[5].first = (phones[5].bytes.size() - gain.size() / 2) / 4096 * 4096;
    // A comment in the first picture moves the second's start to 300 bytes
    // before a cluster's end: the first piece ends among its tables.
    for (const bool gainMap : {false, true}) {
        const std::string primary = test::MakeTestJpeg(gainMap ? 98 : 99, 1024, 768), extra = gainMap ? gain : second;
        const std::size_t at = test::MpfPhoto(primary, extra, gainMap, gainMap).size() - extra.size() + 4;
        const std::size_t comment = (2 * 4096 - 300 - at % 4096) % 4096;
        const std::size_t after = 4 + (std::uint8_t(primary[4]) << 8 | std::uint8_t(primary[5]));  // its first segment
        const std::string commented = primary.substr(0, after) + "\xFF\xFE" + char((comment + 2) >> 8) +
                                      char((comment + 2) & 0xFF) + std::string(comment, 'c') + primary.substr(after);
        const std::string photo = test::MpfPhoto(commented, extra, gainMap, gainMap);
        ASSERT_EQ((photo.size() - extra.size()) % 4096, 4096u - 300);
        phones.push_back({gainMap ? "HDR_0028.jpg" : "MPF_0027.jpg", photo, photo.size() - extra.size() + 300});
    }
    writeInTwoPieces(phones);
    expectEachWholeFromTwoPieces(phones);
}

}  // namespace
}  // namespace hx::scan
