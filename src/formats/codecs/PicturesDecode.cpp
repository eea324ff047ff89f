#include "formats/codecs/PicturesDecode.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string_view>

#include "formats/codecs/SliceHeaders.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
#include <libavutil/pixdesc.h>
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
// The first macroblock it gave up at, by its number in the picture (-1: none said).
thread_local long tFaultBlock = -1;

void heard(void* from, int level, const char* format, va_list args) {
    if (!tDecoding || from != tDecoding || !format) return;
    if (level <= AV_LOG_ERROR || std::strstr(format, "concealing") != nullptr) ++tFaults;
    constexpr std::string_view kGaveUp = "error while decoding MB ";
    if (tFaultBlock < 0 && std::string_view(format).substr(0, kGaveUp.size()) == kGaveUp) {
        char said[128];
        int x = -1, y = -1;
        std::vsnprintf(said, sizeof said, format, args);
        const long across = (tDecoding->coded_width + 15) / 16;
        if (std::sscanf(said, "error while decoding MB %d %d", &x, &y) == 2 && x >= 0 && y >= 0 && x < across)
            tFaultBlock = static_cast<long>(y) * across + x;
    }
}

// Takes every picture the decoder has ready, each handed to `seen` where
// given; false on a fault.
bool drain(AVCodecContext* ctx, AVFrame* frame, const std::function<void(const AVFrame&)>* seen = nullptr) {
    for (;;) {
        const int got = avcodec_receive_frame(ctx, frame);
        if (got == AVERROR(EAGAIN) || got == AVERROR_EOF) return true;
        if (got < 0 || frame->decode_error_flags != 0 || (frame->flags & AV_FRAME_FLAG_CORRUPT)) return false;
        if (seen) (*seen)(*frame);
        av_frame_unref(frame);
    }
}

// A frame's brightness in squares of 8 pixels, the smallest a picture is
// coded in (the noise of a sensor evens out in them), twice that and more
// in pictures twice as wide as high definition and more (their looks as
// many squares, and as small a part of them): its first plane's (green,
// where a camera codes its colours as they are).
Brightness brightnessOf(const AVFrame& frame) {
    Brightness out;
    const AVPixFmtDescriptor* layout = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame.format));
    if (!layout || !(layout->flags & AV_PIX_FMT_FLAG_PLANAR) || !frame.data[0] || frame.width <= 0 || frame.height <= 0)
        return out;
    const int square = 8 * std::max(1, frame.width / 1920);
    const int depth = layout->comp[0].depth, bytes = depth > 8 ? 2 : 1;
    for (int y = 0; y + square <= frame.height; y += square)
        for (int x = 0; x + square <= frame.width; x += square) {
            std::uint32_t sum = 0;
            for (int dy = 0; dy < square; ++dy) {
                const std::uint8_t* p = frame.data[0] + static_cast<std::ptrdiff_t>(y + dy) * frame.linesize[0] + x * bytes;
                for (int dx = 0; dx < square; ++dx, p += bytes) sum += bytes == 2 ? (p[0] | p[1] << 8) : p[0];
            }
            out.push_back(static_cast<std::uint8_t>((sum / (square * square)) >> (depth - 8)));
        }
    return out;
}

// The decoder of the clip's codec; none for other codecs.
const AVCodec* decoderOf(const std::array<char, 4>& codec) {
    const std::string_view type(codec.data(), codec.size());
    AVCodecID id = AV_CODEC_ID_NONE;
    if (type == "avc1" || type == "avc3") id = AV_CODEC_ID_H264;
    if (type == "hvc1" || type == "hev1") id = AV_CODEC_ID_HEVC;
    return id == AV_CODEC_ID_NONE ? nullptr : avcodec_find_decoder(id);
}

// A decoder of the clip's codec, fed its configuration; null when there is none.
// A picture's buffers come from a pool that hands back those of pictures
// decoded before: where another file's bytes end a slice early, the rest of
// the picture would show an earlier one's pixels. Its brightness is first
// laid out as a checkerboard of the darkest and brightest pixels, which no
// decoded block is, so that what was not decoded is told from what was.
constexpr int kUntouched = 8;  // pixels each way of a block told
bool untouchedAt(const AVFrame& frame, int bytes, int bright, int x, int y) {
    const int value = ((x ^ y) & 1) ? bright : 0;
    const std::uint8_t* p = frame.data[0] + static_cast<std::ptrdiff_t>(y) * frame.linesize[0] + x * bytes;
    return (bytes == 2 ? (p[0] | p[1] << 8) : p[0]) == value;
}

