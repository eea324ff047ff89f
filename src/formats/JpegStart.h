#pragma once
// Whether bytes start a JPEG, by its structure rather than by a fixed pattern:
// the start marker, then marker segments that an encoder writes before the
// picture data (APPn, COM, DQT, DHT, DRI, SOF), each of a length its kind
// allows, up to the frame or the scan. Encoders that strip every APPn segment,
// scanners that open with a comment and editors that open with Adobe's segment
// are found alike.
#include <cstddef>
#include <cstdint>

namespace hx::formats {

// True when the `size` bytes at `p` start a JPEG: the segments hold up to a
// frame or scan header, or to the end of the bytes inside a segment whose
// opening names what it is (APP0 JFIF, APP1 Exif or XMP, APP2 ICC or MPF,
// APP13 Photoshop, APP14 Adobe). A decode still decides whether it is a picture.
bool IsJpegStart(const std::uint8_t* p, std::size_t size);

}  // namespace hx::formats
