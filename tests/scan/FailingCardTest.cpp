// A card with failing sectors, read as the system reads one (a read-only loop
// device over a file whose chosen sectors fail with EIO): the scan goes to the
// end, every photo clear of the bad sectors comes back whole, a photo that
// holds some comes back with zeros there and says so, and a card that stops
// answering ends the scan in a way of its own, from where it resumes.
#include <gtest/gtest.h>

#include <random>
#include <set>

#include "fixtures/CardFixture.h"
#include "fixtures/FaultyCard.h"
#include "fixtures/MediaImages.h"
#include "fixtures/PhonePictures.h"
#include "fixtures/UndeleteFixtures.h"
#include "filesystems/DriveInfo.h"
#include "filesystems/fat/FatTables.h"
#include "output/DiskBackup.h"
#include "platform/ByteOrder.h"
#include "scan/ScanState.h"
#include "undelete/QuickUndelete.h"

namespace hx::scan {
namespace {

namespace fs = std::filesystem;

class FailingCard : public test::CardFixture {
protected:
    void SetUp() override {
        CardFixture::SetUp();
        if (IsSkipped()) return;
        makeTheCard();
        for (int n = 0; n < 6; ++n) putPhoto(n, 800, 600);
        const std::string card = test::ReadFile(image);
        for (const auto& [n, bytes] : photos) {
            const auto at = card.find(bytes);
            ASSERT_NE(at, std::string::npos);
            ASSERT_EQ(at % 512, 0u);
            sectorOf[n] = at / 512;
        }
        faulty = std::make_unique<test::FaultyCard>(image, dir.path());
        if (!faulty->ok()) GTEST_SKIP() << faulty->error();
    }

    // The photo as it comes back with `bad` of its sectors (counted from its start) unreadable.
    std::string withZeros(int n, const std::set<std::uint64_t>& bad) const {
        std::string bytes = photos.at(n);
        for (std::uint64_t s : bad) bytes.replace(s * 512, 512, std::string(512, '\0'));
        return bytes;
    }

    virtual void makeTheCard() { makeCard(40, 4, 16); }

    // Photo 30 in two pieces, far after the others, 8 clusters of other data
    // between: the byte of the card where its second piece starts (npos where
    // it is not found); `cut`, the length of its first.
    std::size_t photoInTwoPieces(std::size_t& cut) {
        photos[30] = test::MakeTestJpeg(30, 1024, 768);
        cut = photos[30].size() / 2 / clusterBytes() * clusterBytes();
        constexpr std::uint64_t kFirst = 12000;
        writeAtCluster(kFirst, photos[30].substr(0, cut));
        writeAtCluster(kFirst + cut / clusterBytes(), test::PatternBytes(8 * clusterBytes(), 31));
        writeAtCluster(kFirst + cut / clusterBytes() + 8, photos[30].substr(cut));
        return test::ReadFile(image).find(photos[30].substr(cut, 4096));
    }

