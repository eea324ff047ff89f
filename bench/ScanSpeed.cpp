// Speed of the carving scan over an image in the page cache:
//   ScanRandom     data without any signature (the scan's floor cost)
//   ScanPhotoCard  a card packed with JPEGs, every one recovered and checked
//   CopyImage      the same card copied as cp does it, for comparison
//   ScanAgainstCp  the scan and the real cp in turns: the scan's speed as a share of cp's
//   RecoverAgainstScan  "recover" (carve, keep each content once, report) and the plain scan
//                  command in turns: recover's time as a multiple of the scan's
//   ScanAtCardPace  the scan of the photo card read at 90 and 400 MB/s, against a plain
//                  read at that pace: the scan's time as a multiple of the reader's
// HX_BENCH_MB (default 2048) sizes the images, HX_BENCH_DIR (default
// /tmp/hx-bench) holds them and the cache. Run with --benchmark_min_time=1x... e.g.
//   build/bench/bench_ScanSpeed --benchmark_repetitions=3
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <fstream>
#include <unistd.h>
#include <vector>

#include "output/RecoverAll.h"
#include "platform/RawFile.h"
#include "platform/ReadPace.h"
#include "shell/QuietUi.h"
#include "output/ScanCommand.h"
#include "reassembly/Reassembly.h"
#include "scan/ScanDisk.h"
#include "shell/Ui.h"
#include "viewing/SamplePhoto.h"

namespace fs = std::filesystem;
using namespace hx;

namespace {

using shell::QuietUi;

std::uint64_t benchBytes() {
    const char* mb = std::getenv("HX_BENCH_MB");
    return (mb ? std::strtoull(mb, nullptr, 10) : 2048ull) << 20;
}

fs::path benchDir() {
    const char* d = std::getenv("HX_BENCH_DIR");
    fs::path p = d ? d : "/tmp/hx-bench";
    fs::create_directories(p);
    return p;
}

void warm(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::vector<char> buf(8 << 20);
    while (in.read(buf.data(), static_cast<std::streamsize>(buf.size())) || in.gcount() > 0) {
    }
}

// Random bytes; every sector starts with 0x11, which no signature starts with.
fs::path randomImage() {
    const fs::path p = benchDir() / "random.img";
    if (fs::exists(p) && fs::file_size(p) == benchBytes()) return p;
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    std::vector<std::uint64_t> block((4 << 20) / 8);
    std::uint64_t x = 88172645463325252ull;
    for (std::uint64_t done = 0; done < benchBytes(); done += block.size() * 8) {
        for (auto& v : block) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            v = x;
        }
        auto* bytes = reinterpret_cast<unsigned char*>(block.data());
        for (std::size_t s = 0; s < block.size() * 8; s += 512) bytes[s] = 0x11;
        out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(block.size() * 8));
    }
    return p;
}

// Photos back to back, each at a 4 kB boundary, as a camera fills a card.
// Photo `i` of the card: one of 16 pictures, made distinct from the other
// copies of it by a comment segment with its number after the first segment
// (a card holds each photo once).
std::string cardPhoto(const std::vector<std::string>& pictures, std::size_t i) {
    const std::string& p = pictures[i % pictures.size()];
    const std::size_t first = 4 + (static_cast<std::uint8_t>(p[4]) << 8 | static_cast<std::uint8_t>(p[5]));
    const std::string text = "photo " + std::to_string(i);
    const std::size_t length = text.size() + 2;
    return p.substr(0, first) + "\xFF\xFE" + char(length >> 8) + char(length & 0xFF) + text + p.substr(first);
}

fs::path photoImage(std::size_t& photosOnCard) {
    const fs::path p = benchDir() / "distinct-photos.img";
    std::vector<std::string> photos;
    for (int n = 0; n < 16; ++n) {
        viewing::SamplePhotoOptions o;
        o.width = n % 2 ? 2560 : 2048;
        o.height = n % 2 ? 1920 : 1536;
        photos.push_back(viewing::MakeSamplePhoto(n, o));
    }
    photosOnCard = 0;
    std::uint64_t at = 0;
    for (std::size_t i = 0;; ++i) {
        const std::uint64_t next = (at + cardPhoto(photos, i).size() + 4095) / 4096 * 4096;
        if (next > benchBytes()) break;
        at = next;
        ++photosOnCard;
    }
    if (fs::exists(p) && fs::file_size(p) == benchBytes()) return p;
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    at = 0;
    for (std::size_t i = 0; i < photosOnCard; ++i) {
        const std::string ph = cardPhoto(photos, i);
        out.write(ph.data(), static_cast<std::streamsize>(ph.size()));
        const std::uint64_t next = (at + ph.size() + 4095) / 4096 * 4096;
        out.write(std::string(next - at - ph.size(), '\0').data(), static_cast<std::streamsize>(next - at - ph.size()));
        at = next;
    }
    out.write(std::string(benchBytes() - at, '\0').data(), static_cast<std::streamsize>(benchBytes() - at));
    return p;
}