int checkeredBuffer(AVCodecContext* ctx, AVFrame* frame, int flags) {
    const int got = avcodec_default_get_buffer2(ctx, frame, flags);
    const AVPixFmtDescriptor* layout = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame->format));
    if (got < 0 || !layout || !frame->data[0]) return got;
    const int depth = layout->comp[0].depth, bytes = depth > 8 ? 2 : 1, bright = (1 << depth) - 1;
    // Two rows, the second the first shifted by a pixel, copied down the plane in turn.
    const std::size_t width = static_cast<std::size_t>(frame->width) * bytes;
    std::vector<std::uint8_t> rows(2 * width + 2 * bytes);
    for (std::size_t x = 0; x < rows.size() / bytes; ++x) {
        const int value = (x & 1) ? bright : 0;
        rows[x * bytes] = static_cast<std::uint8_t>(value);
        if (bytes == 2) rows[x * bytes + 1] = static_cast<std::uint8_t>(value >> 8);
    }
    for (int y = 0; y < frame->height; ++y)
        std::memcpy(frame->data[0] + static_cast<std::ptrdiff_t>(y) * frame->linesize[0], rows.data() + (y & 1) * bytes, width);
    return got;
}

// Whether each block of the frame was decoded: none still holds the checkerboard.
bool decodedWhole(const AVFrame& frame) {
    const AVPixFmtDescriptor* layout = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame.format));
    if (!layout || !frame.data[0]) return true;
    const int bytes = layout->comp[0].depth > 8 ? 2 : 1, bright = (1 << layout->comp[0].depth) - 1;
    for (int y = 0; y + kUntouched <= frame.height; y += kUntouched)
        for (int x = 0; x + kUntouched <= frame.width; x += kUntouched) {
            bool untouched = true;
            for (int dy = 0; dy < kUntouched && untouched; ++dy)
                for (int dx = 0; dx < kUntouched && untouched; ++dx) untouched = untouchedAt(frame, bytes, bright, x + dx, y + dy);
            if (untouched) return false;
        }
    return true;
}

