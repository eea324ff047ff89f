#pragma once
// The carving scan: reads a medium or image unit by unit, recognises the first
// unit of a file by the scan table, copies the units that follow into a file
// in the cache folder until the file's end, and lists every found file.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "media/DriveRecord.h"
#include "scan/ListedNames.h"
#include "scan/SignatureTable.h"
#include "shell/SettingsStore.h"
#include "shell/Ui.h"

namespace hx::scan {

struct ScanOptions {
    bool deepScan = false;   // ChkDeep: every sector is a unit
    bool damaged = false;    // ChkDamaged: read block by block through the per-call reader
    bool smartScan = false;  // only the clusters that no listed file occupies
    bool unattended = false; // the damaged-media recovery drives the scan
    double minMB = 0;        // 0 = no limit
    double maxMB = 0;
};

struct FoundFile {
    std::string name;         // file name in the cache folder
    std::string extension;    // of the row that found it
    std::string description;  // the type or camera shown in the list
    std::uint64_t startUnit = 0;
    std::uint64_t size = 0;   // bytes, after any cut
};

enum class ScanOutcome { Finished, Stopped, OutOfSpace, Unreadable };

struct ScanContext {
    explicit ScanContext(shell::Ui& u) : ui(u) {}

    // Input.
    std::string drive;                  // device node or image path
    media::DriveRecord record;          // geometry of the medium, filled by the caller
    std::filesystem::path cacheFolder;  // where found files go
    std::filesystem::path imageFolder;  // where an image's companion file is looked for (may be empty)
    ScanOptions options;
    shell::Ui& ui;
    SignatureTable table;               // ordered for the scan
    ListedNames listed;                 // directory listing of the medium, may be empty
    // SmartScan: whether a cluster of the medium is allocated. Empty: everything is free.
    std::function<bool(std::uint64_t cluster)> clusterInUse;

    // Resume state, in and out: the next unit to scan (0 = none), the drive it
    // belongs to, and whether the last file was still open at the stop.
    std::uint64_t resumeUnit = 0;
    std::string resumeDrive;
    bool lastFileOpen = false;

    // Results, row for row.
    std::vector<std::string> FoundNames;
    std::vector<std::uint64_t> FoundSizes;  // bytes the file is cut to when it is closed, 0 for none
    std::vector<FoundFile> found;
    std::vector<std::string> List3;
    std::string LastCluster = "0";  // "33" while a scan runs
    shell::SettingsStore* settings = nullptr;  // when given, LastCluster is written there too
    std::uint64_t emptyUnits = 0;   // units equal to the one before, counted until the first find
    std::uint64_t totalUnits = 0;
    std::uint64_t unitSize = 0;
    std::uint64_t unitsPerBlock = 0;
    std::string finishedText;       // "Finished: ... seconds. Average: ... MB/sec"
    double seconds = 0;
    double megabytesRead = 0;
};

// Runs the scan. Messages go through ctx.ui; the outcome says how it ended.
ScanOutcome ScanDisk(ScanContext& ctx);

// Geometry from an image's companion file: lines 2..5 give bytes per sector,
// sectors per cluster, total units and the first data sector. False when the
// file is missing or its values make no sense for the image.
bool ReadCompanionGeometry(const std::filesystem::path& companion, std::uint64_t imageBytes,
                           media::DriveRecord& record);

// "R#0000.jpg": the name of found file `counter`.
std::string FoundFileName(long counter, const std::string& extension);

}  // namespace hx::scan
