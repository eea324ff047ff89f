#include "scan/SignatureTable.h"

#include <algorithm>
#include <unordered_set>
#include <cctype>

#include "shell/AddedStrings.h"
#include "shell/Strings.h"

namespace hx::scan {

namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return 0;
}

struct RowText {
    const char* ext;
    int nameId;  // 0: the name is literal
    const char* name;
    const char* sig1;
    const char* sig2;
};

// Row numbers 0..90; a null extension defines no row.
const RowText kRows[kLastBuiltInRow + 1] = {
    /*0*/ {nullptr, 0, "", "", ""},
    /*1*/ {".jpg", 449, "JPEG File", "FFD8FFDB00C50010", ""},
    /*2*/ {".jpg", 449, "JPEG File", "FFD8FFC0", "4578"},
    /*3*/ {".jpg", 449, "JPEG File", "FFD8DDE0", "4578"},
    /*4*/ {".jpg", 449, "JPEG File", "FFD8FFE1", "4578"},
    /*5*/ {".jpg", 449, "JPEG File", "FFD8FFE0", "4578"},
    /*6*/ {".jpg", 449, "JPEG File", "FFD8FFC0", "4A46"},
    /*7*/ {".jpg", 449, "JPEG File", "FFD8DDE0", "4A46"},
    /*8*/ {".jpg", 449, "JPEG File", "FFD8FFE1", "4A46"},
    /*9*/ {".jpg", 449, "JPEG File", "FFD8FFE0", "4A46"},
    /*10*/ {".jpg", 449, "JPEG File", "FFD8FFDB00840006", ""},
    /*11*/ {".jpg", 449, "JPEG File", "4578696620204949", ""},
    /*12*/ {".jpg", 450, "JFIF File", "4A464946", ""},
    /*13*/ {".mrw", 0, "KM    Raw", "004D524D", ""},
    /*14*/ {".cr2", 0, "Canon Raw", "49492A00100000004352", "43616E6F6E"},
    /*15*/ {".crw", 0, "Canon Raw", "49491A000000", "4845415043434452"},
    /*16*/ {".crw", 0, "Canon Raw", "4D4D0000001A", "4845415043434452"},
    /*17*/ {".nef", 0, "Nikon Raw", "4D4D002A0000000800", "4E494B4F4E"},
    /*18*/ {".nef", 0, "Nikon Raw", "49492A0008", "4E494B4F4E"},
    /*19*/ {".pef", 0, "Pentax Raw", "4D4D002A0000000800", "50454E544158"},
    /*20*/ {".orf", 0, "Olymp Raw", "494952", "4F4C594D50"},
    /*21*/ {".raf", 0, "Fuji  Raw", "46554A4946494C4D", ""},
    /*22*/ {".x3f", 0, "FOVb  Raw", "464F5662", ""},
    /*23*/ {".bmp", 0, "BMP  File", "424D", "28000000"},
    /*24*/ {".gif", 452, "GIF  File", "474946383761", ""},
    /*25*/ {".gif", 452, "GIF  File", "474946383961", ""},
    /*26*/ {".tif", 453, "TIFF File", "49492A00", ""},
    /*27*/ {".tif", 453, "TIFF File", "4D4D002A", ""},
    /*28*/ {".png", 454, "PNG  File", "89504E47", ""},
    /*29*/ {".mov", 455, "MOV  File", "6D646174", ""},
    /*30*/ {".mov", 455, "MOV  File", "6D6F6F76", ""},
    /*31*/ {".dss", 456, "DCC  File", "02647373", ""},
    /*32*/ {".psd", 457, "PSD  File", "38425053000100000000000000", ""},
    /*33*/ {".psd", 457, "PSD  File", "C384250", ""},
    /*34*/ {".eps", 458, "EPS  File", "C5D0D3", ""},
    /*35*/ {".pcx", 459, "PCX  File", "0A0501", ""},
    /*36*/ {".pixar", 460, "PixarFile", "80E8000001", ""},
    /*37*/ {".raw", 461, "RAW  File", "EBF1EDE9", ""},
    /*38*/ {".xmd", 464, "Meta File", "786D706D65746120786D", ""},
    /*39*/ {".jbf", 467, "Jasc File", "4A6173632042726F7773652046696C65", ""},
    /*40*/ {".psp", 470, "PSP  File", "5061696E742053686F702050726F", ""},
    /*41*/ {".dng", 0, "ADOBE Raw", "4D4D002A00", "6E732E61646F62652E636F6D"},
    /*42*/ {".msv", 0, "MemStickV", "4D535F564F494345", ""},
    /*43*/ {".avi", 479, "AVI  File", "52494646", "415649"},
    /*44*/ {".mp3", 483, "MP3  File", "FFFB30", ""},
    /*45*/ {".mp3", 483, "MP3  File", "FFFB904400000000004B", ""},
    /*46*/ {".wav", 487, "WAV  File", "52494646", "57415645"},
    /*47*/ {".mp3", 483, "MP3  File", "49443303", ""},
    /*48*/ {".mpg", 491, "MPG  File", "000001B", "21000100"},
    /*49*/ {".asf", 495, "ASF  File", "3026B2758E66CF11", ""},
    /*50*/ {".wmv", 498, "WMV  File", "3026B2758E66", ""},
    /*51*/ {".wav", 487, "WAV  File", "57415645666D74", ""},
    /*52*/ {".doc", 501, "DOC  File", "D0CF11E0A1B11AE10000000000000000", nullptr},  // second: 292 x FF, 00 00
    /*53*/ {nullptr, 0, "", "", ""},
    /*54*/ {".wk4", 507, "LotusFile", "00001A00021004", ""},
    /*55*/ {".pdf", 510, "PDF  File", "25504446", ""},
    /*56*/ {nullptr, 0, "", "", ""},
    /*57*/ {".rar", 516, "RAR  File", "526172211A0700", ""},
    /*58*/ {".cab", 519, "CAB  File", "4D534346", ""},
    /*59*/ {".mdb", 522, "MDB  File", "000100005374616E64617264204A65", ""},
    /*60*/ {".exe", 524, "EXE  File", "4D5A90000300000004000000FFFF0000", "00000000000000000000000000000000"},
    /*61*/ {nullptr, 0, "", "", ""},
    /*62*/ {".psw", 0, "XP Password", "4D535242", "52534132"},
    /*63*/ {".swf", 528, "SWF  File", "46575304", ""},
    /*64*/ {".rdc", 0, "Rollei Raw", "4453432D496D616765", ""},
    /*65*/ {".kdc", 0, "Kodak KDC", "0125000000000000", "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF"},
    /*66*/ {".thm", 542, "JPG Thumb", "FFD8FFE107", "43616E6F6E"},
    /*67*/ {".thm", 542, "JPG Thumb", "FFD8FFDB00C500100A0A10182832", "2A3435363738393A"},
    /*68*/ {".cr2", 0, "CR2 File", "7B0D0D76657273696F6E", ""},
    /*69*/ {".mef", 0, "Mamiya Raw", "4D4D002A0000000800", "4D616D6979612D4F50"},
    /*70*/ {".arw", 0, "Sony  Raw", "49492A0008000000", "44534C522D"},
    /*71*/ {".sr2", 0, "Sony Raw", "49492A00080000000F00", "534F4E5900004453432D5231"},
    /*72*/ {".srf", 0, "Sony Raw", "49492A0008000000", "534F4E590000445343"},
    /*73*/ {".pef", 0, "Pentax Raw", "4D4D002A0000000800", "50454E54415820436F72706F726174696F6E"},
    /*74*/ {".dng", 0, "Olympus Rw", "4D4D002A0000000800", "4F4C594D505553204449474954414C"},
    /*75*/ {".dng", 0, "Samsung Rw", "4D4D002A0000000800", "53414D53554E47205445434857494E"},
    /*76*/ {".cdr", 0, "CorelDRAW", "52494646", "43445241"},
    /*77*/ {".dcr", 0, "Kodak Raw", "4D4D002A0000", "4B6F64616B"},
    /*78*/ {".raw", 0, "Leica Raw", "494955", "4C45494341"},
    /*79*/ {".jpg", 449, "JPEG File", "FFD8FFE2", "4943435F"},
    /*80*/ {".dng", 0, "DNG gnrc1", "4D4D002A01", ""},
    /*81*/ {".dng", 0, "DNG gnrc2", "4D4D002A0000000800", ""},
    /*82*/ {".dng", 0, "ADOBE Raw", "49492A00", "6E732E61646F62652E636F6D"},
    /*83*/ {".zip", 513, "ZIP  File", "526172211A0700CF907300000D000000", "0000"},
    /*84*/ {".zip", 513, "ZIP  File", "504B0304", "0000"},
    /*85*/ {nullptr, 0, "", "", ""},
    /*86*/ {".mov", 455, "MOV  File", "0015", "6D646174"},
    /*87*/ {".mov", 455, "MOV  File", "0015", "6D6F6F76"},
    /*88*/ {".rw2", 0, "Panasonic", "494955001800000088E774D8", "50616E61736F6E6963"},
    /*89*/ {nullptr, 0, "", "", ""},
    /*90*/ {nullptr, 0, "", "", ""},
};