std::unique_ptr<AVCodecContext, CodecContextFree> openDecoder(const std::array<char, 4>& codec,
                                                              const std::vector<std::uint8_t>& config, bool strict) {
    const AVCodec* decoder = decoderOf(codec);
    if (!decoder || config.empty()) return nullptr;
    QuietDecoders();
    std::unique_ptr<AVCodecContext, CodecContextFree> ctx(avcodec_alloc_context3(decoder));
    if (!ctx) return nullptr;
    ctx->extradata = static_cast<std::uint8_t*>(av_mallocz(config.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!ctx->extradata) return nullptr;
    std::memcpy(ctx->extradata, config.data(), config.size());
    ctx->extradata_size = static_cast<int>(config.size());
    ctx->thread_count = 1;  // a fault is told with the picture it is in
    // (of H.264 the decoder hides what it could not decode, and says where)
    if (!FaultsNameTheirBlock(codec)) ctx->get_buffer2 = checkeredBuffer;
    if (strict) {
        ctx->err_recognition = AV_EF_EXPLODE | AV_EF_BITSTREAM | AV_EF_BUFFER | AV_EF_CAREFUL | AV_EF_AGGRESSIVE;
        // What is asked is whether the bits decode, not how the picture looks.
        ctx->skip_loop_filter = AVDISCARD_ALL;
    }
    if (avcodec_open2(ctx.get(), decoder, nullptr) < 0) return nullptr;
    return ctx;
}

// The sample, its number in the run (where given) carried to its picture.
bool send(AVCodecContext* ctx, AVPacket* packet, const std::vector<std::uint8_t>& sample, std::int64_t number = AV_NOPTS_VALUE) {
    if (sample.empty() || av_new_packet(packet, static_cast<int>(sample.size())) < 0) return false;
    std::memcpy(packet->data, sample.data(), sample.size());
    packet->pts = number;
    const int sent = avcodec_send_packet(ctx, packet);
    av_packet_unref(packet);
    return sent >= 0;
}

// The frame's pixels as RGB, every `step`th in each direction (the luma
// averaged over the step's square); false for a layout other than planar
// YUV of 8 to 16 bits.
bool toRgb(const AVFrame& frame, unsigned step, DrawnPicture& out) {
    const AVPixFmtDescriptor* layout = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame.format));
    if (!layout || !(layout->flags & AV_PIX_FMT_FLAG_PLANAR) || (layout->flags & AV_PIX_FMT_FLAG_RGB) ||
        layout->nb_components < 3 || layout->comp[0].depth < 8 || layout->comp[0].depth > 16 || frame.width <= 0 ||
        frame.height <= 0)
        return false;
    // Each component in a plane of its own, in that order (not NV12's shared chroma plane).
    for (int c = 0; c < 3; ++c)
        if (layout->comp[c].plane != c || !frame.data[c]) return false;
    const int depth = layout->comp[0].depth, bytes = depth > 8 ? 2 : 1;
    const auto at = [&](int plane, int x, int y) -> int {
        const std::uint8_t* p = frame.data[plane] + static_cast<std::ptrdiff_t>(y) * frame.linesize[plane] + x * bytes;
        const int v = bytes == 2 ? (p[0] | p[1] << 8) : p[0];
        return v >> (depth - 8);
    };
    const bool full = frame.color_range == AVCOL_RANGE_JPEG || frame.format == AV_PIX_FMT_YUVJ420P ||
                      frame.format == AV_PIX_FMT_YUVJ422P || frame.format == AV_PIX_FMT_YUVJ444P;
    // The weights of BT.709 for high definition, else those of BT.601.
    const bool hd = frame.colorspace == AVCOL_SPC_BT709 || (frame.colorspace == AVCOL_SPC_UNSPECIFIED && frame.height >= 720);
    const double kr = hd ? 0.2126 : 0.299, kb = hd ? 0.0722 : 0.114, kg = 1.0 - kr - kb;
    out.width = static_cast<unsigned>(frame.width) / step;
    out.height = static_cast<unsigned>(frame.height) / step;
    if (out.width == 0 || out.height == 0) return false;
    out.rgb.resize(static_cast<std::size_t>(out.width) * out.height * 3);
    std::uint8_t* o = out.rgb.data();
    for (unsigned y = 0; y < out.height; ++y)
        for (unsigned x = 0; x < out.width; ++x) {
            std::int64_t sum = 0;
            for (unsigned dy = 0; dy < step; ++dy)
                for (unsigned dx = 0; dx < step; ++dx)
                    sum += at(0, static_cast<int>(x * step + dx), static_cast<int>(y * step + dy));
            const int cx = static_cast<int>(x * step + step / 2) >> layout->log2_chroma_w;
            const int cy = static_cast<int>(y * step + step / 2) >> layout->log2_chroma_h;
            double luma = static_cast<double>(sum) / (step * step);
            double cb = at(1, cx, cy) - 128.0, cr = at(2, cx, cy) - 128.0;
            if (!full) {
                luma = (luma - 16.0) * 255.0 / 219.0;
                cb *= 255.0 / 224.0;
                cr *= 255.0 / 224.0;
            }
            const double r = luma + 2.0 * (1.0 - kr) * cr;
            const double b = luma + 2.0 * (1.0 - kb) * cb;
            const double g = (luma - kr * r - kb * b) / kg;
            for (double c : {r, g, b}) *o++ = static_cast<std::uint8_t>(std::clamp(c + 0.5, 0.0, 255.0));
        }
    return true;
}

}  // namespace

void QuietDecoders() {
    static std::once_flag listening;
    std::call_once(listening, [] { av_log_set_callback(heard); });
}

bool HoldsFiller(const std::uint8_t* bytes, std::size_t size) {
    constexpr std::size_t kFiller = 2048;
    std::size_t run = 1;
    for (std::size_t k = 1; k < size; ++k)
        if ((run = bytes[k] == bytes[k - 1] ? run + 1 : 1) >= kFiller) return true;
    return false;
}

