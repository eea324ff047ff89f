#pragma once
// Fields of on-disk and in-file structures (boot sectors, partition tables,
// directory entries, MFT records, TIFF and box headers), read byte by byte
// so that alignment and the host's byte order never matter.
#include <cstdint>

namespace hx::platform {

inline std::uint16_t Le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
inline std::uint32_t Le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::uint64_t Le64(const std::uint8_t* p) {
    return static_cast<std::uint64_t>(Le32(p)) | (static_cast<std::uint64_t>(Le32(p + 4)) << 32);
}

inline std::uint16_t Be16(const std::uint8_t* p) { return static_cast<std::uint16_t>((p[0] << 8) | p[1]); }
inline std::uint32_t Be32(const std::uint8_t* p) {
    return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
           (static_cast<std::uint32_t>(p[2]) << 8) | static_cast<std::uint32_t>(p[3]);
}
inline std::uint64_t Be64(const std::uint8_t* p) {
    return (static_cast<std::uint64_t>(Be32(p)) << 32) | static_cast<std::uint64_t>(Be32(p + 4));
}

// Either order, as a TIFF header says ("II" little, "MM" big).
inline std::uint16_t U16(const std::uint8_t* p, bool little) { return little ? Le16(p) : Be16(p); }
inline std::uint32_t U32(const std::uint8_t* p, bool little) { return little ? Le32(p) : Be32(p); }

}  // namespace hx::platform
