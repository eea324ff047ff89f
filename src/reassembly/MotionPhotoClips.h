#pragma once
// Motion photos whose clip the file system wrote in pieces. The scan finds
// the picture whole, but the clip after it stops holding where its first
// piece ends (its boxes or its pictures are another file's bytes): such a
// photo is kept as its picture, "clip missing". Its clip starts a little
// after the picture's end; its index, first or after its samples, says
// where every sample lies, and the clip is followed through its pieces as a
// clip of its own is (a phone's trailer after it taken where its last piece
// runs on). The photo is written again whole once each part holds by its
// own structure.
#include <cstdint>

#include "media/SalvagedMedium.h"
#include "reassembly/ClipPieces.h"
#include "scan/ScanDisk.h"
#include "scan/ScanGeometry.h"

namespace hx::reassembly {

// Joins the clips of the motion photos among ctx.found whose clip is
// missing (`others`: what the other finds hold). Returns how many came back whole.
int JoinMotionPhotoClips(scan::ScanContext& ctx, const scan::ScanGeometry& geo, media::SalvagedMedium& medium,
                         std::uint64_t blockUnits, pieces::Others& others);

// Whether any find is a motion photo whose clip is missing.
bool AnyMotionPhotoWithoutClip(const scan::ScanContext& ctx);

}  // namespace hx::reassembly