    std::map<int, std::uint64_t> sectorOf;  // where each photo starts on the card
    std::unique_ptr<test::FaultyCard> faulty;
};

// The same card as FAT12, FAT16 and FAT32.
class FailingCardOfEachFat : public FailingCard, public ::testing::WithParamInterface<int> {
protected:
    void makeTheCard() override {
        if (GetParam() == 12) makeCard(12, 8, 12);
        else if (GetParam() == 16) makeCard(40, 4, 16);
        else makeCard(64, 1, 32);
    }
};

TEST_P(FailingCardOfEachFat, TheScanReadsPastBadSectorsAndKeepsTheFindsThatHoldThem) {
    // Three sectors inside photo 1 (two in one page of the system's cache),
    // one inside photo 3, and a bad area of 300 sectors past the photos.
    const std::uint64_t p1 = sectorOf[1], p3 = sectorOf[3];
    const std::uint64_t area = sectorOf[5] + 4000;
    faulty->setRules("bad " + std::to_string(p1 + 20) + "-" + std::to_string(p1 + 21) + "\nbad " +
                     std::to_string(p1 + 40) + "\nbad " + std::to_string(p3 + 9) + "\nbad " + std::to_string(area) +
                     "-" + std::to_string(area + 299) + "\n");
    output::ScanCommand command(ui, test::WholeScanRequest(faulty->device(), cache));
    ASSERT_EQ(command.run(), ScanOutcome::Finished);
    const ScanContext& ctx = command.context();

    EXPECT_EQ(intact(ctx), (std::vector<int>{0, 2, 4, 5}));
    std::map<std::string, std::uint64_t> damaged;  // contents of the finds that hold unreadable sectors
    for (const auto& f : ctx.found)
        if (f.unreadableSectors > 0) damaged[test::ReadFile(cache / f.name)] = f.unreadableSectors;
    EXPECT_EQ(damaged, (std::map<std::string, std::uint64_t>{{withZeros(1, {20, 21, 40}), 3}, {withZeros(3, {9}), 1}}));

    EXPECT_EQ(ctx.unreadableSectors, 304u);
    const std::string list = test::ReadFile(cache / kUnreadableFile);
    EXPECT_NE(list.find("\n" + std::to_string(p1 + 20) + "\n" + std::to_string(p1 + 21) + "\n"), std::string::npos);
    EXPECT_NE(list.find("\n" + std::to_string(area + 299) + "\n"), std::string::npos) << list;
    bool told = false;
    for (const auto& s : ui.statuses) told |= s.find("304 sectors could not be read") != std::string::npos;
    EXPECT_TRUE(told) << ::testing::PrintToString(ui.statuses);
}

INSTANTIATE_TEST_SUITE_P(Fat, FailingCardOfEachFat, ::testing::Values(12, 16, 32));

// A bad area long enough that the reader skips ahead past its end, over the
// start of the photo after it: the skipped part reads at the end, and the
// photo that starts there is found then.
TEST_F(FailingCard, APhotoThatStartsWhereTheReaderSkippedAheadIsFoundWhenTheAreaIsReadAgain) {
    photos[6] = test::MakeTestJpeg(6, 640, 480);
    writeAtCluster(15000, photos[6]);
    const std::uint64_t p6 = test::ReadFile(image).find(photos[6]) / 512;
    faulty->setRules("bad " + std::to_string(p6 - 400) + "-" + std::to_string(p6 - 9) + "\n");
    output::ScanCommand command(ui, test::WholeScanRequest(faulty->device(), cache));
    ASSERT_EQ(command.run(), ScanOutcome::Finished);
    const ScanContext& ctx = command.context();
    EXPECT_EQ(intact(ctx), (std::vector<int>{0, 1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(ctx.unreadableSectors, 392u);
    for (const auto& f : ctx.found) EXPECT_EQ(f.unreadableSectors, 0u) << f.name;
}



TEST_F(FailingCard, ACardThatStopsAnsweringEndsTheScanThereAndTheScanResumesWhenItIsBack) {
    // Two more photos in free space far on, past where the card dies.
    for (int n : {6, 7}) {
        photos[n] = test::MakeTestJpeg(n, 640, 480);
        writeAtCluster(15000 + 200 * (n - 6), photos[n]);
    }
    // One sector of photo 2 is bad for good.
    const std::string bad = "bad " + std::to_string(sectorOf[2] + 7) + "\n";
    faulty->setRules(bad + "dies 40000\n");
    {
        output::ScanCommand command(ui, test::WholeScanRequest(faulty->device(), cache));
        ASSERT_EQ(command.run(), ScanOutcome::MediumGone);
        const ScanContext& ctx = command.context();
        EXPECT_EQ(intact(ctx), (std::vector<int>{0, 1, 3, 4, 5}));
        EXPECT_GT(ctx.resumeUnit, 0u);
        ASSERT_FALSE(ui.messages.empty());
        EXPECT_NE(ui.messages.back().text.find("no longer answers"), std::string::npos) << ui.messages.back().text;
        EXPECT_EQ(ctx.finishedText.rfind("Stopped after ", 0), 0u) << ctx.finishedText;
    }
    // The command line ends such a scan with a code of its own.
    faulty->setRules("dies 40000\n");
    std::string said;
    EXPECT_EQ(test::RunCommand(test::CliCommand() + " --cache '" + (dir / "cli").string() + "' scan " + faulty->device() +
                                   " </dev/null 2>&1",
                               &said),
              4)
        << said;
    EXPECT_NE(said.find("stopped answering"), std::string::npos) << said;
    // Back in the reader: the scan goes on from where it stopped, and what
    // the first part could not read is still said, of the card and of photo 2.
    faulty->setRules(bad);
    output::ScanRequest again = test::WholeScanRequest(faulty->device(), cache);
    again.resume = true;
    again.newScan.reset();
    output::ScanCommand command(ui, again);
    ASSERT_EQ(command.run(), ScanOutcome::Finished);
    EXPECT_EQ(intact(command.context()), (std::vector<int>{0, 1, 3, 4, 5, 6, 7}));
    EXPECT_EQ(command.context().unreadableSectors, 1u) << test::ReadFile(cache / kUnreadableFile) << sectorOf[2] << " resume " << command.context().resumeUnit;
    const auto damaged = DamagedFinds(cache);
    ASSERT_EQ(damaged.size(), 1u);
    EXPECT_EQ(test::ReadFile(cache / damaged.begin()->first), withZeros(2, {7}));
    EXPECT_NE(test::ReadFile(cache / kUnreadableFile).find("\n" + std::to_string(sectorOf[2] + 7) + "\n"), std::string::npos);
}

// A window: it yields while a read waits.
struct Window : test::ScriptedUi {
    Window() { asWindow = true; }
};

// A window whose stop is asked for a few dozen looks after the card began
// to keep a read waiting (whatever came before, which a busy machine makes longer).
struct StopInTheWait : Window {
    explicit StopInTheWait(const test::FaultyCard& card) : card(card), before(card.waits()) {}
    void yield() override {
        Window::yield();
        if (card.waits() > before && ++after >= 20) stop = true;
    }
    const test::FaultyCard& card;
    const int before;
    int after = 0;
};

TEST_F(FailingCard, AWindowIsAnsweredWhileASlowAreaKeepsAReadWaitingAndItsStopTakesEffectThen) {
    // An area past the photos answers each read after 1.5 seconds.
    faulty->setRules("slow " + std::to_string(sectorOf[5] + 2000) + "-" + std::to_string(sectorOf[5] + 2100) + " 1500\n");
    Window window;
    output::ScanCommand whole(window, test::WholeScanRequest(faulty->device(), cache));
    ASSERT_EQ(whole.run(), ScanOutcome::Finished);
    EXPECT_GT(window.yields, 100) << "the window yields while the slow reads wait (bench/failing/SlowCardWindow times it)";
    EXPECT_EQ(intact(whole.context()), (std::vector<int>{0, 1, 2, 3, 4, 5}));

    // Stop asked for while the slow read waits: the scan stops after it.
    test::ScriptedUi stopping;
    stopping.asWindow = true;
    stopping.stopAtYield = window.yields / 2;
    stopping.answers = {shell::Answer::Yes};
    output::ScanCommand stopped(stopping, test::WholeScanRequest(faulty->device(), cache));
    EXPECT_EQ(stopped.run(), ScanOutcome::Stopped);
}

// A card that keeps a read waiting far longer than any card takes, as a
// reader that hangs does. Stop, asked for from the window while the read
// waits, gives it up at once: the scan stops in the block that waits (had it
// waited for the read, it would have gone on past it), and nothing it did
// not read is listed as unreadable.
TEST_F(FailingCard, AStopGivesUpAReadThatHangs) {
    // Far past the photos, out of the blocks that hold them.
    const std::uint64_t hung = sectorOf[5] + 20000;
    faulty->setRules("slow " + std::to_string(hung) + "-" + std::to_string(hung + 7) + " 12000\n");
    // The window yields every few milliseconds while a read waits: the stop
    // comes well inside the wait.
    StopInTheWait stopping(*faulty);
    stopping.answers = {shell::Answer::Yes};
    output::ScanCommand stopped(stopping, test::WholeScanRequest(faulty->device(), cache));
    ASSERT_EQ(stopped.run(), ScanOutcome::Stopped);
    const ScanContext& ctx = stopped.context();
    EXPECT_LE(ctx.geometry.byteOf(ctx.resumeUnit), hung * 512) << "the stop waited for the read";
    EXPECT_EQ(ctx.unreadableSectors, 0u);
    EXPECT_EQ(intact(ctx), (std::vector<int>{0, 1, 2, 3, 4, 5}));
}

// Without a stop, a read that has not come back within a few seconds counts
// as failing; while reads stay stuck the card is taken as no longer
// answering: the scan ends so, with what it found, and may resume later.
TEST_F(FailingCard, AReadThatHangsEndsTheScanAsACardThatStoppedAnswering) {
    // Far past the photos, out of the blocks that hold them (the test file
    // system answers one read at a time: those queued behind the hung one
    // hang too, as the card stopped answering).
    const std::uint64_t hung = sectorOf[5] + 20000;
    faulty->setRules("slow " + std::to_string(hung) + "-" + std::to_string(hung + 7) + " 12000\n");
    test::ScriptedUi terminal;
    output::ScanCommand command(terminal, test::WholeScanRequest(faulty->device(), cache));
    ASSERT_EQ(command.run(), ScanOutcome::MediumGone);
    const ScanContext& ctx = command.context();
    EXPECT_EQ(intact(ctx), (std::vector<int>{0, 1, 2, 3, 4, 5}));
    EXPECT_LE(ctx.geometry.byteOf(ctx.resumeUnit), hung * 512);
}

// The joiners read the card again at the scan's end, and a card may hang
// there on sectors that answered the scan (it wears as it is read): the join
// that needs them gives up after a few seconds rather than wait, the scan
// ends as it would have, and what it found is kept. (Waited for, the
// sectors would have come back, and the photo whole.)
TEST_F(FailingCard, AJoinWhoseReadHangsGivesUpAndTheScanKeepsItsFinds) {
    std::size_t cut = 0;
    const std::size_t at = photoInTwoPieces(cut);
    ASSERT_NE(at, std::string::npos);
    const std::uint64_t rest = at / 512;  // the second piece's first sector
    {
        // Read whole, the joiner puts the pieces together.
        output::ScanCommand whole(ui, test::WholeScanRequest(faulty->device(), cache / "whole"));
        ASSERT_EQ(whole.run(), ScanOutcome::Finished);
        std::set<std::string> back;
        for (const FoundFile& f : whole.context().found) back.insert(test::ReadFile(cache / "whole" / f.name));
        ASSERT_TRUE(back.count(photos[30])) << "the photo in pieces is not joined from a healthy card";
    }
    faulty->setRules("worn " + std::to_string(rest) + "-" + std::to_string(rest + 63) + " 12000\n");
    test::ScriptedUi terminal;
    output::ScanCommand command(terminal, test::WholeScanRequest(faulty->device(), cache));
    ASSERT_EQ(command.run(), ScanOutcome::Finished);
    const ScanContext& ctx = command.context();
    EXPECT_EQ(intact(ctx), (std::vector<int>{0, 1, 2, 3, 4, 5})) << "the join waited for the card";
    bool firstPiece = false;
    for (const FoundFile& f : ctx.found)
        if (test::ReadFile(cache / f.name).compare(0, cut, photos[30], 0, cut) == 0) firstPiece = f.damaged;
    EXPECT_TRUE(firstPiece) << "the photo's first piece is not kept, marked damaged";
}

// Nor does a read that hangs hold the undelete: it counts as failing after a
// few seconds, and the photo it was for is not waited for (it would come
// back whole only after minutes of the card's retries, a sector at a time);
// a photo saved before comes back whole.
TEST_F(FailingCard, TheUndeleteGivesUpAReadThatHangs) {
    for (int n : {0, 5}) ASSERT_TRUE(test::FatDelete(image, nameOf(n)));
    undelete::QuickUndelete q(ui);
    ASSERT_TRUE(q.run({faulty->device(), "all", 0, 0, {}}));
    // The card hangs once the files are listed, far from the first photo
    // (lest the system's read-ahead for it reach there).
    const std::uint64_t hung = sectorOf[5] + 8;
    ASSERT_GT(hung - sectorOf[0], 512u);
    faulty->setRules("slow " + std::to_string(hung) + "-" + std::to_string(hung + 7) + " 12000\n");
    test::TempDir out("hx-hung-undelete");
    std::map<int, std::optional<fs::path>> restored;
    for (int n : {0, 5}) {
        const auto it = std::find_if(q.entries().begin(), q.entries().end(), [&](const filesystems::UndeleteEntry& e) {
            return e.ListName.substr(1) == nameOf(n).substr(1) && q.isDeletedFile(&e - q.entries().data());
        });
        ASSERT_NE(it, q.entries().end()) << nameOf(n);
        restored[n] = q.restoreInto(static_cast<std::size_t>(it - q.entries().begin()), out.path());
    }
    ASSERT_TRUE(restored[0]);
    EXPECT_TRUE(test::ReadFile(*restored[0]) == photos[0]);
    EXPECT_TRUE(!restored[5] || test::ReadFile(*restored[5]) != photos[5]) << "the undelete waited for the card";
}

// A window is answered while the undelete waits for a read that hangs, and
// its stop gives the read up then, not when the read would have failed.
TEST_F(FailingCard, AWindowIsAnsweredWhileTheUndeleteWaitsForAReadThatHangsAndItsStopGivesItUp) {
    for (int n : {0, 5}) ASSERT_TRUE(test::FatDelete(image, nameOf(n)));
    Window window;
    undelete::QuickUndelete q(window);
    ASSERT_TRUE(q.run({faulty->device(), "all", 0, 0, {}}));
    test::TempDir out("hx-hung-window");
    // Restores deleted photo n; true when it came back whole.
    const auto restore = [&](int n) {
        for (std::size_t k = 0; k < q.entries().size(); ++k)
            if (q.entries()[k].ListName.substr(1) == nameOf(n).substr(1) && q.isDeletedFile(k)) {
                const auto restored = q.restoreInto(k, out.path());
                return restored && test::ReadFile(*restored) == photos[n];
            }
        ADD_FAILURE() << nameOf(n) << " is not listed";
        return false;
    };
    int before = window.yields;
    ASSERT_TRUE(restore(0));
    const int healthy = window.yields - before;
    // The card hangs on the other photo, far from the first (lest the
    // system's read-ahead for it reach there).
    const std::uint64_t hung = sectorOf[5] + 8;
    ASSERT_GT(hung - sectorOf[0], 512u);
    faulty->setRules("slow " + std::to_string(hung) + "-" + std::to_string(hung + 7) + " 12000\n");
    before = window.yields;
    EXPECT_FALSE(restore(5)) << "the undelete waited for the card";
    // The guard looks every 15 ms whether to give up: a few hundred times in
    // the 5 s before the read counts as failing, the window served each time.
    EXPECT_GT(window.yields - before, healthy + 100) << "the window is not served while the read waits";

    // Stop asked for while the read waits (the card still busy with the
    // last): no more than a few looks after it.
    window.stopAtYield = window.yields + 20;
    before = window.yields;
    EXPECT_FALSE(restore(5));
    EXPECT_LT(window.yields - before, 60) << "the stop waited for the read to fail";
}

// The backup reads as the scan does: a window is answered while a slow read
// waits, and the image is the card's.
TEST_F(FailingCard, ABackupKeepsTheWindowAnsweredWhileASlowAreaKeepsAReadWaiting) {
    faulty->setRules("slow " + std::to_string(sectorOf[5] + 2000) + "-" + std::to_string(sectorOf[5] + 2100) + " 1500\n");
    Window window;
    output::BackupRequest request;
    request.drive = faulty->device();
    request.image = dir / "images" / "card.img";
    const output::BackupResult result = output::BackupDisk(window, request);
    ASSERT_TRUE(result.ok);
    EXPECT_GT(window.yields, 100) << "the window yields while the slow reads wait (bench/failing/SlowCardWindow times it)";
    EXPECT_EQ(result.unreadableSectors, 0u);
    EXPECT_TRUE(test::ReadFile(request.image) == test::ReadFile(image));
}

// The backup gives up a read that hangs at a stop as the scan does: the copy
// ends where it had come, not after the read (which would have copied on
// past it), and lists nothing it did not read as unreadable.
TEST_F(FailingCard, ABackupStopGivesUpAReadThatHangs) {
    output::BackupRequest request;
    request.drive = faulty->device();
    request.image = dir / "images" / "healthy.img";
    Window healthy;
    ASSERT_TRUE(output::BackupDisk(healthy, request).ok);
    const std::uint64_t hung = sectorOf[5] + 2000;
    faulty->setRules("slow " + std::to_string(hung) + "-" + std::to_string(hung + 7) + " 12000\n");
    StopInTheWait stopping(*faulty);
    stopping.answers = {shell::Answer::Yes, shell::Answer::Yes};
    request.image = dir / "images" / "stopped.img";
    const output::BackupResult result = output::BackupDisk(stopping, request);
    EXPECT_TRUE(result.stopped);
    EXPECT_LE(result.bytes, hung * 512) << "the stop waited for the read";
    EXPECT_EQ(result.unreadableSectors, 0u);
}

TEST_P(FailingCardOfEachFat, TheUndeleteTakesWhatTheFirstTableCannotGiveFromTheSecondAndRestoresEveryDeletedPhoto) {
    // Notes enough for a second sector of the root folder.
    for (int n = 0; n < 20; ++n) ASSERT_TRUE(test::FatPutFile(image, "NOTE" + std::to_string(n) + ".TXT", "note"));
    for (int n : {1, 4}) ASSERT_TRUE(test::FatDelete(image, nameOf(n)));
    media::DriveRecord healthy;
    ASSERT_TRUE(filesystems::ParseBootSector(image.string(), healthy, false) && filesystems::LoadFatTable(healthy));
    const auto fatStart = healthy.ReservedSectors;
    const std::int64_t root = GetParam() == 32 ? filesystems::ClusterToSector(healthy, healthy.RootCluster) : healthy.RootDirStart;
    // The first copy's first sectors fail, and one further in; the second
    // copy is whole. The root folder's second sector fails too: it loses
    // only the notes it holds.
    faulty->setRules("bad " + std::to_string(fatStart) + "-" + std::to_string(fatStart + 2) + "\nbad " +
                     std::to_string(fatStart + std::min<std::uint32_t>(30, healthy.SectorsPerFAT - 1)) + "\nbad " + std::to_string(root + 1) + "\n");
    media::DriveRecord failing;
    ASSERT_TRUE(filesystems::ParseBootSector(faulty->device(), failing, false) && filesystems::LoadFatTable(failing));
    const auto& a = filesystems::TableOf(failing)->entries;
    const auto& b = filesystems::TableOf(healthy)->entries;
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < a.size(); ++i) ASSERT_EQ(a[i], b[i]) << "entry " << i;

    undelete::QuickUndelete q(ui);
    ASSERT_TRUE(q.run({faulty->device(), "all", 0, 0, {}}));
    test::TempDir out("hx-failing-undelete");
    for (int n : {1, 4}) {
        const std::string name = nameOf(n);
        const auto it = std::find_if(q.entries().begin(), q.entries().end(), [&](const filesystems::UndeleteEntry& e) {
            return e.ListName.substr(1) == name.substr(1) && q.isDeletedFile(&e - q.entries().data());
        });
        ASSERT_NE(it, q.entries().end()) << name;
        const auto restored = q.restoreInto(static_cast<std::size_t>(it - q.entries().begin()), out.path());
        ASSERT_TRUE(restored) << name;
        EXPECT_TRUE(test::ReadFile(*restored) == photos[n]) << name;
    }
}

// A sector of the table that neither copy gives: its entries are unknown,
// and unknown is never free (a deleted file planned there would be planned
// over a live one); the rest of the table is as it was.
TEST_P(FailingCardOfEachFat, EntriesThatNeitherTableGivesAreNeverFree) {
    media::DriveRecord healthy;
    ASSERT_TRUE(filesystems::ParseBootSector(image.string(), healthy, false) && filesystems::LoadFatTable(healthy));
    const std::uint64_t first = healthy.ReservedSectors + 1, second = first + healthy.SectorsPerFAT;
    faulty->setRules("bad " + std::to_string(first) + "\nbad " + std::to_string(second) + "\n");
    media::DriveRecord failing;
    ASSERT_TRUE(filesystems::ParseBootSector(faulty->device(), failing, false) && filesystems::LoadFatTable(failing));
    const auto& a = filesystems::TableOf(failing)->entries;
    const auto& b = filesystems::TableOf(healthy)->entries;
    ASSERT_EQ(a.size(), b.size());
    // The entries with a half byte in the table's second sector.
    const std::uint64_t halfBytes = static_cast<std::uint64_t>(healthy.FATEntryBytes * 2);
    const std::uint64_t from = 512 * 2 / halfBytes, to = (1024 * 2 + halfBytes - 1) / halfBytes;
    std::size_t unknown = 0;
    for (std::size_t i = 2; i < a.size(); ++i) {
        if (i >= from && i < to) {
            EXPECT_TRUE(a[i] != 0 && filesystems::IsChainEnd(failing, a[i])) << "entry " << i << " = " << a[i];
            ++unknown;
        } else {
            ASSERT_EQ(a[i], b[i]) << "entry " << i;
        }
    }
    EXPECT_EQ(filesystems::TableOf(failing)->unknownEntries, unknown);
}

// Clips in pieces on a dying card, put together a clip a core, each core
// with its own reader of the card: the sectors after each piece's end (an
// older file's, which the search for the next piece reads over) fail. A
// read through the system's cache near them fails too (its read ahead met
// them), where the sectors read well alone: every clip comes back whole all
// the same, holding none of the sectors its find ran on into, the photos too.
TEST_F(FailingCard, ClipsInPiecesComeBackWholePastBadSectorsAfterEachPiece) {
    std::mt19937 random(3);
    for (int n = 0; n < 32; ++n) {
        std::string bytes(12000 + random() % 30000, '\0');
        for (char& c : bytes) c = static_cast<char>(random());
        ASSERT_TRUE(test::FatPutFirstFree(image, "OLD/FILE" + std::to_string(n) + ".BIN", bytes));
    }
    for (int n = 1; n < 32; n += 2) ASSERT_TRUE(test::FatDelete(image, "OLD/FILE" + std::to_string(n) + ".BIN"));
    const auto geometry = test::FatGeometry(image);
    std::set<std::string> clips;
    std::string rules;
    std::uint64_t bad = 0;
    for (int n = 0; n < 3; ++n) {
        const std::string clip = test::MakeClip(4, n, n % 2 == 0);
        if (clip.empty()) GTEST_SKIP() << "ffmpeg has no H.264";
        const std::string name = "DCIM/MVI_000" + std::to_string(n) + ".MP4";
        ASSERT_TRUE(test::FatPutFirstFree(image, name, clip));
        const std::vector<std::uint32_t> clusters = test::FatClustersOf(image, name);
        ASSERT_TRUE(test::InPieces(clusters)) << name;
        for (std::size_t k = 0; k + 1 < clusters.size(); ++k)
            if (clusters[k + 1] != clusters[k] + 1) {
                const std::uint64_t sector = geometry.FirstDataSector + (clusters[k] + 1 - 2ull) * geometry.SectorsPerCluster;
                rules += "bad " + std::to_string(sector) + "-" + std::to_string(sector + 1) + "\n";
                bad += 2;
            }
        clips.insert(clip);
    }
    ASSERT_EQ(test::RunCommand("mkfs.fat -F 16 -s 4 -n CARD '" + image.string() + "' >/dev/null"), 0);
    faulty->setRules(rules);

    output::ScanCommand command(ui, test::WholeScanRequest(faulty->device(), cache));
    ASSERT_EQ(command.run(), ScanOutcome::Finished);
    const ScanContext& ctx = command.context();
    EXPECT_EQ(intact(ctx), (std::vector<int>{0, 1, 2, 3, 4, 5}));
    std::set<std::string> back;
    for (const FoundFile& f : ctx.found)
        if (clips.count(test::ReadFile(cache / f.name))) {
            back.insert(test::ReadFile(cache / f.name));
            EXPECT_GT(f.pieces, 1) << f.name;
            EXPECT_EQ(f.unreadableSectors, 0u) << f.name;
        }
    EXPECT_EQ(back.size(), clips.size());
    EXPECT_EQ(ctx.unreadableSectors, bad);
}

// A photo in two pieces whose find runs on past its first into another
// file's bad sectors: joined, it holds none of them, and says none.
TEST_F(FailingCard, AJoinedPhotoSaysNoneOfTheBadSectorsItsFirstPieceRanOnInto) {
    std::size_t cut = 0;
    const std::size_t at = photoInTwoPieces(cut);
    ASSERT_NE(at, std::string::npos);
    const std::uint64_t between = (at - 8 * clusterBytes()) / 512 + 3;  // in the other file's clusters
    faulty->setRules("bad " + std::to_string(between) + "-" + std::to_string(between + 1) + "\n");
    output::ScanCommand command(ui, test::WholeScanRequest(faulty->device(), cache));
    ASSERT_EQ(command.run(), ScanOutcome::Finished);
    bool joined = false;
    for (const FoundFile& f : command.context().found)
        if (test::ReadFile(cache / f.name) == photos[30]) {
            joined = true;
            EXPECT_EQ(f.unreadableSectors, 0u);
            EXPECT_GT(f.pieces, 1);
        }
    EXPECT_TRUE(joined);
    EXPECT_EQ(command.context().unreadableSectors, 2u);
}

TEST_F(FailingCard, RecoverGivesBackEveryPhotoAndSaysWhichHoldUnreadableSectors) {
    ASSERT_TRUE(test::FatDelete(image, nameOf(1)));
    ASSERT_TRUE(test::FatDelete(image, nameOf(3)));
    faulty->setRules("bad " + std::to_string(sectorOf[2] + 11) + "\nbad " + std::to_string(sectorOf[3] + 30) + "\n");
    const fs::path out = dir / "recovered";
    std::string said;
    const int rc = test::RunCommand(test::CliCommand() + " recover " + faulty->device() + " --to '" + out.string() +
                                        "' --include-present --layout found </dev/null 2>&1",
                                    &said);
    EXPECT_EQ(rc, 0) << said;
    std::map<std::string, int> back;
    for (const auto& e : fs::recursive_directory_iterator(out))
        if (e.is_regular_file()) back[test::ReadFile(e.path())]++;
    for (int n : {0, 1, 4, 5}) EXPECT_EQ(back.count(photos[n]), 1u) << n << "\n" << said;
    EXPECT_EQ(back.count(withZeros(2, {11})), 1u) << said;
    EXPECT_EQ(back.count(withZeros(3, {30})), 1u) << said;
    // The report names both, the copied photo and the undeleted one.
    const std::string report = test::ReadFile(out / "report.html");
    for (const auto& [n, sector] : std::map<int, int>{{2, 11}, {3, 30}}) {
        const auto row = report.find(nameOf(n));
        ASSERT_NE(row, std::string::npos) << report;
        const std::string line = report.substr(row, report.find('\n', row) - row);
        EXPECT_NE(line.find("damaged: 1 sectors unreadable (zeros), the first at byte " + std::to_string(sector * 512)),
                  std::string::npos)
            << line;
    }
}

// exFAT: neither the allocation bitmap nor the table of clusters can be
// read. The volume is still listed, and its deleted files, which lie in one
// run each, come back whole.
TEST(FailingExfat, AnUnreadableBitmapOrTableIsNoReasonToRefuseTheVolume) {
    if (const std::string why = test::FuseUnavailableReason(true); !why.empty() || !test::HaveTool("mount.exfat-fuse"))
        GTEST_SKIP() << why;
    test::TempDir dir("hx-failing-exfat");
    const fs::path image = test::MakeExFatImage(dir / "card.img", {24, 4096, ""});
    REQUIRE_IMAGE(image);
    std::map<std::string, std::string> files;
    for (int n = 0; n < 4; ++n) files["DSC0" + std::to_string(n) + ".JPG"] = test::PatternBytes(30000 + 999 * n, n);
    {
        test::FuseMount mount(test::FuseMount::Kind::Exfat, image, dir / "mnt");
        if (!mount.ok()) GTEST_SKIP() << mount.error();
        for (const auto& [name, bytes] : files) test::WriteFile(mount.dir() / name, bytes);
        for (const auto& name : {"DSC01.JPG", "DSC03.JPG"}) fs::remove(mount.dir() / name);
        mount.unmount();
    }
    media::DriveRecord rec;
    ASSERT_TRUE(filesystems::ParseBootSector(image.string(), rec, true));
    ASSERT_GE(rec.BitmapCluster, 2u);
    const std::int64_t bitmap = filesystems::ClusterToSector(rec, rec.BitmapCluster);
    test::FaultyCard faulty(image, dir.path());
    if (!faulty.ok()) GTEST_SKIP() << faulty.error();
    const std::int64_t table = rec.ReservedSectors;
    faulty.setRules("bad " + std::to_string(bitmap) + "\nbad " + std::to_string(table) + "-" +
                    std::to_string(table + rec.SectorsPerFAT - 1) + "\n");

    test::ScriptedUi ui;
    undelete::QuickUndelete q(ui);
    ASSERT_TRUE(q.run({faulty.device(), "all", 0, 0, {}}));
    test::TempDir out("hx-failing-exfat-out");
    for (const auto& name : {"DSC01.JPG", "DSC03.JPG"}) {
        const filesystems::UndeleteEntry* e = test::FindListed(q.entries(), name);
        ASSERT_NE(e, nullptr) << name;
        const auto restored = q.restoreInto(static_cast<std::size_t>(e - q.entries().data()), out.path());
        ASSERT_TRUE(restored) << name;
        EXPECT_TRUE(test::ReadFile(*restored) == files[name]) << name;
    }
}

// NTFS: record 0 of the MFT unreadable (it comes from $MFTMirr) and one
// file's record unreadable: every other file is listed and comes back, whole
// but for the one sector of a file that cannot be read, and which is said.
TEST(FailingNtfs, UnreadableMftRecordsCostOnlyTheirOwnFiles) {
    if (const std::string why = test::FuseUnavailableReason(true); !why.empty() || !test::HaveTool("mkntfs"))
        GTEST_SKIP() << why;
    test::TempDir dir("hx-failing-ntfs");
    const fs::path image = test::MakeNtfsImage(dir / "ntfs.img", {16, 4096});
    REQUIRE_IMAGE(image);
    std::map<std::string, std::string> files;
    for (int n = 0; n < 12; ++n) files["f" + std::to_string(n) + ".dat"] = test::PatternBytes(9000 + 700 * n, n);
    for (const auto& [name, bytes] : files) ASSERT_TRUE(test::NtfsPutFile(image, name, bytes)) << name;
    // Where the MFT is, and which of its records names f5.dat.
    const std::string volume = test::ReadFile(image);
    const std::uint64_t mft = platform::Le64(reinterpret_cast<const std::uint8_t*>(volume.data()) + 48) * 4096;
    const std::string name5("f\0005\0.\0d\0a\0t\0", 12);
    std::uint64_t record5 = 0;
    for (std::uint64_t at = mft; at + 1024 <= volume.size() && at < mft + 1024 * 256; at += 1024)
        if (volume.compare(at, 4, "FILE") == 0 && volume.substr(at, 1024).find(name5) != std::string::npos) record5 = at;
    ASSERT_GT(record5, mft);
    // And one sector inside f7.dat's bytes: it comes back with zeros there.
    const std::uint64_t data7 = volume.find(files["f7.dat"]);
    ASSERT_EQ(data7 % 512, 0u);
    const std::uint64_t bad7 = data7 / 512 + 9;
    files["f7.dat"].replace(9 * 512, 512, std::string(512, '\0'));
    test::FaultyCard faulty(image, dir.path());
    if (!faulty.ok()) GTEST_SKIP() << faulty.error();
    faulty.setRules("bad " + std::to_string(mft / 512) + "\nbad " + std::to_string(record5 / 512 + 1) + "\nbad " +
                    std::to_string(bad7) + "\n");

    test::ScriptedUi ui;
    undelete::QuickUndelete live(ui);
    filesystems::QuickUndeleteOptions options{faulty.device(), "all", 0, 0, {}};
    options.liveToo = true;
    ASSERT_TRUE(live.run(options));
    bool told = false;
    for (const auto& text : ui.statuses) told |= text.find("2 sectors of the file system") != std::string::npos;
    EXPECT_TRUE(told) << ::testing::PrintToString(ui.statuses);
    test::TempDir out("hx-failing-ntfs-out");
    for (const auto& [name, bytes] : files) {
        const filesystems::UndeleteEntry* e = test::FindListed(live.entries(), name);
        if (name == "f5.dat") {
            EXPECT_EQ(e, nullptr);
            continue;
        }
        ASSERT_NE(e, nullptr) << name;
        const auto index = static_cast<std::size_t>(e - live.entries().data());
        const auto copied = live.restoreInto(index, out.path());
        ASSERT_TRUE(copied) << name;
        EXPECT_TRUE(test::ReadFile(*copied) == bytes) << name;
        EXPECT_EQ(live.damageOf(index),
                  name == "f7.dat" ? "damaged: 1 sectors unreadable (zeros), the first at byte 4608" : "");
    }
}

}  // namespace
}  // namespace hx::scan
