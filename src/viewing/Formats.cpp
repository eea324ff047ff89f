#include "viewing/Formats.h"

#include <cctype>

namespace hx::viewing {

namespace {

constexpr std::uint32_t kRawTraits = kReadsExif | kDrawn | kConverted | kNoSizeCap;

}  // namespace

const std::vector<Format>& Formats() {
    static const std::vector<Format> formats = {
        // Photos.
        {{".jpg", ".jpeg", ".jpe", ".jfif", ".thm"}, Family::Photo, Ending::Jpeg, kReadsExif | kDrawn},
        {{".tif", ".tiff"}, Family::Photo, Ending::TiffRaw, kReadsExif | kConverted | kNoSizeCap},
        {{".png"}, Family::Photo, Ending::Structure, kReadsExif},
        {{".gif"}, Family::Photo, Ending::Structure, kReadsExif},
        {{".bmp"}, Family::Photo, Ending::Structure, kReadsExif},
        {{".ico", ".cur"}, Family::Photo, Ending::NextFind, kReadsExif},
        {{".wmf"}, Family::Photo, Ending::NextFind, kReadsExif},
        {{".thc", ".rpc"}, Family::Photo, Ending::NextFind, kReadsExif},
        {{".heic", ".heif", ".avif"}, Family::Photo, Ending::Structure, kDrawn},
        {{".webp"}, Family::Photo, Ending::Structure, 0},
        {{".jxl"}, Family::Photo, Ending::Structure, 0},
        // Camera raws.
        {{".cr2"}, Family::Raw, Ending::TiffRaw, kRawTraits},
        {{".crw"}, Family::Raw, Ending::CanonCrw, kRawTraits},
        {{".cr3"}, Family::Raw, Ending::Structure, kDrawn},
        {{".nef"}, Family::Raw, Ending::TiffRaw, kRawTraits},
        {{".nrw"}, Family::Raw, Ending::NextFind, kDrawn},
        {{".dng"}, Family::Raw, Ending::TiffRaw, kRawTraits},
        {{".raf"}, Family::Raw, Ending::FujiRaf, kRawTraits},
        {{".x3f"}, Family::Raw, Ending::SigmaX3f, kRawTraits},
        {{".orf"}, Family::Raw, Ending::TiffRaw, kRawTraits},
        {{".arw", ".srf", ".sr2"}, Family::Raw, Ending::TiffRaw, kRawTraits},
        {{".rw2"}, Family::Raw, Ending::TiffRaw, kRawTraits},
        {{".pef"}, Family::Raw, Ending::TiffRaw, kRawTraits},
        {{".mrw"}, Family::Raw, Ending::TiffRaw, kRawTraits},
        {{".dcr"}, Family::Raw, Ending::TiffRaw, kRawTraits},
        {{".raw"}, Family::Raw, Ending::TiffRaw, kReadsExif | kConverted | kNoSizeCap},
        {{".bay"}, Family::Raw, Ending::TiffRaw, kReadsExif | kConverted | kNoSizeCap},
        {{".kdc"}, Family::Raw, Ending::NextFind, kReadsExif | kNoSizeCap},
        {{".mef"}, Family::Raw, Ending::NextFind, kReadsExif | kNoSizeCap},
        {{".fovb", ".mew", ".rdc", ".3fr"}, Family::Raw, Ending::NextFind, kNoSizeCap},
        // Movies and sound.
        {{".mov", ".mp4", ".m4v", ".3gp"}, Family::Movie, Ending::Structure, 0},
        {{".avi"}, Family::Movie, Ending::Structure, 0},
        {{".wav"}, Family::Sound, Ending::Structure, 0},
        // Documents.
        {{".zip"}, Family::Document, Ending::Structure, 0},
        {{".pdf"}, Family::Document, Ending::Structure, 0},
        {{".doc"}, Family::Document, Ending::Ole2, 0},
    };
    return formats;
}

const Format* FormatOf(std::string_view extension) {
    std::string ext;
    if (extension.empty() || extension[0] != '.') ext = ".";
    for (char c : extension) ext += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const Format& f : Formats())
        for (std::string_view e : f.extensions)
            if (e == ext) return &f;
    return nullptr;
}

bool HasTrait(std::string_view extension, Trait trait) {
    const Format* f = FormatOf(extension);
    return f != nullptr && f->has(trait);
}

}  // namespace hx::viewing
