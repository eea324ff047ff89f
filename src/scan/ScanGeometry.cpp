#include "scan/ScanGeometry.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <vector>

#include "shell/Strings.h"
#include "shell/Text.h"
#include "media/SectorIo.h"

namespace hx::scan {

namespace fs = std::filesystem;

namespace {

bool plausibleSectorSize(std::uint32_t bps) { return bps == 512 || bps == 1024 || bps == 2048 || bps == 4096; }

// Looks for the companion file beside the image or in the image folder.
// True when one was there (whether or not its values were usable).
bool geometryFromCompanion(const std::string& drive, const fs::path& imageFolder, std::uint64_t sourceBytes,
                           shell::Ui& ui, ScanGeometry& geo, bool& usable) {
    const fs::path img(drive);
    std::vector<fs::path> candidates;
    for (const fs::path& dir : {imageFolder, img.parent_path()}) {
        if (dir.empty()) continue;
        candidates.push_back(dir / (img.stem().string() + ".dat"));
        candidates.push_back(dir / (img.filename().string() + ".dat"));
    }
    for (const auto& c : candidates) {
        std::error_code ec;
        if (!fs::exists(c, ec)) continue;
        media::DriveRecord fromFile;
        usable = ReadCompanionGeometry(c, sourceBytes, fromFile);
        if (!usable) {
            ui.status(shell::LoadStr(0, "The companion file of the image holds no usable geometry; every sector is scanned."));
            return true;
        }
        geo.bytesPerSector = static_cast<std::uint32_t>(fromFile.BytesPerSector);
        geo.sectorsPerCluster = fromFile.SectorsPerCluster;
        geo.totalUnits = static_cast<std::uint64_t>(fromFile.TotalClusters);
        geo.firstDataSector = fromFile.FirstDataSector;
        geo.rootCluster = 0;
        while (geo.sectorsPerCluster >= 9) {
            geo.sectorsPerCluster /= 2;
            geo.totalUnits *= 2;
            geo.clusterRatio *= 2;
        }
        return true;
    }
    return false;
}

// Every sector of the source, the last one too when the source ends inside it.
void everySector(ScanGeometry& geo, std::uint64_t sourceBytes, bool oneMore) {
    geo = ScanGeometry{};
    geo.bytesPerSector = 512;
    geo.sectorsPerCluster = 1;
    geo.totalUnits = (sourceBytes + 511) / 512 + (oneMore && sourceBytes % 512 == 0 ? 1 : 0);
}

bool powerOfTwo(std::uint64_t v) { return v != 0 && (v & (v - 1)) == 0; }

}  // namespace

bool PlanGeometry(const media::DriveRecord& r, const std::string& drive, const fs::path& imageFolder, bool deep,
                  shell::Ui& ui, ScanGeometry& geo) {
    geo = ScanGeometry{};
    geo.bytesPerSector = r.BytesPerSector > 0 ? static_cast<std::uint32_t>(r.BytesPerSector) : 0;
    geo.sectorsPerCluster = r.SectorsPerCluster;
    geo.firstDataSector = r.FirstDataSector;
    geo.rootCluster = r.RootCluster;
    geo.totalUnits = r.TotalClusters > 0 ? static_cast<std::uint64_t>(r.TotalClusters) : 0;

    const std::uint64_t sourceBytes = media::MediumBytes(drive);
    auto missing = [&geo] { return geo.bytesPerSector == 0 || geo.sectorsPerCluster == 0 || geo.totalUnits == 0; };
    auto sayWhole = [&] {
        ui.status(shell::FormatStr(shell::LoadStr(0, "No file system on %0 says where its data lies: the whole medium "
                                                     "is searched, sector by sector."),
                                   {drive}));
    };
    if (r.IsImage && missing()) {
        // An image scanned on its own: its companion file knows the medium.
        bool usable = false;
        if (!geometryFromCompanion(drive, imageFolder, sourceBytes, ui, geo, usable) || !usable) {
            if (!deep) sayWhole();
            deep = true;
        }
    }
    if (geo.bytesPerSector != 0 && !plausibleSectorSize(geo.bytesPerSector)) geo.bytesPerSector = 0;
    if (deep && missing()) everySector(geo, sourceBytes, r.IsImage);
    // No geometry and no DeepScan: the whole source, sector by sector.
    if (missing()) {
        sayWhole();
        everySector(geo, sourceBytes, false);
    }
    if (deep) {
        geo.totalUnits *= geo.sectorsPerCluster;
        geo.clusterRatio *= geo.sectorsPerCluster;
        geo.sectorsPerCluster = 1;
    }
    if (geo.sectorsPerCluster < 2) geo.sectorsPerCluster = 1;
    // Never beyond the source: a geometry larger than the medium ends with it.
    if (sourceBytes > 0) {
        const std::uint64_t unitBytes = static_cast<std::uint64_t>(geo.sectorsPerCluster) * geo.bytesPerSector;
        const std::uint64_t bytesBefore = geo.firstDataSector * geo.bytesPerSector;
        // A file system whose data would start past the medium's end, or whose
        // clusters make no sense, says nothing about where the photos are.
        const bool implausible = !powerOfTwo(geo.sectorsPerCluster) || geo.sectorsPerCluster > 65536 ||
                                 geo.firstDataSector > sourceBytes / 512;
        if (implausible || bytesBefore >= sourceBytes) {
            ui.status(shell::FormatStr(
                shell::LoadStr(0, "The file system of %0 cannot be used: its data would start at byte %1, but the "
                                  "medium holds %2 bytes. The whole medium is searched, sector by sector."),
                {drive, std::to_string(bytesBefore), std::to_string(sourceBytes)}));
            everySector(geo, sourceBytes, false);
            return geo.totalUnits > 0;
        }
        geo.totalUnits = std::min(geo.totalUnits, (sourceBytes - bytesBefore + unitBytes - 1) / unitBytes);
    }
    return geo.totalUnits > 0;
}

bool ReadCompanionGeometry(const fs::path& companion, std::uint64_t imageBytes, media::DriveRecord& record) {
    std::ifstream in(companion, std::ios::binary);
    if (!in) return false;
    std::string lines[6];
    for (auto& line : lines) {
        if (!std::getline(in, line)) return false;
        line = shell::Trim(line);
        if (line.size() >= 2 && line.front() == '"' && line.back() == '"') line = line.substr(1, line.size() - 2);
    }
    // Counts are whole numbers, read exactly.
    auto number = [](const std::string& s, std::uint64_t& v) {
        if (s.empty() || s.size() > 19 || s.find_first_not_of("0123456789") != std::string::npos) return false;
        v = std::stoull(s);
        return true;
    };
    std::uint64_t bps = 0, spc = 0, units = 0, first = 0;
    if (!number(lines[1], bps) || !number(lines[2], spc) || !number(lines[3], units) || !number(lines[4], first))
        return false;
    if (bps > 65536 || !plausibleSectorSize(static_cast<std::uint32_t>(bps))) return false;
    if (spc < 1 || spc > 128 || units < 1 || units > 1'000'000'000'000ull || first > 4'000'000'000ull) return false;
    if (imageBytes > 0 && first * bps >= imageBytes) return false;
    record.BytesPerSector = static_cast<std::int16_t>(bps);
    record.SectorsPerCluster = static_cast<std::uint8_t>(spc);
    record.TotalClusters = units;
    record.FirstDataSector = static_cast<std::uint32_t>(first);
    return true;
}

}  // namespace hx::scan
