#pragma once
// Uncompressed sound of 16 bits a sample, as QuickTime and MP4 hold it:
// whether bytes sound like sound. Sound sampled tens of thousands of times a
// second changes little from one sample to the next (in each channel);
// other files' bytes read as such samples leap about.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace hx::formats {

enum class PcmOrder : std::uint8_t { None, Little, Big };

// A sample entry of uncompressed sound, of any size or order ("sowt",
// "twos", "lpcm", "in24", "in32", "fl32", "fl64", "ipcm").
bool IsPcmCodec(std::string_view type);

// The byte order of a sample entry's 16-bit sound ("sowt", "twos" of
// `bits` 16); None for other codecs and sizes.
PcmOrder Pcm16Order(const std::array<char, 4>& codec, unsigned bits);

// `n` bytes of 16-bit samples in `order`, one or two channels, change as
// sound does: from one sample to the next of a channel by well under what
// random bytes do. Too few bytes to tell (under 256) sound.
bool SoundsLikeSound(const std::uint8_t* bytes, std::size_t n, PcmOrder order);

}  // namespace hx::formats
