#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include "fixtures/MediaImages.h"
#include "fixtures/TempDir.h"
#include "media/SectorIo.h"
#include "platform/RawFile.h"
#include "platform/ReadGuard.h"

using namespace hx;
namespace fs = std::filesystem;

TEST(SectorIo, ReadsWholeSectorsFromAnImage) {
    test::TempDir dir;
    std::string bytes(4096, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i / 512 + 1);
    test::WriteFile(dir / "card.img", bytes);
    const std::string img = (dir / "card.img").string();

    std::uint32_t got = 99;
    EXPECT_TRUE(media::ReadSectors(img, 0, 0, 0, got, 512).empty());
    EXPECT_EQ(got, 0u);

    // An offset of 100 and 512 bytes spans two sectors, starting at the LBA.
    auto two = media::ReadSectors(img, 2, 100, 512, got, 512);
    ASSERT_EQ(two.size(), 1024u);
    EXPECT_EQ(got, 1024u);
    EXPECT_EQ(two[0], 3);
    EXPECT_EQ(two[1023], 4);

    // Past the end: a short read is reported, not an error.
    auto tail = media::ReadSectors(img, 7, 0, 1024, got, 512);
    EXPECT_EQ(got, 512u);

    EXPECT_TRUE(media::ReadSectors((dir / "missing.img").string(), 0, 0, 512, got, 512).empty());
    EXPECT_EQ(got, 0u);
}

TEST(SectorIo, TruncateOnlyShortens) {
    test::TempDir dir;
    test::WriteFile(dir / "f", std::string(1000, 'x'));
    media::TruncateFile((dir / "f").string(), 5000);
    EXPECT_EQ(std::filesystem::file_size(dir / "f"), 1000u);
    media::TruncateFile((dir / "f").string(), 10);
    EXPECT_EQ(std::filesystem::file_size(dir / "f"), 10u);
}

TEST(SectorIo, PositionsBeyondTwoGiBReadTheRightSectors) {
    test::TempDir dir;
    const auto path = dir / "big.img";
    test::WriteFile(path, "");
    std::filesystem::resize_file(path, 3ull << 30);  // sparse
    const std::string img = path.string();
    // Around the first 2 GiB step of 512-byte sectors, and one with 4 KiB sectors.
    const std::int64_t lbas[] = {4194302, 4194303, 4194304, 6000000};
    {
        platform::RawFile f;
        ASSERT_TRUE(f.open(path, platform::RawFile::Mode::ReadWrite));
        for (auto lba : lbas) {
            const std::string mark = "LBA" + std::to_string(lba);
            f.writeAt(static_cast<std::uint64_t>(lba) * 512, mark.data(), mark.size());
        }
        f.writeAt(700000ull * 4096, "K700000", 7);
    }
    for (auto lba : lbas) {
        const std::string mark = "LBA" + std::to_string(lba);
        std::uint32_t got = 0;
        auto data = media::ReadSectors(img, lba, 0, 512, got, 512);
        ASSERT_EQ(got, 512u);
        EXPECT_EQ(std::string(data.begin(), data.begin() + static_cast<long>(mark.size())), mark);

        // The same bytes through a streaming handle, opened at sector 0 and moved.
        media::Handle h;
        ASSERT_TRUE(media::OpenDriveForRead(img, 0, h, 512));
        media::SeekSector(h, lba, 512);
        char buf[16] = {};
        ASSERT_EQ(h.read(buf, mark.size()), mark.size());
        EXPECT_EQ(std::string(buf, mark.size()), mark);
        media::CloseDrive(h);
    }
    std::uint32_t got = 0;
    auto k = media::ReadImageSectors(img, 700000, 0, 7, got, 4096);
    ASSERT_EQ(got, 4096u);
    EXPECT_EQ(std::string(k.begin(), k.begin() + 7), "K700000");

    // Written through a write handle, read back by the per-call reader.
    media::Handle w;
    ASSERT_TRUE(media::OpenDriveForWrite(img, 5000000, w, 512));
    ASSERT_EQ(w.write("written", 7), 7u);
    media::CloseDrive(w);
    auto back = media::ReadSectors(img, 5000000, 0, 7, got, 512);
    EXPECT_EQ(std::string(back.begin(), back.begin() + 7), "written");

    auto vol = media::OpenVolume(img);
    EXPECT_TRUE(vol.isOpen());
    EXPECT_EQ(vol.size(), 3ull << 30);
    EXPECT_FALSE(media::OpenVolume((dir / "none").string()).isOpen());
}