struct ModernText {
    const char* ext;
    const char* name;
    const char* sig1;
    const char* sig2;
    std::uint8_t offset;
    bool needsStructure;
};

// ISO-BMFF files start with a box whose type follows its 4-byte size.
const ModernText kModern[] = {
    {".heic", "HEIC Photo", "6674797068656963", "", 4, false},  // ftypheic
    {".heic", "HEIC Photo", "6674797068656978", "", 4, false},  // ftypheix
    {".heif", "HEIF Photo", "667479706D696631", "", 4, false},  // ftypmif1
    {".avif", "AVIF Photo", "6674797061766966", "", 4, false},  // ftypavif
    {".cr3", "Canon CR3", "6674797063727820", "", 4, false},    // ftypcrx
    {".mp4", "MP4 Video", "6674797069736F6D", "", 4, false},    // ftypisom
    {".mp4", "MP4 Video", "667479706D703432", "", 4, false},    // ftypmp42
    {".mp4", "MP4 Video", "667479706D703431", "", 4, false},    // ftypmp41
    {".mp4", "MP4 Video", "6674797061766331", "", 4, false},    // ftypavc1
    {".m4v", "M4V Video", "667479704D345620", "", 4, false},    // ftypM4V
    {".3gp", "3GP Video", "66747970336770", "", 4, false},      // ftyp3gp
    {".mov", "QuickTime", "6674797071742020", "", 4, false},    // ftypqt
    // QuickTime movies of old open with one of these boxes: kept only when the boxes add up.
    {".mov", "QuickTime", "6D6F6F76", "", 4, true},  // moov
    {".mov", "QuickTime", "6D646174", "", 4, true},  // mdat
    {".mov", "QuickTime", "77696465", "", 4, true},  // wide
    {".mov", "QuickTime", "66726565", "", 4, true},  // free
    {".jxl", "JPEG XL", "0000000C4A584C200D0A870A", "", 0, false},
    {".webp", "WebP Image", "52494646", "5745425056503820", 0, false},  // RIFF....WEBPVP8
    {".webp", "WebP Image", "52494646", "574542505650384C", 0, false},  // WEBPVP8L
    {".webp", "WebP Image", "52494646", "5745425056503858", 0, false},  // WEBPVP8X
    {".orf", "OM System", "4949524F", "4F4D204469676974616C", 0, false},  // IIRO, "OM Digital"
    {".arw", "Sony ARW", "49492A0008000000", "534F4E59", 0, false},        // "SONY"
};

