#include "learning/AdaptiveRecord.h"

#include <fstream>
#include <iterator>

#include "shell/Text.h"

namespace hx::learning {

namespace fs = std::filesystem;

namespace {

class Writer {
public:
    void text(const std::string& s) {
        u16(static_cast<std::uint16_t>(s.size()));
        out_ += s;
    }
    void fixed(const std::string& s, std::size_t n) {
        std::string f = s.substr(0, n);
        f.resize(n, ' ');
        out_ += f;
    }
    void u16(std::uint16_t v) {
        out_ += static_cast<char>(v & 0xff);
        out_ += static_cast<char>(v >> 8);
    }
    void u32(std::uint32_t v) {
        for (int i = 0; i < 4; ++i) out_ += static_cast<char>((v >> (8 * i)) & 0xff);
    }
    std::string out_;
};

// Reads what is there; past the end everything is empty or 0.
class Reader {
public:
    explicit Reader(const std::string& in) : in_(in) {}
    std::string text() {
        const std::size_t n = u16();
        return take(n);
    }
    std::string fixed(std::size_t n) { return take(n); }
    std::uint16_t u16() {
        const std::string b = take(2);
        if (b.size() < 2) return 0;
        return static_cast<std::uint16_t>(static_cast<std::uint8_t>(b[0]) | (static_cast<std::uint8_t>(b[1]) << 8));
    }
    std::uint32_t u32() {
        const std::string b = take(4);
        if (b.size() < 4) return 0;
        std::uint32_t v = 0;
        for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<std::uint8_t>(b[i]);
        return v;
    }

private:
    std::string take(std::size_t n) {
        if (at_ >= in_.size()) return {};
        const std::string s = in_.substr(at_, n);
        at_ += n;
        return s.size() == n ? s : std::string();  // a cut field reads as empty
    }
    const std::string& in_;
    std::size_t at_ = 0;
};

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool writeFile(const fs::path& path, const std::string& bytes) {
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

}  // namespace

std::string EncodeAdaptiveRecord(const AdaptiveTypeRecord& r) {
    Writer w;
    w.text(r.Extension);
    w.fixed(r.DisplayName, 10);
    for (const auto* patterns : {&r.HeadPattern, &r.BodyPattern, &r.TailPattern, &r.TailBody})
        for (const auto& p : *patterns) w.text(p);
    for (auto v : r.SizeOffset) w.u16(static_cast<std::uint16_t>(v));
    for (auto v : r.SizeKind) w.u16(static_cast<std::uint16_t>(v));
    for (const auto& p : r.ExtraPattern1) w.text(p);
    for (const auto& p : r.ExtraPattern2) w.text(p);
    for (auto v : r.Hits) w.u32(static_cast<std::uint32_t>(v));
    for (auto v : r.Samples) w.u32(static_cast<std::uint32_t>(v));
    w.u16(static_cast<std::uint16_t>(r.CurrentSlot));
    for (auto v : r.TailStart) w.u32(static_cast<std::uint32_t>(v));
    return w.out_;
}

AdaptiveTypeRecord DecodeAdaptiveRecord(const std::string& bytes) {
    AdaptiveTypeRecord r;
    if (bytes.empty()) return r;
    Reader in(bytes);
    r.Extension = in.text();
    r.DisplayName = in.fixed(10);
    for (auto* patterns : {&r.HeadPattern, &r.BodyPattern, &r.TailPattern, &r.TailBody})
        for (auto& p : *patterns) p = in.text();
    for (auto& v : r.SizeOffset) v = static_cast<std::int16_t>(in.u16());
    for (auto& v : r.SizeKind) v = static_cast<std::int16_t>(in.u16());
    for (auto& p : r.ExtraPattern1) p = in.text();
    for (auto& p : r.ExtraPattern2) p = in.text();
    for (auto& v : r.Hits) v = static_cast<std::int32_t>(in.u32());
    for (auto& v : r.Samples) v = static_cast<std::int32_t>(in.u32());
    r.CurrentSlot = static_cast<std::int16_t>(in.u16());
    for (auto& v : r.TailStart) v = static_cast<std::int32_t>(in.u32());
    return r;
}

std::string EncodeSampleLog(const AdaptiveSampleLog& log) {
    Writer w;
    w.fixed(log.Extension, 5);
    for (const auto& h : log.SampleHead) w.text(h);
    for (const auto& b : log.SampleBlock) w.text(b);
    w.u16(static_cast<std::uint16_t>(log.NextIndex));
    return w.out_;
}

AdaptiveSampleLog DecodeSampleLog(const std::string& bytes) {
    AdaptiveSampleLog log;
    if (bytes.empty()) return log;
    Reader in(bytes);
    log.Extension = in.fixed(5);
    for (auto& h : log.SampleHead) h = in.text();
    for (auto& b : log.SampleBlock) b = in.text();
    log.NextIndex = static_cast<std::int16_t>(in.u16());
    if (log.NextIndex < 0 || log.NextIndex >= kSampleLogEntries) log.NextIndex = 0;
    return log;
}

AdaptiveTypeRecord LoadAdaptiveRecord(const fs::path& folder, const std::string& fileName) {
    return DecodeAdaptiveRecord(readFile(folder / fileName));
}

bool SaveAdaptiveRecord(const fs::path& folder, const std::string& fileName, const AdaptiveTypeRecord& record) {
    return writeFile(folder / fileName, EncodeAdaptiveRecord(record));
}

bool LogSample(const fs::path& folder, const std::string& type, const std::string& head, const std::string& block) {
    const fs::path file = folder / SampleLogFileName(type);
    AdaptiveSampleLog log = DecodeSampleLog(readFile(file));
    log.Extension = "." + type;
    log.SampleHead[static_cast<std::size_t>(log.NextIndex)] = head;
    log.SampleBlock[static_cast<std::size_t>(log.NextIndex)] = block;
    log.NextIndex = static_cast<std::int16_t>((log.NextIndex + 1) % kSampleLogEntries);
    return writeFile(file, EncodeSampleLog(log));
}

std::string LearnedFileName(const std::string& type) { return "QX_" + type + ".dat"; }
std::string SampleLogFileName(const std::string& type) { return "QXAnalyze_" + type + ".dat"; }

std::string AdaptiveDisplayName(const std::string& extension) {
    std::string name = shell::Trim(shell::ToUpper(extension.size() > 1 ? extension.substr(1) : extension).substr(0, 8));
    name.resize(10, ' ');
    return name;
}

}  // namespace hx::learning
