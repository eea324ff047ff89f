#pragma once
// Files that the file system wrote in pieces, put together once a scan has
// read the whole medium: photos whose picture stops decoding where another
// file's bytes begin, and clips whose index says where each of their
// samples lies. Run as the scan's last step (scan::ScanDisk's `finish`).
#include "scan/ScanDisk.h"

namespace hx::reassembly {

// Joins the photos and rebuilds the clips in pieces among ctx.found, on the
// geometry the scan numbered the medium by.
void Reassemble(scan::ScanContext& ctx);

}  // namespace hx::reassembly
