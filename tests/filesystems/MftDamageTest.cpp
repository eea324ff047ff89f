// The MFT library on volumes written record by record: a fragmented MFT,
// attribute lists, and the damage that must skip a record, never crash or hang.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <random>

#include "fixtures/SyntheticNtfs.h"
#include "fixtures/UndeleteFixtures.h"
#include "fixtures/ScriptedUi.h"
#include "filesystems/ntfs/NtfsStructs.h"
#include "filesystems/ntfs/MftLibrary.h"
#include "filesystems/ntfs/UndeleteNtfs.h"

namespace hx::filesystems {
namespace {

using namespace hx::synth;

class MftDamage : public ::testing::Test {
protected:
    void TearDown() override { CloseMft(session_); }

    // A deleted file of `clusters` clusters with real content.
    std::uint32_t addFile(Volume& v, const std::string& name, std::uint64_t parent, std::size_t size, unsigned salt) {
        const std::int64_t clusters = static_cast<std::int64_t>((size + kCluster - 1) / kCluster);
        const std::int64_t lcn = v.allocate(std::max<std::int64_t>(clusters, 1));
        const std::string bytes = test::PatternBytes(size, salt);
        v.putData(lcn, bytes);
        contents_[name] = bytes;
        return v.add(record(0, {standardInformation(Volume::kTime), fileName(name, parent),
                                nonResident(0x80, {{lcn, std::max<std::int64_t>(clusters, 1)}}, 0, size, 2)}));
    }
    // A deleted folder; its record number.
    static std::uint32_t addFolder(Volume& v, const std::string& name, std::uint64_t parent) {
        return v.add(record(2, {standardInformation(Volume::kTime), fileName(name, parent)}));
    }
    std::vector<UndeleteEntry> list(Volume& v) {
        const std::string path = (dir_ / "synthetic.img").string();
        EXPECT_TRUE(v.write(path));
        image_ = path;
        std::vector<UndeleteEntry> out;
        EXPECT_TRUE(ListNtfsDeleted(session_, path, out, "all", 0, 0, ui_));
        return out;
    }
    static std::vector<std::string> names(const std::vector<UndeleteEntry>& l) {
        std::vector<std::string> n;
        for (auto& e : l) n.push_back(e.FileName);
        std::sort(n.begin(), n.end());
        return n;
    }