// An empty cache folder, without the last run's files and their dirty pages.
fs::path freshCache(const std::string& name) {
    const fs::path p = benchDir() / name;
    fs::remove_all(p);
    fs::create_directories(p);
    ::sync();
    return p;
}

std::size_t scanInto(const fs::path& image, const std::string& selection, const fs::path& cache) {
    QuietUi ui;
    scan::ScanContext ctx(ui);
    ctx.drive = image.string();
    ctx.record.Drive = image.string();
    ctx.record.DriveType = media::DriveKind::Removable;
    ctx.record.IsImage = true;
    ctx.record.BytesPerSector = 512;
    ctx.record.SectorsPerCluster = 8;
    ctx.record.TotalClusters = fs::file_size(image) / 4096;
    ctx.cacheFolder = cache;
    ctx.table = formats::BuildSignatureTable(selection);
    formats::OrderForScan(ctx.table);
    scan::ScanDisk(ctx, reassembly::Reassemble);
    return ctx.FoundNames().size();
}

std::size_t runScan(const fs::path& image, const std::string& selection, benchmark::State& state) {
    state.PauseTiming();
    const fs::path cache = freshCache("cache");
    state.ResumeTiming();
    return scanInto(image, selection, cache);
}

double secondsOf(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void ScanRandom(benchmark::State& state) {
    const fs::path image = randomImage();
    warm(image);
    for (auto _ : state) {
        const auto found = runScan(image, "all", state);
        if (found != 0) state.SkipWithError("signatures found in the random image");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * benchBytes()));
}

void ScanPhotoCard(benchmark::State& state) {
    std::size_t photos = 0;
    const fs::path image = photoImage(photos);
    warm(image);
    for (auto _ : state) {
        const auto found = runScan(image, ".jpgJPEG File ", state);
        if (found != photos) state.SkipWithError("not every photo was found");
    }
    state.counters["photos"] = static_cast<double>(photos);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * benchBytes()));
}

void CopyImage(benchmark::State& state) {
    std::size_t photos = 0;
    const fs::path image = photoImage(photos);
    warm(image);
    for (auto _ : state) {
        state.PauseTiming();
        const fs::path copy = freshCache("copy") / "copy.img";
        state.ResumeTiming();
        fs::copy_file(image, copy, fs::copy_options::overwrite_existing);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * benchBytes()));
}

// The photo card goal as one figure: the real cp and the scan take turns on
// the same image, and "of_cp" is the median of cp's time over the scan's
// (1 = as fast as cp). Taking turns keeps a machine that slows down or speeds
// up between runs out of the comparison.
void ScanAgainstCp(benchmark::State& state) {
    std::size_t photos = 0;
    const fs::path image = photoImage(photos);
    warm(image);
    std::vector<double> ratios;
    for (auto _ : state) {
        const fs::path copy = freshCache("copy") / "copy.img";
        const std::string command = "cp '" + image.string() + "' '" + copy.string() + "'";
        const double cpSeconds = secondsOf([&] {
            if (std::system(command.c_str()) != 0) state.SkipWithError("cp failed");
        });
        freshCache("copy");
        const fs::path cache = freshCache("cache");
        std::size_t found = 0;
        const double scanSeconds = secondsOf([&] { found = scanInto(image, ".jpgJPEG File ", cache); });
        if (found != photos) state.SkipWithError("not every photo was found");
        state.SetIterationTime(scanSeconds);
        ratios.push_back(cpSeconds / scanSeconds);
    }
    std::sort(ratios.begin(), ratios.end());
    state.counters["of_cp"] = ratios.empty() ? 0 : ratios[ratios.size() / 2];
    state.counters["worst"] = ratios.empty() ? 0 : ratios.front();
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * benchBytes()));
}

// A new empty folder that no earlier run used. ext4 makes files slowly for
// half a minute after many were deleted in the same place (it looks for
// inodes not deleted recently), which no user who recovers into a new folder
// meets: a run's files are emptied after it (their space and pages freed)
// and removed only once all runs are measured.
fs::path unusedFolder(const std::string& name, int run) {
    const fs::path p = benchDir() / "runs" / (name + std::to_string(run));
    fs::create_directories(p);
    ::sync();
    return p;
}

void emptyFiles(const fs::path& folder) {
    for (const auto& e : fs::recursive_directory_iterator(folder))
        if (e.is_regular_file()) fs::resize_file(e.path(), 0);
    ::sync();
}

