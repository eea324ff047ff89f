// Which way of placing a clip's bytes gives pictures that look like a
// recording, told from their brightness alone.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "formats/codecs/PicturesDecode.h"

namespace hx::formats {
namespace {

constexpr std::size_t kWide = 30, kHigh = 22, kPictures = 12;

// A scene whose top rows move fast and the rest slowly, as a recording's do.
std::vector<Brightness> Scene() {
    std::vector<Brightness> pictures(kPictures, Brightness(kWide * kHigh));
    for (std::size_t k = 0; k < kPictures; ++k)
        for (std::size_t y = 0; y < kHigh; ++y)
            for (std::size_t x = 0; x < kWide; ++x) {
                const double speed = y < 12 ? 0.12 : 0.03;
                pictures[k][y * kWide + x] = static_cast<std::uint8_t>(128 + 70 * std::sin(0.4 * x + 0.3 * y + speed * k));
            }
    return pictures;
}

// Another file's bytes in the last two pictures, where they cover squares
// [from, to): blocks of noise.
std::vector<Brightness> Spoilt(std::vector<Brightness> pictures, std::size_t from, std::size_t to, unsigned key) {
    std::mt19937 random(key);
    for (std::size_t k = kPictures - 2; k < kPictures; ++k)
        for (std::size_t x = from; x < to; ++x) pictures[k][x] = static_cast<std::uint8_t>(random() % 256);
    return pictures;
}

TEST(PictureChanges, TheWayWithoutAnotherFilesBytesIsToldAlsoBesideOneWithAFewOfThem) {
    const std::vector<Brightness> right = Scene();
    // One cluster off: a few squares of noise where the scene moves fast;
    // further off, most of the pictures. Looked at all together, the few
    // squares drown among those the far way spoils, where the scene moves.
    const std::vector<Brightness> near = Spoilt(right, 40, 60, 1), far = Spoilt(right, 0, 300, 2);
    EXPECT_EQ(SmoothestWay({near, right, far}), std::optional<std::size_t>(1));
    EXPECT_EQ(SmoothestWay({far, near, right}), std::optional<std::size_t>(2));
    EXPECT_EQ(SmoothestWay({right, far}), std::optional<std::size_t>(0));
}

TEST(PictureChanges, NoWayIsTakenWhereEachHoldsAnotherFilesBytesOrNoneDiffers) {
    const std::vector<Brightness> right = Scene();
    // Every way wrong where they differ: each its own noise there.
    EXPECT_EQ(SmoothestWay({Spoilt(right, 40, 300, 1), Spoilt(right, 40, 300, 2), Spoilt(right, 0, 300, 3)}), std::nullopt);
    // Ways that show the same pictures tell nothing.
    EXPECT_EQ(SmoothestWay({right, right}), std::nullopt);
    const std::vector<Brightness> near = Spoilt(right, 40, 60, 1);
    EXPECT_EQ(SmoothestWay({right, right, near}), std::nullopt);
    // Nor do pictures of layouts not read, or a way of other pictures.
    EXPECT_EQ(SmoothestWay({right}), std::nullopt);
    EXPECT_EQ(SmoothestWay({right, std::vector<Brightness>(right.begin(), right.end() - 1)}), std::nullopt);
}

}  // namespace
}  // namespace hx::formats
