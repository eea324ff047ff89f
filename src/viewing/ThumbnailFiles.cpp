#include "viewing/ThumbnailFiles.h"

#include <algorithm>

#include "viewing/Exif.h"
#include "viewing/JpegThumbnail.h"
#include "viewing/PictureThumbnail.h"

namespace hx::viewing {

namespace fs = std::filesystem;

std::string ThumbnailFileName(const std::string& foundName) {
    std::string name;
    for (char c : foundName)
        if (c != '.') name += c;
    name += ".jpg";
    for (auto at = name.find("R#"); at != std::string::npos; at = name.find("R#")) name.erase(at, 2);
    return name;
}

std::size_t ThumbnailBudget(int width, std::size_t foundFiles) {
    const int w = std::max(width, kMinThumbnailWidth);
    const auto budget = static_cast<std::size_t>(200.0 / w * (200.0 / w) * 250);
    return std::min({budget, foundFiles, kMaxThumbnailFiles});
}

int AcceptedThumbnailWidth(int typed) {
    if (typed < kMinThumbnailWidth) return kMinThumbnailWidth;
    return typed > kMaxThumbnailWidth ? 0 : typed;
}

RgbPicture Oriented(const RgbPicture& in, int code) {
    if (code < 2 || code > 8 || in.width == 0 || in.height == 0) return in;
    const bool swap = code >= 5;
    RgbPicture out;
    out.width = swap ? in.height : in.width;
    out.height = swap ? in.width : in.height;
    out.pixels.resize(in.pixels.size());
    const unsigned W = in.width, H = in.height;
    for (unsigned y = 0; y < out.height; ++y)
        for (unsigned x = 0; x < out.width; ++x) {
            // Where the pixel shown at (x, y) lies in the stored picture.
            unsigned sx = x, sy = y;
            switch (code) {
                case 2: sx = W - 1 - x; break;                        // mirrored
                case 3: sx = W - 1 - x, sy = H - 1 - y; break;        // upside down
                case 4: sy = H - 1 - y; break;                        // mirrored vertically
                case 5: sx = y, sy = x; break;                        // transposed
                case 6: sx = y, sy = H - 1 - x; break;                // turned 90° clockwise
                case 7: sx = W - 1 - y, sy = H - 1 - x; break;        // transversed
                case 8: sx = W - 1 - y, sy = x; break;                // turned 90° counter-clockwise
                default: break;
            }
            std::copy_n(&in.pixels[(static_cast<std::size_t>(sy) * W + sx) * 3], 3,
                        &out.pixels[(static_cast<std::size_t>(y) * out.width + x) * 3]);
        }
    return out;
}

RgbPicture ScaledToWidth(const RgbPicture& in, unsigned width) {
    if (in.width == 0 || in.height == 0 || width == 0 || width >= in.width) return in;
    RgbPicture out;
    out.width = width;
    out.height = std::max(1u, static_cast<unsigned>(static_cast<unsigned long long>(in.height) * width / in.width));
    out.pixels.resize(static_cast<std::size_t>(out.width) * out.height * 3);
    for (unsigned y = 0; y < out.height; ++y) {
        const unsigned y0 = static_cast<unsigned>(static_cast<unsigned long long>(y) * in.height / out.height);
        const unsigned y1 = std::max(y0 + 1, static_cast<unsigned>(static_cast<unsigned long long>(y + 1) * in.height / out.height));
        for (unsigned x = 0; x < out.width; ++x) {
            const unsigned x0 = static_cast<unsigned>(static_cast<unsigned long long>(x) * in.width / out.width);
            const unsigned x1 = std::max(x0 + 1, static_cast<unsigned>(static_cast<unsigned long long>(x + 1) * in.width / out.width));
            unsigned long sum[3] = {0, 0, 0};
            for (unsigned sy = y0; sy < y1; ++sy)
                for (unsigned sx = x0; sx < x1; ++sx)
                    for (int c = 0; c < 3; ++c) sum[c] += in.pixels[(static_cast<std::size_t>(sy) * in.width + sx) * 3 + c];
            const unsigned long n = static_cast<unsigned long>(y1 - y0) * (x1 - x0);
            for (int c = 0; c < 3; ++c)
                out.pixels[(static_cast<std::size_t>(y) * out.width + x) * 3 + c] =
                    static_cast<std::uint8_t>((sum[c] + n / 2) / n);
        }
    }
    return out;
}

std::size_t RemoveThumbnailFiles(const fs::path& thumbsFolder) {
    const fs::path folder = thumbsFolder.filename().empty() ? thumbsFolder.parent_path() : thumbsFolder;
    const bool ours = folder.filename() == "Thumbs" ||
                      (folder.filename() == "Browse" && folder.parent_path().filename() == "Thumbs");
    std::error_code ec;
    if (!ours || !fs::is_directory(folder, ec)) return 0;
    std::size_t removed = 0;
    for (const auto& e : fs::directory_iterator(folder, ec))
        if (e.is_regular_file(ec) && e.path().extension() == ".jpg" && fs::remove(e.path(), ec)) ++removed;
    return removed;
}

fs::path ThumbnailFile(const fs::path& file, const fs::path& thumbsFolder, int width) {
    const fs::path thumb = thumbsFolder / ThumbnailFileName(file.filename().string());
    std::error_code ec;
    if (fs::is_regular_file(thumb, ec) && fs::file_size(thumb, ec) > 0) return thumb;
    if (!HasSmallPicture(file.extension().string())) return {};
    RgbPicture picture;
    // Turned first, so the width asked for is the width shown.
    ExifValues exif;
    ReadExifFile(file.string(), exif);
    const int orientation = static_cast<int>(exif.orientation);
    const bool sideways = orientation >= 5 && orientation <= 8;
    if (!LoadSmallPicture(file, sideways ? width * 2 : width, picture)) return {};
    picture = ScaledToWidth(Oriented(picture, orientation), static_cast<unsigned>(width));
    fs::create_directories(thumbsFolder, ec);
    return WriteJpegPicture(thumb, picture, 98) ? thumb : fs::path();
}

}  // namespace hx::viewing
