// Seeded mutants of real FAT12, FAT16, FAT32, exFAT and NTFS images (bytes
// flipped in their first 64 KB, cut short, emptied) through the catalogue,
// the undelete and the scan: nothing crashes or hangs, every refusal says
// why, and the medium is never written.
#include <gtest/gtest.h>

#include <chrono>
#include <random>

#include "fixtures/CardFixture.h"
#include "fixtures/MediaImages.h"
#include "fixtures/ScriptedUi.h"
#include "fixtures/TempDir.h"
#include "fixtures/TestJpeg.h"
#include "filesystems/DriveInfo.h"
#include "output/ScanCommand.h"
#include "formats/SignatureTable.h"
#include "undelete/QuickUndelete.h"

namespace hx::scan {
namespace {

namespace fs = std::filesystem;

constexpr int kMutants = 60;

struct Base {
    const char* name;
    fs::path image;
};

std::string mutate(const std::string& base, std::mt19937& rng) {
    std::string m = base;
    switch (rng() % 6) {
        case 0: return {};                                        // emptied
        case 1: m.resize(rng() % std::min<std::size_t>(m.size(), 200'000)); return m;  // cut short
        default: {
            const std::size_t span = std::min<std::size_t>(m.size(), 64 * 1024);
            const int flips = 1 + static_cast<int>(rng() % 16);
            for (int i = 0; i < flips; ++i) m[rng() % span] ^= static_cast<char>(1 + rng() % 255);
            return m;
        }
    }
}

TEST(CorruptMediaSweep, NoCrashNoHangEveryRefusalSaysWhyAndTheMediumStaysAsItWas) {
    test::TempDir dir("hx-sweep");
    std::vector<Base> bases;
    auto add = [&](const char* name, const fs::path& image) {
        if (!image.empty()) bases.push_back({name, image});
    };
    add("FAT12", test::MakeFatImage(dir / "fat12.img", {.fatBits = 12}));
    add("FAT16", test::MakeFatImage(dir / "fat16.img", {.fatBits = 16, .sizeKiB = 8192}));
    add("FAT32", test::MakeFatImage(dir / "fat32.img", {.fatBits = 32, .sizeKiB = 34 * 1024, .sectorsPerCluster = 1}));
    if (test::HaveTool("mkfs.exfat")) add("exFAT", test::MakeExFatImage(dir / "exfat.img", {8, 4096, ""}));
    if (test::HaveTool("mkntfs")) add("NTFS", test::MakeNtfsImage(dir / "ntfs.img", {8, 4096}));
    ASSERT_GE(bases.size(), 3u);
    const std::string photo = test::MakeTestJpeg(80, 320, 240);
    for (const Base& b : bases) {
        if (std::string(b.name).rfind("FAT", 0) == 0) {
            ASSERT_TRUE(test::FatPutFile(b.image, "DCIM/P.JPG", photo));
            ASSERT_TRUE(test::FatPutFile(b.image, "GONE.JPG", photo + "x"));
            ASSERT_TRUE(test::FatDelete(b.image, "GONE.JPG"));
        }
    }
    std::mt19937 rng(20261208);
    for (const Base& b : bases) {
        const std::string base = test::ReadFile(b.image);
        for (int n = 0; n < kMutants; ++n) {
            SCOPED_TRACE(std::string(b.name) + " mutant " + std::to_string(n));
            const fs::path m = dir / "mutant.img";
            const std::string bytes = mutate(base, rng);
            test::WriteFile(m, bytes);
            const auto started = std::chrono::steady_clock::now();

            media::DriveRecord rec;
            filesystems::GetDriveInfo(m.string(), rec);

            test::ScriptedUi ui;
            undelete::QuickUndelete listing(ui);
            if (!listing.run({m.string(), "all", 0, 0, {}})) {
                EXPECT_FALSE(ui.messages.empty()) << "a silent refusal";
            }

            test::ScriptedUi scanUi;
            output::ScanRequest req = test::WholeScanRequest(m, dir / "cache");
            fs::remove_all(req.cacheFolder);
            output::ScanCommand command(scanUi, req);
            const auto outcome = command.run();
            if (outcome != ScanOutcome::Finished) {
                EXPECT_FALSE(scanUi.messages.empty() && scanUi.statuses.empty()) << "a silent refusal";
            }

            const double seconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
            EXPECT_LT(seconds, 20.0) << "a mutant took too long";
            EXPECT_TRUE(test::ReadFile(m) == bytes) << "the medium was written";
        }
    }
}

}  // namespace
}  // namespace hx::scan
