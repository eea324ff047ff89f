#pragma once
// A photo that is more than one picture: what follows a JPEG's end marker
// and still belongs to the file.
// - A motion photo carries a short clip. Google's form names it in the XMP
//   (GCamera:MicroVideoOffset, or a Container:Directory of items with their
//   lengths); Samsung's puts "MotionPhoto_Data" between the picture and the
//   clip and often ends the file with a trailer of tagged records (SEFH ...
//   SEFT).
// - An MPF picture lists a second picture after its own in its APP2 index: a
//   gain map (Ultra HDR), a large preview or a second view.
// The parts are read from the headers as the file is found, followed as its
// bytes arrive (PhotoTail) and checked by their own structure once it is
// written (CheckPhotoParts).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "formats/TiffReader.h"

namespace hx::formats {

enum class PartKind { Picture, SecondPicture, GainMap, Clip, Trailer };

struct PhotoPart {
    PartKind kind = PartKind::Picture;
    std::uint64_t offset = 0;  // from the file's first byte
    std::uint64_t length = 0;
    std::uint64_t end() const { return offset + length; }
};

// "picture", "second picture", "gain map", "clip", "trailer": the part's kind as the JSON gives it.
std::string_view PartKindName(PartKind kind);

// The parts after the first picture that the headers in head[0, size) (from
// the start marker, up to the first scan at least) name, in the order they
// lie; the picture itself is `pictureEnd` bytes. Empty when they name none.
// A clip named by its length from the file's end is taken to follow the
// picture; CheckPhotoParts finds it where it starts a little later.
std::vector<PhotoPart> PartsNamedInHeaders(const std::uint8_t* head, std::size_t size, std::uint64_t pictureEnd);

// Where the clip starts in after[0, size), the bytes after a picture's end
// marker, when they are Samsung's "MotionPhoto_Data" record; npos otherwise.
// `decided` is false while too few bytes are there to tell.
std::size_t SamsungClipStart(const std::uint8_t* after, std::size_t size, bool& decided);
// Samsung's trailer in t[0, size): the length of the records up to and with
// the "SEFT" tag whose length points back at "SEFH"; 0 while none is there.
std::size_t SamsungTrailerLength(const std::uint8_t* t, std::size_t size);

struct PartsCheck {
    std::vector<PhotoPart> parts;  // those that hold, the first picture's first
    std::uint64_t end = 0;         // where the last of them ends
    // The kinds that were named or begun and do not hold, in file order.
    std::vector<PartKind> missing;
};

// Checks the parts after the first picture in the file that `read` reads
// (`size` bytes written): a clip by its boxes, a picture by its markers and
// a decode. The parts up to the first that fails are kept.
PartsCheck CheckPhotoParts(const ReadAt& read, std::uint64_t size, std::uint64_t pictureEnd,
                           std::vector<PhotoPart> parts);

// "motion photo: clip missing", "second picture missing", "gain map missing":
// what is said of a photo whose named parts did not all come back.
std::string MissingPartsText(const std::vector<PartKind>& missing);
// "motion photo, 2.0 s clip", "with gain map", "with second picture", and
// what is missing: what is said of a photo of more than one picture; empty
// for one of a single picture. `clipSeconds` is the clip's length (0: not known).
std::string PartsText(const std::vector<PhotoPart>& parts, const std::vector<PartKind>& missing, double clipSeconds);
// The length of the clip among the parts of the file that `read` reads; 0 when there is none.
double ClipSeconds(const ReadAt& read, const std::vector<PhotoPart>& parts);

}  // namespace hx::formats
