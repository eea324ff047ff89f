// Backup of a 2 GiB image in page cache against dd bs=8M of the same image,
// in turns: of_dd = dd's time over the backup's (1 is as fast as dd).
//
//   bench_Backup [google-benchmark flags]       HX_BENCH_MB (default 2048), HX_BENCH_DIR (/tmp/hx-bench)
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <filesystem>
#include <fstream>
#include <random>
#include <vector>

#include "output/DiskBackup.h"
#include "shell/QuietUi.h"

namespace {

namespace fs = std::filesystem;

double secondsOf(const std::function<void()>& f) {
    const auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

void BackupAgainstDd(benchmark::State& state) {
    const char* mb = std::getenv("HX_BENCH_MB");
    const std::uint64_t bytes = (mb ? std::strtoull(mb, nullptr, 10) : 2048ull) << 20;
    const char* d = std::getenv("HX_BENCH_DIR");
    const fs::path dir = fs::path(d ? d : "/tmp/hx-bench") / "backup";
    std::error_code ec;
    fs::remove_all(dir, ec);
    fs::create_directories(dir, ec);
    const fs::path image = dir / "card.img";
    {
        std::ofstream out(image, std::ios::binary);
        std::vector<char> block(1 << 20);
        std::mt19937 rng(5);
        for (std::uint64_t done = 0; done < bytes; done += block.size()) {
            for (auto& c : block) c = static_cast<char>(rng());
            out.write(block.data(), static_cast<std::streamsize>(block.size()));
        }
    }
    std::system(("cat '" + image.string() + "' > /dev/null").c_str());  // into the page cache
    std::vector<double> ratios;
    int turn = 0;
    for (auto _ : state) {
        const std::string dd = "dd if='" + image.string() + "' of='" + (dir / "dd.img").string() +
                               "' bs=8M status=none";
        // Each starts with nothing waiting to be written back, and they take turns going first.
        auto runDd = [&] {
            std::system("sync");
            const double t = secondsOf([&] {
                if (std::system(dd.c_str()) != 0) state.SkipWithError("dd failed");
            });
            fs::remove(dir / "dd.img", ec);
            return t;
        };
        auto runBackup = [&] {
            std::system("sync");
            hx::shell::QuietUi ui;
            hx::output::BackupRequest req;
            req.drive = image.string();
            req.folder = dir / "target";
            const double t = secondsOf([&] {
                if (!hx::output::BackupDisk(ui, req).ok) state.SkipWithError("backup failed");
            });
            fs::remove_all(dir / "target", ec);
            return t;
        };
        double ddSeconds = 0, backupSeconds = 0;
        if (turn++ % 2 == 0) {
            ddSeconds = runDd();
            backupSeconds = runBackup();
        } else {
            backupSeconds = runBackup();
            ddSeconds = runDd();
        }
        state.SetIterationTime(backupSeconds);
        ratios.push_back(ddSeconds / backupSeconds);
    }
    std::sort(ratios.begin(), ratios.end());
    state.counters["of_dd"] = ratios[ratios.size() / 2];
    state.counters["worst"] = ratios.front();
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes) * state.iterations());
    fs::remove_all(dir, ec);
}

}  // namespace

BENCHMARK(BackupAgainstDd)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
