// Listing the deleted files of an MFT of 100,000 records (one in five
// deleted): map the MFT, walk every record, build the entries. Goal: < 2 s.
#include <benchmark/benchmark.h>

#include <filesystem>

#include "../tests/fixtures/ScriptedUi.h"
#include "../tests/fixtures/SyntheticNtfs.h"
#include "filesystems/ntfs/UndeleteNtfs.h"

namespace fs = std::filesystem;
namespace {

using namespace hx::synth;

const std::string& image() {
    static std::string path = [] {
        const fs::path p = fs::temp_directory_path() / "hx-bench-mft100k.img";
        Volume v;
        const std::uint32_t photos = v.count();
        v.add(record(3, {standardInformation(Volume::kTime), fileName("DCIM", 5)}));
        for (int i = 0; v.count() < 100000; ++i) {
            const std::int64_t lcn = v.allocate(1);
            const bool deleted = i % 5 == 0;
            v.add(record(deleted ? 0 : 1, {standardInformation(Volume::kTime),
                                           fileName("IMG_" + std::to_string(i) + ".JPG", i % 3 ? photos : 5),
                                           nonResident(0x80, {{lcn, 1}}, 0, 3000, 2)}));
        }
        v.write(p.string());
        return p.string();
    }();
    return path;
}

void BM_ListNtfsDeleted100k(benchmark::State& state) {
    const std::string& path = image();
    hx::test::ScriptedUi ui;
    std::size_t listed = 0;
    hx::filesystems::NtfsSession session;
    for (auto _ : state) {
        std::vector<hx::filesystems::UndeleteEntry> entries;
        hx::filesystems::ListNtfsDeleted(session, path, entries, "all", 0, 0, ui);
        listed = entries.size();
        ui.messages.clear();
        benchmark::DoNotOptimize(entries.data());
    }
    state.counters["records"] = 100000;
    state.counters["listed"] = static_cast<double>(listed);
}
BENCHMARK(BM_ListNtfsDeleted100k)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ec;
    fs::remove(image(), ec);
    return 0;
}
