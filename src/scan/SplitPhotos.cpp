#include "scan/SplitPhotos.h"

#include <algorithm>
#include <fstream>
#include <vector>

#include "platform/RawFile.h"
#include "shell/Text.h"
#include "viewing/PictureCheck.h"

namespace hx::scan {

namespace {

namespace fs = std::filesystem;

// Pictures larger than this are not joined.
constexpr std::uint64_t kMaxPicture = 64ull << 20;
// Split points tried before the first fault, in units.
constexpr std::uint64_t kSplitBack = 4;
// Gaps of other data tried, in units.
constexpr std::uint64_t kMaxGap = 16;
// Found files between the pieces that are stepped over, at most.
constexpr std::size_t kMaxBetween = 4;
// Bytes of the continuation decoded to judge a join.
constexpr std::size_t kProbe = 128 * 1024;

std::vector<std::uint8_t> readFile(const fs::path& path, std::uint64_t cap) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::uint8_t> bytes;
    if (!in) return bytes;
    in.seekg(0, std::ios::end);
    const auto size = static_cast<std::uint64_t>(in.tellg());
    if (size > cap) return bytes;
    in.seekg(0);
    bytes.resize(static_cast<std::size_t>(size));
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size));
    return bytes;
}

// Decodes cleanly up to where its data ends (a probe runs out there).
bool cleanTo(const std::vector<std::uint8_t>& bytes, std::size_t joinAt) {
    const viewing::JpegCheck c = viewing::CheckJpegBuffer(bytes.data(), bytes.size());
    if (!c.decodes) return false;
    if (c.complete && c.warnings == 0) return true;
    // Running out of data shows as a fault at its very end.
    return c.firstFault != ~0ull && c.firstFault > joinAt && c.firstFault + 64 >= bytes.size();
}

class Joiner {
public:
    Joiner(ScanContext& ctx, const ScanGeometry& geo) : ctx_(ctx), geo_(geo), unit_(geo.unitBytes()) {}

    bool open() { return medium_.open(ctx_.drive, platform::RawFile::Mode::Read); }

    bool join(std::size_t index) {
        FoundFile& f = ctx_.found[index];
        const fs::path path = ctx_.cacheFolder / f.name;
        std::vector<std::uint8_t> bytes = readFile(path, kMaxPicture);
        if (bytes.size() < unit_) return false;
        const viewing::JpegCheck check = viewing::CheckJpegBuffer(bytes.data(), bytes.size());
        if (!check.decodes || check.firstFault == ~0ull || check.firstFault > bytes.size()) return false;
        // The split lies at a unit boundary at or before the fault (the
        // decoder notices other data a little after it begins).
        const std::uint64_t faultUnit =
            std::min<std::uint64_t>((check.firstFault + unit_ - 1) / unit_, bytes.size() / unit_);
        for (std::uint64_t back = 0; back <= kSplitBack && back < faultUnit; ++back) {
            const std::uint64_t pieceUnits = faultUnit - back;
            for (std::uint64_t next : continuations(index, f.startUnit + pieceUnits)) {
                std::vector<std::uint8_t> joined(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(pieceUnits * unit_));
                const std::size_t joinAt = joined.size();
                if (!append(joined, next, kProbe) || !cleanTo(joined, joinAt)) continue;
                // The whole picture across the join, up to its end.
                joined.resize(joinAt);
                if (!append(joined, next, kMaxPicture - joinAt)) continue;
                const viewing::JpegCheck whole = viewing::CheckJpegBuffer(joined.data(), joined.size());
                if (!whole.complete || whole.warnings > 0 || whole.end > joined.size()) continue;
                joined.resize(static_cast<std::size_t>(whole.end));
                std::ofstream out(path, std::ios::binary | std::ios::trunc);
                out.write(reinterpret_cast<const char*>(joined.data()), static_cast<std::streamsize>(joined.size()));
                if (!out.flush()) return false;
                f.size = joined.size();
                f.damaged = false;
                f.printed = false;
                return true;
            }
        }
        return false;
    }

private:
    // Where the second piece may start, most likely first: right after a
    // small gap, then right after each found file that lies in the way.
    std::vector<std::uint64_t> continuations(std::size_t index, std::uint64_t from) const {
        std::vector<std::uint64_t> out;
        for (std::uint64_t gap = 1; gap <= kMaxGap; ++gap) out.push_back(from + gap);
        std::size_t between = 0;
        for (std::size_t k = index + 1; k < ctx_.found.size() && between < kMaxBetween; ++k) {
            const FoundFile& g = ctx_.found[k];
            if (g.startUnit < from) continue;
            if (g.startUnit > from + kMaxGap + 1 && between == 0) break;
            ++between;
            const std::uint64_t after = g.startUnit + (g.size + unit_ - 1) / unit_;
            for (std::uint64_t gap = 0; gap <= 8; ++gap) out.push_back(after + gap);
        }
        // Never into another found file's start: that is its own picture.
        out.erase(std::remove_if(out.begin(), out.end(),
                                 [&](std::uint64_t u) {
                                     return u >= geo_.endUnit() ||
                                            std::any_of(ctx_.found.begin(), ctx_.found.end(),
                                                        [u](const FoundFile& g) { return g.startUnit == u; });
                                 }),
                  out.end());
        return out;
    }

    // Appends up to `length` bytes of the medium from `unit` on.
    bool append(std::vector<std::uint8_t>& out, std::uint64_t unit, std::uint64_t length) {
        const std::uint64_t available = (geo_.endUnit() - unit) * unit_;
        const auto n = static_cast<std::size_t>(std::min(length, available));
        const std::size_t at = out.size();
        out.resize(at + n);
        const std::size_t got = medium_.readAt(geo_.byteOf(unit), out.data() + at, n);
        out.resize(at + got);
        return got > 0;
    }

    ScanContext& ctx_;
    const ScanGeometry& geo_;
    const std::uint64_t unit_;
    platform::RawFile medium_;
};

}  // namespace

int JoinSplitPhotos(ScanContext& ctx, const ScanGeometry& geo) {
    int joined = 0;
    bool any = false;
    for (const FoundFile& f : ctx.found) any = any || f.damaged;
    if (!any) return 0;
    Joiner joiner(ctx, geo);
    if (!joiner.open()) return 0;
    for (std::size_t i = 0; i < ctx.found.size(); ++i) {
        const FoundFile& f = ctx.found[i];
        if (!f.damaged || f.listedSize > 0) continue;
        const std::string ext = shell::ToLower(f.extension);
        if (ext != ".jpg" && ext != ".jpeg" && ext != ".thm") continue;
        if (joiner.join(i)) ++joined;
        ctx.ui.yield();
        if (ctx.ui.stopRequested()) break;
    }
    return joined;
}

}  // namespace hx::scan
