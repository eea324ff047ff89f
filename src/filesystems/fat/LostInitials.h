#pragma once
// FAT marks a deleted entry by writing over the first letter of its short
// name: a camera's `DCIM/100CANON/IMG_1000.JPG` lists as
// `?CIM/?00CANON/?MG_1000.JPG`. The letter is rebuilt from the evidence: a
// sibling of the same pattern (`IMG_0998.JPG` beside `?MG_1000.JPG`), else
// the rules by which cameras name their folders and files. A rebuilt name is
// marked kAttrNameGuessed; one without evidence keeps its mark.
#include <vector>

#include "filesystems/UndeleteEntry.h"

namespace hx::filesystems {

// Rebuilds the list names and folder paths of the deleted short names in
// `entries` (a folder before the entries inside it, as listings come).
void RebuildLostInitials(std::vector<UndeleteEntry>& entries);

}  // namespace hx::filesystems
