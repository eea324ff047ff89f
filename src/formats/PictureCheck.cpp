#include "formats/PictureCheck.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

#include <jpeglib.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/RawFile.h"
#include "formats/JpegEntropy.h"

namespace hx::formats {

namespace {

constexpr std::size_t kChunk = 256 * 1024;
// A damaged picture's walk leaves a place to start again about every so many bytes.
constexpr std::size_t kMarkEvery = 256;

struct Source {
    jpeg_source_mgr pub;
    platform::RawFile* file = nullptr;  // null: memory source
    const std::uint8_t* memory = nullptr;
    std::size_t memorySize = 0;
    std::uint64_t supplied = 0;  // real bytes handed to the decoder
    bool ranOut = false;
    std::vector<std::uint8_t> buffer;
};

const JOCTET kFakeEoi[2] = {0xFF, JPEG_EOI};

void initSource(j_decompress_ptr) {}
void termSource(j_decompress_ptr) {}

boolean fillInput(j_decompress_ptr cinfo) {
    auto* src = reinterpret_cast<Source*>(cinfo->src);
    std::size_t n = 0;
    if (src->file) {
        n = src->file->readAt(src->supplied, src->buffer.data(), src->buffer.size());
        src->pub.next_input_byte = src->buffer.data();
    } else if (src->supplied < src->memorySize) {
        n = src->memorySize - static_cast<std::size_t>(src->supplied);
        src->pub.next_input_byte = src->memory + src->supplied;
    }
    if (n == 0) {
        // Out of data: end the picture here, as libjpeg's own readers do.
        src->ranOut = true;
        src->pub.next_input_byte = kFakeEoi;
        src->pub.bytes_in_buffer = 2;
        return TRUE;
    }
    src->supplied += n;
    src->pub.bytes_in_buffer = n;
    return TRUE;
}

void skipInput(j_decompress_ptr cinfo, long count) {
    auto* src = reinterpret_cast<Source*>(cinfo->src);
    while (count > 0) {
        if (src->pub.bytes_in_buffer == 0) fillInput(cinfo);
        const auto step = static_cast<std::size_t>(count) < src->pub.bytes_in_buffer
                              ? static_cast<std::size_t>(count) : src->pub.bytes_in_buffer;
        src->pub.next_input_byte += step;
        src->pub.bytes_in_buffer -= step;
        count -= static_cast<long>(step);
        if (src->ranOut) break;
    }
}

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

void errorExit(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    std::longjmp(err->jump, 1);
}

struct ErrorManagerWithFault {
    ErrorManager base;
    std::uint64_t firstFault = ~0ull;
};

// Silent, but corrupt data is counted, and where it was first met kept.
void quietMessage(j_common_ptr cinfo, int level) {
    if (level >= 0) return;
    if (cinfo->err->num_warnings++ == 0 && cinfo->is_decompressor) {
        const auto* src = reinterpret_cast<const Source*>(reinterpret_cast<j_decompress_ptr>(cinfo)->src);
        reinterpret_cast<ErrorManagerWithFault*>(cinfo->err)->firstFault = src->supplied - src->pub.bytes_in_buffer;
    }
}

struct DecodeState {
    bool startOnly = false;
    bool started = false;
    unsigned rows = 0;
    bool finished = false;
};

// Only plain C objects live across setjmp here.
void decode(jpeg_decompress_struct* cinfo, ErrorManager* err, DecodeState* state, JSAMPARRAY rowBuffer,
            JDIMENSION rowWidth) {
    if (setjmp(err->jump)) return;
    if (jpeg_read_header(cinfo, TRUE) != JPEG_HEADER_OK) return;
    // The renderer's fast path: the smallest DCT scaling.
    cinfo->scale_num = 1;
    cinfo->scale_denom = 8;
    cinfo->dct_method = JDCT_IFAST;
    cinfo->do_fancy_upsampling = FALSE;
    cinfo->out_color_space = JCS_GRAYSCALE;
    if (cinfo->jpeg_color_space != JCS_YCbCr && cinfo->jpeg_color_space != JCS_GRAYSCALE)
        cinfo->out_color_space = cinfo->jpeg_color_space;
    jpeg_calc_output_dimensions(cinfo);
    if (cinfo->output_width * static_cast<JDIMENSION>(cinfo->output_components) > rowWidth) return;
    if (!jpeg_start_decompress(cinfo)) return;
    // Started, every table the rows need has been read and checked. From here
    // libjpeg-turbo only warns about bad data and fills in what it cannot
    // decode: the picture decodes, and rows are only needed to find its end.
    state->started = true;
    if (state->startOnly) return;
    while (cinfo->output_scanline < cinfo->output_height) {
        if (jpeg_read_scanlines(cinfo, rowBuffer, 1) != 1) return;
        ++state->rows;
    }
    jpeg_finish_decompress(cinfo);
    state->finished = true;
}

JpegCheck run(Source& source, bool startOnly) {
    JpegCheck result;
    jpeg_decompress_struct cinfo;
    ErrorManagerWithFault faults;
    ErrorManager& err = faults.base;
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = errorExit;
    err.pub.emit_message = quietMessage;
    jpeg_create_decompress(&cinfo);
    source.pub.init_source = initSource;
    source.pub.fill_input_buffer = fillInput;
    source.pub.skip_input_data = skipInput;
    source.pub.resync_to_restart = jpeg_resync_to_restart;
    source.pub.term_source = termSource;
    source.pub.bytes_in_buffer = 0;
    source.pub.next_input_byte = nullptr;
    cinfo.src = &source.pub;

    // 65535 pixels at 1/8 scale, four components at most.
    std::vector<JSAMPLE> row(8192 * 4 + 64);
    JSAMPROW rows[1] = {row.data()};
    DecodeState state;
    state.startOnly = startOnly;
    decode(&cinfo, &err, &state, rows, static_cast<JDIMENSION>(row.size()));
    result.decodes = startOnly ? state.started : state.rows > 0;
    result.width = static_cast<int>(cinfo.image_width);
    result.height = static_cast<int>(cinfo.image_height);
    result.ranOut = source.ranOut;
    result.warnings = static_cast<int>(err.pub.num_warnings);
    result.firstFault = faults.firstFault;
    if (state.finished && !source.ranOut) {
        result.complete = true;
        result.end = source.supplied - source.pub.bytes_in_buffer;
    }
    jpeg_destroy_decompress(&cinfo);
    return result;
}

}  // namespace

JpegCheck CheckJpegFile(const std::string& path, bool firstRowsOnly) {
    platform::RawFile file;
    if (!file.open(path, platform::RawFile::Mode::Read)) return {};
    Source source;
    source.file = &file;
    // A small file is read whole into a buffer of its size (at least one
    // byte, so that its end is seen as a read of nothing).
    const std::uint64_t chunk = firstRowsOnly ? kChunk / 4 : kChunk;
    source.buffer.resize(static_cast<std::size_t>(std::clamp<std::uint64_t>(file.size(), 1, chunk)));
    return run(source, firstRowsOnly);
}

JpegCheck CheckJpegBuffer(const std::uint8_t* data, std::size_t size, bool firstRowsOnly) {
    Source source;
    source.memory = data;
    source.memorySize = data ? size : 0;
    return run(source, firstRowsOnly);
}

namespace {
JpegCheck checkJpegData(const std::uint8_t* data, std::size_t size, bool confirmFaults,
                        std::vector<JpegEntropy::Mark>* marks);
}  // namespace

JpegCheck CheckJpegData(const std::uint8_t* data, std::size_t size, bool confirmFaults,
                        std::vector<JpegEntropy::Mark>* marks) {
    if (marks) marks->clear();
    JpegCheck check = checkJpegData(data, size, confirmFaults, marks);
    if (marks && (check.complete && check.warnings == 0)) marks->clear();
    if (marks && !marks->empty()) {
        // Only where a split before the fault may lie.
        constexpr std::uint64_t kKept = 1 << 20;
        const std::uint64_t from = check.firstFault > kKept ? check.firstFault - kKept : 0;
        marks->erase(marks->begin(), std::lower_bound(marks->begin(), marks->end(), from,
                                                      [](const JpegEntropy::Mark& m, std::uint64_t at) {
                                                          return m.byte < at;
                                                      }));
        marks->shrink_to_fit();
    }
    return check;
}

namespace {

JpegCheck checkJpegData(const std::uint8_t* data, std::size_t size, bool confirmFaults,
                        std::vector<JpegEntropy::Mark>* marks) {
    JpegEntropy entropy;
    if (!data || !entropy.readHeaders(data, size)) return CheckJpegBuffer(data, size);
    // The headers as a decoder reads them: tables it refuses make no picture.
    JpegCheck check = CheckJpegBuffer(data, size, true);
    if (!check.decodes) return check;
    const JpegEntropy::Walk walk = entropy.walk(data, size, entropy.start(), marks, kMarkEvery);
    if (walk.outcome == JpegEntropy::Outcome::Complete) {
        check.complete = true;
        check.end = walk.at;
        check.ranOut = false;
        return check;
    }
    // Data that ends before the picture does ends it for any decoder.
    if ((!confirmFaults || walk.outcome == JpegEntropy::Outcome::RanOut) &&
        walk.outcome != JpegEntropy::Outcome::Unsupported) {
        check.ranOut = walk.outcome == JpegEntropy::Outcome::RanOut;
        check.warnings = 1;
        check.firstFault = walk.at;
        return check;
    }
    JpegCheck whole = CheckJpegBuffer(data, size);
    if (whole.complete && whole.warnings == 0) return whole;
    if (walk.outcome == JpegEntropy::Outcome::Fault && walk.at < whole.firstFault) whole.firstFault = walk.at;
    return whole;
}

}  // namespace

JpegCheck CheckJpegFileData(const std::string& path, bool confirmFaults, std::vector<JpegEntropy::Mark>* marks) {
    constexpr std::uint64_t kHeld = 64ull << 20;
    platform::RawFile file;
    if (!file.open(path, platform::RawFile::Mode::Read)) return {};
    const std::uint64_t size = file.size();
    if (size > kHeld) return CheckJpegFile(path);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    if (file.readAt(0, bytes.data(), bytes.size()) != bytes.size()) return CheckJpegFile(path);
    return CheckJpegData(bytes.data(), bytes.size(), confirmFaults, marks);
}

namespace {

// Where the next 0xFF lies at or after `from` (`size` when none does). On the
// way, a run of 128 zero bytes, which holds 64 at a multiple of 64 from `from`,
// sets `blank`. Entropy-coded data is looked at once, 64 bytes at a time.
std::size_t nextFF(const std::uint8_t* data, std::size_t from, std::size_t size, bool& blank) {
    constexpr std::size_t kRun = 64;
    std::size_t at = from;
#if defined(__SSE2__)
    const __m128i ones = _mm_set1_epi8(static_cast<char>(0xFF));
    const __m128i zero = _mm_setzero_si128();
    for (; at + kRun <= size; at += kRun) {
        const auto* p = reinterpret_cast<const __m128i*>(data + at);
        const __m128i a = _mm_loadu_si128(p), b = _mm_loadu_si128(p + 1);
        const __m128i c = _mm_loadu_si128(p + 2), d = _mm_loadu_si128(p + 3);
        const __m128i fa = _mm_cmpeq_epi8(a, ones), fb = _mm_cmpeq_epi8(b, ones);
        const __m128i fc = _mm_cmpeq_epi8(c, ones), fd = _mm_cmpeq_epi8(d, ones);
        if (_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(fa, fb), _mm_or_si128(fc, fd))) != 0) {
            const std::uint64_t where = static_cast<std::uint64_t>(static_cast<std::uint16_t>(_mm_movemask_epi8(fa))) |
                                        static_cast<std::uint64_t>(static_cast<std::uint16_t>(_mm_movemask_epi8(fb))) << 16 |
                                        static_cast<std::uint64_t>(static_cast<std::uint16_t>(_mm_movemask_epi8(fc))) << 32 |
                                        static_cast<std::uint64_t>(static_cast<std::uint16_t>(_mm_movemask_epi8(fd))) << 48;
            return at + static_cast<std::size_t>(__builtin_ctzll(where));
        }
        const __m128i any = _mm_or_si128(_mm_or_si128(a, b), _mm_or_si128(c, d));
        if (_mm_movemask_epi8(_mm_cmpeq_epi8(any, zero)) == 0xFFFF) blank = true;
    }
#endif
    // The last bytes (fewer than 64 after the loop above), or all of them
    // where SSE2 is not: the blank runs are looked for word by word.
    const void* ff = std::memchr(data + at, 0xFF, size - at);
    const std::size_t to = ff ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(ff) - data) : size;
    for (; at + kRun <= to; at += kRun) {
        std::uint64_t any = 0;
        for (std::size_t k = 0; k < kRun; k += 8) {
            std::uint64_t word;
            std::memcpy(&word, data + at + k, 8);
            any |= word;
        }
        if (any == 0) blank = true;
    }
    return to;
}

}  // namespace

