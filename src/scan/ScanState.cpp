#include "scan/ScanState.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>

#include "platform/ByteOrder.h"
#include "shell/QuietUi.h"
#include "shell/Text.h"

namespace hx::scan {

namespace fs = std::filesystem;

bool SaveScanState(const fs::path& cacheFolder, const ScanContext& ctx) {
    std::ofstream out(cacheFolder / kScanStateFile, std::ios::trunc);
    if (!out) return false;
    // Every number is a whole number of units or bytes, written in full.
    out << "version\t" << kScanStateVersion << "\n";
    out << "drive\t" << ctx.resumeDrive << "\n";
    out << "next\t" << ctx.resumeUnit << "\n";
    out << "open\t" << (ctx.lastFileOpen ? 1 : 0) << "\n";
    for (const FoundFile& f : ctx.found) {
        out << "file\t" << f.name << "\t" << f.extension << "\t" << f.description << "\t" << f.startUnit << "\t"
            << f.size << "\t" << f.listedSize;
        // A find that holds unreadable sectors: how many, and the byte of the
        // first; a clip rebuilt from pieces: how many, after those two.
        // After those, 1 for a clip whose index was made again.
        if (f.unreadableSectors > 0 || f.pieces > 1 || f.indexRebuilt)
            out << "\t" << f.unreadableSectors << "\t" << f.firstUnreadable;
        if (f.pieces > 1 || f.indexRebuilt) out << "\t" << f.pieces;
        if (f.indexRebuilt) out << "\t" << static_cast<int>(f.indexRebuilt);
        out << "\n";
        // A clip cut short: how far it plays, of how long (tenths of seconds).
        if (f.lasts > 0)
            out << "incomplete\t" << static_cast<std::uint64_t>(f.plays * 10 + 0.5) << "\t"
                << static_cast<std::uint64_t>(f.lasts * 10 + 0.5) << "\n";
        // A photo of more than one picture: its parts (kind,offset,length;...) and the kinds missing.
        if (f.parts.size() > 1 || !f.partsMissing.empty()) {
            out << "parts\t";
            for (const formats::PhotoPart& p : f.parts)
                out << static_cast<int>(p.kind) << "," << p.offset << "," << p.length << ";";
            out << "\t";
            for (formats::PartKind k : f.partsMissing) out << static_cast<int>(k) << ";";
            out << "\n";
        }
    }
    for (const auto& [first, count] : ctx.unreadable) out << "unreadable\t" << first << "\t" << count << "\n";
    // The row count last: a file cut short lacks it.
    out << "end\t" << ctx.found.size() << "\n";
    return static_cast<bool>(out);
}

namespace {

// A whole number written out in decimal digits, nothing else.
std::optional<std::uint64_t> wholeNumber(const std::string& text) {
    if (text.empty() || text.size() > 20 || text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    errno = 0;
    const unsigned long long v = std::strtoull(text.c_str(), nullptr, 10);
    if (errno == ERANGE) return std::nullopt;
    return v;
}

// The cut size of a row. Earlier versions of the program wrote it with six
// significant digits ("2.34567e+06"): such a size is no longer known and the
// file is ended by its own end rule (0) instead of being cut short.
std::optional<std::uint64_t> cutSize(const std::string& text) {
    if (auto exact = wholeNumber(text)) return exact;
    char* end = nullptr;
    const double rounded = std::strtod(text.c_str(), &end);
    if (text.empty() || !end || *end != '\0' || !(rounded >= 0)) return std::nullopt;
    return 0;
}

// A "parts" row: kind,offset,length; ... and the missing kinds k; ...
bool readParts(const std::vector<std::string>& f, FoundFile& found) {
    constexpr int kLastKind = static_cast<int>(formats::PartKind::Trailer);
    constexpr std::size_t kMaxParts = 64;
    if (f.size() < 2 || f.size() > 3) return false;
    auto items = [](const std::string& text) {
        std::vector<std::string> out;
        std::string item;
        std::istringstream in(text);
        while (std::getline(in, item, ';'))
            if (!item.empty()) out.push_back(item);
        return out;
    };
    found.parts.clear();
    found.partsMissing.clear();
    for (const std::string& part : items(f[1])) {
        const auto c1 = part.find(','), c2 = part.rfind(',');
        if (c1 == std::string::npos || c1 == c2) return false;
        const auto kind = wholeNumber(part.substr(0, c1));
        const auto offset = wholeNumber(part.substr(c1 + 1, c2 - c1 - 1));
        const auto length = wholeNumber(part.substr(c2 + 1));
        if (!kind || !offset || !length || *kind > kLastKind || *length > ~0ull - *offset ||
            found.parts.size() >= kMaxParts)
            return false;
        found.parts.push_back({static_cast<formats::PartKind>(*kind), *offset, *length});
    }
    for (const std::string& item : f.size() == 3 ? items(f[2]) : std::vector<std::string>{}) {
        const auto kind = wholeNumber(item);
        if (!kind || *kind > kLastKind || found.partsMissing.size() >= kMaxParts) return false;
        found.partsMissing.push_back(static_cast<formats::PartKind>(*kind));
    }
    return true;
}

}  // namespace

namespace {

void forgetState(ScanContext& ctx) {
    ctx.found.clear();
    ctx.resumeUnit = 0;
    ctx.lastFileOpen = false;
    ctx.unreadable.clear();
    ctx.unreadableSectors = 0;
    ctx.unreadableList.clear();
}

// A "file" line: name, extension, description, start, size, cut, then
// (later versions) unreadable sectors and the first, pieces, and how the index was rebuilt.
bool readFile(const std::vector<std::string>& f, ScanContext& ctx) {
    const bool fits = f.size() == 7 || f.size() == 9 || f.size() == 10 || (f.size() == 11 && (f[10] == "1" || f[10] == "2"));
    const auto start = fits ? wholeNumber(f[4]) : std::nullopt;
    const auto size = fits ? wholeNumber(f[5]) : std::nullopt;
    const auto cut = fits ? cutSize(f[6]) : std::nullopt;
    const auto unreadable = f.size() >= 9 ? wholeNumber(f[7]) : std::optional<std::uint64_t>(0);
    const auto firstUnreadable = f.size() >= 9 ? wholeNumber(f[8]) : std::optional<std::uint64_t>(0);
    const auto pieces = f.size() >= 10 ? wholeNumber(f[9]) : std::optional<std::uint64_t>(0);
    // A found file's name is a plain name in the cache folder.
    const bool plainName = f[1] != "." && f[1] != ".." && f[1].find('/') == std::string::npos;
    if (!start || !size || !cut || !unreadable || !firstUnreadable || !pieces || *pieces > 1000 || f[1].empty() || !plainName)
        return false;
    FoundFile& found = ctx.found.emplace_back();
    found.name = f[1];
    found.extension = f[2];
    found.description = f[3];
    found.startUnit = *start;
    found.size = *size;
    found.listedSize = *cut;
    found.unreadableSectors = *unreadable;
    found.firstUnreadable = *firstUnreadable;
    found.pieces = static_cast<int>(*pieces);
    found.indexRebuilt = f.size() == 11 ? static_cast<std::uint8_t>(f[10] == "2" ? 2 : 1) : 0;
    return true;
}

// "incomplete PLAYS LASTS", in tenths of a second, of the file before.
bool readIncomplete(const std::vector<std::string>& f, ScanContext& ctx) {
    const auto plays = f.size() == 3 ? wholeNumber(f[1]) : std::nullopt;
    const auto lasts = f.size() == 3 ? wholeNumber(f[2]) : std::nullopt;
    if (ctx.found.empty() || !plays || !lasts || *lasts == 0 || *plays > *lasts) return false;
    ctx.found.back().plays = static_cast<double>(*plays) / 10;
    ctx.found.back().lasts = static_cast<double>(*lasts) / 10;
    return true;
}

bool readUnreadable(const std::vector<std::string>& f, const fs::path& cacheFolder, ScanContext& ctx) {
    const auto first = f.size() == 3 ? wholeNumber(f[1]) : std::nullopt;
    const auto count = f.size() == 3 ? wholeNumber(f[2]) : std::nullopt;
    if (!first || !count || *count == 0 || *count > ~0ull - ctx.unreadableSectors) return false;
    ctx.unreadable[*first] = *count;
    ctx.unreadableSectors += *count;
    ctx.unreadableList = cacheFolder / kUnreadableFile;
    return true;
}

}  // namespace

ScanStateLoad LoadScanState(const fs::path& cacheFolder, ScanContext& ctx) {
    forgetState(ctx);
    ctx.resumeDrive.clear();
    std::ifstream in(cacheFolder / kScanStateFile);
    if (!in) return ScanStateLoad::None;

    bool versioned = false, ended = false, haveNext = false, haveDrive = false;
    bool damaged = false;
    std::uint64_t rowsAtEnd = 0;
    std::string line;
    while (!damaged && std::getline(in, line)) {
        if (line.empty()) continue;
        std::vector<std::string> f;
        std::string item;
        std::istringstream fields(line);
        while (std::getline(fields, item, '\t')) f.push_back(item);
        if (ended || f.size() < 2) {
            damaged = true;
        } else if (f[0] == "version") {
            versioned = true;
        } else if (f[0] == "drive") {
            ctx.resumeDrive = f[1];
            haveDrive = true;
        } else if (f[0] == "next") {
            const auto v = wholeNumber(f[1]);
            damaged = !v;
            ctx.resumeUnit = v.value_or(0);
            haveNext = true;
        } else if (f[0] == "open") {
            damaged = f[1] != "0" && f[1] != "1";
            ctx.lastFileOpen = f[1] == "1";
        } else if (f[0] == "file") {
            damaged = !readFile(f, ctx);
        } else if (f[0] == "incomplete") {
            damaged = !readIncomplete(f, ctx);
        } else if (f[0] == "parts") {
            damaged = ctx.found.empty() || !readParts(f, ctx.found.back());
        } else if (f[0] == "unreadable") {
            damaged = !readUnreadable(f, cacheFolder, ctx);
        } else if (f[0] == "end") {
            const auto v = wholeNumber(f[1]);
            damaged = !v;
            rowsAtEnd = v.value_or(0);
            ended = true;
        } else {
            damaged = true;
        }
    }
    if (!haveDrive || !haveNext) damaged = true;
    if (versioned && (!ended || rowsAtEnd != ctx.found.size())) damaged = true;
    if (!damaged) return ScanStateLoad::Loaded;
    forgetState(ctx);
    return ScanStateLoad::Damaged;
}

std::map<std::string, std::string> DamagedFinds(const fs::path& cacheFolder, std::map<std::string, std::string>* rebuilt,
                                                std::set<std::string>* withClip) {
    std::map<std::string, std::string> damaged;
    if (rebuilt) rebuilt->clear();
    if (withClip) withClip->clear();
    shell::QuietUi quiet;
    ScanContext state(quiet);
    if (LoadScanState(cacheFolder, state) != ScanStateLoad::Loaded) return damaged;
    for (const FoundFile& f : state.found) {
        if (f.unreadableSectors > 0) damaged[f.name] = DamageText(f);
        if (withClip && std::any_of(f.parts.begin(), f.parts.end(),
                                    [](const formats::PhotoPart& p) { return p.kind == formats::PartKind::Clip; }))
            withClip->insert(f.name);
        if (!rebuilt) continue;
        std::string said = RebuiltText(f);
        const std::string parts = PartsText(f, cacheFolder / f.name);
        if (!parts.empty()) said += (said.empty() ? "" : "; ") + parts;
        if (!said.empty()) (*rebuilt)[f.name] = said;
    }
    return damaged;
}

bool ScanStateFitsMedium(const ScanContext& state, std::uint64_t mediumBytes) {
    if (mediumBytes == 0) return true;
    return std::none_of(state.found.begin(), state.found.end(), [mediumBytes](const FoundFile& f) {
        return f.size > mediumBytes || f.listedSize > mediumBytes;
    });
}

bool WriteSearchedFile(const fs::path& cacheFolder, const std::string& drive, std::uint32_t serial) {
    std::ofstream out(cacheFolder / kSearchedFile, std::ios::binary | std::ios::trunc);
    const char le[4] = {static_cast<char>(serial), static_cast<char>(serial >> 8), static_cast<char>(serial >> 16),
                        static_cast<char>(serial >> 24)};
    out.write(drive.data(), static_cast<std::streamsize>(drive.size()));
    out.write(le, 4);
    return static_cast<bool>(out);
}

bool ReadSearchedFile(const fs::path& cacheFolder, std::size_t driveLength, std::string& drive, std::uint32_t& serial) {
    std::ifstream in(cacheFolder / kSearchedFile, std::ios::binary);
    if (!in || driveLength > 4096) return false;
    std::string bytes(driveLength + 4, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (in.gcount() != static_cast<std::streamsize>(bytes.size())) return false;
    drive = bytes.substr(0, driveLength);
    const auto* s = reinterpret_cast<const std::uint8_t*>(bytes.data() + driveLength);
    serial = platform::Le32(s);
    return true;
}

std::string SelectionForTypes(const std::vector<std::string>& types) {
    std::string selection;
    const std::vector<formats::SignatureRow> all = formats::EveryRow();
    for (const auto& t : types) {
        std::string ext = shell::ToUpper(t);
        if (!ext.empty() && ext[0] == '.') ext.erase(0, 1);
        for (const auto& row : all) {
            if (shell::ToUpper(row.Extension.substr(1)) != ext) continue;
            if (selection.find(row.key()) == std::string::npos) selection += row.key();
        }
    }
    return selection + "|";
}

}  // namespace hx::scan
