#pragma once
// What a file written from a failing medium holds of sectors that could not
// be read: how many, and the byte of the file where the first of them lies.
// The writer of a restored file is handed one and notes every read it makes
// into it: the damage comes back with the file it was written for.
#include <cstdint>
#include <string>

#include "media/SalvagingReader.h"

namespace hx::media {

class FileDamage {
public:
    std::uint64_t sectors() const { return sectors_; }
    std::uint64_t firstByte() const { return firstByte_; }
    // DamageText of it; empty when it holds none.
    std::string text() const;

    // `reader` read `length` bytes at `offset` of the medium, which go to
    // byte `fileByte` of the file being written.
    void note(const SalvagingReader& reader, std::uint64_t offset, std::uint64_t length, std::uint64_t fileByte);

private:
    std::uint64_t sectors_ = 0;
    std::uint64_t firstByte_ = 0;
};

// "damaged: N sectors unreadable (zeros), the first at byte B": what is said
// of a file that holds unreadable sectors; empty when it holds none.
std::string DamageText(std::uint64_t sectors, std::uint64_t firstByte);

}  // namespace hx::media
