// QX Adaptive learning from 10,000 sample files of one type (2 to 40 KB
// each): only 2 × 1024 bytes are read per file.
//
//   bench_Learning [google-benchmark flags]     HX_BENCH_FILES=N for another count
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include "learning/AdaptiveLearning.h"

namespace {

namespace fs = std::filesystem;

void BM_LearnFromSamples(benchmark::State& state) {
    const char* env = std::getenv("HX_BENCH_FILES");
    const int count = env ? std::max(1, std::atoi(env)) : 10000;
    const fs::path dir = fs::temp_directory_path() / "hx-bench-learn";
    std::error_code ec;
    fs::remove_all(dir, ec);
    fs::create_directories(dir / "samples", ec);
    std::mt19937 rng(3);
    for (int i = 0; i < count; ++i) {
        std::string bytes(2048 + rng() % 38000, '\0');
        for (auto& c : bytes) c = static_cast<char>(rng());
        bytes.replace(0, 8, std::string("HXQ\x01\x7f\x00\xfe\x02", 8));
        std::ofstream(dir / "samples" / ("s" + std::to_string(i) + ".hxq"), std::ios::binary) << bytes;
    }
    std::size_t samples = 0;
    for (auto _ : state) {
        fs::remove_all(dir / "learned", ec);
        const auto files = hx::learning::GatherFolder(dir / "samples");
        samples = hx::learning::LearnFromFiles(dir / "learned", files, {}).samples;
    }
    state.counters["files"] = count;
    state.counters["samples"] = static_cast<double>(samples);
    fs::remove_all(dir, ec);
}

}  // namespace

BENCHMARK(BM_LearnFromSamples)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();
BENCHMARK_MAIN();