bool CanDecodePictures(const std::array<char, 4>& codec, const std::vector<std::uint8_t>& config) {
    return !config.empty() && decoderOf(codec) != nullptr;
}

namespace {

// A picture of H.265 that no other refers to: each of its slices of a kind
// that none after it on its layer predicts from, on the top layer the
// configuration (`hvcC`) says the clip has. Not told of other codecs.
bool unreferencedPicture(const std::array<char, 4>& codec, const std::vector<std::uint8_t>& config,
                         const std::vector<std::uint8_t>& sample) {
    const std::string_view type(codec.data(), codec.size());
    if ((type != "hvc1" && type != "hev1") || config.size() <= 21) return false;
    const unsigned layers = (config[21] >> 3) & 7u, lengthBytes = (config[21] & 3u) + 1u;
    if (layers == 0) return false;  // not said
    bool slices = false;
    for (std::size_t k = 0; k < sample.size();) {
        if (sample.size() - k < lengthBytes + 2u) return false;
        const std::uint64_t length = NalUnitLength(sample.data() + k, lengthBytes, 2);
        k += lengthBytes;
        if (length == 0 || length > sample.size() - k) return false;
        const unsigned nal = (sample[k] >> 1) & 0x3fu, layer = (sample[k + 1] & 7u);
        if (nal < 32) {
            // TRAIL_N, TSA_N, STSA_N, RADL_N, RASL_N and the reserved ones so named.
            if (nal > 14 || nal % 2 != 0 || layer != layers) return false;
            slices = true;
        }
        k += static_cast<std::size_t>(length);
    }
    return slices;
}

// PicturesDecode, each picture shown handed to `seen` where given, with the
// number of samples sent before it came out (its own number in the run is
// its `pts`); `seen` saying false stops the decode (false). The samples
// before `skippedBefore` that no picture refers to are not decoded.
bool decodeAll(const std::array<char, 4>& codec, const std::vector<std::uint8_t>& config,
               const std::vector<std::vector<std::uint8_t>>& samples,
               const std::function<bool(const AVFrame&, std::size_t)>* seen, std::size_t skippedBefore = 0) {
    for (const std::vector<std::uint8_t>& sample : samples)
        if (HoldsFiller(sample.data(), sample.size())) return false;
    const auto ctx = openDecoder(codec, config, true);
    if (!ctx) return false;
    tDecoding = ctx.get();
    tFaults = 0;
    struct Done {
        ~Done() { tDecoding = nullptr; }
    } done;
    std::unique_ptr<AVPacket, PacketFree> packet(av_packet_alloc());
    std::unique_ptr<AVFrame, FrameFree> frame(av_frame_alloc());
    if (!packet || !frame) return false;
    std::size_t sent = 0;
    bool going = true;
    const std::function<void(const AVFrame&)> each = [&](const AVFrame& f) { going = going && (*seen)(f, sent); };
    const std::function<void(const AVFrame&)>* taken = seen ? &each : nullptr;
    for (const std::vector<std::uint8_t>& sample : samples) {
        ++sent;
        if (sent <= skippedBefore && unreferencedPicture(codec, config, sample)) continue;
        if (!send(ctx.get(), packet.get(), sample, static_cast<std::int64_t>(sent - 1))) return false;
        if (!drain(ctx.get(), frame.get(), taken) || tFaults > 0 || !going) return false;
    }
    return avcodec_send_packet(ctx.get(), nullptr) >= 0 && drain(ctx.get(), frame.get(), taken) && tFaults == 0 && going;
}

}  // namespace

bool PicturesDecode(const std::array<char, 4>& codec, const std::vector<std::uint8_t>& config,
                    const std::vector<std::vector<std::uint8_t>>& samples) {
    return decodeAll(codec, config, samples, nullptr);
}

