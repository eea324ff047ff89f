// Deleted folders and deleted files in pieces on real FAT images: every file
// comes back byte-identical, or is listed as partial and not written under
// its name; none comes back whole with bytes that are not its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "fixtures/UndeleteFixtures.h"
#include "fixtures/ScriptedUi.h"
#include "fixtures/SampleFiles.h"
#include "fixtures/TestJpeg.h"
#include "undelete/DeletedRuns.h"
#include "undelete/QuickUndelete.h"
#include "undelete/UndeleteLists.h"

namespace hx::undelete {
namespace {

class DeletedPieces : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override {
        const int bits = GetParam();
        image_ = test::MakeFatImage(dir_ / "card.img",
                                    {.fatBits = bits, .sizeKiB = bits == 12 ? 1440u : 16384u, .sectorsPerCluster = 1, .label = ""});
        REQUIRE_IMAGE(image_);
    }
    void put(const std::string& path, const std::string& bytes, const std::string& when = "") {
        ASSERT_TRUE(test::FatPutFile(image_, path, bytes, when));
        files_[path] = bytes;
    }
    void del(const std::string& path) { ASSERT_TRUE(test::FatDelete(image_, path)); }
    // Gives a deleted short entry its first letter back: as a tool leaves a
    // folder's files when it marks only the folder itself deleted.
    void unmark(const std::string& shortName) {
        std::string image = ReadFile(image_);
        const std::string deleted = "\xE5" + shortName.substr(1);
        const auto at = image.find(deleted);
        ASSERT_NE(at, std::string::npos) << shortName;
        test::PatchFile(image_, at, shortName.substr(0, 1));
    }

    struct Outcome {
        int whole = 0;    // restored byte-identical
        int partial = 0;  // offered as partial and not written unless chosen
    };
    // Restores every file that was put on the card under its listed name and path.
    Outcome restoreAll(QuickUndelete& q, const std::map<std::string, std::string>& expected) {
        Outcome o;
        test::TempDir out("hx-pieces-out");
        for (const auto& [path, bytes] : expected) {
            const fs::path p(path);
            const filesystems::UndeleteEntry* e = test::FindListed(q.entries(), p.filename().string());
            if (!e) {
                ADD_FAILURE() << path << " not listed";
                continue;
            }
            const std::size_t index = static_cast<std::size_t>(e - q.entries().data());
            std::string folder = "\\" + p.parent_path().string();
            std::replace(folder.begin(), folder.end(), '/', '\\');
            EXPECT_EQ(e->FolderPath, folder) << path;
            EXPECT_TRUE(e->isDeleted()) << path;
            const auto target = out / ("r" + std::to_string(index));
            const bool written = q.restoreTo(index, target);
            if (written) {
                // Whole means its own bytes, nothing else.
                EXPECT_TRUE(ReadFile(target) == bytes) << path << " came back whole with wrong bytes";
                EXPECT_FALSE(e->isPartial()) << path;
                ++o.whole;
            } else {
                EXPECT_TRUE(e->isPartial() || e->ListSize < e->Size) << path << " was neither restored nor partial";
                EXPECT_FALSE(fs::exists(target)) << path;
                ++o.partial;
            }
        }
        return o;
    }

