// Thumbnail files of 1,000 photos of 12 megapixels (4000 × 3000) at width
// 200, as the thumbnail list makes them: DCT-scaled decode, turn, scale,
// JPEG at quality 98. Each photo is a hard link of one file, so the disk is
// not filled; the decode works the same on each.
//
//   bench_Thumbnails [google-benchmark flags]     HX_BENCH_FILES=N for another count
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <random>

#include "viewing/JpegThumbnail.h"
#include "viewing/ThumbnailFiles.h"

namespace {

namespace fs = std::filesystem;

fs::path makePhotos(int count) {
    const fs::path dir = fs::temp_directory_path() / "hx-bench-thumbs";
    std::error_code ec;
    fs::remove_all(dir, ec);
    fs::create_directories(dir / "cache", ec);
    hx::viewing::RgbPicture photo;
    photo.width = 4000;
    photo.height = 3000;
    photo.pixels.resize(static_cast<std::size_t>(photo.width) * photo.height * 3);
    std::mt19937 rng(7);
    // Smooth areas with some grain, as a photo has: JPEG of a realistic size.
    for (unsigned y = 0; y < photo.height; ++y)
        for (unsigned x = 0; x < photo.width; ++x) {
            auto* p = &photo.pixels[(static_cast<std::size_t>(y) * photo.width + x) * 3];
            const int grain = static_cast<int>(rng() % 16);
            p[0] = static_cast<std::uint8_t>((x / 16 + grain) & 0xff);
            p[1] = static_cast<std::uint8_t>((y / 12 + grain) & 0xff);
            p[2] = static_cast<std::uint8_t>(((x + y) / 28 + grain) & 0xff);
        }
    const fs::path first = dir / "cache" / "R#00000.jpg";
    if (!hx::viewing::WriteJpegPicture(first, photo, 92)) return {};
    for (int i = 1; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "R#%05d.jpg", i);
        fs::create_hard_link(first, dir / "cache" / name, ec);
    }
    return dir;
}

void BM_ThumbnailFiles(benchmark::State& state) {
    const char* env = std::getenv("HX_BENCH_FILES");
    const int count = env ? std::max(1, std::atoi(env)) : 1000;
    const fs::path dir = makePhotos(count);
    if (dir.empty()) {
        state.SkipWithError("could not write the photo");
        return;
    }
    for (auto _ : state) {
        std::error_code ec;
        fs::remove_all(dir / "Thumbs", ec);
        int made = 0;
        for (const auto& e : fs::directory_iterator(dir / "cache"))
            made += !hx::viewing::ThumbnailFile(e.path(), dir / "Thumbs", 200).empty();
        if (made != count) state.SkipWithError("a thumbnail was not made");
    }
    state.counters["files"] = count;
    state.counters["s_per_file"] = benchmark::Counter(count, benchmark::Counter::kIsIterationInvariantRate |
                                                                  benchmark::Counter::kInvert) ;
    std::error_code ec;
    fs::remove_all(dir, ec);
}

}  // namespace

BENCHMARK(BM_ThumbnailFiles)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();
BENCHMARK_MAIN();
