// The whole carving scan over an arbitrary medium: the input is the image
// (the first byte picks DeepScan, damaged mode and a fixed disk). Every file
// found must lie inside the image.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>

#include "shell/QuietUi.h"
#include "reassembly/Reassembly.h"
#include "scan/ScanDisk.h"
#include "Scratch.h"

namespace fs = std::filesystem;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const fs::path dir = hx::fuzz::ScratchFolder("scan");
    // The cache folder is emptied before each input, kept itself.
    std::error_code ec;
    static const bool made = fs::create_directories(dir / "cache", ec);
    (void)made;
    for (const auto& left : fs::directory_iterator(dir / "cache", ec)) fs::remove_all(left.path(), ec);
    const fs::path image = hx::fuzz::WriteScratch("scan", "medium.img", data + 1, size - 1);
    hx::shell::QuietUi ui;
    hx::scan::ScanContext ctx(ui);
    ctx.drive = image.string();
    ctx.record.IsImage = true;
    ctx.record.DriveType = (data[0] & 4) ? hx::media::DriveKind::Fixed : hx::media::DriveKind::Removable;
    if (data[0] & 8) {  // a small cluster geometry instead of the sector scan
        ctx.record.BytesPerSector = 512;
        ctx.record.SectorsPerCluster = 2;
        ctx.record.TotalClusters = size / 1024 + 3;
        ctx.record.RootCluster = 2;
    }
    ctx.cacheFolder = dir / "cache";
    ctx.options.deepScan = data[0] & 1;
    ctx.options.damaged = data[0] & 2;
    ctx.options.minMB = (data[0] & 16) ? 0.001 : 0;
    // The table is the same for every input: built once, lent to each scan.
    static hx::formats::SignatureTable table = [] {
        auto t = hx::formats::BuildSignatureTable("all");
        hx::formats::OrderForScan(t);
        return t;
    }();
    ctx.table.swap(table);
    hx::scan::ScanDisk(ctx, hx::reassembly::Reassemble);
    ctx.table.swap(table);
    // DeepScan finds pictures inside other found files, so finds may overlap;
    // each must still lie inside the medium.
    for (const auto& f : ctx.found)
        if (f.size > 0 && ctx.geometry.byteOf(f.startUnit) + f.size > size - 1) std::abort();
    return 0;
}
