#pragma once
// Clips that the file system wrote in pieces. A clip's index (its `moov`
// box) says where every sample lies in the file and how long it is, and an
// H.264 or H.265 sample is a run of NAL units each led by its length, an AAC
// frame starts with the kind of its first element: so the bytes where a
// sample should be either are that sample or are not. A found clip whose
// index comes before its samples is followed cluster by cluster; where its
// samples stop being there, the cluster that holds them is looked for on
// the medium (nearest first, forward, then from the start), and the clip is
// written again from its pieces once every sample is where the index says.
// A clip whose index comes last is paired with a `moov` found on its own at
// the place its `mdat` ends in a cluster (or after a camera's own boxes
// there). A clip whose pieces are not all
// found keeps what was shown to be its own, and zeros where the rest should
// be, marked damaged: never another file's bytes.
#include <cstddef>
#include <cstdint>

#include "scan/ScanDisk.h"
#include "scan/ScanGeometry.h"

namespace hx::reassembly {

// Rebuilds the clips in pieces among ctx.found (their cache files are
// rewritten, and FoundFile::pieces set). Returns how many were rebuilt.
int RebuildSplitMovies(scan::ScanContext& ctx, const scan::ScanGeometry& geo);

}  // namespace hx::reassembly
