#pragma once
// What the program knows of each file format, one row each: its extensions,
// its family, how a found file of it ends and what can be shown of it. The
// scan, the raw converter and the thumbnails ask here; a new format is a row
// in Formats.cpp (and, when it ends by rules of its own, a reader in
// FileStructure or a rule in scan/FileEndRules). The scan's signature rows
// name their format by its extension.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace hx::viewing {

enum class Family { Photo, Raw, Movie, Sound, Document, Other };

// How a found file of the format ends.
enum class Ending {
    NextFind,   // at the next found file, or its size cap
    Jpeg,       // at its end marker, followed through its segments
    TiffRaw,    // where its directories and strips end
    Structure,  // where its boxes, chunks, blocks or directory end (FileStructure)
    CanonCrw,   // Canon CRW: its heap's last record
    FujiRaf,    // Fuji RAF: the furthest of the parts its header names
    Ole2,       // compound document: its sector table
    SigmaX3f,   // Sigma X3F: its section directory
};

// What the program does with files of the format, as flags.
enum Trait : std::uint32_t {
    kReadsExif = 1,        // the scan reads the EXIF header of a found file (date, camera, size cap)
    kDrawn = 2,            // a small picture can be drawn (decoded, or the preview inside)
    kConverted = 4,        // the raw converter takes it
    kNoSizeCap = 8,        // its size is not capped by the picture's dimensions
};

struct Format {
    std::vector<std::string_view> extensions;  // lower case with their dot; the first is the usual one
    Family family = Family::Other;
    Ending ending = Ending::NextFind;
    std::uint32_t traits = 0;
    bool has(Trait t) const { return (traits & t) != 0; }
};

// Every known format.
const std::vector<Format>& Formats();
// The format of an extension (".NEF", "nef"), or null for one not known.
const Format* FormatOf(std::string_view extension);
// The extension has the trait (false for one not known).
bool HasTrait(std::string_view extension, Trait trait);

}  // namespace hx::viewing
