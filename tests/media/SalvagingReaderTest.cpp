// The salvaging reader's own logic, on a medium in memory that fails on cue
// (no root, no FUSE): the whole path, through a loop device, is the failing
// card tests'.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <set>

#include "media/SalvagingReader.h"

namespace hx::media {
namespace {

constexpr std::uint32_t kSector = 512;

// A card in memory: its `bad` sectors fail (EIO), from sector `goneFrom` on
// every read fails (ENODEV) and, while `givingUp`, every read is given up
// (ECANCELED). A read stops at the first sector that fails, as a device's does.
class CardInMemory : public SectorSource {
public:
    explicit CardInMemory(std::size_t sectors) : bytes_(sectors * kSector) {
        for (std::size_t k = 0; k < bytes_.size(); ++k) bytes_[k] = static_cast<std::uint8_t>(k * 7 + k / kSector);
    }
    std::set<std::uint64_t> bad;
    std::uint64_t goneFrom = ~0ull;
    bool givingUp = false;
    int reads = 0;

    std::size_t readAt(std::uint64_t offset, void* out, std::size_t count) override {
        ++reads;
        error_ = 0;
        std::size_t done = 0;
        for (; done < count && offset + done < bytes_.size(); done += kSector) {
            const std::uint64_t sector = (offset + done) / kSector;
            if (givingUp || sector >= goneFrom || bad.count(sector)) {
                error_ = givingUp ? ECANCELED : sector >= goneFrom ? ENODEV : EIO;
                break;
            }
            std::memcpy(static_cast<std::uint8_t*>(out) + done, &bytes_[offset + done], std::min<std::size_t>(kSector, count - done));
        }
        return std::min(done, count);
    }
    std::size_t readAtUncached(std::uint64_t offset, void* out, std::size_t count) override { return readAt(offset, out, count); }
    int lastError() const override { return error_; }
    std::uint64_t size() const override { return bytes_.size(); }
    std::string name() const override { return "card in memory"; }
    std::uint64_t windowBase() const override { return 0; }

    // The card's bytes with its `bad` sectors as zeros.
    std::vector<std::uint8_t> asSalvaged() const {
        std::vector<std::uint8_t> b = bytes_;
        for (std::uint64_t s : bad) std::fill_n(b.begin() + static_cast<std::ptrdiff_t>(s * kSector), kSector, 0);
        return b;
    }

private:
    std::vector<std::uint8_t> bytes_;
    int error_ = 0;
};

TEST(SalvagingReader, BadSectorsAreZerosAndListedAndEveryOtherOneIsRead) {
    CardInMemory card(2048);  // 1 MiB
    card.bad = {100, 101, 900};
    SalvagingReader reader(card, kSector);
    std::vector<std::uint8_t> out(card.size());
    ASSERT_EQ(reader.read(0, out.data(), out.size()), out.size());
    EXPECT_TRUE(out == card.asSalvaged());
    EXPECT_EQ(reader.unreadable(), (SectorRuns{{100, 2}, {900, 1}}));
    EXPECT_EQ(reader.unreadableIn(100 * kSector, 4 * kSector), 2u);
    EXPECT_FALSE(reader.gone());
    // Pieces where they read, sectors only up to the end of a page that fails.
    EXPECT_LT(card.reads, 60);
}

TEST(SalvagingReader, ARunOfFailuresIsSkippedAheadAndTheSkippedAreaReadAtTheEnd) {
    CardInMemory card(4096);  // 2 MiB
    for (std::uint64_t s = 256; s < 336; ++s) card.bad.insert(s);  // 40 KiB failing from 128 KiB on
    SalvagingReader reader(card, kSector);
    std::vector<std::uint8_t> out(card.size());
    ASSERT_EQ(reader.read(0, out.data(), out.size()), out.size());
    // After 32 KiB in a row it skipped ahead, over sectors that read.
    EXPECT_GT(reader.unreadableSectors(), 80u);
    EXPECT_LT(card.reads, 200) << "a bad area costs a few reads, not one a sector";
    std::uint64_t readBack = 0;
    reader.retrySkipped([&](std::uint64_t offset, const std::uint8_t* bytes, std::size_t size) {
        std::memcpy(out.data() + offset, bytes, size);
        readBack += size;
    });
    EXPECT_GT(readBack, 0u);
    EXPECT_EQ(reader.unreadable(), (SectorRuns{{256, 80}}));
    EXPECT_TRUE(out == card.asSalvaged());
}

TEST(SalvagingReader, ACardThatGoesIsToldFromBadSectorsAndWhatFailedAsItWentIsNotListed) {
    CardInMemory card(4096);
    card.bad = {10};
    card.goneFrom = 1500;
    SalvagingReader reader(card, kSector);
    std::vector<std::uint8_t> out(card.size());
    const std::size_t got = reader.read(0, out.data(), out.size());
    EXPECT_TRUE(reader.gone());
    EXPECT_EQ(got, 1500u * kSector);
    EXPECT_EQ(reader.unreadable(), (SectorRuns{{10, 1}}));
    EXPECT_EQ(reader.read(0, out.data(), kSector), 0u) << "every read after fails at once";
}

TEST(SalvagingReader, AReadGivenUpListsNothingAndTheNextReadAsksTheCardAgain) {
    CardInMemory card(2048);
    SalvagingReader reader(card, kSector);
    std::vector<std::uint8_t> out(card.size());
    card.givingUp = true;
    EXPECT_EQ(reader.read(0, out.data(), out.size()), 0u);
    EXPECT_TRUE(reader.cancelled());
    EXPECT_FALSE(reader.gone());
    EXPECT_EQ(reader.unreadableSectors(), 0u);
    card.givingUp = false;
    EXPECT_EQ(reader.read(0, out.data(), out.size()), out.size());
    EXPECT_FALSE(reader.cancelled());
    EXPECT_TRUE(out == card.asSalvaged());
}

}  // namespace
}  // namespace hx::media