// An image looked at where the system caches it reads as a copy of it does;
// pages that went missing after it was mapped (the file cut short by another
// program, as a failing disk would) end the view instead of the program, and
// no view is given after that: the file is read with copies.
TEST(RawFile, AViewOfAnImageStopsWhereItsPagesCannotBeRead) {
    test::TempDir dir;
    std::string bytes(4 << 20, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 / 4096 + 1);
    const auto* original = reinterpret_cast<const std::uint8_t*>(bytes.data());
    test::WriteFile(dir / "card.img", bytes);
    platform::RawFile f;
    ASSERT_TRUE(f.open(dir / "card.img", platform::RawFile::Mode::Read));
    std::size_t count = 300000;
    const std::uint8_t* seen = f.view(100000, count);
    ASSERT_NE(seen, nullptr);
    ASSERT_EQ(count, 300000u);
    EXPECT_TRUE(std::equal(seen, seen + count, original + 100000));

    std::filesystem::resize_file(dir / "card.img", 409600);
    count = 200000;
    seen = f.view(300000, count);
    ASSERT_NE(seen, nullptr);
    EXPECT_EQ(count, 409600u - 300000);
    EXPECT_TRUE(std::equal(seen, seen + count, original + 300000));
    count = 4096;
    EXPECT_EQ(f.view(0, count), nullptr);
    EXPECT_EQ(count, 0u);
    std::vector<std::uint8_t> copy(4096);
    EXPECT_EQ(f.readAt(406000, copy.data(), copy.size()), 3600u);  // a copy reads to the new end
    EXPECT_TRUE(std::equal(copy.begin(), copy.begin() + 3600, original + 406000));

    // A device is no file to map: its reads are copies.
    platform::RawFile zero;
    ASSERT_TRUE(zero.open("/dev/zero", platform::RawFile::Mode::Read));
    count = 512;
    EXPECT_EQ(zero.view(0, count), nullptr);
}

namespace {
// Which of the first `bytes` of `file` (a file or a device) are in the
// system's cache, a character a page. Told right only to root.
std::string ResidentPages(const fs::path& file, std::size_t bytes) {
    const int look = ::open(file.c_str(), O_RDONLY);
    void* map = look >= 0 ? ::mmap(nullptr, bytes, PROT_READ, MAP_SHARED, look, 0) : MAP_FAILED;
    std::vector<unsigned char> pages(bytes / 4096);
    const bool told = map != MAP_FAILED && ::mincore(map, bytes, pages.data()) == 0;
    if (map != MAP_FAILED) ::munmap(map, bytes);
    if (look >= 0) ::close(look);
    std::string in;
    for (unsigned char p : pages) in += told && (p & 1) ? '1' : '0';
    return in;
}
}  // namespace

// A device handed over by the desktop's disk service is a descriptor this
// user could not open again: its uncached reads still go past the system's
// cache (the pages read stay out of it), give the file's bytes, and leave
// the descriptor reading through the cache as before.
TEST(RawFile, UncachedReadsOfADescriptorThatCannotBeOpenedAgainGoPastTheCache) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to give up its rights after opening";
    test::TempDir dir;
    std::string bytes(1 << 20, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 131 / 7);
    const fs::path file = dir / "card.img";
    {  // Written past the cache, so that none of it is there to begin with.
        const int out = ::open(file.c_str(), O_WRONLY | O_CREAT | O_DIRECT, 0600);
        void* aligned = nullptr;
        ASSERT_GE(out, 0) << "the file system cannot write past its cache";
        ASSERT_EQ(::posix_memalign(&aligned, 4096, bytes.size()), 0);
        std::memcpy(aligned, bytes.data(), bytes.size());
        const bool written = ::pwrite(out, aligned, bytes.size(), 0) == static_cast<ssize_t>(bytes.size());
        ::free(aligned);
        ::close(out);
        ASSERT_TRUE(written);
    }
    const auto resident = [&] { return ResidentPages(file, bytes.size()); };
    ASSERT_EQ(resident(), std::string(256, '0'));
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        platform::RawFile card;
        const int look = ::open(file.c_str(), O_RDONLY);
        if (!card.open(file, platform::RawFile::Mode::Read) || look < 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(10);
        if (::open(("/proc/self/fd/" + std::to_string(look)).c_str(), O_RDONLY) >= 0) ::_exit(11);  // could open it again
        std::vector<char> got(256 * 1024);
        if (card.readAtUncached(512 * 1024, got.data(), got.size()) != got.size()) ::_exit(12);
        if (std::string(got.data(), got.size()) != bytes.substr(512 * 1024, got.size())) ::_exit(13);
        // Cached reads at any place and of any length, as before.
        if (card.readAt(3, got.data() + 1, 1000) != 1000 || std::string(got.data() + 1, 1000) != bytes.substr(3, 1000))
            ::_exit(14);
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "10: set-up, 11: opened again, 12-13: the read, 14: cached reads";
    // The uncached read's pages are not in the cache; the cached read's first page is.
    const std::string after = resident();
    EXPECT_EQ(after.substr(128, 64), std::string(64, '0'));
    EXPECT_EQ(after[0], '1');
}

