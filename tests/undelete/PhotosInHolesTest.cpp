// Deleted photos written into the holes between old files: a camera card as
// people leave it. Old files were written, every other one deleted, photos
// copied into the holes (so most lie in pieces around live old files), then
// some photos deleted. Every deleted photo comes back byte-identical; the
// old deleted files, whose clusters the photos took, are not handed out as
// files of their own.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <fstream>
#include <sstream>

#include "fixtures/ScriptedUi.h"
#include "fixtures/TestJpeg.h"
#include "fixtures/UndeleteFixtures.h"
#include "undelete/QuickUndelete.h"

namespace hx::undelete {
namespace {

using test::FatPutFirstFree;
using test::InPieces;
using Clusters = std::vector<std::uint32_t>;

TEST(PhotosInHoles, DeletedPhotosInPiecesComeBackAndOldFilesAreNotHandedOut) {
    test::TempDir dir("hx-holes");
    const fs::path image = test::MakeFatImage(dir / "card.img", {.fatBits = 32, .sizeKiB = 40960, .sectorsPerCluster = 1, .label = ""});
    REQUIRE_IMAGE(image);
    // Old files of 20-80 KB (a card's 1-4 MB, scaled down), every other one deleted.
    std::map<std::string, std::string> old;
    for (int n = 0; n < 64; ++n) {
        const std::string name = "OLD/FILL" + std::string(n < 10 ? "000" : "00") + std::to_string(n) + ".DAT";
        old[name] = PatternBytes(20000 + (n * 7919) % 60000, 500 + n);
        ASSERT_TRUE(FatPutFirstFree(image, name, old[name]));
    }
    // Every file's clusters as written; a later file's clusters are its own.
    std::map<std::string, Clusters> owner;
    std::map<std::uint32_t, std::string> whose;
    const auto written = [&](const std::string& name) {
        owner[name] = test::FatClustersOf(image, name);
        for (std::uint32_t c : owner[name]) whose[c] = name;
    };
    for (const auto& [name, bytes] : old) written(name);
    for (int n = 1; n < 64; n += 2) {
        const std::string name = "OLD/FILL" + std::string(n < 10 ? "000" : "00") + std::to_string(n) + ".DAT";
        ASSERT_TRUE(test::FatDelete(image, name));
    }
    // Photos into the holes.
    std::map<std::string, std::string> photos;
    for (int n = 1; n <= 28; ++n) {
        const std::string name = "DCIM/100CAM/DSC_" + std::string(n < 10 ? "000" : "00") + std::to_string(n) + ".JPG";
        photos[name] = test::MakeTestJpeg(n, 300 + 20 * (n % 7), 220 + 15 * (n % 5));
        ASSERT_TRUE(FatPutFirstFree(image, name, photos[name]));
        written(name);
    }
    // Twelve photos deleted: ten in pieces and two in one run.
    std::map<std::string, std::string> deleted;
    int pieces = 0, runs = 0;
    for (const auto& [name, bytes] : photos) {
        const bool split = InPieces(owner[name]);
        if (split ? pieces >= 10 : runs >= 2) continue;
        (split ? pieces : runs)++;
        deleted[name] = bytes;
        ASSERT_TRUE(test::FatDelete(image, name));
    }
    ASSERT_EQ(pieces, 10) << "the card does not have ten photos in pieces";
    ASSERT_EQ(runs, 2);

    test::ScriptedUi ui;
    QuickUndelete q(ui);
    ASSERT_TRUE(q.run({image.string(), "all", 0, 0, {}}));
    test::TempDir out("hx-holes-out");
    int back = 0;
    for (std::size_t i = 0; i < q.entries().size(); ++i) {
        const filesystems::UndeleteEntry& e = q.entries()[i];
        if (!q.isDeletedFile(i)) continue;
        std::string path = e.FolderPath.substr(1) + "\\" + e.ListName;
        std::replace(path.begin(), path.end(), '\\', '/');
        const fs::path target = out / ("r" + std::to_string(i));
        const bool restored = q.restoreTo(i, target);
        SCOPED_TRACE(path);
        if (deleted.count(path)) {
            if (!restored) {
                ADD_FAILURE() << "a deleted photo is not restored";
                continue;
            }
            EXPECT_TRUE(ReadFile(target) == deleted[path]) << "a deleted photo came back with wrong bytes";
            back += ReadFile(target) == deleted[path];
            continue;
        }
        // An old deleted file: never under its name with bytes not its own,
        // and never written as unverified over another file's clusters.
        ASSERT_TRUE(old.count(path)) << "an entry that was never written";
        if (restored) {
            EXPECT_TRUE(ReadFile(target) == old[path]) << "came back whole with wrong bytes";
        }
        if (e.Attributes & filesystems::kAttrUnverified) {
            const ClusterList* plan = q.plannedClusters(i);
            ASSERT_NE(plan, nullptr);
            for (std::uint32_t c : *plan)
                if (whose.count(c) && whose[c] != path) {
                    ADD_FAILURE() << "offered as unverified over cluster " << c << " of " << whose[c];
                    break;
                }
        }
    }
    EXPECT_EQ(back, 12);

    // recover with the live files: no unverified file made of others' bytes.
    const fs::path all = out / "all";
    ASSERT_EQ(RunCommand(test::CliCommand() + " recover '" + image.string() + "' --to '" + all.string() +
                         "' --layout found --include-present --yes >/dev/null 2>&1"), 0);
    int unverified = 0, photosBack = 0;
    std::set<std::string> contents;
    for (const auto& f : fs::recursive_directory_iterator(all))
        if (f.is_regular_file()) {
            const std::string name = f.path().filename().string();
            unverified += name.find("(unverified)") != std::string::npos;
            contents.insert(ReadFile(f.path()));
        }
    for (const auto& [name, bytes] : deleted) photosBack += contents.count(bytes) > 0;
    EXPECT_EQ(photosBack, 12);
    EXPECT_EQ(unverified, 0);
}

}  // namespace
}  // namespace hx::undelete
