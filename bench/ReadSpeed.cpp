// Streaming read of a 2 GiB image held in the page cache: our reader
// (OpenDriveForRead + sequential block reads on one handle) against
// `dd bs=8M` of the same file in the same run.
//
//   bench_ReadSpeed [--image PATH] [google-benchmark flags]
//
// The image is made (sparse-free, pattern-filled) in /tmp when not given,
// and read once before timing so that both readers see a warm cache.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "media/SectorIo.h"

namespace {

constexpr std::uint64_t kImageBytes = 2ull << 30;
std::string gImage;

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

bool makeImage(const std::string& path) {
    std::error_code ec;
    if (std::filesystem::file_size(path, ec) == kImageBytes) return true;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    std::vector<std::uint32_t> block((8 << 20) / 4);
    std::uint32_t x = 2463534242u;
    for (std::uint64_t done = 0; done < kImageBytes; done += block.size() * 4) {
        for (auto& v : block) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            v = x;
        }
        if (std::fwrite(block.data(), 4, block.size(), f) != block.size()) {
            std::fclose(f);
            return false;
        }
    }
    return std::fclose(f) == 0;
}

double timeDd() {
    const std::string cmd = "dd if='" + gImage + "' of=/dev/null bs=8M status=none";
    const double t = now();
    if (std::system(cmd.c_str()) != 0) return 0;
    return now() - t;
}

// One whole pass as the carving scan streams: one handle, consecutive blocks.
std::uint64_t readAll(std::vector<std::uint8_t>& buffer) {
    hx::media::Handle handle;
    if (!hx::media::OpenDriveForRead(gImage, 0, handle, 512)) return 0;
    handle.adviseSequential();
    std::uint64_t bytes = 0;
    std::size_t n;
    while ((n = handle.read(buffer.data(), buffer.size())) > 0) bytes += n;
    hx::media::CloseDrive(handle);
    return bytes;
}

void readThrough(benchmark::State& state) {
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(state.range(0)));
    std::uint64_t total = 0;
    for (auto _ : state) {
        const std::uint64_t bytes = readAll(buffer);
        if (bytes != kImageBytes) {
            state.SkipWithError("short read");
            return;
        }
        total += bytes;
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(total));
}

// dd and our reader back to back in every iteration, so that both see the
// same load on a shared machine; ratio = dd time / our time (goal >= 0.9).
void oursAgainstDd(benchmark::State& state) {
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(state.range(0)));
    double ours = 0, dd = 0;
    for (auto _ : state) {
        dd += timeDd();
        const double t = now();
        if (readAll(buffer) != kImageBytes) {
            state.SkipWithError("short read");
            return;
        }
        const double elapsed = now() - t;
        ours += elapsed;
        state.SetIterationTime(elapsed);
    }
    state.counters["ratio_vs_dd"] = ours > 0 ? dd / ours : 0;
    state.counters["dd_GiB_per_s"] = dd > 0 ? state.iterations() * 2.0 / dd : 0;
    state.counters["ours_GiB_per_s"] = ours > 0 ? state.iterations() * 2.0 / ours : 0;
}

void ddSameFile(benchmark::State& state) {
    for (auto _ : state) {
        const double t = timeDd();
        if (t <= 0) {
            state.SkipWithError("dd failed");
            return;
        }
        state.SetIterationTime(t);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kImageBytes));
}

}  // namespace

BENCHMARK(readThrough)->Arg(1 << 20)->Arg(8 << 20)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();
BENCHMARK(oursAgainstDd)->Arg(1 << 20)->Arg(8 << 20)->Unit(benchmark::kMillisecond)->Iterations(10)->UseManualTime();
BENCHMARK(ddSameFile)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(3.0);

int main(int argc, char** argv) {
    gImage = (std::filesystem::temp_directory_path() / "hx-bench-2g.img").string();
    std::vector<char*> rest{argv[0]};
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--image") == 0 && i + 1 < argc) gImage = argv[++i];
        else rest.push_back(argv[i]);
    }
    if (!makeImage(gImage)) {
        std::fprintf(stderr, "cannot make %s\n", gImage.c_str());
        return 1;
    }
    timeDd();  // warms the page cache
    int n = static_cast<int>(rest.size());
    benchmark::Initialize(&n, rest.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
