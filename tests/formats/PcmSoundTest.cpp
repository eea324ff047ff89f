// Uncompressed sound told from other bytes read as sound.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "formats/codecs/PcmSound.h"

namespace hx::formats {
namespace {

std::vector<std::uint8_t> Bytes(const std::vector<int>& samples, PcmOrder order) {
    std::vector<std::uint8_t> out;
    for (int v : samples) {
        const auto u = static_cast<std::uint16_t>(static_cast<std::int16_t>(v));
        const std::uint8_t lo = u & 0xFF, hi = u >> 8;
        out.push_back(order == PcmOrder::Big ? hi : lo);
        out.push_back(order == PcmOrder::Big ? lo : hi);
    }
    return out;
}

TEST(PcmSound, SoundInEitherOrderIsToldFromOtherBytes) {
    std::mt19937 random(4);
    std::normal_distribution<double> noise(0, 12000);
    std::vector<int> tone, stereo, wind, silence(2048, 0), white;
    double low = 0;
    for (int k = 0; k < 2048; ++k) {
        tone.push_back(static_cast<int>(20000 * std::sin(k * 2 * M_PI * 440 / 48000)));
        // Two channels, each its own tone, side by side.
        stereo.push_back(static_cast<int>(15000 * std::sin((k / 2) * 2 * M_PI * (k % 2 ? 3000 : 200) / 44100)));
        // Noise as a microphone passes it on: its highest tones weakened.
        low = 0.6 * low + 0.4 * noise(random);
        wind.push_back(static_cast<int>(std::clamp(low, -32768.0, 32767.0)));
        white.push_back(static_cast<int>(random() % 65536) - 32768);
    }
    for (const PcmOrder order : {PcmOrder::Little, PcmOrder::Big}) {
        for (const auto* sound : {&tone, &stereo, &wind, &silence}) {
            const std::vector<std::uint8_t> bytes = Bytes(*sound, order);
            EXPECT_TRUE(SoundsLikeSound(bytes.data(), bytes.size(), order));
        }
        const std::vector<std::uint8_t> other = Bytes(white, order);
        EXPECT_FALSE(SoundsLikeSound(other.data(), other.size(), order));
        // Sound read in the other byte order is no sound either.
        const std::vector<std::uint8_t> swapped = Bytes(tone, order);
        EXPECT_FALSE(SoundsLikeSound(swapped.data(), swapped.size(), order == PcmOrder::Big ? PcmOrder::Little : PcmOrder::Big));
    }
    EXPECT_EQ(Pcm16Order({'s', 'o', 'w', 't'}, 16), PcmOrder::Little);
    EXPECT_EQ(Pcm16Order({'t', 'w', 'o', 's'}, 16), PcmOrder::Big);
    EXPECT_EQ(Pcm16Order({'t', 'w', 'o', 's'}, 8), PcmOrder::None);
    EXPECT_EQ(Pcm16Order({'m', 'p', '4', 'a'}, 16), PcmOrder::None);
}

}  // namespace
}  // namespace hx::formats
