#pragma once
// The small picture of a photo Qt cannot read itself (HEIC, AVIF, camera
// raws), as the engine's thumbnail makers give it.
#include <QImage>
#include <string>

#include "viewing/ClipPicture.h"
#include "viewing/PictureThumbnail.h"

namespace hx::gui {

// A picture the engine drew, as Qt draws it.
inline QImage ToQImage(const viewing::RgbPicture& p) {
    return QImage(p.pixels.data(), static_cast<int>(p.width), static_cast<int>(p.height),
                  static_cast<qsizetype>(p.width) * 3, QImage::Format_RGB888)
        .copy();
}

// Null when the file is no picture the makers know.
inline QImage SmallPicture(const std::string& file, int maxWidth) {
    viewing::RgbPicture p;
    if (!viewing::HasSmallPicture(std::filesystem::path(file).extension().string()) ||
        !viewing::LoadSmallPicture(file, maxWidth, p))
        return {};
    return ToQImage(p);
}

}  // namespace hx::gui
