#include "formats/codecs/PcmSound.h"

#include <cstdlib>
#include <string_view>

namespace hx::formats {

bool IsPcmCodec(std::string_view type) {
    for (const char* pcm : {"sowt", "twos", "lpcm", "in24", "in32", "fl32", "fl64", "ipcm"})
        if (type == pcm) return true;
    return false;
}

PcmOrder Pcm16Order(const std::array<char, 4>& codec, unsigned bits) {
    const std::string_view name(codec.data(), codec.size());
    if (bits != 16) return PcmOrder::None;
    if (name == "sowt") return PcmOrder::Little;
    if (name == "twos") return PcmOrder::Big;
    return PcmOrder::None;
}

bool SoundsLikeSound(const std::uint8_t* bytes, std::size_t n, PcmOrder order) {
    if (order == PcmOrder::None || n < 256) return true;
    const std::size_t samples = n / 2;
    const auto at = [&](std::size_t k) {
        const std::uint8_t lo = bytes[2 * k + (order == PcmOrder::Big)], hi = bytes[2 * k + (order != PcmOrder::Big)];
        return static_cast<int>(static_cast<std::int16_t>(static_cast<std::uint16_t>(hi << 8 | lo)));
    };
    // Random 16-bit values differ by a third of their range on average, a
    // third more than their own size; sound, mono or stereo, by far less
    // (noise too, once it was sampled through a microphone's filter).
    std::uint64_t level = 0, mono = 0, stereo = 0;
    for (std::size_t k = 2; k < samples; ++k) {
        level += static_cast<std::uint64_t>(std::abs(at(k)));
        mono += static_cast<std::uint64_t>(std::abs(at(k) - at(k - 1)));
        stereo += static_cast<std::uint64_t>(std::abs(at(k) - at(k - 2)));
    }
    const std::uint64_t leap = mono < stereo ? mono : stereo;
    return leap < level + samples;
}

}  // namespace hx::formats
