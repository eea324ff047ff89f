#pragma once
// The type list's rows, made from the signatures of the format registry
// (Formats), and the scan table built from the user's choice of
// types. Learned types are appended by the adaptive loader.
#include <cstdint>
#include <string>
#include <vector>

#include "formats/Formats.h"

namespace hx::formats {

struct SignatureRow {
    std::string Extension;    // ".jpg"
    std::string DisplayName;  // exactly 10 characters, blank-padded: the selection key
    std::string Description;  // the whole name as the user reads it, single blanks
    std::string Signature1;   // bytes at offset 0 of a unit
    std::string Signature2;   // bytes somewhere in the unit's 1024-byte window, may be empty
    std::string Signature3;
    std::string Signature4;
    std::int16_t Aux1 = 0;
    std::int16_t Aux2 = 0;
    std::int32_t AuxCount = 0;
    // Rows beyond the original table: where Signature1 lies in the unit (an
    // ISO-BMFF box type follows the box's size), and whether a found file is
    // kept only when its own structure holds (a short or common signature).
    std::uint8_t SignatureOffset = 0;
    bool NeedsStructure = false;

    // Extension immediately followed by the padded display name.
    std::string key() const { return Extension + DisplayName; }
};

using SignatureTable = std::vector<SignatureRow>;

// Two hex digits per byte; a final lone digit is one byte of that digit's value.
std::string HexToBytes(const std::string& hex);
// Pads with blanks or cuts to exactly 10 characters.
std::string FixedName(const std::string& name);
// The name with runs of blanks made one and none at the ends.
std::string Described(const std::string& name);

// The built-in row with this number (0..90), or an empty row for the numbers without one.
SignatureRow BuiltInRow(int number);
constexpr int kLastBuiltInRow = formats::kLastOriginalSignature;

// Rows for the formats of today's cameras and phones (HEIC, CR3, MP4, WebP,
// ...), kept apart from the original table: "all" does not take them.
SignatureRow ModernRow(int number);
int ModernRowCount();

// Every row of both tables, in the order of the type list.
std::vector<SignatureRow> EveryRow();
// The selection of every type of the type list, both tables.
std::string EveryTypeSelection();

// Rebuilds the table from the selection: a row is taken when the selection
// contains its key or is exactly "all" (the original rows only).
SignatureTable BuildSignatureTable(const std::string& selection);

// Moves more specific variants (longer first or second signature over the
// same start) before the general ones, keeping the order otherwise.
void OrderForScan(SignatureTable& table);

// Every extension of the table, e.g. ".jpg.cr2" (lower case, each with its dot).
std::string TableExtensions(const SignatureTable& table);

}  // namespace hx::formats
