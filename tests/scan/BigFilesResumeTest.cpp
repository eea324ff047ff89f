// Sizes are whole byte counts from the directory entry to the written file:
// deleted photos and raws of tens of megabytes with odd sizes come back
// byte-identical through stops and resumes, and the resume state keeps every
// number exactly.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <set>

#include "fixtures/CardFixture.h"
#include "fixtures/TestRaw.h"
#include "output/ScanCommand.h"
#include "scan/ScanState.h"
#include "viewing/SamplePhoto.h"

namespace hx::scan {
namespace {

namespace fs = std::filesystem;
using BigFiles = test::CardFixture;

// Bytes the file system alone knows the end of: a photo followed by a
// maker's trailer, a raw whose last strip is followed by one.
std::string padTo(std::string bytes, std::size_t size, std::uint32_t key) {
    EXPECT_LT(bytes.size(), size);
    return bytes + test::PatternBytes(size - bytes.size(), key);
}

TEST_F(BigFiles, DeletedAndStoppedInsideEachTheyComeBackWhole) {
    makeCard();
    // A text file first: the listing is looked up after the scan's first unit.
    ASSERT_TRUE(test::FatPutFile(image, "readme.txt", "notes"));
    const std::string photo =
        padTo(viewing::MakeSamplePhoto(7, {.width = 3000, .height = 2000, .quality = 96, .noise = 24}), 34'000'001, 3);
    test::RawBuilder raw;
    raw.little = false;
    const std::string nef = padTo(raw.build(false, "NIKON CORPORATION", 60001, 8 * 1048576 + 3), 23'456'789, 5);
    ASSERT_TRUE(test::FatPutFile(image, "IMG_2000.JPG", photo));
    ASSERT_TRUE(test::FatPutFile(image, "DSC_2001.NEF", nef));
    ASSERT_TRUE(test::FatDelete(image, "IMG_2000.JPG"));
    ASSERT_TRUE(test::FatDelete(image, "DSC_2001.NEF"));

    output::ScanRequest r;
    r.source = image.string();
    r.cacheFolder = cache;
    r.selection = SelectionForTypes({"JPG", "NEF"});
    r.smart = false;
    // Stopped every few blocks and resumed from the state left in the cache,
    // until the scan reaches the card's end.
    std::set<std::string> stoppedInside;
    std::optional<ScanOutcome> outcome;
    std::vector<std::string> names;
    for (int run = 0; run < 400 && outcome != ScanOutcome::Finished; ++run) {
        ui.stop = false;
        ui.yields = 0;
        ui.stopAtYield = 6;
        if (run > 0) ui.answers = {shell::Answer::Yes};
        output::ScanCommand command(ui, r);
        outcome = command.run();
        ASSERT_TRUE(outcome.has_value());
        const ScanContext& ctx = command.context();
        if (*outcome == ScanOutcome::Stopped && ctx.lastFileOpen && !ctx.FoundNames().empty())
            stoppedInside.insert(ctx.FoundNames().back());
        names = ctx.FoundNames();
    }
    ASSERT_EQ(outcome, ScanOutcome::Finished);
    // The deleted entries lost their first letter; the cameras' naming rules give it back.
    EXPECT_EQ(stoppedInside, (std::set<std::string>{"DSC_2001.NEF", "IMG_2000.JPG"}));
    ASSERT_EQ(names, (std::vector<std::string>{"IMG_2000.JPG", "DSC_2001.NEF"}));
    // Compared whole, without the framework's diff of 30 MB strings.
    const std::string gotPhoto = test::ReadFile(cache / names[0]), gotNef = test::ReadFile(cache / names[1]);
    EXPECT_EQ(gotPhoto.size(), photo.size());
    EXPECT_TRUE(gotPhoto == photo);
    EXPECT_EQ(gotNef.size(), nef.size());
    EXPECT_TRUE(gotNef == nef);
}

class ResumeState : public BigFiles {
protected:
    ScanContext sample() {
        ScanContext ctx(ui);
        ctx.resumeDrive = "/dev/sdz1";
        ctx.resumeUnit = (1ull << 40) + 1;
        ctx.lastFileOpen = true;
        auto found = [](const char* name, const char* ext, const char* what, std::uint64_t start, std::uint64_t size,
                        std::uint64_t listed) {
            FoundFile f;
            f.name = name;
            f.extension = ext;
            f.description = what;
            f.startUnit = start;
            f.size = size;
            f.listedSize = listed;
            return f;
        };
        ctx.found = {found("R#0000.jpg", ".jpg", "Canon EOS 5D", 17, 2'345'674, 0),
                     found("_MG_2000.JPG", ".jpg", "JPEG File", 9'000'001, 34'000'001, 34'000'001),
                     found("R#0002.mov", ".mov", "QuickTime", (1ull << 40) - 3, (1ull << 40) + 1, (1ull << 40) + 1),
                     found("R#0003.mp4", ".mp4", "MP4 Video", 40, 9'000'000, 0)};
        ctx.found[1].unreadableSectors = 3;
        ctx.found[1].firstUnreadable = 1'234'560;
        ctx.found[2].pieces = 3;
        ctx.found[3].indexRebuilt = 2;
        ctx.unreadable = {{9'000'001 * 8 + 2411, 3}, {(1ull << 42) + 5, 70000}};
        return ctx;
    }
    std::string stateText() { return test::ReadFile(cache / kScanStateFile); }
    void writeState(const std::string& text) { test::WriteFile(cache / kScanStateFile, text); }
};

TEST_F(ResumeState, KeepsEveryNumberExactly) {
    const ScanContext saved = sample();
    ASSERT_TRUE(SaveScanState(cache, saved));
    ScanContext loaded(ui);
    ASSERT_EQ(LoadScanState(cache, loaded), ScanStateLoad::Loaded);
    EXPECT_EQ(loaded.resumeDrive, saved.resumeDrive);
    EXPECT_EQ(loaded.resumeUnit, saved.resumeUnit);
    EXPECT_TRUE(loaded.lastFileOpen);
    EXPECT_EQ(loaded.FoundNames(), saved.FoundNames());
    EXPECT_EQ(loaded.FoundSizes(), saved.FoundSizes());
    ASSERT_EQ(loaded.found.size(), 4u);
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(loaded.found[i].startUnit, saved.found[i].startUnit);
        EXPECT_EQ(loaded.found[i].size, saved.found[i].size);
        EXPECT_EQ(loaded.found[i].description, saved.found[i].description);
        EXPECT_EQ(loaded.found[i].unreadableSectors, saved.found[i].unreadableSectors);
        EXPECT_EQ(loaded.found[i].firstUnreadable, saved.found[i].firstUnreadable);
        EXPECT_EQ(loaded.found[i].pieces, saved.found[i].pieces);
        EXPECT_EQ(loaded.found[i].indexRebuilt, saved.found[i].indexRebuilt);
    }
    EXPECT_EQ(loaded.unreadable, saved.unreadable);
    EXPECT_EQ(loaded.unreadableSectors, 70003u);
    std::map<std::string, std::string> rebuilt;
    EXPECT_EQ(DamagedFinds(cache, &rebuilt), (std::map<std::string, std::string>{
                                                 {"_MG_2000.JPG", "damaged: 3 sectors unreadable (zeros), the first at byte 1234560"}}));
    EXPECT_EQ(rebuilt, (std::map<std::string, std::string>{
                           {"R#0002.mov", "rebuilt from 3 pieces"},
                           {"R#0003.mp4", "index rebuilt after another clip of the same camera"}}));
    EXPECT_TRUE(ScanStateFitsMedium(loaded, 1ull << 41));
    EXPECT_FALSE(ScanStateFitsMedium(loaded, 1ull << 40));
}

TEST_F(ResumeState, AnEarlierProgramsRoundedSizesAreDroppedNotUsed) {
    // As the program wrote it before sizes were whole numbers: six significant digits.
    writeState("drive\t/dev/sdz1\nnext\t4711\nopen\t1\n"
               "file\tR#0000.jpg\t.jpg\tJPEG File\t17\t2345674\t2.34567e+06\n"
               "file\tIMG_1.JPG\t.jpg\tJPEG File\t900\t5000\t5000\n");
    ScanContext loaded(ui);
    ASSERT_EQ(LoadScanState(cache, loaded), ScanStateLoad::Loaded);
    EXPECT_EQ(loaded.resumeUnit, 4711u);
    EXPECT_EQ(loaded.FoundSizes(), (std::vector<std::uint64_t>{0, 5000}));
    EXPECT_EQ(loaded.found[0].size, 2'345'674u);
}

TEST_F(ResumeState, DamagedStatesAreRefusedWhole) {
    ASSERT_TRUE(SaveScanState(cache, sample()));
    const std::string good = stateText();
    const std::vector<std::string> damaged = {
        good.substr(0, good.size() / 2),                                   // cut short
        good.substr(0, good.rfind("end\t")),                               // cut before its row count
        std::regex_replace(good, std::regex("\t9000001\t"), "\t9000x01\t"),  // edited by hand
        std::regex_replace(good, std::regex("\t17\t"), "\t-17\t"),
        std::regex_replace(good, std::regex("R#0002.mov"), "../R#0002.mov"),
        good + "file\textra\n",
        std::regex_replace(good, std::regex("\t70000\n"), "\t0\n"),          // an empty run of unreadable sectors
        std::regex_replace(good, std::regex("\t1234560\n"), "\t\n"),
    };
    for (const auto& text : damaged) {
        writeState(text);
        ScanContext loaded(ui);
        EXPECT_EQ(LoadScanState(cache, loaded), ScanStateLoad::Damaged) << text;
        EXPECT_TRUE(loaded.FoundNames().empty());
        EXPECT_EQ(loaded.resumeUnit, 0u);
    }
}

TEST_F(ResumeState, ADamagedStateStartsANewScanAndKeepsTheCache) {
    makeCard();
    putPhoto(1, 1024, 768);
    test::WriteFile(cache / "R#0000.jpg", "an unsaved find");
    ScanContext state = sample();
    state.resumeDrive = image.string();
    state.resumeUnit = 40;
    state.found[2].size = 1ull << 40;  // beyond the card's end
    ASSERT_TRUE(SaveScanState(cache, state));

    output::ScanRequest r;
    r.source = image.string();
    r.cacheFolder = cache;
    r.selection = SelectionForTypes({"JPG"});
    r.smart = false;
    ui.answers = {shell::Answer::No};  // the question before a new scan empties the cache
    output::ScanCommand command(ui, r);
    EXPECT_FALSE(command.run().has_value());
    const std::string named = (cache / kScanStateFile).string();
    EXPECT_TRUE(std::any_of(ui.statuses.begin(), ui.statuses.end(), [&](const std::string& s) {
        return s.find(named) != std::string::npos && s.find("damaged") != std::string::npos;
    }));
    EXPECT_FALSE(ui.shownContaining("was interrupted."));
    EXPECT_EQ(test::ReadFile(cache / "R#0000.jpg"), "an unsaved find");
}

}  // namespace
}  // namespace hx::scan
