#pragma once
// Photos that the file system wrote in two pieces. A found JPEG that stops
// decoding cleanly is cut where the fault begins, at a unit boundary, and
// its continuation is looked for on the medium: a few units further on (a
// gap of other data), right after another whole file found there, right
// after any other find however far away, and last at any unit within tens
// of megabytes on (or a few before) whose bytes look like picture data;
// never among the bytes another find is known to hold. A join
// is kept only when the picture decodes cleanly across it and to its end.
// Only damaged pictures cost anything; every search is bounded.
#include <cstdint>

#include "scan/ScanDisk.h"
#include "scan/ScanGeometry.h"

namespace hx::reassembly {

// Joins the damaged JPEGs among ctx.found (their cache files are rewritten,
// their sizes updated). Returns how many were joined.
int JoinSplitPhotos(scan::ScanContext& ctx, const scan::ScanGeometry& geo);

// How many units make one block of the medium: on a medium without a file
// system, found files that all start on multiples of a larger power of two
// (32 KiB, say) tell that it was written in blocks of that size. 1 when
// nothing says so.
std::uint64_t InferBlockUnits(const scan::ScanContext& ctx, const scan::ScanGeometry& geo);
// How many units the medium's files are written in: its file system's
// cluster where the scan's units are smaller (DeepScan), else what the finds
// tell (InferBlockUnits).
std::uint64_t WrittenBlockUnits(const scan::ScanContext& ctx, const scan::ScanGeometry& geo);

}  // namespace hx::reassembly
