// How long the window leaves the user waiting while a scan lists its finds:
// a benchmark, not a test.
//   gui_latency [IMAGE]        HX_BENCH_MB (512) and HX_BENCH_FINDS (500) size the medium made when none
//                              is given (a find every 256 KiB at most), HX_BENCH_SAVE keeps it
// The window's peak memory is reported once the thumbnails are drawn.
// A medium of noise with photographs at every few megabytes is scanned by the
// real window, offscreen, with the thumbnails shown; a timer asks for the
// window every 5 ms and the gaps between its answers are reported: the
// longest, the 99th percentile and how many were over 100 ms.
#include <QApplication>
#include <QElapsedTimer>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>

#include <sys/resource.h>

#include "fixtures/TempDir.h"
#include "fixtures/TestJpeg.h"
#include "gui/AppStyle.h"
#include "gui/frmRecover.h"
#include "platform/DriveCatalogue.h"
#include "support/DialogScript.h"

namespace fs = std::filesystem;

namespace {

long envNumber(const char* name, long fallback) {
    const char* v = std::getenv(name);
    return v && *v ? std::strtol(v, nullptr, 10) : fallback;
}

// Noise with a photo at the start of every `spacing` bytes, each photo a sample of its own.
bool makeMedium(const fs::path& image, long megabytes, long finds) {
    std::ofstream out(image, std::ios::binary | std::ios::trunc);
    std::mt19937_64 random(7);
    std::vector<std::uint64_t> noise(1 << 17);  // 1 MiB
    const std::uint64_t total = static_cast<std::uint64_t>(megabytes) << 20;
    const std::uint64_t spacing = std::max<std::uint64_t>(total / static_cast<std::uint64_t>(std::max(finds, 1L)), 256 << 10) / 512 * 512;
    std::vector<std::string> photos;
    for (int n = 0; n < 16; ++n) photos.push_back(hx::test::MakeTestJpeg(n, 1024, 768, 85));
    for (std::uint64_t at = 0, n = 0; at < total; at += spacing, ++n) {
        std::string block = photos[n % photos.size()];
        // Each a photo of its own: a comment segment after its first one names it.
        const std::string tag = "photo " + std::to_string(n);
        const std::size_t first = 4 + (static_cast<unsigned char>(block[4]) << 8 | static_cast<unsigned char>(block[5]));
        block.insert(first, std::string("\xFF\xFE", 2) + char((tag.size() + 2) >> 8) + char((tag.size() + 2) & 0xFF) + tag);
        if (block.size() > spacing) block.resize(spacing);
        out.write(block.data(), static_cast<std::streamsize>(block.size()));
        for (std::uint64_t left = spacing - block.size(); left > 0;) {
            for (auto& w : noise) w = random();
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, noise.size() * 8));
            out.write(reinterpret_cast<const char*>(noise.data()), static_cast<std::streamsize>(n));
            left -= n;
        }
    }
    return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    hx::gui::ApplyAppStyle(app);
    hx::test::TempDir work("hx-gui-latency");
    // The window's settings, cache and pictures stay in the run's folder, never the user's.
    for (const char* v : {"XDG_CONFIG_HOME", "XDG_CONFIG_DIRS", "XDG_CACHE_HOME", "XDG_DATA_HOME"})
        qputenv(v, QByteArray::fromStdString((work.path() / v).string()));
    fs::path image = argc > 1 ? fs::path(argv[1]) : fs::path();
    if (image.empty()) {
        // HX_BENCH_SAVE: where the medium is made and kept, to run again or beside the command line.
        const char* keep = std::getenv("HX_BENCH_SAVE");
        image = keep && *keep ? fs::path(keep) : work / "medium.img";
        if (!makeMedium(image, envNumber("HX_BENCH_MB", 512), envNumber("HX_BENCH_FINDS", 500))) {
            std::fprintf(stderr, "gui_latency: could not make %s\n", image.c_str());
            return 1;
        }
    }
    hx::platform::DetachAllImages();
    const fs::path cache = work / "cache";
    fs::create_directories(cache);
    hx::test::DialogScript boxes;
    auto w = std::make_unique<hx::gui::frmRecover>(
        hx::shell::ParseWindowOptions({"--attach", image.string() + ",removable", "--cache", cache.string()}));
    w->Form_Load();
    w->resize(1280, 800);
    w->show();
    w->CmbTypeSelect_Click(3);  // all picture types
    // The thumbnails shown: a file in the cache to show them for first.
    hx::test::WriteFile(w->cacheFolder() / "R#0000.jpg", hx::test::MakeTestJpeg(99, 640, 480, 80));
    w->FillCacheBrowser();
    w->CmdShowThumbs_Click();
    const bool thumbnails = w->thumbnailsShown();

    std::vector<qint64> gaps;
    std::vector<std::pair<qint64, qint64>> longWaits;  // when (since the scan began) and how long
    QElapsedTimer clock, scan;
    qint64 last = -1;
    QTimer ask;
    QObject::connect(&ask, &QTimer::timeout, [&] {
        if (!w->isBusy()) return;
        const qint64 now = clock.elapsed();
        if (last >= 0) gaps.push_back(now - last);
        if (last >= 0 && now - last > 100) longWaits.emplace_back(scan.elapsed(), now - last);
        last = now;
    });
    clock.start();
    ask.start(5);
    // The cache's file goes with the new scan; SmartScan, or the types a file
    // system also holds, offered on a card with one: the whole medium, as chosen.
    boxes.answerFor = [](const QString& text) -> std::optional<QMessageBox::StandardButton> {
        if (text.contains("A new scan will delete")) return QMessageBox::Yes;
        if (text.contains("skipping listed existing files") || text.contains("retrieve as well")) return QMessageBox::No;
        return std::nullopt;
    };
    scan.start();
    w->findChild<QPushButton*>("CmdScan")->click();
    const double seconds = static_cast<double>(scan.elapsed()) / 1000.0;
    ask.stop();
    for (const auto& b : boxes.shown) std::printf("asked: %s\n", qPrintable(b.text.left(120)));
    std::sort(gaps.begin(), gaps.end());
    const qint64 longest = gaps.empty() ? 0 : gaps.back();
    const qint64 p99 = gaps.empty() ? 0 : gaps[gaps.size() * 99 / 100];
    const auto over = std::count_if(gaps.begin(), gaps.end(), [](qint64 g) { return g > 100; });
    std::printf("medium %s: %.1f MB, %d finds in %.2f s\n", image.filename().c_str(),
                static_cast<double>(fs::file_size(image)) / 1048576.0, static_cast<int>(w->foundNames().size()), seconds);
    std::printf("thumbnails %s\n", thumbnails ? "shown, drawn as the finds come" : "not shown");
    std::printf("window answered %zu times while busy: longest wait %lld ms, 99%% within %lld ms, %ld over 100 ms\n",
                gaps.size(), static_cast<long long>(longest), static_cast<long long>(p99), static_cast<long>(over));
    for (const auto& [when, wait] : longWaits)
        std::printf("  a wait of %lld ms ending %.1f s into the scan (of %.1f s)\n", static_cast<long long>(wait),
                    static_cast<double>(when) / 1000.0, seconds);
    // The thumbnails the worker still draws, then what the window holds.
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 600000 && w->thumbnailsPending()) app.processEvents(QEventLoop::AllEvents, 50);
    rusage use{};
    getrusage(RUSAGE_SELF, &use);
    std::printf("memory: at most %.0f MB (%.1f KB a find)\n", static_cast<double>(use.ru_maxrss) / 1024.0,
                static_cast<double>(use.ru_maxrss) / std::max<double>(1.0, static_cast<double>(w->foundNames().size())));
    w->CmdEnd_Click();
    return 0;
}
