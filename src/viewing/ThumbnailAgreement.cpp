#include "viewing/ThumbnailAgreement.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "viewing/ExifThumbnail.h"
#include "viewing/JpegThumbnail.h"

namespace hx::viewing {

namespace {

// How far a thumbnail may be off the photo before the joint and still be a
// rendering of it (levels of 255, a tile's mean); past the joint, tiles off
// by twice that and this much more are another photo's.
constexpr double kRendering = 12;
constexpr double kFactor = 2, kMargin = 4;
// Thumbnail rows on each side of the joint, at least; the rows of a band
// past it, and the columns of a tile.
constexpr unsigned kRows = 3;
constexpr unsigned kBand = 8;
constexpr unsigned kTile = 8;
// Bytes of a photo's start in which its EXIF thumbnail is looked for.
constexpr std::size_t kHead = 64 * 1024;

// The first row in which two decodes of one size differ; their height when none does.
unsigned firstDifferentRow(const RgbPicture& a, const RgbPicture& b) {
    const std::size_t row = static_cast<std::size_t>(a.width) * 3;
    for (unsigned y = 0; y < a.height; ++y)
        for (std::size_t x = 0; x < row; ++x)
            if (std::abs(a.pixels[y * row + x] - b.pixels[y * row + x]) > 2) return y;
    return a.height;
}

// Where the photo lies in the thumbnail: `width` x `height` pixels from
// (`left`, `top`).
struct Placing {
    unsigned left, top, width, height;
};

// How far the thumbnail is off the photo placed so, before the joint's row
// (`jointRow` of the photo) and, at worst, in a band past it: in tiles, where
// what resampling and noise leave averages out and another picture's content
// does not; the worst colour of each tile. Negative when the joint leaves too
// few rows on either side.
std::pair<double, double> offBy(const RgbPicture& thumb, const RgbPicture& whole, const Placing& at, unsigned jointRow) {
    if (at.width < kTile || at.height < 2 * kRows + 2) return {-1, -1};
    const double sx = static_cast<double>(whole.width) / at.width, sy = static_cast<double>(whole.height) / at.height;
    // Each thumbnail pixel less the mean of the photo's pixels under it, per colour.
    std::vector<double> residue(static_cast<std::size_t>(at.width) * at.height * 3);
    for (unsigned ty = 0; ty < at.height; ++ty) {
        const unsigned y0 = std::min(whole.height - 1, static_cast<unsigned>(ty * sy));
        const unsigned y1 = std::max(y0 + 1, std::min(whole.height, static_cast<unsigned>((ty + 1) * sy)));
        for (unsigned tx = 0; tx < at.width; ++tx) {
            const unsigned x0 = std::min(whole.width - 1, static_cast<unsigned>(tx * sx));
            const unsigned x1 = std::max(x0 + 1, std::min(whole.width, static_cast<unsigned>((tx + 1) * sx)));
            for (unsigned c = 0; c < 3; ++c) {
                double mean = 0;
                for (unsigned y = y0; y < y1; ++y)
                    for (unsigned x = x0; x < x1; ++x) mean += whole.pixels[(static_cast<std::size_t>(y) * whole.width + x) * 3 + c];
                mean /= static_cast<double>((y1 - y0) * (x1 - x0));
                residue[(static_cast<std::size_t>(ty) * at.width + tx) * 3 + c] =
                    thumb.pixels[(static_cast<std::size_t>(at.top + ty) * thumb.width + at.left + tx) * 3 + c] - mean;
            }
        }
    }
    const auto bandOff = [&](unsigned from, unsigned to) {
        double sum = 0;
        unsigned tiles = 0;
        for (unsigned x = 0; x + kTile <= at.width; x += kTile, ++tiles) {
            double worst = 0;
            for (unsigned c = 0; c < 3; ++c) {
                double mean = 0;
                for (unsigned y = from; y < to; ++y)
                    for (unsigned k = x; k < x + kTile; ++k) mean += residue[(static_cast<std::size_t>(y) * at.width + k) * 3 + c];
                worst = std::max(worst, std::abs(mean) / ((to - from) * kTile));
            }
            sum += worst;
        }
        return tiles ? sum / tiles : 0.0;
    };
    // The joint's row in the thumbnail; the row it lies in and the next mix both sides.
    const auto jointT = static_cast<unsigned>(jointRow / sy);
    if (jointT < kRows || jointT + 2 + kRows > at.height) return {-1, -1};
    double after = 0;
    for (unsigned ty = jointT + 2; ty + kRows <= at.height; ty += kBand)
        after = std::max(after, bandOff(ty, std::min(at.height, ty + kBand)));
    return {bandOff(0, jointT), after};
}

}  // namespace

ThumbnailSays CompareWithThumbnail(const std::uint8_t* photo, std::size_t size, std::size_t joint, double jointDown) {
    if (joint >= size || jointDown >= 1) return ThumbnailSays::Nothing;
    const ByteSpan span = FindExifThumbnail(photo, std::min(joint, kHead));
    if (span.length == 0 || span.offset + span.length > joint) return ThumbnailSays::Nothing;
    RgbPicture thumb, whole;
    if (!DecodeJpegScaled(photo + span.offset, span.length, 0, thumb) || thumb.width < 16 || thumb.height < 16 ||
        !DecodeJpegScaled(photo, size, static_cast<int>(thumb.width), whole) || whole.width < thumb.width ||
        whole.height < thumb.height / 2)
        return ThumbnailSays::Nothing;
    unsigned jointRow = jointDown >= 0 ? static_cast<unsigned>(jointDown * whole.height) : whole.height;
    if (jointDown < 0) {
        // The first piece alone decodes as the whole does up to the joint's row.
        RgbPicture first;
        if (!DecodeJpegScaled(photo, joint, static_cast<int>(thumb.width), first) || first.width != whole.width ||
            first.height != whole.height)
            return ThumbnailSays::Nothing;
        jointRow = firstDifferentRow(whole, first);
    }
    if (jointRow >= whole.height) return ThumbnailSays::Nothing;
    // A camera fits a photo of another shape into its thumbnail between
    // bars, or stretches it: whichever shows the photo before the joint.
    const double fit = std::min(static_cast<double>(thumb.width) / whole.width, static_cast<double>(thumb.height) / whole.height);
    const auto fitW = std::min(thumb.width, static_cast<unsigned>(std::lround(whole.width * fit)));
    const auto fitH = std::min(thumb.height, static_cast<unsigned>(std::lround(whole.height * fit)));
    double before = -1, after = 0;
    for (const Placing& at : {Placing{0, 0, thumb.width, thumb.height},
                              Placing{(thumb.width - fitW) / 2, (thumb.height - fitH) / 2, fitW, fitH}}) {
        const auto [b, a] = offBy(thumb, whole, at, jointRow);
        if (b >= 0 && (before < 0 || b < before)) {
            before = b;
            after = a;
        }
    }
    if (before < 0 || before > kRendering) return ThumbnailSays::Nothing;
    return after > kFactor * before + kMargin ? ThumbnailSays::Differs : ThumbnailSays::Agrees;
}

}  // namespace hx::viewing
