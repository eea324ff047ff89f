#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <thread>

#include "fixtures/MediaImages.h"
#include "fixtures/SmallDisk.h"
#include "fixtures/TempDir.h"
#include "scan/FoundFileWriter.h"

using namespace hx;
using namespace hx::scan;
namespace fs = std::filesystem;

namespace {

std::int64_t modifiedTime(const fs::path& p) {
    struct stat st {};
    return ::stat(p.c_str(), &st) == 0 ? static_cast<std::int64_t>(st.st_mtime) : -1;
}

// A found file copied in one piece from the source.
void copyOut(FoundFileWriter& w, long file, const fs::path& to, std::uint64_t offset, std::size_t size) {
    w.create(file, to);
    w.appendFromSource(offset, size);
    w.close();
}

// What comes out must not depend on which thread wrote it: a roomy backlog
// keeps the files on the writer's thread, a backlog of one byte makes the
// calling thread write every file itself, and none at all does every job
// there, with no thread made.
class WriterThreads : public ::testing::TestWithParam<std::size_t> {};

TEST_P(WriterThreads, FilesComeOutInOrderWhateverThreadWritesThem) {
    test::TempDir dir("hx-writer");
    const std::string source = test::PatternBytes(3 << 20, 7);
    test::WriteFile(dir / "card.img", source);
    FoundFileWriter writer(GetParam());
    ASSERT_TRUE(writer.openSource(dir / "card.img"));

    writer.create(0, dir / "R#0000.jpg");
    writer.appendFromSource(100, 5000);
    writer.appendCopy(reinterpret_cast<const std::uint8_t*>("tail"), 4);
    writer.appendFromSource(1 << 20, 2 << 20);
    writer.close();
    writer.truncate(dir / "R#0000.jpg", 5002);
    writer.setTime(dir / "R#0000.jpg", 1262347200);
    writer.finished(0);
    // Handed out only once every job before it is done: the file is whole then.
    std::vector<long> finished;
    for (int ms = 0; ms < 10000 && finished.empty(); ++ms) {
        finished = writer.takeFinished();
        if (finished.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(finished, std::vector<long>{0});
    EXPECT_EQ(test::ReadFile(dir / "R#0000.jpg"), source.substr(100, 5000) + "ta");

    // A dropped file's number and name go to the next one.
    copyOut(writer, 1, dir / "R#0001.jpg", 0, 4096);
    writer.remove(dir / "R#0001.jpg");
    copyOut(writer, 1, dir / "R#0001.jpg", 2 << 20, 1 << 20);
    writer.finished(1);
    writer.wait();
    EXPECT_EQ(writer.takeFinished(), std::vector<long>{1});
    EXPECT_TRUE(writer.takeFinished().empty());

    EXPECT_EQ(writer.failedFile(), -1);
    EXPECT_EQ(test::ReadFile(dir / "R#0000.jpg"), source.substr(100, 5000) + "ta");
    EXPECT_EQ(modifiedTime(dir / "R#0000.jpg"), 1262347200);
    EXPECT_EQ(test::ReadFile(dir / "R#0001.jpg"), source.substr(2 << 20, 1 << 20));
}

TEST(FoundFileWriter, SourcesItCannotReadTwiceTakeCopies) {
    test::TempDir dir("hx-writer");
    FoundFileWriter writer;
    // A device is read once: its bytes are handed over.
    EXPECT_FALSE(writer.openSource("/dev/zero"));
    EXPECT_FALSE(writer.hasSource());
    writer.create(0, dir / "a");
    writer.appendCopy(reinterpret_cast<const std::uint8_t*>("abc"), 3);
    writer.close();
    writer.wait();
    EXPECT_EQ(test::ReadFile(dir / "a"), "abc");

    // An image on another file system than the cache: the kernel will not
    // copy between them, the bytes are read again instead.
    if (!fs::is_directory("/dev/shm")) GTEST_SKIP() << "no /dev/shm";
    const fs::path image = fs::path("/dev/shm") / ("hx-writer-" + std::to_string(::getpid()) + ".img");
    const std::string source = test::PatternBytes(1 << 20, 11);
    test::WriteFile(image, source);
    ASSERT_TRUE(writer.openSource(image));
    copyOut(writer, 1, dir / "b", 4096, 600000);
    writer.wait();
    fs::remove(image);
    EXPECT_EQ(test::ReadFile(dir / "b"), source.substr(4096, 600000));
}

TEST_P(WriterThreads, AFullDiskNamesTheFirstFileItCouldNotHold) {
    test::TempDir dir("hx-writer");
    test::SmallDisk disk(dir / "cache", 256);
    if (!disk.ok()) GTEST_SKIP() << "mounting a small tmpfs needs root";
    const std::string source = test::PatternBytes(1 << 20, 3);
    test::WriteFile(dir / "card.img", source);
    FoundFileWriter writer(GetParam());
    ASSERT_TRUE(writer.openSource(dir / "card.img"));
    copyOut(writer, 0, dir / "cache" / "a", 0, 100000);
    copyOut(writer, 1, dir / "cache" / "b", 100000, 400000);
    writer.wait();
    EXPECT_EQ(writer.failedFile(), 1);
    // Nothing is made after the refused file.
    copyOut(writer, 2, dir / "cache" / "c", 0, 10);
    writer.wait();
    EXPECT_EQ(writer.failedFile(), 1);
    EXPECT_FALSE(fs::exists(dir / "cache" / "c"));
    EXPECT_EQ(test::ReadFile(dir / "cache" / "a"), source.substr(0, 100000));
}

TEST_P(WriterThreads, AFileThatCannotBeMadeStopsThoseAfterIt) {
    test::TempDir dir("hx-writer");
    test::WriteFile(dir / "card.img", test::PatternBytes(1 << 16, 5));
    FoundFileWriter writer(GetParam());
    ASSERT_TRUE(writer.openSource(dir / "card.img"));
    copyOut(writer, 0, dir / "a", 0, 1000);
    copyOut(writer, 1, dir / "gone" / "b", 0, 1000);
    copyOut(writer, 2, dir / "c", 0, 1000);
    writer.wait();
    EXPECT_EQ(writer.failedFile(), 1);
    EXPECT_EQ(fs::file_size(dir / "a"), 1000u);
    EXPECT_FALSE(fs::exists(dir / "c"));
}

INSTANTIATE_TEST_SUITE_P(Backlog, WriterThreads, ::testing::Values(std::size_t{16} << 20, std::size_t{1}, std::size_t{0}));

}  // namespace
