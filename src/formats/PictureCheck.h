#pragma once
// Decodes a found JPEG as the thumbnail renderer would, to tell a picture
// from junk and to learn where the picture really ends.
#include <cstdint>
#include <string>
#include <vector>

#include "formats/JpegEntropy.h"

namespace hx::formats {

struct JpegCheck {
    bool decodes = false;       // header read and decoding started (a full decode: one row at least)
    bool complete = false;      // decoded to its end marker without running out of data
    std::uint64_t end = 0;      // bytes up to and including the end marker (when complete)
    bool ranOut = false;        // the data ended before the decode did
    int warnings = 0;           // corrupt data the decoder filled in (wrong bytes in the middle, say)
    std::uint64_t firstFault = ~0ull;  // about where the first corrupt data was met (bytes read by then)
    int width = 0;
    int height = 0;
};

// Reads the file front to back through a small buffer (memory stays bounded).
// With `firstRowsOnly` the decode stops once the decompressor has started (the
// header and every table checked, the first rows ready to come): enough to
// tell a picture from junk when the end is already known.
JpegCheck CheckJpegFile(const std::string& path, bool firstRowsOnly = false);
JpegCheck CheckJpegBuffer(const std::uint8_t* data, std::size_t size, bool firstRowsOnly = false);

// The answers of a whole decode, found by following the entropy-coded data
// alone where the picture's kind allows (no pixels made). With
// `confirmFaults`, data that breaks that walk is decoded whole after all, so
// that a picture a decoder reads without complaint is never called damaged;
// `firstFault` is then the walk's more exact place. Without (a proof of
// content wants no more, or its markers already broke), the walk's fault
// stands. A file too large to hold is decoded as it is read.
// With `marks`, a damaged picture's places where the walk may start again
// (see JpegEntropy), those of the last megabyte before its fault.
JpegCheck CheckJpegData(const std::uint8_t* data, std::size_t size, bool confirmFaults = true,
                        std::vector<JpegEntropy::Mark>* marks = nullptr);
JpegCheck CheckJpegFileData(const std::string& path, bool confirmFaults = true,
                            std::vector<JpegEntropy::Mark>* marks = nullptr);

// Follows a JPEG's marker structure as its bytes arrive (segments by their
// lengths, entropy-coded data up to the next marker) and reports where the
// end marker is. A structure that breaks the rules gives up: the end is then
// left to a full decode.
class JpegEndFinder {
public:
    // Feeds the next bytes. Returns how many of them belong to the picture
    // when its end marker lies among them, otherwise `size`.
    std::size_t feed(const std::uint8_t* data, std::size_t size);
    bool done() const { return state_ == State::Done; }
    bool failed() const { return state_ == State::Failed; }
    // Inside a segment of known length (an EXIF block with its thumbnail, say):
    // a picture that seems to start here belongs to this one.
    bool insideSegment() const { return state_ == State::Skip && skip_ > 0; }
    std::uint64_t length() const { return total_; }
    // Past the headers: the first scan's entropy-coded data has begun.
    bool scanStarted() const { return scanStarted_; }
    // The entropy-coded data held a run of blank bytes that no encoder
    // writes: the markers may reach an end marker, but over a gap.
    bool sawBlank() const { return blank_; }

private:
    enum class State { Soi0, Soi1, MarkerFF, MarkerCode, Length1, Length2, Skip, Entropy, EntropyFF, Done, Failed };
    void marker(std::uint8_t code);

    State state_ = State::Soi0;
    std::uint8_t segment_ = 0;
    std::uint32_t length_ = 0;
    std::uint32_t skip_ = 0;
    std::uint64_t total_ = 0;
    std::uint32_t segments_ = 0;
    bool scanStarted_ = false;
    bool blank_ = false;
};

}  // namespace hx::formats
