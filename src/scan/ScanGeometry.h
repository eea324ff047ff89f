#pragma once
// How the scan numbers a medium: units (clusters, or sectors in a DeepScan)
// counted from the root cluster, each at a known sector of the source.
#include <cstdint>
#include <filesystem>
#include <string>

#include "media/DriveRecord.h"
#include "shell/Ui.h"

namespace hx::scan {

struct ScanGeometry {
    std::uint32_t bytesPerSector = 512;
    std::uint32_t sectorsPerCluster = 1;  // per unit, after the DeepScan adjustment
    std::uint32_t clusterRatio = 1;       // the medium's sectors per cluster / sectors per unit
    std::uint64_t firstDataSector = 0;
    std::uint64_t totalUnits = 0;
    std::uint64_t rootCluster = 0;

    std::uint64_t unitBytes() const {
        const std::uint64_t bytes = static_cast<std::uint64_t>(sectorsPerCluster) * bytesPerSector;
        return bytes < 512 ? 512 : bytes;
    }
    std::uint64_t endUnit() const { return rootCluster + totalUnits; }
    // The first sector of `unit` on the source.
    std::uint64_t sectorOf(std::uint64_t unit) const {
        return firstDataSector + (unit - rootCluster) * sectorsPerCluster;
    }
    std::uint64_t byteOf(std::uint64_t unit) const { return sectorOf(unit) * bytesPerSector; }
    // The medium's cluster that holds `unit`.
    std::uint64_t clusterOf(std::uint64_t unit) const { return rootCluster + (unit - rootCluster) / clusterRatio; }
    // The unit that a cluster of the volume begins in. The volume numbers its
    // clusters from 2 at the first data sector (FAT, exFAT), or from 0 when
    // the units are numbered from 0 (NTFS, no file system); units are
    // numbered from rootCluster there, which on exFAT and on some FAT32
    // volumes is not 2. UINT64_MAX for a number below the first cluster, or
    // one so large (a damaged listing) that its unit cannot be counted.
    std::uint64_t unitOfCluster(std::uint64_t cluster) const {
        const std::uint64_t first = rootCluster == 0 ? 0 : 2;
        if (cluster < first || cluster - first > (UINT64_MAX - 1 - rootCluster) / clusterRatio) return UINT64_MAX;
        return rootCluster + (cluster - first) * clusterRatio;
    }
};

// The geometry a scan of `drive` uses: the record's, an image's companion
// file's, or every sector when neither makes sense. Never reaches past the
// source's end. False when nothing of the source can be scanned.
bool PlanGeometry(const media::DriveRecord& record, const std::string& drive,
                  const std::filesystem::path& imageFolder, bool deepScan, shell::Ui& ui, ScanGeometry& geo);

// Geometry from an image's companion file: lines 2..5 give bytes per sector,
// sectors per cluster, total units and the first data sector. False when the
// file is missing or its values make no sense for the image.
bool ReadCompanionGeometry(const std::filesystem::path& companion, std::uint64_t imageBytes,
                           media::DriveRecord& record);

}  // namespace hx::scan
