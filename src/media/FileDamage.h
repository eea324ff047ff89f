#pragma once
// What a file written from a failing medium holds of sectors that could not
// be read: how many, and the byte of the file where the first of them lies.
// While a FileDamage lives, the writers of restored files on its thread tell
// it of every read they make (Note), so a command learns what the file it
// had written holds without each file system's writer saying so itself.
#include <cstdint>
#include <string>

#include "media/SalvagingReader.h"

namespace hx::media {

class FileDamage {
public:
    FileDamage();   // hears the writes of this thread from now on
    ~FileDamage();  // and the one it replaced again
    FileDamage(const FileDamage&) = delete;
    FileDamage& operator=(const FileDamage&) = delete;

    std::uint64_t sectors() const { return sectors_; }
    std::uint64_t firstByte() const { return firstByte_; }
    // DamageText of it; empty when it holds none.
    std::string text() const;

    // `reader` read `length` bytes at `offset` of the medium, which go to
    // byte `fileByte` of the file being written.
    static void Note(const SalvagingReader& reader, std::uint64_t offset, std::uint64_t length, std::uint64_t fileByte);

private:
    FileDamage* before_;
    std::uint64_t sectors_ = 0;
    std::uint64_t firstByte_ = 0;
};

// "damaged: N sectors unreadable (zeros), the first at byte B": what is said
// of a file that holds unreadable sectors; empty when it holds none.
std::string DamageText(std::uint64_t sectors, std::uint64_t firstByte);

}  // namespace hx::media
