#pragma once
// What the program knows of each file format, one row each: its extensions,
// its family, how a found file of it ends, what can be shown of it and the
// signatures the scan finds it by. The scan, its type list, the raw
// converter and the thumbnails ask here; a new format is a row in
// Formats.cpp (and, when it ends by rules of its own, a reader in
// FileStructure or a rule in FileEndRules).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace hx::formats {

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
    kBesideRaws = 16,      // what every camera writes beside its raws (the camera presets take it)
    kFromPhones = 32,      // what phones write (the phone preset)
};

// How a file of a format is known where no signature of its rows matches: by
// its structure, in the first bytes of a unit.
struct StructuralStart {
    bool (*test)(const std::uint8_t* unit, std::size_t size) = nullptr;
    // Such a find counts in the first row chosen whose first bytes begin so
    // (hex; empty: the format's first row chosen).
    const char* rowPrefix = "";
    // Not looked for while a file that may hold files of this format is open
    // (a raw, a movie, a document holds JPEGs of its own).
    bool notInsideHolders = false;
};

// A signature the scan finds files of a format by: a row of its type list.
struct Signature {
    // Its place in the type list: 1 to 90 the rows of the original table (the
    // numbers its selections are stored by), from 101 on the rows added since.
    int number = 0;
    std::string_view extension;  // the found file's extension, one of the format's
    int nameId = 0;              // the type name's text number; 0 when the name is not translated
    std::string_view name;       // the type name as the type list shows it
    const char* first = "";      // hex: the bytes at `offset` in a unit
    // hex: bytes anywhere in the unit's first 1024; null for a compound
    // document, whose sector table is looked for instead.
    const char* second = "";
    std::uint8_t offset = 0;       // ISO-BMFF: the box type follows its 4-byte size
    bool needsStructure = false;   // a short or common signature: kept only when the file's structure holds
};

struct Format {
    std::vector<std::string_view> extensions;  // lower case with their dot; the first is the usual one
    Family family = Family::Other;
    Ending ending = Ending::NextFind;
    std::uint32_t traits = 0;
    std::vector<Signature> signatures;
    // The camera makers whose raw files these are, by their preset names.
    std::vector<std::string_view> makers;
    StructuralStart start;
    bool has(Trait t) const { return (traits & t) != 0; }
};

// Every known format.
const std::vector<Format>& Formats();
// The format of an extension (".NEF", "nef"), or null for one not known.
const Format* FormatOf(std::string_view extension);
// The extension has the trait (false for one not known).
bool HasTrait(std::string_view extension, Trait trait);
// The signature with this number in the type list, or null.
const Signature* SignatureNumbered(int number);
// The last number of the original table, and the first of the rows added since.
constexpr int kLastOriginalSignature = 90;
constexpr int kFirstAddedSignature = 101;

}  // namespace hx::formats
