// The preview's filters, by their arithmetic.
#include <gtest/gtest.h>

#include "viewing/PictureFilters.h"

namespace hx::viewing {
namespace {

RgbPicture flat(unsigned width, unsigned height, std::uint8_t value) {
    RgbPicture p;
    p.width = width;
    p.height = height;
    p.pixels.assign(static_cast<std::size_t>(width) * height * 3, value);
    return p;
}

std::uint8_t& at(RgbPicture& p, unsigned x, unsigned y, unsigned colour) {
    return p.pixels[(static_cast<std::size_t>(y) * p.width + x) * 3 + colour];
}

const PictureFilter kAll[] = {PictureFilter::Unsharp, PictureFilter::Focus, PictureFilter::Sharpen,
                              PictureFilter::SharpenMore};

TEST(PictureFilters, AFlatGreyAreaIsUnchangedByEveryFilter) {
    for (PictureFilter f : kAll) {
        RgbPicture p = flat(9, 7, 128);
        ApplyPictureFilter(p, f);
        EXPECT_EQ(p.pixels, flat(9, 7, 128).pixels) << static_cast<int>(f);
    }
}

TEST(PictureFilters, ABrightPixelRisesByItsDifferenceTimesTheKernelAndIsClamped) {
    // SharpenMore: 5c - 4s = c + 4 (c - s).
    RgbPicture p = flat(5, 5, 100);
    at(p, 2, 2, 1) = 110;
    ApplyPictureFilter(p, PictureFilter::SharpenMore);
    EXPECT_EQ(at(p, 2, 2, 1), 150);
    EXPECT_EQ(at(p, 2, 2, 0), 100);       // other colours of the pixel untouched
    EXPECT_EQ(at(p, 1, 2, 1), 90);        // a neighbour: 5*100 - 110 - 300
    RgbPicture bright = flat(5, 5, 100);
    at(bright, 2, 2, 2) = 200;
    ApplyPictureFilter(bright, PictureFilter::SharpenMore);
    EXPECT_EQ(at(bright, 2, 2, 2), 255);  // 600, clamped
    EXPECT_EQ(at(bright, 2, 1, 2), 0);    // 500 - 200 - 300, clamped at 0

    // Focus halves: (6*101 - 400) / 2 = 103; Sharpen quarters the 8-neighbour sum: (12*102 - 800) / 4 = 106.
    RgbPicture focus = flat(5, 5, 100);
    at(focus, 2, 2, 0) = 101;
    ApplyPictureFilter(focus, PictureFilter::Focus);
    EXPECT_EQ(at(focus, 2, 2, 0), 103);
    RgbPicture sharpen = flat(5, 5, 100);
    at(sharpen, 2, 2, 0) = 102;
    ApplyPictureFilter(sharpen, PictureFilter::Sharpen);
    EXPECT_EQ(at(sharpen, 2, 2, 0), 106);
    EXPECT_EQ(at(sharpen, 1, 1, 0), 100);  // (1200 - 7*100 - 102) / 4 = 99.5: halves go to even
}

TEST(PictureFilters, UnsharpReadsTheValuesItHasAlreadyWrittenAndEdgesStay) {
    // A bright pixel: its right and lower neighbours see it after it was filtered.
    RgbPicture p = flat(5, 5, 100);
    at(p, 1, 1, 0) = 140;
    ApplyPictureFilter(p, PictureFilter::Unsharp);
    EXPECT_EQ(at(p, 1, 1, 0), 180);  // 280 - 400/4
    EXPECT_EQ(at(p, 2, 1, 0), 80);   // 200 - (100 + 100 + 180 + 100)/4
    EXPECT_EQ(at(p, 1, 2, 0), 80);   // 200 - (180 + 100 + 100 + 100)/4
    // The outer pixels keep their values.
    for (unsigned x = 0; x < 5; ++x) {
        EXPECT_EQ(at(p, x, 0, 0), 100);
        EXPECT_EQ(at(p, x, 4, 0), 100);
    }
    for (unsigned y = 0; y < 5; ++y) {
        EXPECT_EQ(at(p, 0, y, 0), 100);
        EXPECT_EQ(at(p, 4, y, 0), 100);
    }
    // A name from the string table chooses the filter.
    EXPECT_EQ(PictureFilterNamed("SharpenMore"), PictureFilter::SharpenMore);
    EXPECT_EQ(PictureFilterNamed("Blur"), std::nullopt);
}

}  // namespace
}  // namespace hx::viewing
