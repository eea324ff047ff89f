#pragma once
// The presets of the type chooser: each names a set of type names (file
// extensions), derived from the format registry, so that a format added
// there is in the presets it belongs to.
#include <string>
#include <vector>

namespace hx::formats {

// The camera makers that have a preset: those the format rows name, in the
// order of the alphabet.
const std::vector<std::string>& CameraMakers();

// The type names of a preset ("Canon", "All picture types", "Phone", ...),
// upper case without a dot; empty when the preset is not known.
// - "All picture types": the photo and raw families; "All raw types": the
//   raws and what the raw converter takes; "All movie types", "All sound
//   types": those families; "All data types": documents and the rest.
// - A maker: its raws, with the JPEG, TIFF and camera movie formats.
// - "All camera's": every maker's; "Unlisted camera": the JPEG, TIFF and
//   camera movie formats; "Phone": JPEG, HEIF, DNG and MP4/MOV.
std::vector<std::string> PresetTypes(const std::string& preset);

}  // namespace hx::formats
