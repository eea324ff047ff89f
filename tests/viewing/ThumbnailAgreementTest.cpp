// A photo joined from pieces against its own EXIF thumbnail: another photo's
// piece past the joint shows, its own does not, and what cannot be told is
// said so.
#include <gtest/gtest.h>

#include "viewing/SamplePhoto.h"
#include "viewing/ThumbnailAgreement.h"

namespace hx::viewing {
namespace {

ThumbnailSays compare(const std::string& photo, std::size_t joint) {
    return CompareWithThumbnail(reinterpret_cast<const std::uint8_t*>(photo.data()), photo.size(), joint);
}

TEST(ThumbnailAgreement, AnotherPhotosPieceDiffersAndItsOwnAgrees) {
    for (const auto& [width, height] : {std::pair{1024, 768}, std::pair{1200, 800}}) {
        SCOPED_TRACE(width);
        const std::string own = MakeSamplePhoto(5, {.width = width, .height = height});
        const std::string other = MakeSamplePhoto(9, {.width = width, .height = height});
        for (const std::size_t joint : {own.size() / 3, own.size() / 2, own.size() * 3 / 4}) {
            EXPECT_EQ(compare(own, joint), ThumbnailSays::Agrees) << joint;
            // Of one camera and size, the other's data runs alike from the same byte.
            EXPECT_EQ(compare(own.substr(0, joint) + other.substr(joint), joint), ThumbnailSays::Differs) << joint;
        }
    }
}

TEST(ThumbnailAgreement, WhatCannotBeToldIsNothing) {
    const std::string own = MakeSamplePhoto(5, {.width = 1024, .height = 768});
    const std::string other = MakeSamplePhoto(9, {.width = 1024, .height = 768});
    const std::string bare = MakeSamplePhoto(5, {.width = 1024, .height = 768, .exif = false});
    EXPECT_EQ(compare(bare.substr(0, bare.size() / 2) + other.substr(bare.size() / 2), bare.size() / 2),
              ThumbnailSays::Nothing) << "no thumbnail";
    EXPECT_EQ(compare(own, own.size()), ThumbnailSays::Nothing) << "no joint";
    // A joint in the first rows or the last leaves too little on one side.
    const std::size_t nearEnd = own.size() - 2000;
    EXPECT_EQ(compare(own.substr(0, nearEnd) + other.substr(nearEnd), nearEnd), ThumbnailSays::Nothing);
    EXPECT_EQ(compare(own.substr(0, 3000) + other.substr(3000), 3000), ThumbnailSays::Nothing) << "inside the headers";
}

}  // namespace
}  // namespace hx::viewing
