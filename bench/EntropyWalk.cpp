// How fast the entropy walk goes over a baseline JPEG's coded data: the
// check that tells a whole photo from a damaged one and finds where a split
// photo goes wrong. Reported as MB of coded data a second.
//
//   bench_EntropyWalk PHOTO.jpg [google-benchmark flags]
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "formats/JpegEntropy.h"

namespace {

std::vector<std::uint8_t> gPhoto;

void BM_Walk(benchmark::State& state) {
    hx::formats::JpegEntropy entropy;
    if (!entropy.readHeaders(gPhoto.data(), gPhoto.size())) {
        state.SkipWithError("not a baseline JPEG");
        return;
    }
    const bool marks = state.range(0) != 0;
    std::vector<hx::formats::JpegEntropy::Mark> kept;
    for (auto _ : state) {
        kept.clear();
        const auto walk = entropy.walk(gPhoto.data(), gPhoto.size(), entropy.start(), marks ? &kept : nullptr, 256);
        if (walk.outcome != hx::formats::JpegEntropy::Outcome::Complete) state.SkipWithError("the walk did not reach the end");
        benchmark::DoNotOptimize(walk);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(gPhoto.size() - entropy.start().byte));
}
BENCHMARK(BM_Walk)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_EntropyWalk PHOTO.jpg [benchmark flags]\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    gPhoto.assign(std::istreambuf_iterator<char>(in), {});
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
