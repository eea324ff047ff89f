#include "filesystems/DirEntCache.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <iterator>

namespace hx::filesystems {

namespace {

void put16(std::vector<std::uint8_t>& o, std::uint16_t v) {
    o.push_back(static_cast<std::uint8_t>(v));
    o.push_back(static_cast<std::uint8_t>(v >> 8));
}
void put32(std::vector<std::uint8_t>& o, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) o.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void putDouble(std::vector<std::uint8_t>& o, double d) {
    std::uint64_t bits;
    std::memcpy(&bits, &d, 8);
    for (int i = 0; i < 8; ++i) o.push_back(static_cast<std::uint8_t>(bits >> (8 * i)));
}
void putString(std::vector<std::uint8_t>& o, const std::string& s) {
    const std::size_t n = std::min<std::size_t>(s.size(), 0xFFFF);
    put16(o, static_cast<std::uint16_t>(n));
    o.insert(o.end(), s.begin(), s.begin() + static_cast<std::ptrdiff_t>(n));
}

// A reader whose reads past the end give zeros and empty strings.
struct Reader {
    const std::uint8_t* d;
    std::size_t size;
    std::size_t& pos;
    std::uint64_t take(int bytes) {
        std::uint64_t v = 0;
        for (int i = 0; i < bytes; ++i, ++pos)
            if (pos < size) v |= static_cast<std::uint64_t>(d[pos]) << (8 * i);
        pos = std::min(pos, size);
        return v;
    }
    std::string str() {
        const std::size_t n = static_cast<std::size_t>(take(2));
        const std::size_t avail = std::min(n, size - pos);
        std::string s(reinterpret_cast<const char*>(d + pos), avail);
        pos += avail;
        return s;
    }
    double date() {
        const std::uint64_t bits = take(8);
        double v;
        std::memcpy(&v, &bits, 8);
        return v == v ? v : 0;  // a NaN from a damaged file reads as no date
    }
};

}  // namespace

void EncodeUndeleteEntry(const UndeleteEntry& e, std::vector<std::uint8_t>& o) {
    putString(o, e.FileName);
    putString(o, e.ListName);
    putString(o, e.FolderPath);
    put32(o, e.RecordNumber);
    putDouble(o, e.Created);
    putDouble(o, e.Accessed);
    putDouble(o, e.Modified);
    put32(o, e.FirstCluster);
    put32(o, static_cast<std::uint32_t>(e.Size));  // callers keep sizes past 4 GiB out of these files
    put32(o, static_cast<std::uint32_t>(e.ListSize));
    put32(o, e.Attributes);
    put16(o, static_cast<std::uint16_t>(e.Overwritten));
}

bool DecodeUndeleteEntry(const std::uint8_t* data, std::size_t size, std::size_t& pos, UndeleteEntry& e) {
    if (pos >= size) return false;
    Reader r{data, size, pos};
    e = UndeleteEntry{};
    e.FileName = r.str();
    e.ListName = r.str();
    e.FolderPath = r.str();
    e.RecordNumber = static_cast<std::uint32_t>(r.take(4));
    e.Created = r.date();
    e.Accessed = r.date();
    e.Modified = r.date();
    e.FirstCluster = static_cast<std::uint32_t>(r.take(4));
    e.Size = r.take(4);
    e.ListSize = r.take(4);
    e.Attributes = static_cast<std::uint32_t>(r.take(4));
    e.Overwritten = static_cast<std::int16_t>(r.take(2));
    return true;
}

std::filesystem::path DirEntCachePath(const std::filesystem::path& workFolder, const std::string& drive) {
    std::string name;
    for (char c : drive) name += (std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-') ? c : '_';
    while (!name.empty() && name.front() == '_') name.erase(0, 1);
    return workFolder / (name + "DirEnt.dat");
}

bool WriteDirEntCache(const std::filesystem::path& file, const std::vector<UndeleteEntry>& entries,
                      const MediumValues& medium) {
    // Sizes are stored in 32 bits: a list holding a file of 4 GiB or more is
    // not cached, so that no size is ever read back short.
    for (const auto& e : entries)
        if (!FitsUndeleteEncoding(e)) return false;
    std::vector<std::uint8_t> o;
    put32(o, static_cast<std::uint32_t>(entries.size()) - 1u);
    put32(o, medium.a);
    put32(o, medium.b);
    for (const auto& e : entries) EncodeUndeleteEntry(e, o);
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(o.data()), static_cast<std::streamsize>(o.size()));
    return out.good();
}

bool ReadDirEntCache(const std::filesystem::path& file, const MediumValues& medium,
                     std::vector<UndeleteEntry>& entries) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return false;
    const std::vector<std::uint8_t> d((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    in.close();
    std::size_t pos = 0;
    Reader r{d.data(), d.size(), pos};
    const auto highest = static_cast<std::int32_t>(r.take(4));
    const auto a = static_cast<std::uint32_t>(r.take(4));
    const auto b = static_cast<std::uint32_t>(r.take(4));
    std::vector<UndeleteEntry> list;
    if (a == medium.a && b == medium.b && highest >= 0) {
        // Every entry takes at least 50 bytes: a count beyond that is damage.
        const std::size_t count = std::min<std::size_t>(static_cast<std::size_t>(highest) + 1, d.size() / 50 + 1);
        UndeleteEntry e;
        for (std::size_t i = 0; i < count && DecodeUndeleteEntry(d.data(), d.size(), pos, e); ++i) list.push_back(e);
    }
    if (list.size() < kDirEntCacheMinimum) {
        std::error_code ec;
        std::filesystem::remove(file, ec);
        return false;
    }
    entries = std::move(list);
    return true;
}

bool CachedListing::read(const std::filesystem::path& workFolder, const std::string& drive,
                         const MediumValues& medium, std::vector<UndeleteEntry>& entries) {
    file_ = workFolder.empty() ? std::filesystem::path() : DirEntCachePath(workFolder, drive);
    std::error_code ec;
    fromCache_ = !file_.empty() && std::filesystem::exists(file_, ec) && ReadDirEntCache(file_, medium, entries);
    return fromCache_;
}

void CachedListing::write(const std::vector<UndeleteEntry>& entries, const MediumValues& medium,
                          bool worthKeeping) const {
    if (!fromCache_ && !file_.empty() && worthKeeping) WriteDirEntCache(file_, entries, medium);
}

}  // namespace hx::filesystems
