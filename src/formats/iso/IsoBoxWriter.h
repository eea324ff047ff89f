#pragma once
// Boxes read and made as bytes in memory: the walk over a box's children and
// the writing of boxes, for an index made for a clip or cut to what of it
// there is.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "formats/iso/IsoBoxes.h"

namespace hx::formats {

// Big-endian numbers in bytes (the caller keeps `at + n` inside them).
std::uint64_t BytesBe(std::string_view b, std::uint64_t at, int n);
void PutBytesBe(std::string& b, std::uint64_t at, std::uint64_t v, int n);
std::string Be32Bytes(std::uint64_t v);

// A reader of the bytes `b`, which must outlive it.
ReadAt ReaderOf(std::string_view b);

// A box of `type` holding `contents`; a full box has version 0 and no flags before them.
std::string MakeBox(const char* type, const std::string& contents);
std::string MakeFullBox(const char* type, const std::string& contents);
std::string BoxBytes(std::string_view b, const IsoBox& box);

// The boxes that fill b[from, to), in order (64 at most).
std::vector<IsoBox> ChildBoxes(std::string_view b, std::uint64_t from, std::uint64_t to);
const IsoBox* ChildBox(const std::vector<IsoBox>& boxes, const char* type);

// A track's boxes down to its sample tables, in the bytes `b`: its media
// handler's type ("vide", "soun"), its media header, and the tables of
// `stbl` (ChildBox finds each). False when a box on the way is missing.
struct TrackBoxes {
    std::string_view handler;
    IsoBox mdhd, hdlr, minf, stbl;
    std::vector<IsoBox> tables;
};
bool TrackBoxesOf(std::string_view b, const IsoBox& trak, TrackBoxes& out);

// A full box's bytes with its duration field (version 0: 32 bits at `at0`
// of its contents; 1: 64 bits at `at1`) set to `value`.
std::string WithDuration(std::string_view b, const IsoBox& box, std::uint64_t at0, std::uint64_t at1, std::uint64_t value);
// A full box's time scale (at `at0` or `at1` of its contents by its version); 0 when it is not there.
std::uint64_t TimeScaleOf(std::string_view b, const IsoBox& box, std::uint64_t at0, std::uint64_t at1);

}  // namespace hx::formats