    test::TempDir dir_{"hx-pieces"};
    fs::path image_;
    std::map<std::string, std::string> files_;
    test::ScriptedUi ui_;
};

TEST_P(DeletedPieces, FilesOfADeletedFolderComeBackWithTheirPaths) {
    put("Trip/Day1/BEACH.JPG", test::MakeTestJpeg(1, 160, 120));
    put("Trip/Day1/NOTES.TXT", PatternBytes(1800, 2));
    put("Trip/TOP.TXT", PatternBytes(700, 3));
    put("KEEP.TXT", PatternBytes(900, 4));
    auto deleted = files_;
    deleted.erase("KEEP.TXT");
    del("Trip");

    for (bool marksOnlyTheFolder : {false, true}) {
        SCOPED_TRACE(marksOnlyTheFolder ? "only the folder marked" : "every entry marked");
        if (marksOnlyTheFolder)
            for (const char* name : {"BEACH   JPG", "NOTES   TXT", "TOP     TXT", "DAY1       "}) unmark(name);
        QuickUndelete q(ui_);
        ASSERT_TRUE(q.run({image_.string(), "all", 0, 0, {}}));
        const Outcome o = restoreAll(q, deleted);
        EXPECT_EQ(o.whole, 3);
        // The files of the deleted folder are among the deleted ones, with their paths.
        const auto& rows = q.lists().list2;
        EXPECT_TRUE(std::any_of(rows.begin(), rows.end(),
                                [](const std::string& r) { return r.find("Trip/Day1/") != std::string::npos &&
                                                                  r.find("OTES.TXT") != std::string::npos; }));
        const filesystems::UndeleteEntry* keep = test::FindListed(q.entries(), "KEEP.TXT");
        ASSERT_NE(keep, nullptr);
        EXPECT_FALSE(keep->isDeleted());
    }
}

TEST_P(DeletedPieces, ADeletedFolderIsReadPastItsFirstCluster) {
    // Thirty long names fill several clusters of the folder, written between the files.
    for (int n = 0; n < 30; ++n)
        put("Album/Photo number " + std::to_string(n) + ".txt", PatternBytes(700 + 37 * n, 40 + n));
    put("LAST.TXT", PatternBytes(900, 80));
    auto deleted = files_;
    deleted.erase("LAST.TXT");
    del("Album");

    QuickUndelete q(ui_);
    ASSERT_TRUE(q.run({image_.string(), "all", 0, 0, {}}));
    EXPECT_EQ(restoreAll(q, deleted).whole, 30);
}

TEST_P(DeletedPieces, PngAndZipInPiecesAreConfirmedByTheirChecksums) {
    // The same interleaving with files whose checksums vouch for every byte.
    put("PLAN.PNG", test::MakePng(30, 20, 21));
    put("GAP.BIN", PatternBytes(1500, 22));
    put("ALBUM.ZIP", test::MakeZip({{"a.txt", PatternBytes(1200, 23), false}}));
    del("GAP.BIN");
    put("PLAN.PNG", test::MakePng(60, 60, 24));
    put("ALBUM.ZIP", test::MakeZip({{"a.txt", PatternBytes(3000, 25), false}, {"b.txt", std::string(9000, 'b')}}));
    files_.erase("GAP.BIN");
    for (const char* name : {"PLAN.PNG", "ALBUM.ZIP"}) del(name);

    QuickUndelete q(ui_);
    ASSERT_TRUE(q.run({image_.string(), "all", 0, 0, {}}));
    const Outcome o = restoreAll(q, files_);
    EXPECT_EQ(o.whole, 2);
    for (const char* name : {"PLAN.PNG", "ALBUM.ZIP"}) {
        const filesystems::UndeleteEntry* e = test::FindListed(q.entries(), name);
        ASSERT_NE(e, nullptr);
        EXPECT_TRUE(e->Attributes & filesystems::kAttrRebuilt) << name;
        EXPECT_TRUE(e->Attributes & filesystems::kAttrConfirmed) << name;
    }
}

TEST_P(DeletedPieces, InterleavedFilesAreRebuiltOrOfferedAsPartial) {
    // ALPHA grows into the hole BRAVO left and goes on after CHARLIE; then all are deleted.
    put("ALPHA.JPG", test::MakeTestJpeg(11, 120, 90));
    put("BRAVO.JPG", test::MakeTestJpeg(12, 160, 120));
    put("CHARLIE.JPG", test::MakeTestJpeg(13, 160, 120));
    put("NOTE.TXT", PatternBytes(2500, 14));
    del("BRAVO.JPG");
    put("ALPHA.JPG", test::MakeTestJpeg(15, 400, 300));
    ASSERT_GT(files_["ALPHA.JPG"].size(), 3 * files_["BRAVO.JPG"].size());
    for (const char* name : {"ALPHA.JPG", "CHARLIE.JPG", "NOTE.TXT"}) del(name);

    QuickUndelete q(ui_);
    ASSERT_TRUE(q.run({image_.string(), "all", 0, 0, {}}));
    const Outcome o = restoreAll(q, files_);
    EXPECT_GE(o.whole, 3);
    const filesystems::UndeleteEntry* alpha = test::FindListed(q.entries(), "ALPHA.JPG");
    ASSERT_NE(alpha, nullptr);
    EXPECT_TRUE(alpha->Attributes & filesystems::kAttrRebuilt);
    EXPECT_TRUE(alpha->Attributes & filesystems::kAttrConfirmed);
    EXPECT_NE(UndeleteRowText(*alpha, true).find("(rebuilt from pieces, confirmed)"), std::string::npos);
    EXPECT_FALSE(q.checksCut());
    {
        // Without time for checks, the photo in pieces is only offered as partial.
        filesystems::QuickUndeleteOptions hurried{image_.string(), "all", 0, 0, {}};
        hurried.checkSeconds = 1e-9;
        QuickUndelete quick(ui_);
        ASSERT_TRUE(quick.run(hurried));
        EXPECT_TRUE(quick.checksCut());
        const filesystems::UndeleteEntry* unchecked = test::FindListed(quick.entries(), "ALPHA.JPG");
        ASSERT_NE(unchecked, nullptr);
        EXPECT_FALSE(unchecked->Attributes & filesystems::kAttrConfirmed);
        EXPECT_TRUE(unchecked->isPartial());
    }
    // BRAVO's first cluster holds ALPHA now, as ALPHA's decode proved: it
    // was overwritten, and nothing of it is offered, not even as unverified.
    const filesystems::UndeleteEntry* bravo = test::FindListed(q.entries(), "BRAVO.JPG");
    ASSERT_NE(bravo, nullptr);
    EXPECT_TRUE(bravo->Overwritten);
    EXPECT_EQ(bravo->ListSize, 0u);
    EXPECT_NE(UndeleteRowText(*bravo, true).find("Recovery: impossible"), std::string::npos);
    const auto index = static_cast<std::size_t>(bravo - q.entries().data());
    test::TempDir out("hx-pieces-save");
    EXPECT_EQ(q.SaveUndeleteEntries({index}, out.path()).saved, 0);
    EXPECT_TRUE(ui_.shownContaining("not saved"));
}

// A deleted folder whose cluster a later folder took: the old folder's entry
// still names that cluster, so the later folder's files are reached from
// both. They are listed where they belong, planned once, and come back.
TEST_P(DeletedPieces, AFolderClusterTakenByAnotherFolderListsItsFilesOnce) {
    ASSERT_TRUE(test::FatMakeDir(image_, "Dir1"));
    ASSERT_TRUE(test::FatMakeDir(image_, "SysVol/RP1"));
    del("SysVol");
    ASSERT_TRUE(test::FatMakeDir(image_, "Dir1/Dir2"));  // takes SysVol's cluster
    // Frag3 in two pieces around Mult2, written a minute later into the hole
    // a file left whose entry a later one took.
    put("GAP.DAT", PatternBytes(1024, 31));
    put("Dir1/Mult2.dat", PatternBytes(1536, 32), "2024-05-01 10:00");
    del("GAP.DAT");
    put("Dir1/Dir2/Frag3.dat", PatternBytes(2048, 33), "2024-05-01 10:01");
    put("KEEP.DAT", PatternBytes(700, 34));
    files_.erase("GAP.DAT");
    files_.erase("KEEP.DAT");
    del("Dir1");

    QuickUndelete q(ui_);
    ASSERT_TRUE(q.run({image_.string(), "all", 0, 0, {}}));
    int listed = 0;
    for (const auto& e : q.entries()) listed += e.ListName == "Frag3.dat";
    EXPECT_EQ(listed, 1);
    ui_.answers = {shell::Answer::Yes, shell::Answer::Yes};
    test::TempDir out("hx-taken-out");
    for (const auto& [path, bytes] : files_) {
        SCOPED_TRACE(path);
        const filesystems::UndeleteEntry* e = test::FindListed(q.entries(), fs::path(path).filename().string());
        ASSERT_NE(e, nullptr);
        std::string folder = "\\" + fs::path(path).parent_path().string();
        std::replace(folder.begin(), folder.end(), '/', '\\');
        EXPECT_EQ(e->FolderPath, folder);
        const auto saved = q.SaveUndeleteEntries({static_cast<std::size_t>(e - q.entries().data())}, out.path());
        ASSERT_EQ(saved.saved, 1);
        EXPECT_TRUE(ReadFile(saved.paths[0]) == bytes);
    }
}

// Runs of clusters are read at once, scattered ones each on their own; the
// medium ending inside a run keeps the clusters of it that could be read.
TEST(ClusterLists, ReadInOrderCutToSizeAndToWhatTheMediumHolds) {
    test::TempDir dir;
    const std::string medium = PatternBytes(16 * 512, 9);
    WriteFile(dir / "medium.img", medium);
    filesystems::ClusterView view;
    view.drive = (dir / "medium.img").string();
    view.bytesPerCluster = 512;
    view.valid = [](std::uint32_t c) { return c < 16; };
    view.offset = [](std::uint32_t c) { return c * 512ull; };
    auto read = [&](const ClusterList& clusters, std::uint64_t size) {
        const auto bytes = ReadClusterList(view, clusters, size);
        return std::string(bytes.begin(), bytes.end());
    };
    auto at = [&](std::uint32_t c, std::size_t n = 512) { return medium.substr(c * 512, n); };
    EXPECT_EQ(read({2, 3, 4, 9, 10, 1}, 5 * 512 + 100), at(2) + at(3) + at(4) + at(9) + at(10) + at(1, 100));
    EXPECT_EQ(read({2, 3, 4}, 700), at(2) + at(3, 188));
    // The medium ends inside cluster 14: the run 12-15 gives 12 and 13.
    std::filesystem::resize_file(dir / "medium.img", 14 * 512 + 200);
    EXPECT_EQ(read({5, 12, 13, 14, 15}, 5 * 512), at(5) + at(12) + at(13));
}

// Plain files laid out cluster by cluster as a writer left them, then all
// deleted. Text has nothing to check a layout by: the claims of the files and
// how far each would reach over the others rebuild them, and those in pieces
// come back only under names that say so.
struct PlacedFile {
    const char* name;
    const char* entry;  // 8.3, as in the folder
    std::size_t size;
    std::vector<std::uint32_t> at;  // clusters counted from the first file's
};
struct TurnsLayout {
    const char* name;
    std::vector<PlacedFile> files;
};
void PrintTo(const TurnsLayout& layout, std::ostream* os) { *os << layout.name; }

class DeletedInTurns : public ::testing::TestWithParam<TurnsLayout> {
protected:
    static std::string text(const std::string& who, std::size_t size) {
        std::string t;
        for (int line = 0; t.size() < size; ++line) t += who + " line " + std::to_string(line) + "\r\n";
        return t.substr(0, size);
    }
    // Writes the files, then lays their clusters out as given: data, chains in both FATs, first clusters.
    void layOut(const fs::path& image) {
        for (const auto& f : GetParam().files) ASSERT_TRUE(test::FatPutFile(image, f.name, text(f.name, f.size)));
        std::string disk = ReadFile(image);
        const auto le16 = [&](std::size_t at) { return static_cast<std::uint32_t>(static_cast<std::uint8_t>(disk[at]) |
                                                                              static_cast<std::uint8_t>(disk[at + 1]) << 8); };
        const std::uint32_t sector = le16(11), perCluster = static_cast<std::uint8_t>(disk[13]), reserved = le16(14);
        const std::uint32_t fats = static_cast<std::uint8_t>(disk[16]), rootEntries = le16(17), fatSectors = le16(22);
        const std::uint64_t dataStart = (reserved + fats * fatSectors) * std::uint64_t{sector} + rootEntries * 32u;
        const std::uint64_t clusterBytes = std::uint64_t{sector} * perCluster;
        ASSERT_EQ(clusterBytes, 1024u);
        const std::size_t first = disk.find(GetParam().files[0].entry);
        ASSERT_NE(first, std::string::npos);
        const std::uint32_t base = le16(first + 26);
        const auto put16 = [&](std::size_t at, std::uint32_t v) {
            disk[at] = static_cast<char>(v & 0xFF);
            disk[at + 1] = static_cast<char>(v >> 8);
        };
        for (const auto& f : GetParam().files) {
            const std::size_t entry = disk.find(f.entry);
            ASSERT_NE(entry, std::string::npos) << f.name;
            ASSERT_EQ(f.at.size(), (f.size + clusterBytes - 1) / clusterBytes) << f.name;
            put16(entry + 26, base + f.at[0]);
            const std::string bytes = text(f.name, f.size);
            for (std::size_t k = 0; k < f.at.size(); ++k) {
                const std::uint32_t c = base + f.at[k];
                std::string piece = bytes.substr(k * clusterBytes, clusterBytes);
                piece.resize(clusterBytes, '\0');
                disk.replace(dataStart + (c - 2) * clusterBytes, clusterBytes, piece);
                const std::uint32_t next = k + 1 < f.at.size() ? base + f.at[k + 1] : 0xFFFF;
                for (std::uint32_t t = 0; t < fats; ++t) put16((reserved + t * fatSectors) * std::size_t{sector} + c * 2, next);
            }
        }
        WriteFile(image, disk);
        for (const auto& f : GetParam().files) ASSERT_TRUE(test::FatDelete(image, f.name));
    }
    static bool inPieces(const PlacedFile& f) { return f.at.back() - f.at.front() + 1 != f.at.size(); }
};

TEST_P(DeletedInTurns, FilesWrittenInTurnsAreRebuiltByTheirClaims) {
    test::TempDir dir("hx-turns");
    const fs::path image = test::MakeFatImage(dir / "card.img", {.fatBits = 16, .sizeKiB = 16384, .sectorsPerCluster = 2, .label = ""});
    REQUIRE_IMAGE(image);
    layOut(image);
    if (HasFatalFailure()) return;

    test::ScriptedUi ui;
    QuickUndelete q(ui);
    ASSERT_TRUE(q.run({image.string(), "all", 0, 0, {}}));
    test::TempDir out("hx-turns-out");
    for (const auto& f : GetParam().files) {
        SCOPED_TRACE(f.name);
        const filesystems::UndeleteEntry* e = test::FindListed(q.entries(), f.name);
        ASSERT_NE(e, nullptr);
        const auto index = static_cast<std::size_t>(e - q.entries().data());
        EXPECT_EQ(e->isPartial(), inPieces(f));
        EXPECT_EQ((e->Attributes & filesystems::kAttrRebuilt) != 0, inPieces(f));
        ui.answers = {shell::Answer::Yes};
        const auto saved = q.SaveUndeleteEntries({index}, out.path());
        ASSERT_EQ(saved.saved, 1);
        EXPECT_TRUE(ReadFile(saved.paths[0]) == text(f.name, f.size)) << saved.paths[0];
        // Nothing checked the pieces: the name and the list say so.
        EXPECT_EQ(saved.paths[0].filename().string().find("(unverified)") != std::string::npos, inPieces(f));
        EXPECT_EQ(UndeleteRowText(*e, true).find("unverified") != std::string::npos, inPieces(f));
    }
    // Recovering everything writes them the same way, and the report says why.
    const fs::path all = out / "all";
    ASSERT_EQ(RunCommand(test::CliCommand() + " recover '" + image.string() + "' --to '" + all.string() +
                         "' --layout found --yes >/dev/null 2>&1"), 0);
    std::size_t unverified = 0, expected = 0;
    for (const auto& f : GetParam().files) {
        expected += inPieces(f);
        int found = 0;
        for (const auto& e : fs::recursive_directory_iterator(all))
            if (e.is_regular_file() && ReadFile(e.path()) == text(f.name, f.size)) {
                ++found;
                const bool marked = e.path().filename().string().find(" (unverified).") != std::string::npos;
                EXPECT_EQ(marked, inPieces(f)) << e.path();
                unverified += marked;
            }
        EXPECT_EQ(found, 1) << f.name;
    }
    EXPECT_EQ(unverified, expected);
    const std::string report = ReadFile(all / "report.json");
    std::size_t notes = 0;
    for (auto at = report.find("\"note\":\"rebuilt from pieces, unverified"); at != std::string::npos;
         at = report.find("\"note\":\"rebuilt from pieces, unverified", at + 1))
        ++notes;
    EXPECT_EQ(notes, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, DeletedInTurns,
    ::testing::Values(
        // Two files written in turns, cluster by cluster, then two more after
        // them and the longer file's last cluster after those.
        TurnsLayout{"TwoInTurns",
                    {{"FRAG1.DAT", "FRAG1   DAT", 1800, {0, 2}},
                     {"FRAG2.DAT", "FRAG2   DAT", 3900, {1, 3, 4, 11}},
                     {"OTHER1.TXT", "OTHER1  TXT", 2500, {5, 6, 7}},
                     {"OTHER2.TXT", "OTHER2  TXT", 2900, {8, 9, 10}}}},
        // One file's two clusters between the two pieces of another: the
        // longer one went around the shorter, which stays whole.
        TurnsLayout{"OneBetweenPiecesOfAnother",
                    {{"LONG.TXT", "LONG    TXT", 3500, {0, 1, 4, 5}}, {"SHORT.TXT", "SHORT   TXT", 2000, {2, 3}}}},
        // Three files written in turns, a cluster each.
        TurnsLayout{"ThreeInTurns",
                    {{"ONE.TXT", "ONE     TXT", 2000, {0, 3}},
                     {"TWO.TXT", "TWO     TXT", 1500, {1, 4}},
                     {"THREE.TXT", "THREE   TXT", 1900, {2, 5}}}}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(Fat, DeletedPieces, ::testing::Values(12, 16),
                         [](const auto& info) { return "FAT" + std::to_string(info.param); });

}  // namespace
}  // namespace hx::undelete
