// Scattered ReadSectors calls (one open per call, as the cataloguing and the
// undelete do) on a whole image, on partition 1 of an MBR image and on
// partition 1 of a GPT image: what resolving "IMAGE#N" costs per open.
//
//   bench_PartitionOpen [google-benchmark flags]
//
// The 64 MiB images are made in /tmp with sfdisk (util-linux).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "media/SectorIo.h"

namespace {

std::string makeImage(const std::string& label) {
    const std::string path = "/tmp/hx-bench-partition-" + label + ".img";
    const std::string cmd = "rm -f " + path + " && truncate -s 64M " + path + " && printf 'label: " + label +
                            "\\nstart=2048, type=" + (label == "gpt" ? "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7" : "c") +
                            "\\n' | sfdisk -q " + path;
    return std::system(cmd.c_str()) == 0 ? path : std::string();
}

void readScattered(benchmark::State& state, const std::string& drive) {
    if (drive.empty() || drive[0] == '#') {
        state.SkipWithError("sfdisk failed");
        return;
    }
    std::uint32_t got = 0;
    std::int64_t lba = 0;
    for (auto _ : state) {
        auto data = hx::media::ReadSectors(drive, lba, 0, 4096, got, 512);
        benchmark::DoNotOptimize(data.data());
        lba = (lba + 7919) % 100000;
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_WholeImage(benchmark::State& state) { readScattered(state, makeImage("dos")); }
void BM_MbrPartition(benchmark::State& state) { readScattered(state, makeImage("dos") + "#1"); }
void BM_GptPartition(benchmark::State& state) { readScattered(state, makeImage("gpt") + "#1"); }

}  // namespace

BENCHMARK(BM_WholeImage);
BENCHMARK(BM_MbrPartition);
BENCHMARK(BM_GptPartition);
BENCHMARK_MAIN();
