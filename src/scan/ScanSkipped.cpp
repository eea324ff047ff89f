// The second look at the areas a failing medium made the scan skip over.
#include "scan/Scanner.h"

#include <algorithm>

namespace hx::scan::detail {

void Scanner::rescanSkipped() {
    if (reader_->damage().unreadableSectors() == 0) return;
    // The finds are whole on disk before bytes are put into them.
    if (file_.open) finishFile();
    writer_.wait();
    std::vector<std::pair<std::uint64_t, std::uint64_t>> areas;  // bytes [from, to) that read now
    reader_->retrySkipped([&](std::uint64_t offset, const std::uint8_t* bytes, std::size_t size) {
        patchFinds(offset, bytes, size);
        if (!areas.empty() && areas.back().second == offset) areas.back().second += size;
        else areas.emplace_back(offset, offset + size);
    });
    const std::uint64_t dataStart = geo_.byteOf(geo_.rootCluster);
    const std::uint64_t reached = unit_;
    for (const auto& [from, to] : areas) {
        if (to <= dataStart || outOfSpace_) continue;
        // The units that begin in the area; a file that starts there is
        // followed past it for as long as it goes on.
        const std::uint64_t first = geo_.rootCluster + (std::max(from, dataStart) - dataStart + unitSize_ - 1) / unitSize_;
        const std::uint64_t after = geo_.rootCluster + (to - dataStart + unitSize_ - 1) / unitSize_;
        if (first >= after || first >= endUnit_) continue;
        searchedFrom_ = after;
        unit_ = first;
        reader_->seek(unit_);
        while (unit_ < endUnit_ && (unit_ < after || (file_.open && !file_.complete))) {
            const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(unitsPerBlock_, endUnit_ - unit_));
            const std::size_t got = reader_->read(unit_, want);
            if (got == 0 || reader_->gone()) break;
            examineBlock(got);
            reportFinished();
            ui_.yield();
            if (ui_.stopRequested()) break;
        }
        if (file_.open) finishFile();
        if (reader_->gone()) break;
    }
    searchedFrom_ = UINT64_MAX;
    unit_ = reached;
    reader_->seek(unit_);
}

}  // namespace hx::scan::detail
