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

// `photo`: the whole joined picture; `joint`: the byte where its last piece
// was joined on (what lies before it is taken to be the photo's own).
ThumbnailSays CompareWithThumbnail(const std::uint8_t* photo, std::size_t size, std::size_t joint);

}  // namespace hx::viewing
