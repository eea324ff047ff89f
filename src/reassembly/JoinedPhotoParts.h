#pragma once
// A photo joined from its pieces ends, as the joiner put it together, at its
// first picture's end marker. What its headers name after that (a motion
// photo's clip, an MPF second picture or gain map) or Samsung's record
// announces lies where its last piece runs on: it is read from there,
// checked by its own structure, and kept as far as it holds.
#include <cstdint>
#include <vector>

#include "formats/PhotoParts.h"
#include "media/SalvagedMedium.h"
#include "scan/ScanDisk.h"

namespace hx::reassembly {

// The parts after the picture `joined` holds, the find `f`: they lie on the
// medium from byte `at` on (up to `mediumEnd`). Those that hold are appended
// to `joined`, and the find gets them and what is missing.
void TakeFollowingParts(media::SalvagedMedium& medium, std::uint64_t at, std::uint64_t mediumEnd,
                        std::vector<std::uint8_t>& joined, scan::FoundFile& f);

}  // namespace hx::reassembly
