#pragma once
// Whether a photo put together from pieces shows, past the joint, what its
// own EXIF thumbnail shows there. The first piece of one photo and the
// second of another of the same camera and size can decode as one picture
// (they share their tables, and their data runs alike); the small copy the
// camera made of the first tells them apart.
#include <cstddef>
#include <cstdint>

namespace hx::viewing {

enum class ThumbnailSays {
    Agrees,   // the rows past the joint match the thumbnail about as well as those before it
    Differs,  // the rows before the joint match it, those past it do not
    Nothing,  // no thumbnail before the joint, too few rows on either side, or one that matches nothing
};

// `photo`: the whole joined picture; `joint`: the byte where its first piece
// ends (what lies before it is taken to be the photo's own); `jointDown`:
// how far down the picture that byte's row lies, as a part of its height,
// when the caller knows it (an entropy walk's count of MCUs up to there);
// else the first piece is decoded alone to tell.
ThumbnailSays CompareWithThumbnail(const std::uint8_t* photo, std::size_t size, std::size_t joint, double jointDown = -1);

}  // namespace hx::viewing
