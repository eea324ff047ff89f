#pragma once
// The one reader of ISO base media boxes (MP4, MOV, 3GP, HEIF, AVIF, CR3,
// JPEG XL's container): a 32-bit size (1: a 64-bit size follows; 0: up to
// the end of what holds it) and a four-letter type. The scan's end rule of
// such files, the capture date of movies and the sample tables read through it.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "formats/TiffReader.h"

namespace hx::formats {

struct IsoBox {
    std::uint64_t at = 0;        // where its header starts
    std::uint64_t contents = 0;  // where what it holds starts
    std::uint64_t end = 0;       // one past its last byte
    std::array<char, 4> type{};
    bool is(std::string_view t) const { return t.size() == 4 && std::string_view(type.data(), 4) == t; }
};

enum class BoxRead {
    Box,       // a box that fits in what holds it
    None,      // no box header there (the end, or bytes that are no type)
    TooLong,   // a box whose size runs past what holds it
};

// The box at `at`, inside [at, to): `read` gives the bytes.
BoxRead ReadIsoBox(const ReadAt& read, std::uint64_t at, std::uint64_t to, IsoBox& box);

// Where the boxes end that follow a file's media data or index at `at` and
// still belong to it (a camera's own: uuid, udta, meta, free, Xtra, ...):
// at most a few, each of a sane type and of no more than `maxBytes`, none
// the start of another file or a second index or media data, all before
// `to`. `at` when none follows.
std::uint64_t TrailingBoxesEnd(const ReadAt& read, std::uint64_t at, std::uint64_t to, std::uint64_t maxBytes);

// The top-level boxes of a clip as its bytes arrive, from its first (ftyp)
// on: how far they run. The walk ends at bytes that start no box (what
// follows the clip), at a box whose size cannot be followed, or past
// `maxBytes`.
class IsoBoxFeed {
public:
    explicit IsoBoxFeed(std::uint64_t maxBytes) : maxBytes_(maxBytes) {}
    // The next bytes; true once the boxes have ended.
    bool feed(const std::uint8_t* data, std::size_t size);
    bool ended() const { return ended_; }
    // The bytes of the boxes begun so far, the one being read in full.
    std::uint64_t length() const { return length_ + skip_; }
    int boxes() const { return boxes_; }
    // The type of the box the next bytes lie inside, past its header; empty
    // between boxes (or in a header) and once the boxes have ended.
    std::string_view within() const { return skip_ > 0 && !ended_ ? std::string_view(type_, 4) : std::string_view(); }
    // Once ended: the bytes read after the last box, which start none.
    const std::uint8_t* after() const { return header_; }
    std::size_t afterSize() const { return ended_ ? have_ : 0; }

private:
    std::uint64_t maxBytes_;
    std::uint8_t header_[16] = {};
    char type_[4] = {};  // the current box's
    std::size_t have_ = 0;
    std::uint64_t skip_ = 0;    // bytes of the current box still to come
    std::uint64_t length_ = 0;  // bytes of the boxes that came
    int boxes_ = 0;
    bool ended_ = false;
};

// A movie's length in seconds by its header (moov/mvhd), among the boxes
// that fill [from, to); 0 when it tells none.
double MovieSeconds(const ReadAt& read, std::uint64_t from, std::uint64_t to);

// The first box of `type` among the boxes that fill [from, to); a bounded walk.
bool FindIsoBox(const ReadAt& read, std::uint64_t from, std::uint64_t to, std::string_view type, IsoBox& found);

}  // namespace hx::formats