std::size_t weightPrevious(const SignatureRow& r) { return 4 * r.Signature1.size() + r.Signature2.size(); }
std::size_t weightNew(const SignatureRow& r) { return 8 * r.Signature1.size() + 2 * r.Signature2.size(); }

}  // namespace

std::string HexToBytes(const std::string& hex) {
    std::string out;
    out.reserve(hex.size() / 2 + 1);
    std::size_t i = 0;
    for (; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<char>(hexDigit(hex[i]) * 16 + hexDigit(hex[i + 1])));
    if (i < hex.size()) out.push_back(static_cast<char>(hexDigit(hex[i])));
    return out;
}

std::string Described(const std::string& name) {
    std::string out;
    for (char c : name) {
        if (c == ' ' && (out.empty() || out.back() == ' ')) continue;
        out += c;
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

std::string FixedName(const std::string& name) {
    std::string n = name.substr(0, 10);
    n.resize(10, ' ');
    return n;
}

SignatureRow BuiltInRow(int number) {
    SignatureRow row;
    if (number < 0 || number > kLastBuiltInRow || kRows[number].ext == nullptr) return row;
    const RowText& t = kRows[number];
    row.Extension = t.ext;
    const std::string name = t.nameId ? shell::LoadStr(t.nameId, t.name) : std::string(t.name);
    row.DisplayName = FixedName(name);
    row.Description = t.nameId ? Described(name) : shell::TypeDescription(Described(name));
    row.Signature1 = HexToBytes(t.sig1);
    if (t.sig2) {
        row.Signature2 = HexToBytes(t.sig2);
    } else {
        row.Signature2.assign(292, '\xFF');
        row.Signature2.append(2, '\0');
        row.Signature4 = "MSWordDoc";
    }
    if (row.Extension == ".bmp") row.Aux1 = row.Aux2 = 2;
    return row;
}

SignatureRow ModernRow(int number) {
    SignatureRow row;
    if (number < 0 || number >= ModernRowCount()) return row;
    const ModernText& t = kModern[number];
    row.Extension = t.ext;
    row.DisplayName = FixedName(t.name);
    row.Description = shell::TypeDescription(Described(t.name));
    row.Signature1 = HexToBytes(t.sig1);
    row.Signature2 = HexToBytes(t.sig2);
    row.SignatureOffset = t.offset;
    row.NeedsStructure = t.needsStructure;
    return row;
}

int ModernRowCount() { return static_cast<int>(std::size(kModern)); }

std::vector<SignatureRow> EveryRow() {
    std::vector<SignatureRow> rows;
    for (int n = 0; n <= kLastBuiltInRow; ++n)
        if (SignatureRow row = BuiltInRow(n); !row.Extension.empty()) rows.push_back(std::move(row));
    for (int n = 0; n < ModernRowCount(); ++n) rows.push_back(ModernRow(n));
    return rows;
}

std::string EveryTypeSelection() {
    std::string selection;
    for (const auto& row : EveryRow())
        if (selection.find(row.key()) == std::string::npos) selection += row.key();
    return selection + "|";
}

SignatureTable BuildSignatureTable(const std::string& selection) {
    SignatureTable table(1);  // index 0: the spare slot
    const bool all = selection == "all";
    for (int n = 0; n <= kLastBuiltInRow; ++n) {
        SignatureRow row = BuiltInRow(n);
        if (row.Extension.empty() || row.Signature1.empty()) continue;
        if (!all && selection.find(row.key()) == std::string::npos) continue;
        const std::size_t spare = table.size() - 1;
        if (spare > 0 && weightPrevious(table[spare - 1]) < weightNew(row)) {
            table[spare] = std::move(table[spare - 1]);
            table[spare - 1] = std::move(row);
        } else {
            table[spare] = std::move(row);
        }
        table.emplace_back();
    }
    table.pop_back();
    for (int n = 0; n < ModernRowCount(); ++n) {
        SignatureRow row = ModernRow(n);
        if (selection.find(row.key()) != std::string::npos) table.push_back(std::move(row));
    }
    return table;
}

void OrderForScan(SignatureTable& table) {
    for (std::size_t j = 1; j < table.size(); ++j) {
        for (std::size_t i = 0; i < j; ++i) {
            const SignatureRow& a = table[i];
            const SignatureRow& b = table[j];
            const bool prefix = a.SignatureOffset == b.SignatureOffset &&
                                b.Signature1.compare(0, a.Signature1.size(), a.Signature1) == 0 &&
                                b.Signature1.size() >= a.Signature1.size();
            if (prefix && (b.Signature1.size() > a.Signature1.size() || b.Signature2.size() > a.Signature2.size())) {
                std::rotate(table.begin() + static_cast<std::ptrdiff_t>(i),
                            table.begin() + static_cast<std::ptrdiff_t>(j),
                            table.begin() + static_cast<std::ptrdiff_t>(j) + 1);
                break;
            }
        }
    }
}

std::string TableExtensions(const SignatureTable& table) {
    std::unordered_set<std::string> seen;
    std::string out;
    for (const auto& row : table) {
        std::string ext = row.Extension;
        std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
        if (seen.insert(ext).second) out += ext;
    }
    return out;
}

}  // namespace hx::scan
