#pragma once
// The preview's filters, on the picture's 24-bit pixel bytes: each colour
// byte is computed from the same byte of its neighbours (left and right 3
// bytes away, up and down in the rows above and below), rounded to the
// nearest whole number (halves to even) and clamped to 0..255. The first and
// last pixel of a row and the first and last row keep their values.
#include <map>
#include <optional>
#include <string>

#include "viewing/RgbPicture.h"

namespace hx::viewing {

enum class PictureFilter {
    Unsharp,      // 2 × centre − (up + down + left + right) ÷ 4, in place in memory order
    Focus,        // (6 × centre − up − down − left − right) ÷ 2
    Sharpen,      // (12 × centre − the 8 neighbours) ÷ 4
    SharpenMore,  // 5 × centre − up − down − left − right
};

// The filter whose name (as the string table gives it in the user's
// language) is `name`; nothing for any other text.
std::optional<PictureFilter> PictureFilterNamed(const std::string& name);

void ApplyPictureFilter(RgbPicture& picture, PictureFilter filter);

// What the user set for the preview: a rotation per file (the EXIF
// orientation codes 6 = 90° clockwise, 8 = 90° counter-clockwise, 3 = 180°,
// 0 = as the picture is) and the filter applied to every picture shown.
class PreviewAdjustments {
public:
    int rotation(const std::string& file) const {
        const auto it = rotations_.find(file);
        return it == rotations_.end() ? 0 : it->second;
    }
    void setRotation(const std::string& file, int code) {
        if (code == 0) rotations_.erase(file);
        else rotations_[file] = code;
    }
    // Clockwise quarter turns of a rotation code.
    static int quarterTurns(int code) { return code == 6 ? 1 : code == 3 ? 2 : code == 8 ? 3 : 0; }

    std::optional<PictureFilter> filter;

private:
    std::map<std::string, int> rotations_;
};

}  // namespace hx::viewing
