// harvestrix-cli demo photos DIR [--count N]: the sample photos of the demo
// card (real JPEGs with a camera's EXIF header, 2-4 MB each).
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "cli/CliCommand.h"
#include "viewing/SamplePhoto.h"

namespace hx::cli {
namespace {

int runDemo(CliArgs& args) {
    if (args.positional.size() < 2 || args.positional[0] != "photos") {
        std::cerr << "usage: harvestrix-cli demo photos DIR [--count N]\n";
        return 2;
    }
    const std::filesystem::path dir = args.positional[1];
    const int count = std::atoi(args.get("count", "12").c_str());
    if (count < 1 || count > 1000) {
        std::cerr << "harvestrix-cli: --count takes 1 to 1000\n";
        return 2;
    }
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    for (int n = 0; n < count; ++n) {
        viewing::SamplePhotoOptions o;
        // Landscape and portrait frames of a few sizes, as a camera's card holds them.
        static const int sizes[][2] = {{2048, 1536}, {2560, 1920}, {1536, 2048}, {3000, 2000}};
        o.width = sizes[n % 4][0];
        o.height = sizes[n % 4][1];
        const std::string bytes = viewing::MakeSamplePhoto(n, o);
        char name[32];
        std::snprintf(name, sizeof name, "IMG_%04d.JPG", 1000 + n);
        std::ofstream out(dir / name, std::ios::binary);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out) {
            std::cerr << "harvestrix-cli: cannot write " << (dir / name).string() << "\n";
            return 1;
        }
        std::cout << (dir / name).string() << " " << bytes.size() << "\n";
    }
    return 0;
}

CliRegistrar reg({"demo", "demo photos DIR [--count N]      sample photos for the demo card", {"count"}, runDemo});

}  // namespace
}  // namespace hx::cli