    test::TempDir dir_{"hx-mft"};
    std::string image_;
    std::map<std::string, std::string> contents_;
    test::ScriptedUi ui_;
    NtfsSession session_;
};

TEST_F(MftDamage, FragmentedMftIsReadThroughItsRuns) {
    Volume v(true, 200);
    for (int i = 0; i < 60; ++i) addFile(v, "f" + std::to_string(100 + i) + ".jpg", 5, 5000, i);
    const auto l = list(v);
    ASSERT_EQ(l.size(), 60u);
    test::TempDir out("hx-mft-out");
    for (auto& e : l) {
        ASSERT_TRUE(RecoverNtfsFile(session_, image_, e.RecordNumber, out / "x", ui_));
        EXPECT_TRUE(test::ReadFile(out / "x") == contents_[e.FileName]) << e.FileName;
    }
}

TEST_F(MftDamage, DamagedRecordsAreSkipped) {
    Volume v(false, 200);
    addFile(v, "good.jpg", 5, 3000, 1);
    const auto badFixup = addFile(v, "badfixup.jpg", 5, 3000, 2);
    const auto overrun = addFile(v, "overrun.jpg", 5, 3000, 3);
    // Runs that reach past the end of the volume.
    v.add(record(0, {standardInformation(Volume::kTime), fileName("pastend.jpg", 5),
                     nonResident(0x80, {{1ll << 40, 4}}, 0, 16000, 2)}));
    // Two folders that are each other's parent, and a file inside them.
    const std::uint32_t a = v.count(), b = a + 1;
    addFolder(v, "A", b);
    addFolder(v, "B", a);
    addFile(v, "cycle.jpg", a, 100, 4);
    // A folder that is its own parent.
    const std::uint32_t self = v.count();
    addFolder(v, "S", self);
    addFile(v, "selfloop.jpg", self, 100, 5);
    // A parent beyond the MFT: the file stays, its folder is unknown.
    addFile(v, "orphan.jpg", 999999, 100, 6);

    v.recordBytes(badFixup)[1022] ^= 0xFF;  // the check value of the second sector
    Bytes& o = v.recordBytes(overrun);
    put32(o, 56 + 4, 4000);  // the first attribute claims more than the record has

    const auto l = list(v);
    ASSERT_EQ(names(l), (std::vector<std::string>{"good.jpg", "orphan.jpg"}));
    EXPECT_EQ(test::FindListed(l, "orphan.jpg")->FolderPath, "\\?");
}

TEST_F(MftDamage, TheProgramsOwnFilesAndFoldersAreNotListed) {
    Volume v(false, 200);
    const std::uint32_t cache = addFolder(v, "QXCache", 5), backup = addFolder(v, "Backup", 5);
    const std::uint32_t templates = addFolder(v, "MyTEMPLATES", 5), lower = addFolder(v, "backup", 5);
    addFile(v, "a.jpg", cache, 10, 1);
    addFile(v, "b.jpg", backup, 10, 2);
    addFile(v, "c.jpg", templates, 10, 3);
    addFile(v, "d.jpg", lower, 10, 4);  // "Backup" is matched in its own case only
    addFile(v, "E.RBF", 5, 10, 5);
    addFile(v, "f.thc", 5, 10, 6);
    addFile(v, "G.THC", 5, 10, 7);  // lower-cased to g.thc
    addFile(v, "-%inuse.jpg", 5, 10, 8);
    v.add(record(1, {standardInformation(Volume::kTime), fileName("-%live.jpg", 5),
                     nonResident(0x80, {{v.allocate(1), 1}}, 0, 10, 2)}));
    v.add(record(1, {standardInformation(Volume::kTime), fileName("live.jpg", 5),
                     nonResident(0x80, {{v.allocate(1), 1}}, 0, 10, 2)}));
    EXPECT_EQ(names(list(v)), (std::vector<std::string>{"-%inuse.jpg", "-%live.jpg", "d.jpg"}));
}

TEST_F(MftDamage, SplitDataAttributeThroughAttributeList) {
    Volume v(false, 200);
    const std::uint32_t base = v.count(), ext1 = base + 1, ext2 = base + 2;
    const std::string bytes = test::PatternBytes(kCluster * 5 + 123, 9);
    const std::int64_t l1 = v.allocate(3), gap = v.allocate(2), l2 = v.allocate(3);
    (void)gap;
    v.putData(l1, bytes.substr(0, kCluster * 3));
    v.putData(l2, bytes.substr(kCluster * 3));
    // $ATTRIBUTE_LIST: SI and FN here, two data pieces in the extension records.
    Bytes listValue;
    auto entry = [&](std::uint32_t type, std::uint64_t vcn, std::uint64_t seg, std::uint16_t id) {
        Bytes e(32, 0);
        put32(e, 0, type);
        put16(e, 4, 32);
        put64(e, 8, vcn);
        put64(e, 16, seg | (std::uint64_t(1) << 48));
        put16(e, 24, id);
        listValue.insert(listValue.end(), e.begin(), e.end());
    };
    entry(0x10, 0, base, 0);
    entry(0x30, 0, base, 1);
    entry(0x80, 0, ext1, 5);
    entry(0x80, 3, ext2, 6);
    v.add(record(0, {standardInformation(Volume::kTime), resident(0x20, listValue, 3), fileName("split.cr2", 5)}));
    Bytes first = nonResident(0x80, {{l1, 3}}, 0, bytes.size(), 5, 6 * kCluster);
    Bytes second = nonResident(0x80, {{l2, 3}}, 3, 0, 6);
    v.add(record(0, {first}, base));
    v.add(record(0, {second}, base));
    const auto l = list(v);
    ASSERT_EQ(names(l), (std::vector<std::string>{"split.cr2"}));
    EXPECT_EQ(l[0].Size, bytes.size());
    EXPECT_EQ(l[0].FirstCluster, static_cast<std::uint32_t>(l1));
    EXPECT_EQ(session_.volume.runsCount(base), 2);  // the runs of both pieces
    test::TempDir out("hx-mft-out");
    ASSERT_TRUE(RecoverNtfsFile(session_, image_, base, out / "split.cr2", ui_));
    EXPECT_TRUE(test::ReadFile(out / "split.cr2") == bytes);
}

TEST_F(MftDamage, ManyDeletedFilesAreCappedWithAMessage) {
    Volume v;
    const std::int64_t lcn = v.allocate(1);
    for (int i = 0; i < 26005; ++i)
        v.add(record(0, {standardInformation(Volume::kTime), fileName("p" + std::to_string(i) + ".jpg", 5),
                         nonResident(0x80, {{lcn, 1}}, 0, 100, 2)}));
    const auto l = list(v);
    EXPECT_EQ(l.size(), kNtfsListKeep);
    ASSERT_EQ(ui_.messages.size(), 1u);
    EXPECT_EQ(ui_.messages[0].text,
              "26,005 deleted files found.\n\nPlease narrow your search as only the first 25,000 files will be processed.");
    EXPECT_EQ(ui_.messages[0].title, "Harvestrix MFT Quick Undelete");
}

// The device opens but the MFT's own record is garbage: the message says the
// table is damaged and that a scan still finds the files, not that access was denied.
TEST_F(MftDamage, AnMftThatCannotBeMappedIsSaidToBeDamaged) {
    Volume v;
    addFile(v, "a.jpg", 5, 5000, 1);
    const std::string path = (dir_ / "broken.img").string();
    ASSERT_TRUE(v.write(path));
    const std::string boot = test::ReadFile(path).substr(0, 512);
    const std::uint64_t cluster = (static_cast<std::uint8_t>(boot[0x0B]) | static_cast<std::uint8_t>(boot[0x0C]) << 8) *
                                  static_cast<std::uint64_t>(static_cast<std::uint8_t>(boot[0x0D]));
    std::uint64_t mftLcn = 0;
    for (int i = 7; i >= 0; --i) mftLcn = mftLcn << 8 | static_cast<std::uint8_t>(boot[0x30 + i]);
    test::PatchFile(path, mftLcn * cluster, std::string(1024, '\x5A'));
    std::vector<UndeleteEntry> out;
    EXPECT_FALSE(ListNtfsDeleted(session_, path, out, "all", 0, 0, ui_));
    ASSERT_FALSE(ui_.messages.empty());
    EXPECT_EQ(ui_.messages[0].text, "The MFT of " + path + ", the table of its files, is damaged: the files cannot be "
                                    "listed by their names.\nA scan still finds the photos and other files on it by "
                                    "their contents.");
}

TEST_F(MftDamage, RandomDamageNeverCrashesOrHangs) {
    Volume v(false, 200);  // a small volume: it is copied for every round
    std::vector<std::uint32_t> recs;
    for (int i = 0; i < 30; ++i) recs.push_back(addFile(v, "d" + std::to_string(i) + ".jpg", 5, 1000 + 300 * i, i));
    const std::string img = (dir_ / "damaged.img").string();
    ASSERT_TRUE(v.write(img));

    std::mt19937 rng(4242);
    test::TempDir out("hx-mft-dmg");
    int listedSomething = 0;
    std::fstream f(img, std::ios::in | std::ios::out | std::ios::binary);
    for (int round = 0; round < 150; ++round) {
        // Damage bytes of records 0-15 and of the 30 files (the first 46 KiB of
        // the MFT at cluster 16), remembering them to undo it after the round.
        std::vector<std::pair<std::uint64_t, char>> undo;
        for (int k = 0; k < 24; ++k) {
            const std::uint64_t at = 16 * kCluster + rng() % (46 * kRecord);
            char old = 0;
            f.seekg(static_cast<std::streamoff>(at));
            f.get(old);
            undo.emplace_back(at, old);
            f.seekp(static_cast<std::streamoff>(at));
            f.put(static_cast<char>(rng()));
        }
        f.flush();
        std::vector<UndeleteEntry> l;
        ListNtfsDeleted(session_, img, l, "all", 0, 0, ui_);
        listedSomething += !l.empty();
        // A few restores per round: writing files is what costs here.
        for (std::size_t k = 0; k < l.size(); k += 7) {
            if (l[k].Size > (1u << 20)) continue;
            RecoverNtfsFile(session_, img, l[k].RecordNumber, out / ("r" + std::to_string(k)), ui_);
        }
        CloseMft(session_);
        for (auto it = undo.rbegin(); it != undo.rend(); ++it) {
            f.seekp(static_cast<std::streamoff>(it->first));
            f.put(it->second);
        }
        f.flush();
        ASSERT_TRUE(f.good());

    }
    EXPECT_GT(listedSomething, 30);
}

TEST(NtfsStructs, RunsAndFixupsRejectGarbage) {
    std::vector<filesystems::ntfs::Run> runs;
    const std::uint8_t sparse[] = {0x21, 0x04, 0x10, 0x00, 0x01, 0x08, 0x11, 0x02, 0x05, 0x00};
    ASSERT_TRUE(filesystems::ntfs::DecodeRuns(sparse, sizeof sparse, 0, 1000, runs));
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_EQ(runs[0].lcn, 0x10);
    EXPECT_EQ(runs[1].lcn, -1);
    EXPECT_EQ(runs[1].vcn, 4);
    EXPECT_EQ(runs[2].lcn, 0x15);
    const auto encoded = filesystems::ntfs::EncodeRuns(runs);
    std::vector<filesystems::ntfs::Run> again;
    ASSERT_TRUE(filesystems::ntfs::DecodeRuns(encoded.data(), encoded.size(), 0, 1000, again));
    ASSERT_EQ(again.size(), runs.size());
    for (std::size_t i = 0; i < runs.size(); ++i) {
        EXPECT_EQ(again[i].lcn, runs[i].lcn);
        EXPECT_EQ(again[i].length, runs[i].length);
    }
    const std::uint8_t negative[] = {0x11, 0x01, 0x80, 0x00};  // lands before cluster 0
    EXPECT_FALSE(filesystems::ntfs::DecodeRuns(negative, sizeof negative, 0, 1000, runs));
    const std::uint8_t unterminated[] = {0x11, 0x01, 0x05};
    EXPECT_FALSE(filesystems::ntfs::DecodeRuns(unterminated, sizeof unterminated, 0, 1000, runs));
    EXPECT_FALSE(filesystems::ntfs::DecodeRuns(sparse, sizeof sparse, 0, 0x16, runs));  // past a volume of 0x16 clusters

    Bytes r = record(1, {fileName("x", 5)});
    Bytes copy = r;
    EXPECT_TRUE(filesystems::ntfs::ApplyFixups(copy.data(), copy.size()));
    copy = r;
    put16(copy, 6, 7);  // wrong number of fixup values
    EXPECT_FALSE(filesystems::ntfs::ApplyFixups(copy.data(), copy.size()));
    copy = r;
    copy[0] = 'B';  // "BAAD"
    EXPECT_FALSE(filesystems::ntfs::ApplyFixups(copy.data(), copy.size()));
}

}  // namespace
}  // namespace hx::filesystems