void JpegEndFinder::marker(std::uint8_t code) {
    if (code == 0xD9) {
        state_ = segments_ > 0 ? State::Done : State::Failed;
    } else if ((code >= 0xD0 && code <= 0xD7) || code == 0x01) {
        state_ = State::MarkerFF;
    } else if ((code >= 0xC0 && code <= 0xCF) || (code >= 0xDA && code <= 0xDF) || (code >= 0xE0 && code <= 0xEF) ||
               code == 0xDB || code == 0xFE) {
        segment_ = code;
        state_ = State::Length1;
    } else {
        state_ = State::Failed;
    }
}

std::size_t JpegEndFinder::feed(const std::uint8_t* data, std::size_t size) {
    std::size_t i = 0;
    while (i < size) {
        switch (state_) {
            case State::Done:
            case State::Failed:
                return size;
            case State::Soi0:
                state_ = data[i++] == 0xFF ? State::Soi1 : State::Failed;
                break;
            case State::Soi1:
                state_ = data[i++] == 0xD8 ? State::MarkerFF : State::Failed;
                break;
            case State::MarkerFF:
                state_ = data[i++] == 0xFF ? State::MarkerCode : State::Failed;
                break;
            case State::MarkerCode: {
                const std::uint8_t c = data[i++];
                if (c != 0xFF) marker(c);  // FF: fill byte
                break;
            }
            case State::Length1:
                length_ = static_cast<std::uint32_t>(data[i++]) << 8;
                state_ = State::Length2;
                break;
            case State::Length2:
                length_ |= data[i++];
                if (length_ < 2) {
                    state_ = State::Failed;
                    break;
                }
                skip_ = length_ - 2;
                ++segments_;
                state_ = State::Skip;
                break;
            case State::Skip: {
                const std::size_t n = std::min<std::size_t>(skip_, size - i);
                i += n;
                skip_ -= static_cast<std::uint32_t>(n);
                if (skip_ == 0) {
                    state_ = segment_ == 0xDA ? State::Entropy : State::MarkerFF;
                    scanStarted_ = scanStarted_ || segment_ == 0xDA;
                }
                break;
            }
            case State::Entropy: {
                const std::size_t to = nextFF(data, i, size, blank_);
                if (to == size) {
                    i = size;
                } else {
                    i = to + 1;
                    state_ = State::EntropyFF;
                }
                break;
            }
            case State::EntropyFF: {
                const std::uint8_t c = data[i++];
                if (c == 0x00 || (c >= 0xD0 && c <= 0xD7)) state_ = State::Entropy;
                else if (c != 0xFF) marker(c);
                break;
            }
        }
        if (state_ == State::Done) {
            total_ += i;
            return i;
        }
    }
    total_ += size;
    return size;
}

}  // namespace hx::formats
