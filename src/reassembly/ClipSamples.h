#pragma once
// What the search for a clip's pieces works with: the clip's samples in file
// order, as its index places them, what other finds hold on the medium, and
// how a long search answers the window.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "formats/codecs/PcmSound.h"
#include "formats/iso/IsoSampleTables.h"
#include "scan/ScanDisk.h"
#include "shell/Ui.h"

namespace hx::reassembly::pieces {

// How far a walk of a clip's top-level boxes goes: past any medium's end
// (a clip is followed whatever its size; its map of clusters takes the room
// of its pieces, and its samples are read as they are needed).
constexpr std::uint64_t kMaxClip = 1ull << 50;

struct Sample {
    enum class Kind : std::uint8_t { Nal, Aac, Unchecked };
    std::uint64_t offset = 0, size = 0;  // in the file
    Kind kind = Kind::Unchecked;
    std::uint8_t lengthBytes = 0;  // of each NAL unit's length
    std::uint8_t headerBytes = 1;  // of each NAL unit's header: 1 in H.264, 2 in H.265
    formats::PcmOrder pcm = formats::PcmOrder::None;  // uncompressed 16-bit sound, in this byte order
    std::uint32_t track = 0, number = 0;  // its track's, and its place there (from 0)
    std::uint64_t end() const { return offset + size; }
};

// Every sample of the clip's tracks in file order; empty when one lies
// outside the `mdat` or the file, or none can be checked.
std::vector<Sample> samplesOf(const std::vector<formats::IsoTrack>& tracks, const formats::IsoBox& mdat, std::uint64_t size);

// A search over every unit of a large medium shows how far it went, what
// it looks for, and ends at a stop; one on a helper thread shows nothing
// and ends when `stop` is set.
struct Search {
    shell::Ui* ui = nullptr;
    std::string text;
    const std::atomic<bool>* stop = nullptr;
    bool goOn(std::uint64_t k, std::uint64_t units) const {
        if (k % 4096 != 0) return true;
        if (stop && *stop) return false;
        if (!ui) return true;
        ui->progress(static_cast<double>(k) / static_cast<double>(units), text);
        ui->yield();
        return !ui->stopRequested();
    }
};

// What other finds hold on the medium, in units: their first units, and
// the units each is known to fill (end excluded). The find that starts at
// `own` (the clip being rebuilt) is none of them. Nor are the units the
// scan saw blank (their first KiB zeros: no clip's samples are).
struct Others {
    std::vector<std::uint64_t> starts;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> held;  // sorted, not overlapping much
    std::uint64_t own = ~std::uint64_t{0};
    const scan::ScanContext::BlankUnits* blank = nullptr;
    bool blankAt(std::uint64_t unit) const { return blank && blank->has(unit); }
    // No piece of the clip can lie at `unit`.
    bool taken(std::uint64_t unit) const { return holds(unit) || starts_at(unit) || blankAt(unit); }
    bool holds(std::uint64_t unit) const {
        auto it = std::upper_bound(held.begin(), held.end(), std::make_pair(unit, ~std::uint64_t{0}));
        for (int steps = 0; it != held.begin() && steps < 4; ++steps) {
            --it;
            if (it->first != own && unit < it->second) return true;
        }
        return false;
    }
    bool starts_at(std::uint64_t unit) const {
        return unit != own && std::binary_search(starts.begin(), starts.end(), unit);
    }
    // The first unit of [lo, hi) that another find holds or starts at; hi
    // when none does. Only where a find or its bytes begin can one be.
    std::uint64_t firstClaimed(std::uint64_t lo, std::uint64_t hi) const {
        for (std::uint64_t u = lo; u < hi;) {
            if (holds(u) || starts_at(u)) return u;
            std::uint64_t next = hi;
            auto s = std::upper_bound(starts.begin(), starts.end(), u);
            if (s != starts.end()) next = std::min(next, *s);
            auto h = std::upper_bound(held.begin(), held.end(), std::make_pair(u, ~std::uint64_t{0}));
            if (h != held.end()) next = std::min(next, h->first);
            u = next;
        }
        return hi;
    }
};

}  // namespace hx::reassembly::pieces