std::optional<PicturesSeen> PicturesShown(const std::array<char, 4>& codec, const std::vector<std::uint8_t>& config,
                                          const std::vector<std::vector<std::uint8_t>>& samples, std::size_t from,
                                          bool wholeOnly) {
    PicturesSeen shown;
    std::size_t count = 0;  // of the samples from `from` on
    const std::function<bool(const AVFrame&, std::size_t)> seen = [&](const AVFrame& frame, std::size_t sent) {
        if (sent <= from) shown.brightness.clear();  // before sample `from` is decoded, the last shown only
        shown.brightness.push_back(brightnessOf(frame));
        count += frame.pts != AV_NOPTS_VALUE && frame.pts >= static_cast<std::int64_t>(from);
        if (!FaultsNameTheirBlock(codec)) shown.whole = shown.whole && decodedWhole(frame);
        return shown.whole || !wholeOnly;
    };
    if (!decodeAll(codec, config, samples, &seen, from)) return std::nullopt;
    shown.allShown = count + from >= samples.size();
    return shown;
}

namespace {

// The last NAL unit of `last`, a picture of `codec`, cut short by a few
// bytes before any zeros that pad it, its length made to match; false where
// its NAL units do not fill it or the last is no slice worth cutting.
bool cutSliceEnd(const std::array<char, 4>& codec, const std::vector<std::uint8_t>& config, std::vector<std::uint8_t>& last) {
    // How many bytes each NAL unit's length takes, as the configuration says.
    const std::string_view type(codec.data(), codec.size());
    const bool hevc = type == "hvc1" || type == "hev1";
    const std::size_t at = hevc ? 21 : 4;
    if (config.size() <= at) return false;
    const std::size_t lengthBytes = (config[at] & 3u) + 1u;
    std::size_t unit = last.size();  // where the last NAL unit's length is
    for (std::size_t k = 0; k + lengthBytes <= last.size();) {
        std::uint64_t length = 0;
        for (std::size_t i = 0; i < lengthBytes; ++i) length = length << 8 | last[k + i];
        if (length == 0 || length > last.size() - k - lengthBytes) return false;
        unit = k;
        k += lengthBytes + static_cast<std::size_t>(length);
        if (k == last.size()) break;
        if (k + lengthBytes > last.size()) return false;
    }
    if (unit == last.size() || last.size() < unit + lengthBytes + 1) return false;
    // A slice: only its end is read as the picture's coding.
    const std::uint8_t head = last[unit + lengthBytes];
    if (hevc ? ((head >> 1) & 0x3f) >= 32 : ((head & 0x1f) != 1 && (head & 0x1f) != 5)) return false;
    // Its end: the byte with the stop bit, after which only zeros pad it.
    std::size_t end = last.size();
    while (end > unit + lengthBytes && last[end - 1] == 0) --end;
    constexpr std::size_t kCut = 16;  // more than the few bytes its coder flushes after the last bins
    if (end < unit + lengthBytes + 2 + kCut) return false;  // its header, and a slice worth cutting
    last.resize(end - kCut);
    const std::uint64_t length = last.size() - unit - lengthBytes;
    for (std::size_t i = 0; i < lengthBytes; ++i)
        last[unit + i] = static_cast<std::uint8_t>(length >> (8 * (lengthBytes - 1 - i)));
    return true;
}

}  // namespace

bool PicturesDecodeWithoutTheirEnd(const std::array<char, 4>& codec, const std::vector<std::uint8_t>& config,
                                   std::vector<std::vector<std::uint8_t>> samples) {
    return !samples.empty() && cutSliceEnd(codec, config, samples.back()) && PicturesDecode(codec, config, samples);
}

std::optional<bool> PictureDecodesAloneWithoutItsEnd(const std::array<char, 4>& codec, const std::vector<std::uint8_t>& config,
                                                     std::vector<std::uint8_t> picture) {
    if (!FaultsNameTheirBlock(codec)) return std::nullopt;
    if (!cutSliceEnd(codec, config, picture)) return false;
    const DecodedSoFar so = PicturesDecodeSoFar(codec, config, {std::move(picture)}, SIZE_MAX, 1, true);
    return !(so.told && !so.whole);
}

