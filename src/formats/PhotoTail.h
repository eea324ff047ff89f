#pragma once
// Follows what comes after a JPEG's end marker as the scan copies it: the
// parts its headers name (PartsNamedInHeaders), or a Samsung motion photo's
// clip and trailer, told by their bytes. Where nothing more belongs to the
// photo, it ends at its end marker.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "formats/PhotoParts.h"
#include "formats/iso/IsoBoxes.h"

namespace hx::formats {

class PhotoTail {
public:
    // At the picture's end marker: `pictureEnd` bytes are the picture.
    void start(std::vector<PhotoPart> named, std::uint64_t pictureEnd);
    bool started() const { return state_ != State::Idle; }
    // The next bytes of the file: how many of them belong to it; `ends` once it ends among them.
    std::size_t feed(const std::uint8_t* data, std::size_t size, bool& ends);
    // Inside a part: a signature here starts no file of its own.
    bool inPart() const { return state_ == State::Named || state_ == State::Clip; }
    // The parts after the picture, as named or as followed so far (a clip
    // still being read as long as its boxes said).
    std::vector<PhotoPart> parts() const;
    std::uint64_t pictureEnd() const { return pictureEnd_; }

private:
    enum class State { Idle, Named, Probe, Clip, Trailer, Done };
    std::size_t probe(const std::uint8_t* data, std::size_t size);
    std::size_t clip(const std::uint8_t* data, std::size_t size);
    std::size_t trailer(const std::uint8_t* data, std::size_t size);
    void finish(std::uint64_t end);

    State state_ = State::Idle;
    std::vector<PhotoPart> parts_;
    std::uint64_t pictureEnd_ = 0;
    std::uint64_t at_ = 0;   // the file's byte that the next byte fed is
    std::uint64_t end_ = 0;  // Done: the file's length
    std::vector<std::uint8_t> held_;  // Probe and Trailer: the bytes looked at so far
    std::uint64_t clipAt_ = 0;
    std::uint64_t trailerAt_ = 0;
    IsoBoxFeed boxes_{4ull << 30};
};

// The parts of a whole photo file that `read` reads (`size` bytes), found as
// the scan finds them and checked: for a file already saved or in the cache.
// Only the picture, with nothing missing, for a photo of one picture.
PartsCheck ReadPhotoParts(const ReadAt& read, std::uint64_t size);

}  // namespace hx::formats
