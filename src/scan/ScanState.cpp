#include "scan/ScanState.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>

namespace hx::scan {

namespace fs = std::filesystem;

namespace {

std::string upper(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::toupper(c); });
    return s;
}

std::vector<std::string> split(const std::string& text, char sep) {
    std::vector<std::string> out;
    std::string item;
    std::istringstream in(text);
    while (std::getline(in, item, sep))
        if (!item.empty()) out.push_back(item);
    return out;
}

const char* const kRawList =
    ".CRW.CR2.DNG.NEF.RAW.RAF.X3F.ORF.SRF.MRW.DCR.BAY.PEF.TIFF.TIF.SR2.ARW.RW2.FOVb.MEW.RAW.RDC.KDC.DCR.RDC.3FR.MEF";

}  // namespace

bool SaveScanState(const fs::path& cacheFolder, const ScanContext& ctx) {
    std::ofstream out(cacheFolder / kScanStateFile, std::ios::trunc);
    if (!out) return false;
    out << "drive\t" << ctx.resumeDrive << "\n";
    out << "next\t" << ctx.resumeUnit << "\n";
    out << "open\t" << (ctx.lastFileOpen ? 1 : 0) << "\n";
    for (std::size_t i = 0; i < ctx.FoundNames.size(); ++i) {
        const FoundFile f = i < ctx.found.size() ? ctx.found[i] : FoundFile{};
        out << "file\t" << ctx.FoundNames[i] << "\t" << f.extension << "\t" << f.description << "\t" << f.startUnit
            << "\t" << f.size << "\t" << (i < ctx.FoundSizes.size() ? ctx.FoundSizes[i] : 0.0f) << "\n";
    }
    return static_cast<bool>(out);
}

bool LoadScanState(const fs::path& cacheFolder, ScanContext& ctx) {
    std::ifstream in(cacheFolder / kScanStateFile);
    if (!in) return false;
    ctx.FoundNames.clear();
    ctx.FoundSizes.clear();
    ctx.found.clear();
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> f;
        std::string item;
        std::istringstream fields(line);
        while (std::getline(fields, item, '\t')) f.push_back(item);
        if (f.size() < 2) continue;
        try {
            if (f[0] == "drive") ctx.resumeDrive = f[1];
            else if (f[0] == "next") ctx.resumeUnit = std::stoull(f[1]);
            else if (f[0] == "open") ctx.lastFileOpen = f[1] == "1";
            else if (f[0] == "file" && f.size() >= 7) {
                ctx.FoundNames.push_back(f[1]);
                ctx.found.push_back(FoundFile{f[1], f[2], f[3], std::stoull(f[4]), std::stoull(f[5])});
                ctx.FoundSizes.push_back(std::stof(f[6]));
            }
        } catch (const std::exception&) {
            // A damaged state file resumes nothing.
            ctx.resumeUnit = 0;
        }
    }
    return true;
}

std::string SelectionForTypes(const std::vector<std::string>& types) {
    std::string selection;
    const SignatureTable all = BuildSignatureTable("all");
    for (const auto& t : types) {
        std::string ext = upper(t);
        if (!ext.empty() && ext[0] == '.') ext.erase(0, 1);
        for (const auto& row : all) {
            if (upper(row.Extension.substr(1)) != ext) continue;
            if (selection.find(row.key()) == std::string::npos) selection += row.key();
        }
    }
    return selection + "|";
}

std::vector<std::string> PresetTypes(const std::string& preset) {
    std::string raw = kRawList;
    std::replace(raw.begin(), raw.end(), '.', ',');
    static const std::vector<std::pair<std::string, std::string>> presets = {
        {"Canon", "CRW,CR2,TIF,THM,JPG"},
        {"Nikon", "NEF,JPG,TIF"},
        {"Minolta", "MRW,JPE,THM,JPG"},
        {"Sony", "SRF,JPG,TIF,ARW,SR2"},
        {"Panasonic", "RAW,RW2,JPG,TIF"},
        {"Pentax", "PEF,JPG,TIF"},
        {"Sigma", "X3F,JPG,TIF"},
        {"Olympus", "ORF,JPG,TIF"},
        {"Fuji", "RAF,JPG,TIF"},
        {"Kodak", "KDC,DCR,JPG,TIF"},
        {"Rollei", "RDC,JPG,TIF"},
        {"Samsung", "DNG,JPG,TIF"},
        {"Leica", "DNG,RAW,JPG,TIF"},
        {"Hasselblad", "3FR,DNG,JPG,TIF"},
        {"Mamiya", "MEF"},
        {"All camera's", raw + ",THM,JPG,JPE,"},
        {"Unlisted camera", "JPG,JPE,TIF"},
        {"All picture types",
         "CR2,CRW,DCR,DNG,JBF,ARW,MRW,NEF,ORF,PCX,PEF,PIXAR,PIX,PSP,RAF,X3F,SRF,RW2,JPE,JPG,JPEG,THM,ICO,WMF,BMP,CUR,"
         "PNG,GIF,TIF,TIFF,KDC,JFIF,3FR,RDC,RAW,KDC,SR2,MEF,CDR"},
        {"All raw types", raw},
        {"All sound types", "MP3,WAV"},
        {"All data types", "PDF,ZIP,RAR,DOC,PST,CAB,WK4,MDB,SWF"},
        {"All movie types", "MPG,AVI,WMV,MOV,ASF"},
    };
    for (const auto& [name, list] : presets)
        if (upper(name) == upper(preset)) return split(list, ',');
    return {};
}

}  // namespace hx::scan