DecodedSoFar PicturesDecodeSoFar(const std::array<char, 4>& codec, const std::vector<std::uint8_t>& config,
                                 std::vector<std::vector<std::uint8_t>> samples, std::size_t cut, std::uint32_t noise,
                                 bool anyCoding) {
    DecodedSoFar so;
    const std::string_view type(codec.data(), codec.size());
    const std::string_view box(reinterpret_cast<const char*>(config.data()), config.size());
    if (samples.empty() || (type != "avc1" && type != "avc3") ||
        (!anyCoding && !H264CodedWithVariableLengths(box, 0, box.size())))
        return so;
    for (std::size_t k = 0; k + 1 < samples.size(); ++k)
        if (HoldsFiller(samples[k].data(), samples[k].size())) return so;
    // Filler, and the bytes past the cut, decoded as noise: as another file's bytes would be.
    std::vector<std::uint8_t>& last = samples.back();
    std::size_t run = 1;
    for (std::size_t k = 1; k < last.size() && k < cut; ++k)
        if ((run = last[k] == last[k - 1] ? run + 1 : 1) >= 2048) cut = k + 1 - run;
    noise = noise * 0x9E3779B9u | 1;
    for (std::size_t k = cut; k < last.size(); ++k) {
        noise ^= noise << 13;
        noise ^= noise >> 17;
        noise ^= noise << 5;
        last[k] = static_cast<std::uint8_t>(noise);
    }
    const auto ctx = openDecoder(codec, config, true);
    std::unique_ptr<AVPacket, PacketFree> packet(av_packet_alloc());
    std::unique_ptr<AVFrame, FrameFree> frame(av_frame_alloc());
    if (!ctx || !packet || !frame) return so;
    tDecoding = ctx.get();
    tFaults = 0;
    struct Done {
        ~Done() { tDecoding = nullptr; }
    } done;
    for (std::size_t k = 0; k + 1 < samples.size(); ++k)
        if (!send(ctx.get(), packet.get(), samples[k]) || !drain(ctx.get(), frame.get()) || tFaults > 0) return so;
    tFaultBlock = -1;
    const bool clean = send(ctx.get(), packet.get(), last) && drain(ctx.get(), frame.get()) &&
                       avcodec_send_packet(ctx.get(), nullptr) >= 0 && drain(ctx.get(), frame.get()) && tFaults == 0;
    // A fault the decoder names no macroblock for (a slice's header that
    // refers to pictures not decoded here) tells nothing.
    so.told = clean || tFaultBlock >= 0;
    so.whole = clean;
    const long blocks = static_cast<long>((ctx->coded_width + 15) / 16) * ((ctx->coded_height + 15) / 16);
    so.blocks = static_cast<std::uint32_t>(std::clamp<long>(clean ? blocks : tFaultBlock, 0, UINT32_MAX));
    return so;
}

bool FaultsNameTheirBlock(const std::array<char, 4>& codec) {
    const std::string_view type(codec.data(), codec.size());
    return type == "avc1" || type == "avc3";
}

struct PictureDecoder::State {
    std::unique_ptr<AVCodecContext, CodecContextFree> ctx;
    std::unique_ptr<AVPacket, PacketFree> packet{av_packet_alloc()};
    std::unique_ptr<AVFrame, FrameFree> frame{av_frame_alloc()};
    bool ended = false;
};

PictureDecoder::PictureDecoder(const std::array<char, 4>& codec, const std::vector<std::uint8_t>& config)
    : state_(std::make_unique<State>()) {
    state_->ctx = openDecoder(codec, config, false);
}

PictureDecoder::~PictureDecoder() = default;

bool PictureDecoder::ok() const { return state_->ctx && state_->packet && state_->frame; }

bool PictureDecoder::send(const std::vector<std::uint8_t>& sample) {
    if (!ok() || state_->ended) return false;
    if (sample.empty()) {
        state_->ended = true;
        return avcodec_send_packet(state_->ctx.get(), nullptr) >= 0;
    }
    return formats::send(state_->ctx.get(), state_->packet.get(), sample);
}

bool PictureDecoder::take(unsigned maxWidth, DrawnPicture& out) {
    if (!ok() || avcodec_receive_frame(state_->ctx.get(), state_->frame.get()) < 0) return false;
    const unsigned width = static_cast<unsigned>(std::max(state_->frame->width, 1));
    const unsigned step = maxWidth == 0 ? 1 : std::max(1u, width / maxWidth);
    const bool drawn = toRgb(*state_->frame, step, out);
    av_frame_unref(state_->frame.get());
    return drawn;
}

}  // namespace hx::formats
