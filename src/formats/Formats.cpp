#include "formats/Formats.h"

#include <cctype>

#include "formats/JpegStart.h"
#include "formats/Ole2End.h"

namespace hx::formats {

namespace {

constexpr std::uint32_t kRawTraits = kReadsExif | kDrawn | kConverted | kNoSizeCap;

bool JpegStartsHere(const std::uint8_t* unit, std::size_t size) {
    return size > 2 && unit[0] == 0xFF && unit[1] == 0xD8 && IsJpegStart(unit, size);
}

bool Ole2StartsHere(const std::uint8_t* unit, std::size_t size) { return size > 0 && unit[0] == 0xD0 && IsOle2Header(unit, size); }

}  // namespace

const std::vector<Format>& Formats() {
    // Signatures: {number in the type list, extension, text number of the
    // type name, type name, first bytes, bytes in the unit[, offset, needs structure]}.
    static const std::vector<Format> formats = {
        // Photos.
        {{".jpg", ".jpeg", ".jpe", ".jfif", ".thm"}, Family::Photo, Ending::Jpeg, kReadsExif | kDrawn | kBesideRaws | kFromPhones,
         {{1, ".jpg", 449, "JPEG File", "FFD8FFDB00C50010", ""},
          {2, ".jpg", 449, "JPEG File", "FFD8FFC0", "4578"},
          {3, ".jpg", 449, "JPEG File", "FFD8DDE0", "4578"},
          {4, ".jpg", 449, "JPEG File", "FFD8FFE1", "4578"},
          {5, ".jpg", 449, "JPEG File", "FFD8FFE0", "4578"},
          {6, ".jpg", 449, "JPEG File", "FFD8FFC0", "4A46"},
          {7, ".jpg", 449, "JPEG File", "FFD8DDE0", "4A46"},
          {8, ".jpg", 449, "JPEG File", "FFD8FFE1", "4A46"},
          {9, ".jpg", 449, "JPEG File", "FFD8FFE0", "4A46"},
          {10, ".jpg", 449, "JPEG File", "FFD8FFDB00840006", ""},
          {11, ".jpg", 449, "JPEG File", "4578696620204949", ""},
          {12, ".jpg", 450, "JFIF File", "4A464946", ""},
          {66, ".thm", 542, "JPG Thumb", "FFD8FFE107", "43616E6F6E"},
          {67, ".thm", 542, "JPG Thumb", "FFD8FFDB00C500100A0A10182832", "2A3435363738393A"},
          {79, ".jpg", 449, "JPEG File", "FFD8FFE2", "4943435F"}},
         {},
         // JPEGs that open with segments no row names (a comment, tables,
         // Adobe's or XMP's segment) are known by their structure.
         {JpegStartsHere, "FFD8", true}},
        {{".tif", ".tiff"}, Family::Photo, Ending::TiffRaw, kReadsExif | kConverted | kNoSizeCap | kBesideRaws,
         {{26, ".tif", 453, "TIFF File", "49492A00", ""}, {27, ".tif", 453, "TIFF File", "4D4D002A", ""}}},
        {{".png"}, Family::Photo, Ending::Structure, kReadsExif, {{28, ".png", 454, "PNG  File", "89504E47", ""}}},
        {{".gif"}, Family::Photo, Ending::Structure, kReadsExif,
         {{24, ".gif", 452, "GIF  File", "474946383761", ""}, {25, ".gif", 452, "GIF  File", "474946383961", ""}}},
        {{".bmp"}, Family::Photo, Ending::Structure, kReadsExif, {{23, ".bmp", 0, "BMP  File", "424D", "28000000"}}},
        {{".ico", ".cur"}, Family::Photo, Ending::NextFind, kReadsExif, {}},
        {{".wmf"}, Family::Photo, Ending::NextFind, kReadsExif, {}},
        {{".thc", ".rpc"}, Family::Photo, Ending::NextFind, kReadsExif, {}},
        {{".heic", ".heif", ".avif"}, Family::Photo, Ending::Structure, kDrawn | kFromPhones,
         {{101, ".heic", 0, "HEIC Photo", "6674797068656963", "", 4},    // ftypheic
          {102, ".heic", 0, "HEIC Photo", "6674797068656978", "", 4},    // ftypheix
          {103, ".heif", 0, "HEIF Photo", "667479706D696631", "", 4},    // ftypmif1
          {104, ".avif", 0, "AVIF Photo", "6674797061766966", "", 4}}},  // ftypavif
        {{".webp"}, Family::Photo, Ending::Structure, 0,
         {{118, ".webp", 0, "WebP Image", "52494646", "5745425056503820"},    // RIFF....WEBPVP8
          {119, ".webp", 0, "WebP Image", "52494646", "574542505650384C"},    // WEBPVP8L
          {120, ".webp", 0, "WebP Image", "52494646", "5745425056503858"}}},  // WEBPVP8X
        {{".jxl"}, Family::Photo, Ending::Structure, 0, {{117, ".jxl", 0, "JPEG XL", "0000000C4A584C200D0A870A", ""}}},
        {{".psd"}, Family::Photo, Ending::NextFind, 0,
         {{32, ".psd", 457, "PSD  File", "38425053000100000000000000", ""}, {33, ".psd", 457, "PSD  File", "C384250", ""}}},
        {{".pcx"}, Family::Photo, Ending::NextFind, 0, {{35, ".pcx", 459, "PCX  File", "0A0501", ""}}},
        {{".pixar"}, Family::Photo, Ending::NextFind, 0, {{36, ".pixar", 460, "PixarFile", "80E8000001", ""}}},
        {{".psp"}, Family::Photo, Ending::NextFind, 0, {{40, ".psp", 470, "PSP  File", "5061696E742053686F702050726F", ""}}},
        // Camera raws.
        {{".cr2"}, Family::Raw, Ending::TiffRaw, kRawTraits,
         {{14, ".cr2", 0, "Canon Raw", "49492A00100000004352", "43616E6F6E"},
          {68, ".cr2", 0, "CR2 File", "7B0D0D76657273696F6E", ""}}, {"Canon"}},
        {{".crw"}, Family::Raw, Ending::CanonCrw, kRawTraits,
         {{15, ".crw", 0, "Canon Raw", "49491A000000", "4845415043434452"},
          {16, ".crw", 0, "Canon Raw", "4D4D0000001A", "4845415043434452"}}, {"Canon"}},
        {{".cr3"}, Family::Raw, Ending::Structure, kDrawn, {{105, ".cr3", 0, "Canon CR3", "6674797063727820", "", 4}}, {"Canon"}},
        {{".nef"}, Family::Raw, Ending::TiffRaw, kRawTraits,
         {{17, ".nef", 0, "Nikon Raw", "4D4D002A0000000800", "4E494B4F4E"},
          {18, ".nef", 0, "Nikon Raw", "49492A0008", "4E494B4F4E"}}, {"Nikon"}},
        {{".nrw"}, Family::Raw, Ending::NextFind, kDrawn, {}, {"Nikon"}},
        {{".dng"}, Family::Raw, Ending::TiffRaw, kRawTraits | kFromPhones,
         {{41, ".dng", 0, "ADOBE Raw", "4D4D002A00", "6E732E61646F62652E636F6D"},
          {74, ".dng", 0, "Olympus Rw", "4D4D002A0000000800", "4F4C594D505553204449474954414C"},
          {75, ".dng", 0, "Samsung Rw", "4D4D002A0000000800", "53414D53554E47205445434857494E"},
          {80, ".dng", 0, "DNG gnrc1", "4D4D002A01", ""},
          {81, ".dng", 0, "DNG gnrc2", "4D4D002A0000000800", ""},
          {82, ".dng", 0, "ADOBE Raw", "49492A00", "6E732E61646F62652E636F6D"}}, {"Samsung", "Leica", "Hasselblad"}},
        {{".raf"}, Family::Raw, Ending::FujiRaf, kRawTraits, {{21, ".raf", 0, "Fuji  Raw", "46554A4946494C4D", ""}}, {"Fuji"}},
        {{".x3f"}, Family::Raw, Ending::SigmaX3f, kRawTraits, {{22, ".x3f", 0, "FOVb  Raw", "464F5662", ""}}, {"Sigma"}},
        {{".orf"}, Family::Raw, Ending::TiffRaw, kRawTraits,
         {{20, ".orf", 0, "Olymp Raw", "494952", "4F4C594D50"},
          {121, ".orf", 0, "OM System", "4949524F", "4F4D204469676974616C"}}, {"Olympus"}},  // IIRO, "OM Digital"
        {{".arw", ".srf", ".sr2"}, Family::Raw, Ending::TiffRaw, kRawTraits,
         {{70, ".arw", 0, "Sony  Raw", "49492A0008000000", "44534C522D"},
          {71, ".sr2", 0, "Sony Raw", "49492A00080000000F00", "534F4E5900004453432D5231"},
          {72, ".srf", 0, "Sony Raw", "49492A0008000000", "534F4E590000445343"},
          {122, ".arw", 0, "Sony ARW", "49492A0008000000", "534F4E59"}}, {"Sony"}},  // "SONY"
        {{".rw2"}, Family::Raw, Ending::TiffRaw, kRawTraits,
         {{88, ".rw2", 0, "Panasonic", "494955001800000088E774D8", "50616E61736F6E6963"}}, {"Panasonic"}},
        {{".pef"}, Family::Raw, Ending::TiffRaw, kRawTraits,
         {{19, ".pef", 0, "Pentax Raw", "4D4D002A0000000800", "50454E544158"},
          {73, ".pef", 0, "Pentax Raw", "4D4D002A0000000800", "50454E54415820436F72706F726174696F6E"}}, {"Pentax"}},
        {{".mrw"}, Family::Raw, Ending::TiffRaw, kRawTraits, {{13, ".mrw", 0, "KM    Raw", "004D524D", ""}}, {"Minolta"}},
        {{".dcr"}, Family::Raw, Ending::TiffRaw, kRawTraits, {{77, ".dcr", 0, "Kodak Raw", "4D4D002A0000", "4B6F64616B"}}, {"Kodak"}},
        {{".raw"}, Family::Raw, Ending::TiffRaw, kReadsExif | kConverted | kNoSizeCap,
         {{37, ".raw", 461, "RAW  File", "EBF1EDE9", ""}, {78, ".raw", 0, "Leica Raw", "494955", "4C45494341"}}, {"Panasonic", "Leica"}},
        {{".bay"}, Family::Raw, Ending::TiffRaw, kReadsExif | kConverted | kNoSizeCap, {}},
        {{".kdc"}, Family::Raw, Ending::NextFind, kReadsExif | kNoSizeCap,
         {{65, ".kdc", 0, "Kodak KDC", "0125000000000000", "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF"}}, {"Kodak"}},
        {{".mef"}, Family::Raw, Ending::NextFind, kReadsExif | kNoSizeCap,
         {{69, ".mef", 0, "Mamiya Raw", "4D4D002A0000000800", "4D616D6979612D4F50"}}, {"Mamiya"}},
        {{".fovb", ".mew", ".rdc", ".3fr"}, Family::Raw, Ending::NextFind, kNoSizeCap,
         {{64, ".rdc", 0, "Rollei Raw", "4453432D496D616765", ""}}, {"Sigma", "Rollei", "Hasselblad"}},
        // Movies and sound.
        {{".mov", ".mp4", ".m4v", ".3gp", ".3g2"}, Family::Movie, Ending::Structure, kDrawn | kBesideRaws | kFromPhones,
         {{29, ".mov", 455, "MOV  File", "6D646174", ""},
          {30, ".mov", 455, "MOV  File", "6D6F6F76", ""},
          {86, ".mov", 455, "MOV  File", "0015", "6D646174"},
          {87, ".mov", 455, "MOV  File", "0015", "6D6F6F76"},
          {106, ".mp4", 0, "MP4 Video", "6674797069736F6D", "", 4},  // ftypisom
          {107, ".mp4", 0, "MP4 Video", "667479706D703432", "", 4},  // ftypmp42
          {108, ".mp4", 0, "MP4 Video", "667479706D703431", "", 4},  // ftypmp41
          {109, ".mp4", 0, "MP4 Video", "6674797061766331", "", 4},  // ftypavc1
          {110, ".m4v", 0, "M4V Video", "667479704D345620", "", 4},  // ftypM4V
          {111, ".3gp", 0, "3GP Video", "66747970336770", "", 4},    // ftyp3gp
          {123, ".3g2", 0, "3G2 Video", "66747970336732", "", 4},    // ftyp3g2
          {112, ".mov", 0, "QuickTime", "6674797071742020", "", 4},  // ftypqt
          // QuickTime movies of old open with one of these boxes: kept only when the boxes add up.
          {113, ".mov", 0, "QuickTime", "6D6F6F76", "", 4, true},    // moov
          {114, ".mov", 0, "QuickTime", "6D646174", "", 4, true},    // mdat
          {115, ".mov", 0, "QuickTime", "77696465", "", 4, true},    // wide
          {116, ".mov", 0, "QuickTime", "66726565", "", 4, true}}},  // free
        {{".avi"}, Family::Movie, Ending::Structure, kBesideRaws, {{43, ".avi", 479, "AVI  File", "52494646", "415649"}}},
        {{".mpg"}, Family::Movie, Ending::NextFind, 0, {{48, ".mpg", 491, "MPG  File", "000001B", "21000100"}}},
        {{".asf", ".wmv"}, Family::Movie, Ending::NextFind, 0,
         {{49, ".asf", 495, "ASF  File", "3026B2758E66CF11", ""}, {50, ".wmv", 498, "WMV  File", "3026B2758E66", ""}}},
        {{".swf"}, Family::Movie, Ending::NextFind, 0, {{63, ".swf", 528, "SWF  File", "46575304", ""}}},
        {{".wav"}, Family::Sound, Ending::Structure, 0,
         {{46, ".wav", 487, "WAV  File", "52494646", "57415645"}, {51, ".wav", 487, "WAV  File", "57415645666D74", ""}}},
        {{".mp3"}, Family::Sound, Ending::NextFind, 0,
         {{44, ".mp3", 483, "MP3  File", "FFFB30", ""},
          {45, ".mp3", 483, "MP3  File", "FFFB904400000000004B", ""},
          {47, ".mp3", 483, "MP3  File", "49443303", ""}}},
        {{".dss"}, Family::Sound, Ending::NextFind, 0, {{31, ".dss", 456, "DCC  File", "02647373", ""}}},
        {{".msv"}, Family::Sound, Ending::NextFind, 0, {{42, ".msv", 0, "MemStickV", "4D535F564F494345", ""}}},
        // Documents.
        {{".zip"}, Family::Document, Ending::Structure, 0,
         {{83, ".zip", 513, "ZIP  File", "526172211A0700CF907300000D000000", "0000"},
          {84, ".zip", 513, "ZIP  File", "504B0304", "0000"}}},
        {{".pdf"}, Family::Document, Ending::Structure, 0, {{55, ".pdf", 510, "PDF  File", "25504446", ""}}},
        {{".doc"}, Family::Document, Ending::Ole2, 0,
         {{52, ".doc", 501, "DOC  File", "D0CF11E0A1B11AE10000000000000000", nullptr}},
         {},
         // Compound documents the row's pattern misses are known by their header.
         {Ole2StartsHere}},
        {{".eps"}, Family::Document, Ending::NextFind, 0, {{34, ".eps", 458, "EPS  File", "C5D0D3", ""}}},
        {{".wk4"}, Family::Document, Ending::NextFind, 0, {{54, ".wk4", 507, "LotusFile", "00001A00021004", ""}}},
        {{".mdb"}, Family::Document, Ending::NextFind, 0,
         {{59, ".mdb", 522, "MDB  File", "000100005374616E64617264204A65", ""}}},
        {{".cdr"}, Family::Document, Ending::NextFind, 0, {{76, ".cdr", 0, "CorelDRAW", "52494646", "43445241"}}},
        // The rest of the original table.
        {{".xmd"}, Family::Other, Ending::NextFind, 0, {{38, ".xmd", 464, "Meta File", "786D706D65746120786D", ""}}},
        {{".jbf"}, Family::Other, Ending::NextFind, 0,
         {{39, ".jbf", 467, "Jasc File", "4A6173632042726F7773652046696C65", ""}}},
        {{".rar"}, Family::Other, Ending::NextFind, 0, {{57, ".rar", 516, "RAR  File", "526172211A0700", ""}}},
        {{".cab"}, Family::Other, Ending::NextFind, 0, {{58, ".cab", 519, "CAB  File", "4D534346", ""}}},
        {{".exe"}, Family::Other, Ending::NextFind, 0,
         {{60, ".exe", 524, "EXE  File", "4D5A90000300000004000000FFFF0000", "00000000000000000000000000000000"}}},
        {{".psw"}, Family::Other, Ending::NextFind, 0, {{62, ".psw", 0, "XP Password", "4D535242", "52534132"}}},
    };
    return formats;
}

const Signature* SignatureNumbered(int number) {
    static const std::vector<const Signature*> byNumber = [] {
        std::vector<const Signature*> index;
        for (const Format& f : Formats())
            for (const Signature& s : f.signatures) {
                const auto at = static_cast<std::size_t>(s.number);
                if (index.size() <= at) index.resize(at + 1, nullptr);
                index[at] = &s;
            }
        return index;
    }();
    if (number < 0 || static_cast<std::size_t>(number) >= byNumber.size()) return nullptr;
    return byNumber[static_cast<std::size_t>(number)];
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

}  // namespace hx::formats
