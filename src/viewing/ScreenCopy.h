#pragma once
// "Copy Screen!" of the full view: the name offered for the copy and the
// bitmap file a chosen name is written to.
#include <filesystem>
#include <string>

namespace hx::viewing {

// The shown file's name up to its first "." ("IMG_0001.JPG" offers "IMG_0001").
inline std::string ScreenCopyOffer(const std::string& shownFile) {
    const std::string name = std::filesystem::path(shownFile).filename().string();
    return name.substr(0, name.find('.'));
}

// The chosen name without its extension (from its last "."), as a .bmp.
inline std::filesystem::path ScreenCopyTarget(const std::string& chosen) {
    std::filesystem::path p(chosen);
    p.replace_extension(".bmp");
    return p;
}

}  // namespace hx::viewing
