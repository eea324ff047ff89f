#include "media/SectorIo.h"
#include "media/SalvagingReader.h"
#include "volumes/DriveFiles.h"

namespace hx::media {

namespace {

int sectorSizeOr(int bytesPerSector) { return bytesPerSector > 0 ? bytesPerSector : 512; }

std::vector<std::uint8_t> readWhole(platform::RawFile& file, std::int64_t lba, std::uint32_t offset,
                                    std::uint32_t count, std::uint32_t& bytesRead, int bps) {
    bytesRead = 0;
    if (lba < 0) return {};
    const std::uint64_t sectors = (static_cast<std::uint64_t>(offset) + count - 1) / bps + 1;
    std::vector<std::uint8_t> buffer(sectors * bps);
    // A sector that cannot be read is zeros, not the end of the read.
    SalvagingReader reader(file, static_cast<std::uint32_t>(bps));
    bytesRead = static_cast<std::uint32_t>(reader.read(static_cast<std::uint64_t>(lba) * bps, buffer.data(), buffer.size()));
    return buffer;
}

}  // namespace

std::vector<std::uint8_t> ReadSectors(const std::string& drive, std::int64_t lba, std::uint32_t offset,
                                      std::uint32_t count, std::uint32_t& bytesRead, int bytesPerSector) {
    bytesRead = 0;
    if (count == 0) return {};
    platform::RawFile file;
    if (!volumes::OpenDrive(file, drive, platform::RawFile::Mode::Read)) return {};
    return readWhole(file, lba, offset, count, bytesRead, sectorSizeOr(bytesPerSector));
}

std::vector<std::uint8_t> ReadImageSectors(const std::string& imagePath, std::int64_t lba, std::uint32_t offset,
                                           std::uint32_t count, std::uint32_t& bytesRead, int bytesPerSector) {
    // Same arithmetic as a drive; both open read-only here.
    return ReadSectors(imagePath, lba, offset, count, bytesRead, bytesPerSector);
}

bool OpenDriveForRead(const std::string& drive, std::int64_t lba, Handle& handle, int bytesPerSector) {
    if (!volumes::OpenDrive(handle, drive, platform::RawFile::Mode::Read)) return false;
    SeekSector(handle, lba, bytesPerSector);
    return true;
}

bool OpenDriveForWrite(const std::string& drive, std::int64_t lba, Handle& handle, int bytesPerSector) {
    if (!volumes::OpenDrive(handle, drive, platform::RawFile::Mode::ReadWrite)) return false;
    SeekSector(handle, lba, bytesPerSector);
    return true;
}

bool OpenFileForRead(const std::string& path, std::int64_t lba, Handle& handle, int bytesPerSector) {
    return OpenDriveForRead(path, lba, handle, bytesPerSector);
}

Handle OpenVolume(const std::string& drive) {
    Handle handle;
    volumes::OpenDrive(handle, drive, platform::RawFile::Mode::Read);
    return handle;
}

std::uint64_t MediumBytes(const std::string& drive) {
    const Handle handle = OpenVolume(drive);
    return handle.isOpen() ? handle.size() : 0;
}

void SeekSector(Handle& handle, std::int64_t lba, int bytesPerSector) {
    handle.seek(lba < 0 ? 0 : static_cast<std::uint64_t>(lba) * sectorSizeOr(bytesPerSector));
}

void CloseDrive(Handle& handle) {
    handle.flush();
    handle.close();
}

void TruncateFile(const std::string& path, std::uint64_t length) {
    platform::RawFile file;
    if (!file.open(path, platform::RawFile::Mode::ReadWrite)) return;
    if (file.size() > length) file.truncate(length);
}

}  // namespace hx::media
