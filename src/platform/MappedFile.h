#pragma once
// A regular file mapped for reading, so that its cached pages are looked at
// where they lie instead of being copied. Guarded: a page the system cannot
// read (the disk fails, the file was cut short meanwhile) reads as zeros
// instead of ending the program, and the touch that met it stops before it.
#include <cstddef>
#include <cstdint>
#include <filesystem>

namespace hx::platform {

class MappedFile {
public:
    MappedFile() = default;
    ~MappedFile() { unmap(); }
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    // Maps `bytes` of the open file `fd` from its start; false when it cannot.
    bool map(int fd, std::uint64_t bytes);
    // Opens the file at `path` and maps its first `bytes` (all of it when it
    // is shorter); the file is closed with the mapping. Only the pages looked
    // at are read.
    bool open(const std::filesystem::path& path, std::uint64_t bytes);
    void unmap();
    bool mapped() const { return data_ != nullptr; }
    std::uint64_t size() const { return bytes_; }
    const std::uint8_t* data() const { return data_; }
    // Reads each page of [offset, offset + count) once; returns how many of
    // the bytes lie before the first page that could not be read. Once a page
    // failed, every touch returns 0: the file is read with copies from then on.
    std::size_t touch(std::uint64_t offset, std::size_t count);
    // The pages before `offset` are let go, as a copy's buffer would be
    // reused: the system keeps them cached, but they no longer count as
    // this program's memory. Looked at again, they come back.
    void releaseBefore(std::uint64_t offset);

private:
    const std::uint8_t* data_ = nullptr;
    std::uint64_t bytes_ = 0;
    int slot_ = -1;  // where the guard knows the mapping
    int ownFd_ = -1;  // the file open() opened
    std::uint64_t released_ = 0;
};

}  // namespace hx::platform
