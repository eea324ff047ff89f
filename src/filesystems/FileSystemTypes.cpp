#include "filesystems/FileSystemTypes.h"

#include <algorithm>

namespace hx::filesystems {

const std::vector<FileSystemType>& FileSystemTypes() {
    // exFAT and NTFS say who they are; a FAT boot sector is told by its fields.
    static const std::vector<FileSystemType> readers{ExfatFileSystem(), NtfsFileSystem(), FatFileSystem()};
    return readers;
}

std::vector<bool> UsedFromBits(const std::vector<std::uint8_t>& bits, std::uint64_t units) {
    std::vector<bool> used(static_cast<std::size_t>(units), true);  // unread tail counts as used
    const std::uint64_t known = std::min<std::uint64_t>(units, bits.size() * 8ull);
    for (std::uint64_t i = 0; i < known; ++i) used[static_cast<std::size_t>(i)] = (bits[i / 8] >> (i % 8)) & 1;
    return used;
}

const FileSystemType* CataloguedType(const DriveRecord& rec) {
    for (const FileSystemType& type : FileSystemTypes())
        if (type.catalogued(rec)) return &type;
    return nullptr;
}

bool IsPowerOfTwo(std::uint64_t v) { return v != 0 && (v & (v - 1)) == 0; }

std::string Trimmed(std::string s) {
    auto nul = s.find('\0');
    if (nul != std::string::npos) s.resize(nul);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.pop_back();
    std::size_t start = 0;
    while (start < s.size() && (s[start] == ' ' || s[start] == '\t')) ++start;
    return s.substr(start);
}

std::string BootText(const std::uint8_t* sector, std::size_t offset, std::size_t length) {
    return std::string(reinterpret_cast<const char*>(sector) + offset, length);
}

std::uint32_t ClampTo32(std::uint64_t v) { return v > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<std::uint32_t>(v); }

}  // namespace hx::filesystems
