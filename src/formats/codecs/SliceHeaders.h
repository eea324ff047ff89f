#pragma once
// H.264 and H.265 as a clip stores them (NAL units each after its length):
// the bits of a unit's payload, the coding its parameter sets give, and what
// a unit says of the picture it belongs to. For the index made for a
// recording cut off before its own.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace hx::formats {

// Bits of a NAL unit's payload (its emulation prevention bytes taken out),
// its first 64 bytes at most: what slice and parameter set headers hold.
class NalBits {
public:
    NalBits(std::string_view b, std::uint64_t from, std::uint64_t to);
    bool bit(std::uint32_t& v);
    bool bits(unsigned n, std::uint32_t& v);
    bool ue(std::uint32_t& v);  // Exp-Golomb
    bool skip(unsigned n);

private:
    std::vector<unsigned char> bytes_;
    std::uint64_t at_ = 0;
};

// How a camera codes its video, as far as a slice's header is read by it.
struct VideoCoding {
    bool hevc = false;               // H.265, not H.264
    std::uint8_t lengthBytes = 0;    // of each NAL unit's length (1, 2 or 4)
    // H.264: the bits of a slice's frame number and whether a colour plane
    // is named before it (0 bits: not known, not checked).
    unsigned frameNumBits = 0;
    bool colourPlanes = false;
    std::string sps;  // its first sequence parameter set, as a NAL unit
    // The bits of a picture's order count (0: not in its slices), and (H.264)
    // whether a slice says if it is a field.
    unsigned pocBits = 0;
    bool fields = false;
    // H.265: what a picture's first slice says before its order count, as
    // its picture parameter set has it (`pps` false: not read, not checked).
    bool pps = false, outputFlag = false;
    unsigned extraSliceBits = 0;

    // Of a NAL unit's first byte: its type, and whether it is a sequence
    // parameter set or a slice.
    unsigned typeOf(unsigned char h) const { return hevc ? (h >> 1) & 0x3F : h & 0x1F; }
    bool isSps(unsigned type) const { return type == (hevc ? 33u : 7u); }
    bool isSlice(unsigned type) const { return hevc ? type < 32 : type == 1 || type == 5; }
};

// The coding that a sample entry's configuration box (`avcC` or `hvcC`, its
// bytes b[contents, end)) names: its length size and what its parameter sets say.
void ReadH264Coding(std::string_view b, std::uint64_t contents, std::uint64_t end, VideoCoding& coding);
void ReadH265Coding(std::string_view b, std::uint64_t contents, std::uint64_t end, VideoCoding& coding);

// Whether every picture parameter set of an H.264 configuration box's
// contents (`avcC`, its bytes b[contents, end)) codes the pictures with
// variable-length codes rather than arithmetic coding: a decoder of those
// meets another file's bytes as a fault within a macroblock or two of where
// they begin. False when the box lists none.
bool H264CodedWithVariableLengths(std::string_view b, std::uint64_t contents, std::uint64_t end);

// A NAL unit, as the clip's bytes at one place read as one.
struct SliceNal {
    bool ok = false;
    bool vcl = false;     // a slice of a picture
    bool sync = false;    // of a picture that needs none before it
    bool fresh = false;   //   whose order count starts afresh at 0 (H.264: every such picture)
    bool startsAu = false;
    bool reference = false;  // kept for later pictures (H.265: the order count of later pictures is read by it)
    std::int64_t frameNum = -1;  // of a slice, when known (H.264)
    std::int64_t poc = -1;       //   and its picture order count's low bits
    std::uint64_t next = 0;
};

// The length of the NAL unit whose length (of `lengthBytes`) and header (of
// `headerBytes`: 1 in H.264, 2 in H.265) are at b, when the header is one an
// encoder writes: its forbidden bit clear and, in H.264, a type (0 is none),
// in H.265 a temporal layer (counted from 1). 0 when it is not, or shorter
// than its header. Small numbers in a row, as an index's tables hold, read as
// lengths; their zeros do not read as headers.
std::uint64_t NalUnitLength(const std::uint8_t* b, unsigned lengthBytes, unsigned headerBytes);

// The unit at c[at, end): not ok where no unit of a kind a camera writes,
// of a length inside the bytes, lies there.
SliceNal ReadNal(std::string_view c, std::uint64_t at, std::uint64_t end, const VideoCoding& coding);

}  // namespace hx::formats
