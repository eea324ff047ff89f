#pragma once
// Whether a run of a clip's video samples decodes without a fault, through
// libavcodec: the proof that a clip's bytes are its own where its NAL
// lengths alone cannot tell (a cluster that lies wholly inside one picture
// checks nothing of them). A picture made of another file's bytes throws the
// decoder off within a few macroblocks; the clip's own decode cleanly.
//
// Also a clip's pictures in turn, drawn small, for its thumbnail and preview.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace hx::formats {

// `codec` is the track's first sample entry ("avc1", "avc3", "hvc1",
// "hev1"), `config` its configuration box's contents (avcC, hvcC), and
// `samples` the track's samples in decode order from one that needs none
// before it. True when each of them decodes without a fault and none holds
// filler (see HoldsFiller); false too when the codec is none of those or the
// decoder cannot be had.
// Pictures of `codec` with `config` can be decoded here (see PicturesDecode).
bool CanDecodePictures(const std::array<char, 4>& codec, const std::vector<std::uint8_t>& config);

bool PicturesDecode(const std::array<char, 4>& codec, const std::vector<std::uint8_t>& config,
                    const std::vector<std::vector<std::uint8_t>>& samples);

// The run decodes as PicturesDecode says with the last few bytes of its last
// picture's last NAL unit (before any zeros that pad it) cut off. A picture
// coded so does not: with arithmetic coding (CABAC) its decoder reads its
// slice to the end. One whose bytes are partly another file's often decodes
// without a fault all the same, its slice ending short of its bytes' end,
// and then decodes so with them cut off too. False where the last picture's
// NAL units do not fill it.
bool PicturesDecodeWithoutTheirEnd(const std::array<char, 4>& codec, const std::vector<std::uint8_t>& config,
                                   std::vector<std::vector<std::uint8_t>> samples);
// The same told of the picture alone, without the pictures before it, for
// one decode rather than a run's: with its end cut off, its bits decode
// without a fault that the decoder names a macroblock for (see
// PicturesDecodeSoFar; a picture of its own bytes, cut so, runs out of them
// in a macroblock). None where the codec is not H.264.
std::optional<bool> PictureDecodesAloneWithoutItsEnd(const std::array<char, 4>& codec, const std::vector<std::uint8_t>& config,
                                                     std::vector<std::uint8_t> picture);

// The decoder of the codec names the block where another file's bytes in a
// picture make it give up (H.264); of H.265 it says nothing.
bool FaultsNameTheirBlock(const std::array<char, 4>& codec);

// The pictures a run of samples shows (decoded as PicturesDecode does) in
// the order they are shown, from the last one shown before sample `from`
// was decoded on: each one's brightness in squares of 8 pixels, 16 from
// 3840 pixels across (none for a layout of pixels it does not read), and
// whether every block of every picture shown was decoded (told of H.265,
// whose decoder says nothing where another file's bytes end a slice early
// and leave the rest of the picture undecoded). None where the run does not
// decode. Pictures before `from` that none refers to are not decoded (of
// H.265). With `wholeOnly`, a run whose pictures are not decoded whole is
// stopped at the first (none).
using Brightness = std::vector<std::uint8_t>;
struct PicturesSeen {
    std::vector<Brightness> brightness;
    bool whole = true;
    // Each picture from `from` on was shown (none leads the run: see byLooks).
    bool allShown = true;
};
std::optional<PicturesSeen> PicturesShown(const std::array<char, 4>& codec, const std::vector<std::uint8_t>& config,
                                          const std::vector<std::vector<std::uint8_t>>& samples, std::size_t from,
                                          bool wholeOnly = false);

// Of the same pictures decoded from bytes placed several ways, the way
// whose pictures change least from one to the next where the ways differ:
// another file's bytes in a picture decode to blocks of noise, and those
// shown after it go on from them. None where no way changes much less than
// every other, or than the pictures change where the ways agree.
std::optional<std::size_t> SmoothestWay(const std::vector<std::vector<Brightness>>& ways);

// How far the last of a run of pictures decodes (see PicturesDecode) where
// it may hold another file's bytes: the macroblocks before the first fault
// the decoder meets in it. Told only where the decoder meets that fault
// where the foreign bytes begin: H.264 coded with variable-length codes. Its
// bytes from `cut` on are taken as another file's (noise is decoded there),
// and so is a run of filler in it.
struct DecodedSoFar {
    bool told = false;   // the pictures before it decode, and the decoder told where a fault lies
    bool whole = false;  // it decodes without a fault to its end
    std::uint32_t blocks = 0;
};
// `noise` picks the noise: one may decode a good way on by chance, as some
// other file's bytes do; two rarely both do. With `anyCoding`, arithmetic
// coding is decoded too: a fault it meets is told as well, but another
// file's bytes there mostly decode a good way without one, so only a fault
// says anything.
DecodedSoFar PicturesDecodeSoFar(const std::array<char, 4>& codec, const std::vector<std::uint8_t>& config,
                                 std::vector<std::vector<std::uint8_t>> samples, std::size_t cut = SIZE_MAX,
                                 std::uint32_t noise = 1, bool anyCoding = false);

// A run of one byte that no coded picture holds: erased or filled flash,
// which a decoder may read as the rest of a picture without a fault. A
// picture coded without arithmetic coding repeats a byte for a row of its
// blocks at most (240 bytes for a black picture of 3840 by 2160).
bool HoldsFiller(const std::uint8_t* bytes, std::size_t size);

// What the decoders say is heard by the checks here, never printed: done
// before any decoder is opened.
void QuietDecoders();

// A picture as 8-bit RGB, 3 bytes a pixel.
struct DrawnPicture {
    std::vector<std::uint8_t> rgb;
    unsigned width = 0, height = 0;
};

// A clip's pictures one after another, as a player shows them: its samples
// are sent in decode order, and each picture is taken when the decoder has
// it ready (in the order it is shown).
class PictureDecoder {
public:
    PictureDecoder(const std::array<char, 4>& codec, const std::vector<std::uint8_t>& config);
    ~PictureDecoder();
    PictureDecoder(const PictureDecoder&) = delete;
    PictureDecoder& operator=(const PictureDecoder&) = delete;
    // False when the codec is none of those above or the decoder cannot be had.
    bool ok() const;
    // The next sample; none (empty) says there are no more, and the
    // pictures the decoder still holds are given.
    bool send(const std::vector<std::uint8_t>& sample);
    // A picture ready, made smaller by a whole factor, to at most twice
    // `maxWidth` wide (0: as it is); false when none is yet.
    bool take(unsigned maxWidth, DrawnPicture& out);

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace hx::formats
