#include "reassembly/SplitPhotos.h"

#include <algorithm>
#include <atomic>
#include <numeric>
#include <thread>
#include <vector>

#include "filesystems/FileSystemTypes.h"
#include "formats/Formats.h"
#include "reassembly/PhotoJoiner.h"
#include "scan/LaterChecks.h"

namespace hx::reassembly {

namespace {

// Found files that tell a medium's block size, at least, and the largest block told.
constexpr std::size_t kBlockEvidence = 8;
constexpr std::uint64_t kMaxBlock = 1ull << 20;

bool secondMissing(const scan::FoundFile& f) {
    const auto& missing = f.partsMissing;
    return !f.earlier && f.parts.size() == 1 &&
           (std::find(missing.begin(), missing.end(), formats::PartKind::SecondPicture) != missing.end() ||
            std::find(missing.begin(), missing.end(), formats::PartKind::GainMap) != missing.end());
}

}  // namespace

std::uint64_t InferBlockUnits(const scan::ScanContext& ctx, const scan::ScanGeometry& geo) {
    // A file system's clusters are its units already.
    if (filesystems::CataloguedType(ctx.record) || ctx.found.size() < kBlockEvidence)
        return 1;
    std::uint64_t common = 0;
    for (const scan::FoundFile& f : ctx.found)
        if (!f.earlier) common = std::gcd(common, geo.byteOf(f.startUnit));
    if (common == 0) return 1;
    const std::uint64_t block = std::min<std::uint64_t>(common & (~common + 1), kMaxBlock);
    const std::uint64_t unit = geo.unitBytes();
    return block > unit && block % unit == 0 ? block / unit : 1;
}

std::uint64_t WrittenBlockUnits(const scan::ScanContext& ctx, const scan::ScanGeometry& geo) {
    const std::uint64_t unit = geo.unitBytes();
    if (filesystems::CataloguedType(ctx.record) && ctx.record.clusterBytes() > unit &&
        ctx.record.clusterBytes() % unit == 0)
        return ctx.record.clusterBytes() / unit;
    return InferBlockUnits(ctx, geo);
}

int JoinSplitPhotos(scan::ScanContext& ctx, const scan::ScanGeometry& geo) {
    // Damaged pictures, and whole ones whose second picture did not come back.
    std::vector<std::size_t> damaged;
    for (std::size_t i = 0; i < ctx.found.size(); ++i) {
        const scan::FoundFile& f = ctx.found[i];
        const formats::Format* format = formats::FormatOf(f.extension);
        if ((f.damaged || secondMissing(f)) && f.listedSize == 0 && format && format->ending == formats::Ending::Jpeg)
            damaged.push_back(i);
    }
    if (damaged.empty()) return 0;
    photos::Layout layout;
    photos::takeLayout(ctx, geo.unitBytes(), layout);
    const std::uint64_t blockUnits = WrittenBlockUnits(ctx, geo);
    // The pictures are shared out among a joiner a core; this thread's also
    // keeps the window answering and hears a stop.
    std::atomic<std::size_t> next{0};
    std::atomic<int> joined{0};
    std::atomic<bool> stop{false};
    const auto work = [&](bool answers) {
        photos::Joiner joiner(ctx, geo, layout);
        if (!joiner.open()) return;
        joiner.setBlockUnits(blockUnits);
        for (std::size_t k; !stop && (k = next++) < damaged.size();) {
            const scan::FoundFile& f = ctx.found[damaged[k]];
            if (f.damaged ? joiner.join(damaged[k]) : joiner.joinSecond(damaged[k])) ++joined;
            if (!answers) continue;
            ctx.ui.yield();
            if (ctx.ui.stopRequested()) stop = true;
        }
    };
    const std::size_t helpers =
        std::min<std::size_t>(scan::HelperThreads(), damaged.size() - 1);
    std::vector<std::thread> threads;
    for (std::size_t h = 0; h < helpers; ++h) threads.emplace_back(work, false);
    work(true);
    for (auto& t : threads) t.join();
    return joined;
}

}  // namespace hx::reassembly
