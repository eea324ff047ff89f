#include "formats/codecs/AacFrames.h"

#include <cstring>
#include <memory>

#include "formats/codecs/PicturesDecode.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace hx::formats {

namespace {

// Bits of a frame, first to last.
class Bits {
public:
    Bits(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool take(unsigned n, std::uint32_t& v) {
        v = 0;
        for (unsigned k = 0; k < n; ++k, ++at_) {
            if (at_ / 8 >= size_) return false;
            v = v << 1 | ((data_[at_ / 8] >> (7 - at_ % 8)) & 1);
        }
        return true;
    }
    bool skip(std::uint64_t n) {
        at_ += n;
        return at_ / 8 < size_;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::uint64_t at_ = 0;
};


}  // namespace


// The start of a raw AAC frame: fill elements (ffmpeg's first frame names
// the encoder in one), then a channel's element (one channel, a pair, the
// low frequencies) whose stream info holds its reserved bit clear and no
// more scale factor bands than a window has.
bool AacFrameStarts(const std::uint8_t* frame, std::size_t size) {
    Bits bits(frame, size);
    std::uint32_t id = 0, v = 0;
    for (int fills = 0; bits.take(3, id) && id == 6 && fills < 4; ++fills) {
        std::uint32_t count = 0;
        if (!bits.take(4, count)) return false;
        if (count == 15) {
            if (!bits.take(8, v)) return false;
            count += v - 1;
        }
        if (!bits.skip(8ull * count)) return false;
    }
    if (id != 0 && id != 1 && id != 3) return false;
    if (!bits.take(4, v)) return false;  // the element's tag
    if (id == 1) {                         // a pair: its stream info comes first when the window is common
        std::uint32_t common = 0;
        if (!bits.take(1, common)) return false;
        if (!common) return bits.take(8, v);  // the first channel's gain: nothing more to check cheaply
    } else if (!bits.take(8, v)) {        // global gain
        return false;
    }
    std::uint32_t reserved = 0, sequence = 0, shape = 0, bands = 0;
    if (!bits.take(1, reserved) || reserved != 0 || !bits.take(2, sequence) || !bits.take(1, shape)) return false;
    if (sequence == 2) return bits.take(4, bands) && bands <= 15;
    return bits.take(6, bands) && bands <= 51;
}

bool AacFrameEnds(const std::uint8_t* frame, std::size_t size) {
    if (size < 2) return false;
    const unsigned last = frame[size - 2] << 8 | frame[size - 1];
    if ((last & 0xFF) == 0) return false;  // more than a byte's filling
    unsigned clear = 0;
    while (!(last >> clear & 1)) ++clear;
    return (last >> clear & 7) == 7;
}

std::optional<bool> AacFrameDecodes(const std::vector<std::uint8_t>& config, const std::uint8_t* frame, std::size_t size) {
    const AVCodec* decoder = avcodec_find_decoder(AV_CODEC_ID_AAC);
    if (!decoder || config.empty() || config.size() > 64) return std::nullopt;
    if (size == 0 || size > (1u << 16)) return false;
    QuietDecoders();
    struct Free {
        void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
        void operator()(AVPacket* p) const { av_packet_free(&p); }
        void operator()(AVFrame* f) const { av_frame_free(&f); }
    };
    std::unique_ptr<AVCodecContext, Free> ctx(avcodec_alloc_context3(decoder));
    std::unique_ptr<AVPacket, Free> packet(av_packet_alloc());
    std::unique_ptr<AVFrame, Free> sound(av_frame_alloc());
    if (!ctx || !packet || !sound) return std::nullopt;
    ctx->extradata = static_cast<std::uint8_t*>(av_mallocz(config.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!ctx->extradata) return std::nullopt;
    std::memcpy(ctx->extradata, config.data(), config.size());
    ctx->extradata_size = static_cast<int>(config.size());
    ctx->err_recognition = AV_EF_EXPLODE | AV_EF_BITSTREAM | AV_EF_BUFFER;
    if (avcodec_open2(ctx.get(), decoder, nullptr) < 0) return std::nullopt;
    if (av_new_packet(packet.get(), static_cast<int>(size)) < 0) return std::nullopt;
    std::memcpy(packet->data, frame, size);
    if (avcodec_send_packet(ctx.get(), packet.get()) < 0 || avcodec_receive_frame(ctx.get(), sound.get()) < 0) return false;
    // Bytes it left unread are decoded as a frame of their own, or fail.
    return avcodec_receive_frame(ctx.get(), sound.get()) == AVERROR(EAGAIN);
}

}  // namespace hx::formats