// A guarded read longer than the helper reads at once (the joiners read a
// picture of many MB in one) comes in pieces, whole, and one that runs past
// the end gives what there is.
TEST(ReadGuard, AReadLongerThanTheHelperReadsAtOnceComesWhole) {
    test::TempDir dir;
    std::string bytes((5 << 20) + 333, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 131 / 7 + i / 4093);
    test::WriteFile(dir / "card.img", bytes);
    const int fd = ::open((dir / "card.img").c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    platform::ReadGuard guard(std::chrono::seconds(5), nullptr);
    std::vector<char> got(bytes.size());
    ASSERT_EQ(guard.pread(fd, got.data(), (3 << 20) + 100, 1000), (3 << 20) + 100);
    EXPECT_EQ(std::string(got.data(), (3 << 20) + 100), bytes.substr(1000, (3 << 20) + 100));
    ASSERT_EQ(guard.pread(fd, got.data(), got.size(), 2 << 20), static_cast<ssize_t>(bytes.size() - (2 << 20)));
    EXPECT_EQ(std::string(got.data(), bytes.size() - (2 << 20)), bytes.substr(2 << 20));
    ::close(fd);
}

// The scan's reads of a card are guarded against reads that hang: they run
// on a helper thread into a buffer of its own. A device takes a read past
// its cache only into memory aligned as its blocks are; a guarded uncached
// read still goes past the cache (its pages stay out of the device's cache)
// and gives the card's bytes, whatever its length.
TEST(RawFile, GuardedUncachedReadsOfADeviceGoPastItsCache) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, for a loop device";
    test::TempDir dir;
    std::string bytes(2 << 20, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 131 / 7);
    test::WriteFile(dir / "card.img", bytes);
    test::LoopDevice card(dir / "card.img");
    if (!card.ok()) GTEST_SKIP() << test::MediaSkipReason();
    platform::RawFile f;
    ASSERT_TRUE(f.open(card.path(), platform::RawFile::Mode::Read));
    f.guardReads(std::make_shared<platform::ReadGuard>(std::chrono::seconds(5), nullptr));
    ASSERT_EQ(ResidentPages(card.path(), bytes.size()), std::string(512, '0'));
    // Lengths that the helper's buffer must grow to, up to the largest read past the cache.
    std::uint64_t at = 0;
    for (std::size_t length : {512u, 4096u, 5120u, 256u * 1024, 1024u * 1024}) {
        std::vector<char> got(length);
        ASSERT_EQ(f.readAtUncached(at, got.data(), length), length) << length;
        EXPECT_EQ(std::string(got.data(), length), bytes.substr(at, length)) << length;
        at += (length + 4095) / 4096 * 4096;
    }
    EXPECT_EQ(ResidentPages(card.path(), bytes.size()), std::string(512, '0'));
    // A cached read fills the cache, as it should.
    std::vector<char> one(4096);
    ASSERT_EQ(f.readAt(bytes.size() - 4096, one.data(), one.size()), one.size());
    EXPECT_EQ(ResidentPages(card.path(), bytes.size()).back(), '1');
}
