#include "formats/codecs/PicturesDecode.h"

#include <cstdarg>
#include <cstring>
#include <memory>
#include <mutex>
#include <string_view>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
}

namespace hx::formats {

namespace {

struct CodecContextFree {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct PacketFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct FrameFree {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};

// What the decoder says of the pictures decoded on this thread: a picture
// that ends before its bytes do (the decoder's state thrown off by bytes
// not its own) is no error to it, but its missing parts are concealed, and
// it says so. The decoder speaks only through its log.
thread_local AVCodecContext* tDecoding = nullptr;
thread_local int tFaults = 0;

void heard(void* from, int level, const char* format, va_list) {
    if (!tDecoding || from != tDecoding || !format) return;
    if (level <= AV_LOG_ERROR || std::strstr(format, "concealing") != nullptr) ++tFaults;
}

// Takes every picture the decoder has ready; false on a fault.
bool drain(AVCodecContext* ctx, AVFrame* frame) {
    for (;;) {
        const int got = avcodec_receive_frame(ctx, frame);
        if (got == AVERROR(EAGAIN) || got == AVERROR_EOF) return true;
        if (got < 0 || frame->decode_error_flags != 0 || (frame->flags & AV_FRAME_FLAG_CORRUPT)) return false;
        av_frame_unref(frame);
    }
}

}  // namespace

bool PicturesDecode(const std::array<char, 4>& codec, const std::vector<std::uint8_t>& config,
                    const std::vector<std::vector<std::uint8_t>>& samples) {
    const std::string_view type(codec.data(), codec.size());
    AVCodecID id = AV_CODEC_ID_NONE;
    if (type == "avc1" || type == "avc3") id = AV_CODEC_ID_H264;
    if (type == "hvc1" || type == "hev1") id = AV_CODEC_ID_HEVC;
    const AVCodec* decoder = id == AV_CODEC_ID_NONE ? nullptr : avcodec_find_decoder(id);
    if (!decoder || config.empty()) return false;
    static std::once_flag listening;
    std::call_once(listening, [] { av_log_set_callback(heard); });
    std::unique_ptr<AVCodecContext, CodecContextFree> ctx(avcodec_alloc_context3(decoder));
    if (!ctx) return false;
    ctx->extradata = static_cast<std::uint8_t*>(av_mallocz(config.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!ctx->extradata) return false;
    std::memcpy(ctx->extradata, config.data(), config.size());
    ctx->extradata_size = static_cast<int>(config.size());
    ctx->thread_count = 1;  // a fault is told with the picture it is in
    ctx->err_recognition = AV_EF_EXPLODE | AV_EF_BITSTREAM | AV_EF_BUFFER | AV_EF_CAREFUL;
    if (avcodec_open2(ctx.get(), decoder, nullptr) < 0) return false;
    tDecoding = ctx.get();
    tFaults = 0;
    struct Done {
        ~Done() { tDecoding = nullptr; }
    } done;
    std::unique_ptr<AVPacket, PacketFree> packet(av_packet_alloc());
    std::unique_ptr<AVFrame, FrameFree> frame(av_frame_alloc());
    if (!packet || !frame) return false;
    for (const std::vector<std::uint8_t>& sample : samples) {
        if (sample.empty() || av_new_packet(packet.get(), static_cast<int>(sample.size())) < 0) return false;
        std::memcpy(packet->data, sample.data(), sample.size());
        const int sent = avcodec_send_packet(ctx.get(), packet.get());
        av_packet_unref(packet.get());
        if (sent < 0 || !drain(ctx.get(), frame.get()) || tFaults > 0) return false;
    }
    return avcodec_send_packet(ctx.get(), nullptr) >= 0 && drain(ctx.get(), frame.get()) && tFaults == 0;
}

}  // namespace hx::formats
