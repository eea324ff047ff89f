// harvestrix-cli exif FILE: the camera values of a picture.
#include <iostream>

#include "cli/CliCommand.h"
#include "viewing/CaptureFacts.h"
#include "viewing/Exif.h"
#include "viewing/ExifFullText.h"

namespace hx::cli {
namespace {

int runExif(CliArgs& args) {
    if (args.positional.empty()) {
        std::cerr << "usage: harvestrix-cli exif FILE [--full]\n";
        return 2;
    }
    viewing::ExifValues v;
    const bool sized = viewing::ReadExifFile(args.positional[0], v);
    if (v.rawDate.empty()) {
        // A movie keeps its moment in a header of its own.
        const viewing::CaptureFacts facts = viewing::ReadCaptureFacts(args.positional[0]);
        if (!facts.rawDate.empty()) v.date = viewing::IsoDate(facts.rawDate);
    }
    if (args.json) {
        std::cout << "{\"make\":\"" << JsonEscape(v.make) << "\",\"model\":\"" << JsonEscape(v.model)
                  << "\",\"date\":\"" << JsonEscape(v.date) << "\",\"colorSpace\":\"" << JsonEscape(v.colorSpace)
                  << "\",\"width\":" << v.width << ",\"height\":" << v.height << ",\"orientation\":" << v.orientation
                  << "}\n";
    } else {
        std::vector<std::string> lines = {"Make: " + v.make, "Model: " + v.model, "DateTimeOriginal: " + v.date,
                                          "ColorSpace: " + v.colorSpace,
                                          "Orientation: " + std::to_string(static_cast<int>(v.orientation)),
                                          "Width: " + std::to_string(v.width), "Height: " + std::to_string(v.height)};
        viewing::DescribeExifValues(lines);
        for (const auto& l : lines) std::cout << l << "\n";
        if (args.has("full")) {
            // Everything the picture holds, maker notes and user comment included.
            std::cout << "\n";
            for (const auto& l : viewing::ExifFullText(args.positional[0])) std::cout << l << "\n";
        }
    }
    return sized ? 0 : 1;
}

CliRegistrar reg({"exif", "exif FILE [--full]               the camera values of a picture; --full: every tag", {}, runExif});

}  // namespace
}  // namespace hx::cli
