#pragma once
// The small picture of a photo Qt cannot read itself (HEIC, AVIF, camera
// raws), as the engine's thumbnail makers give it.
#include <QImage>
#include <string>

#include "viewing/PictureThumbnail.h"

namespace hx::gui {

// Null when the file is no picture the makers know.
inline QImage SmallPicture(const std::string& file, int maxWidth) {
    viewing::RgbPicture p;
    if (!viewing::HasSmallPicture(std::filesystem::path(file).extension().string()) ||
        !viewing::LoadSmallPicture(file, maxWidth, p))
        return {};
    return QImage(p.pixels.data(), static_cast<int>(p.width), static_cast<int>(p.height),
                  static_cast<qsizetype>(p.width) * 3, QImage::Format_RGB888)
        .copy();
}

}  // namespace hx::gui
