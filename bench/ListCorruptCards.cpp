// The listing of deleted files on damaged copies of a camera card: a FAT16
// card of photos (some deleted) made with mkfs.fat and mtools, and seeded
// copies of it with bytes flipped in its boot sector and FATs. Each copy is
// listed as the undelete lists it; "worst_s" is the slowest copy, "median_s"
// the middle one. The card is 64 MiB and 256 MiB: the time must not grow
// faster than the card.
//   build/bench/bench_ListCorruptCards
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "shell/QuietUi.h"
#include "undelete/QuickUndelete.h"
#include "viewing/SamplePhoto.h"

namespace fs = std::filesystem;
using namespace hx;

namespace {

constexpr int kCopies = 34;

fs::path benchDir() {
    const char* d = std::getenv("HX_BENCH_DIR");
    fs::path p = fs::path(d ? d : "/tmp/hx-bench") / "corrupt-cards";
    fs::create_directories(p);
    return p;
}

bool run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

// A card of `mib` MiB filled about halfway with photos, every third deleted.
fs::path makeCard(int mib) {
    const fs::path image = benchDir() / ("card" + std::to_string(mib) + ".img");
    if (fs::exists(image)) return image;
    const fs::path part = image.string() + ".part";
    fs::remove(part);
    std::ofstream(part).close();
    fs::resize_file(part, static_cast<std::uintmax_t>(mib) << 20);
    // Clusters grow with the card, as mkfs.fat would pick them, so that FAT16 holds it.
    if (!run("mkfs.fat -F 16 -s " + std::to_string(std::max(4, mib / 16)) + " -n CARD '" + part.string() + "'"))
        return {};
    run("mmd -i '" + part.string() + "' ::DCIM");
    std::uint64_t used = 0;
    const fs::path photo = benchDir() / "photo.jpg";
    for (int n = 0; used < (static_cast<std::uint64_t>(mib) << 20) / 2; ++n) {
        viewing::SamplePhotoOptions o;
        o.width = 1600 + 160 * (n % 4);
        o.height = 1200 + 120 * (n % 4);
        const std::string bytes = viewing::MakeSamplePhoto(n, o);
        std::ofstream(photo, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        const std::string name = "::DCIM/IMG_" + std::to_string(1000 + n) + ".JPG";
        if (!run("mcopy -i '" + part.string() + "' '" + photo.string() + "' " + name)) break;
        used += bytes.size();
    }
    for (int n = 0; n < 400; n += 3) run("mdel -i '" + part.string() + "' ::DCIM/IMG_" + std::to_string(1000 + n) + ".JPG");
    fs::rename(part, image);
    return image;
}

std::string readAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Seeded flips in the boot sector and the FATs (the first sectors up to the root folder).
std::string corrupt(const std::string& card, std::mt19937& rng) {
    std::string copy = card;
    const auto reserved = static_cast<std::uint8_t>(card[14]) | static_cast<std::uint8_t>(card[15]) << 8;
    const auto fatSectors = static_cast<std::uint8_t>(card[22]) | static_cast<std::uint8_t>(card[23]) << 8;
    const std::size_t span = std::min<std::size_t>(card.size(), (reserved + 2ull * fatSectors) * 512ull);
    const int flips = 1 + static_cast<int>(rng() % 24);
    for (int i = 0; i < flips; ++i) {
        const std::size_t at = rng() % 4 == 0 ? rng() % 512 : rng() % span;
        copy[at] = static_cast<char>(copy[at] ^ static_cast<char>(1 + rng() % 255));
    }
    return copy;
}

void ListCorruptCards(benchmark::State& state) {
    const fs::path card = makeCard(static_cast<int>(state.range(0)));
    if (card.empty()) return state.SkipWithError("mkfs.fat or mtools missing");
    const std::string bytes = readAll(card);
    const fs::path copy = benchDir() / "copy.img";
    std::vector<double> seconds;
    for (auto _ : state) {
        std::mt19937 rng(20261208);
        seconds.clear();
        for (int n = 0; n < kCopies; ++n) {
            state.PauseTiming();
            const std::string bad = corrupt(bytes, rng);
            std::ofstream(copy, std::ios::binary | std::ios::trunc).write(bad.data(), static_cast<std::streamsize>(bad.size()));
            state.ResumeTiming();
            const auto start = std::chrono::steady_clock::now();
            shell::QuietUi ui;
            undelete::QuickUndelete listing(ui);
            listing.run({copy.string(), "all", 0, 0, {}});
            seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        }
    }
    std::sort(seconds.begin(), seconds.end());
    state.counters["worst_s"] = seconds.empty() ? 0 : seconds.back();
    state.counters["median_s"] = seconds.empty() ? 0 : seconds[seconds.size() / 2];
}

}  // namespace

BENCHMARK(ListCorruptCards)->Arg(64)->Arg(256)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_MAIN();
