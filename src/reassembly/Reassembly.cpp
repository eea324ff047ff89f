#include "reassembly/Reassembly.h"

#include "reassembly/SplitMovies.h"
#include "reassembly/SplitPhotos.h"

namespace hx::reassembly {

void Reassemble(scan::ScanContext& ctx) {
    JoinSplitPhotos(ctx, ctx.geometry);
    RebuildSplitMovies(ctx, ctx.geometry);
}

}  // namespace hx::reassembly
