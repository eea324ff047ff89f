#pragma once
// Pictures that do not start where a unit starts: a JPEG appended to other
// data, stored inside a document or an uncompressed archive entry. The
// DeepScan looks for the JPEG start at every byte and keeps what decodes
// cleanly to its end marker, ended exactly there.
#include <cstdint>
#include <string>
#include <vector>

#include "formats/PhotoParts.h"
#include "media/SalvagedMedium.h"

namespace hx::scan {

struct EmbeddedPicture {
    std::uint64_t offset = 0;  // byte position on the source
    std::uint64_t length = 0;
    // A photo of more than one picture: its parts (a second picture or a
    // clip after the first belongs to it, and is never a find of its own).
    std::vector<formats::PhotoPart> parts;
};

class EmbeddedPictureFinder {
public:
    // Pictures longer than this are not looked for (camera JPEGs are far smaller).
    static constexpr std::uint64_t kMaxBytes = 64ull << 20;
    // At most this many start candidates are measured per block: a block of
    // junk full of them costs little.
    static constexpr int kMaxCandidatesPerBlock = 64;

    // Reads `source` through the salvaging reader in its sectors of
    // `sectorBytes`, never again those the scan found unreadable (`known`,
    // which must outlive the finder): they are zeros, and a picture that
    // holds them does not decode.
    bool open(const std::string& source, std::uint32_t sectorBytes, const media::SectorRuns& known);

    // Starts of a JPEG in `data` (the bytes at `offset` on the source), after
    // `from` bytes of it. Offsets where a unit starts (`unitBytes` apart) are
    // left to the scan's own table when `skipAligned`.
    std::vector<std::uint64_t> candidates(const std::uint8_t* data, std::size_t size, std::uint64_t offset,
                                          std::size_t from, std::uint64_t unitBytes, bool skipAligned) const;

    // The length of the picture that starts at `offset`, read from the source,
    // with the parts after it that its headers or bytes name and that hold
    // (`parts`, when given): 0 when no clean, complete JPEG starts there.
    std::uint64_t measure(std::uint64_t offset, std::vector<formats::PhotoPart>* parts = nullptr);

    // The picture's bytes, for a writer that cannot copy from the source itself.
    std::vector<std::uint8_t> read(const EmbeddedPicture& picture);

private:
    media::SalvagedDrive medium_;
    bool open_ = false;
    std::vector<std::uint8_t> buffer_;
};

}  // namespace hx::scan
