#pragma once
// H.264 as a clip stores it (NAL units each after its length): the bits of
// a unit's payload, the coding its sequence parameter set gives, and what
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

private:
    std::vector<unsigned char> bytes_;
    std::uint64_t at_ = 0;
};

// How a camera codes its H.264, as far as a slice's header is read by it.
struct H264Coding {
    std::uint8_t lengthBytes = 0;  // of each NAL unit's length (1, 2 or 4)
    // The bits of a slice's frame number and whether a colour plane is named
    // before it (0 bits: not known, not checked); the bits of its picture
    // order count (0: not in its slices), and whether a slice says if it is a field.
    unsigned frameNumBits = 0;
    bool colourPlanes = false;
    std::string sps;  // its first sequence parameter set, as a NAL unit
    unsigned pocBits = 0;
    bool fields = false;
};

// The coding that the configuration box `avcC` (its bytes b[contents, end))
// names: its length size and what its first sequence parameter set says.
void ReadH264Coding(std::string_view b, std::uint64_t contents, std::uint64_t end, H264Coding& coding);

// A NAL unit, as the clip's bytes at one place read as one.
struct H264Nal {
    bool ok = false;
    bool vcl = false;     // a slice of a picture
    bool sync = false;    // of a picture that needs none before it
    bool startsAu = false;
    bool reference = false;  // kept for later pictures
    std::int64_t frameNum = -1;  // of a slice, when known
    std::int64_t poc = -1;       //   and its picture order count's low bits
    std::uint64_t next = 0;
};

// The unit at c[at, end): not ok where no unit of a kind a camera writes,
// of a length inside the bytes, lies there.
H264Nal ReadH264Nal(std::string_view c, std::uint64_t at, std::uint64_t end, const H264Coding& coding);

}  // namespace hx::formats