// The one-step recovery over the same card: everything carved (the card has
// no file system), each photo fingerprinted and moved into Found/jpg/, the
// report written with a picture of each. "of_scan" is the median of
// recover's time over the plain scan's; HX_BENCH_VERBOSE shows each pair.
void RecoverAgainstScan(benchmark::State& state) {
    std::size_t photos = 0;
    const fs::path image = photoImage(photos);
    warm(image);
    fs::remove_all(benchDir() / "runs");
    std::vector<double> ratios;
    int run = 0;
    for (auto _ : state) {
        const fs::path cache = unusedFolder("cache", run);
        std::size_t found = 0;
        // The plain scan as its command runs it (the command line's "scan").
        const double scanSeconds = secondsOf([&] {
            QuietUi quiet;
            output::ScanRequest plain;
            plain.source = image.string();
            plain.cacheFolder = cache;
            plain.selection = ".jpgJPEG File |";
            plain.resume = false;
            plain.newScan = true;
            plain.smart = false;
            output::ScanCommand command(quiet, plain);
            command.run();
            found = command.context().FoundNames().size();
        });
        emptyFiles(cache);
        const fs::path target = unusedFolder("recovered", run++);
        QuietUi ui;
        output::RecoverRequest req;
        req.source = image.string();
        req.target = target;
        req.selection = ".jpgJPEG File |";
        std::size_t recovered = 0;
        const double recoverSeconds = secondsOf([&] {
            const auto report = output::RecoverCommand(ui, req).run();
            if (report) {
                output::WriteRecoverReport(*report, target);
                recovered = report->files.size();
            }
        });
        emptyFiles(target);
        if (found != photos || recovered != photos) state.SkipWithError("the photos were not all found");
        state.SetIterationTime(recoverSeconds);
        ratios.push_back(recoverSeconds / scanSeconds);
        if (std::getenv("HX_BENCH_VERBOSE"))
            std::fprintf(stderr, "scan %.2f s, recover %.2f s\n", scanSeconds, recoverSeconds);
    }
    fs::remove_all(benchDir() / "runs");
    std::sort(ratios.begin(), ratios.end());
    state.counters["of_scan"] = ratios.empty() ? 0 : ratios[ratios.size() / 2];
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * benchBytes()));
}

// The scan of the photo card read at a card's pace (`state.range(0)` MB/s,
// with the system's read-ahead): "of_reader" is its time over that of a
// plain read of the card at the same pace (1 = the card is the limit).
// HX_BENCH_IMAGE names another image to scan so (every type searched), such
// as the media of bench/against-peers.sh.
void ScanAtCardPace(benchmark::State& state) {
    std::size_t photos = 0;
    const char* other = std::getenv("HX_BENCH_IMAGE");
    const fs::path image = other ? fs::path(other) : photoImage(photos);
    const std::string selection = other ? "all" : ".jpgJPEG File ";
    warm(image);
    const double rate = static_cast<double>(state.range(0)) * 1e6;
    std::vector<double> ratios;
    for (auto _ : state) {
        platform::PaceReads(image, rate);
        const double readerSeconds = secondsOf([&] {
            platform::RawFile file;
            if (!file.open(image, platform::RawFile::Mode::Read)) return;
            std::vector<std::uint8_t> block(8 << 20);
            for (std::uint64_t at = 0; file.readAt(at, block.data(), block.size()) > 0; at += block.size()) {
            }
        });
        const fs::path cache = freshCache("cache");
        platform::PaceReads(image, rate);
        std::size_t found = 0;
        const double scanSeconds = secondsOf([&] { found = scanInto(image, selection, cache); });
        platform::PaceReads(image, 0);
        if (!other && found != photos) state.SkipWithError("not every photo was found");
        state.SetIterationTime(scanSeconds);
        ratios.push_back(scanSeconds / readerSeconds);
    }
    std::sort(ratios.begin(), ratios.end());
    state.counters["of_reader"] = ratios.empty() ? 0 : ratios[ratios.size() / 2];
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * fs::file_size(image)));
}

}  // namespace

BENCHMARK(ScanAtCardPace)->Arg(90)->Arg(400)->Unit(benchmark::kMillisecond)->Iterations(1)->UseManualTime();
BENCHMARK(RecoverAgainstScan)->Unit(benchmark::kMillisecond)->Iterations(7)->UseManualTime();
BENCHMARK(ScanRandom)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(ScanPhotoCard)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(CopyImage)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(ScanAgainstCp)->Unit(benchmark::kMillisecond)->Iterations(7)->UseManualTime();
BENCHMARK_MAIN();
