#pragma once
// The pictures of a clip (MP4, MOV, 3GP, or the clip of a motion photo)
// drawn small: the first for its thumbnail, the preview and the recovery
// report, and all of them in turn for the preview to play it. A video
// track's samples from its first on, decoded through libavcodec.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <utility>
#include <vector>

#include "formats/TiffReader.h"
#include "formats/codecs/PicturesDecode.h"
#include "formats/iso/IsoSampleTables.h"
#include "viewing/RgbPicture.h"

namespace hx::viewing {

// One video track's pictures in turn, decoded as they are asked for and
// read as they are (the clip is never held whole), round again from the
// first after the last.
class ClipFrames {
public:
    // The track `track` of the clip that `read` reads, `size` bytes, that
    // lasts `seconds` (0: not known); its pictures at most about `maxWidth` wide.
    ClipFrames(formats::ReadAt read, std::uint64_t size, const formats::IsoTrack& track, double seconds,
               unsigned maxWidth);
    // The next picture. False when none came of a few dozen samples, or of
    // the whole clip.
    bool next(RgbPicture& out);
    // How long each picture is shown, as the clip's length over its pictures.
    int millisecondsEach() const { return milliseconds_; }

private:
    void restart();

    formats::ReadAt read_;
    formats::IsoTrack track_;
    unsigned maxWidth_;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> samples_;  // each one's offset and size, in decode order
    std::unique_ptr<formats::PictureDecoder> decoder_;
    std::size_t at_ = 0;      // the next sample to send
    bool shownRound_ = false;  // a picture came since the first sample
    int milliseconds_ = 40;
};

// The pictures of a clip file, or (`photo`) of the clip inside a motion
// photo; null when it has no H.264 or H.265 track.
std::unique_ptr<ClipFrames> OpenClipFrames(const std::filesystem::path& file, bool photo, unsigned maxWidth);

// The clip that `read` reads, `size` bytes from its start: its first
// picture at most about `maxWidth` wide (twice that at worst; 0: as it is).
// False when it has no H.264 or H.265 track, or none of it decodes.
bool DecodeClipPicture(const formats::ReadAt& read, std::uint64_t size, unsigned maxWidth, RgbPicture& out);

// The same of a clip file.
bool LoadClipPicture(const std::filesystem::path& file, unsigned maxWidth, RgbPicture& out);

// The same of the clip inside a motion photo, as the photo's own parts
// (its XMP, or Samsung's record) place it; false for a photo without one.
bool LoadPhotoClipPicture(const std::filesystem::path& photo, unsigned maxWidth, RgbPicture& out);
// Whether a photo carries a clip that holds, as above.
bool HasPhotoClip(const std::filesystem::path& photo);

}  // namespace hx::viewing
