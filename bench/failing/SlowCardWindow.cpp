// How long a window goes unanswered while a card keeps a read waiting. A
// FAT16 card of six photos whose area past them answers each read 1.5 s
// late (served by hx-faultyfs, a read-only loop device over it, as the
// failing-card tests do) is scanned and backed up with a window's yields
// timed: the longest gap between two yields of each is printed, with the
// time each took. A window feels stuck past a tenth of a second.
//
//   build/bench/slow_card_window [SLOW_MS]     needs root, /dev/fuse and loop devices
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fixtures/CardFixture.h"
#include "fixtures/FaultyCard.h"
#include "output/DiskBackup.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Window : hx::test::ScriptedUi {
    Window() { asWindow = true; }
    void yield() override {
        const auto now = Clock::now();
        longest = std::max(longest, now - last);
        last = now;
        ScriptedUi::yield();
    }
    Clock::time_point last = Clock::now();
    Clock::duration longest{};
};

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

}  // namespace

int main(int argc, char** argv) {
    namespace test = hx::test;
    const int slow = argc > 1 ? std::atoi(argv[1]) : 1500;
    test::TempDir dir("hx-slow-window");
    const auto image = dir.path() / "card.img";
    if (test::MakeFatImage(image, {.fatBits = 16, .sizeKiB = 40 * 1024, .sectorsPerCluster = 4, .label = "CARD"}).empty()) {
        std::fprintf(stderr, "slow_card_window: mkfs.fat missing\n");
        return 1;
    }
    for (int n = 0; n < 6; ++n)
        test::FatPutFile(image, "DCIM/IMG_000" + std::to_string(n) + ".JPG", test::MakeTestJpeg(n, 800, 600));
    test::FaultyCard faulty(image, dir.path());
    if (!faulty.ok()) {
        std::fprintf(stderr, "slow_card_window: %s\n", faulty.error().c_str());
        return 1;
    }
    // Past the photos: the card's second half.
    faulty.setRules("slow 40000-40100 " + std::to_string(slow) + "\n");
    std::printf("each read of the slow area: %d ms\n", slow);

    Window scanning;
    auto started = Clock::now();
    hx::output::ScanCommand scan(scanning, test::WholeScanRequest(faulty.device(), dir.path() / "cache"));
    scan.run();
    std::printf("scan:   longest unanswered %.0f ms, %.1f s in all\n", ms(scanning.longest), ms(Clock::now() - started) / 1000);

    Window backing;
    started = Clock::now();
    hx::output::BackupRequest request;
    request.drive = faulty.device();
    request.image = dir.path() / "images" / "card.img";
    hx::output::BackupDisk(backing, request);
    std::printf("backup: longest unanswered %.0f ms, %.1f s in all\n", ms(backing.longest), ms(Clock::now() - started) / 1000);
    return 0;
}
