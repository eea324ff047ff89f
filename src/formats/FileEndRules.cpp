// The file-end rules of the formats that have one.
#include <algorithm>
#include <cctype>
#include <string_view>
#include <vector>

#include "platform/ByteOrder.h"
#include "platform/RawFile.h"
#include "formats/FileEndRule.h"
#include "formats/Ole2End.h"
#include "formats/TiffEnd.h"
#include "formats/FileStructure.h"
#include "formats/Formats.h"
#include "formats/PhotoTail.h"
#include "formats/PictureCheck.h"
#include "formats/iso/IsoBoxes.h"
#include "shell/Text.h"

namespace hx::formats {

namespace {

namespace fs = std::filesystem;

// A found JPEG's first bytes (its headers) are kept to check the picture without reading it back.
constexpr std::size_t kHead = 256 * 1024;


std::size_t find(const std::uint8_t* data, std::size_t size, std::string_view what, std::size_t from = 0) {
    return std::string_view(reinterpret_cast<const char*>(data), size).find(what, from);
}

// A file kept as written for now; `check` tells the rest once it is written whole.
EndVerdict later(LaterCheck check) {
    EndVerdict verdict;
    verdict.later = std::move(check);
    return verdict;
}

// A JPEG ends at its end marker, followed through its segments as it is
// written; a decode tells a picture from junk.
class JpegEndRule : public FileEndRule {
public:
    std::size_t unit(const std::uint8_t* data, std::size_t size, bool& ends) override {
        // Past the picture: what its headers or the bytes there say still belongs to the file.
        if (tail_.started()) return tail_.feed(data, size, ends);
        std::size_t keep = size;
        if (!finder_.failed()) {
            const std::size_t n = finder_.feed(data, size);
            if (finder_.done()) {
                keep = n;
                if (!headDone_ && head_.size() < kHead)
                    head_.insert(head_.end(), data, data + std::min(keep, kHead - head_.size()));
                headDone_ = true;
                tail_.start(formats::PartsNamedInHeaders(head_.data(), head_.size(), finder_.length()),
                            finder_.length());
                return n + tail_.feed(data + n, size - n, ends);
            }
        }
        if (!headDone_ && head_.size() < kHead)
            head_.insert(head_.end(), data, data + std::min(keep, kHead - head_.size()));
        if (finder_.scanStarted()) headDone_ = true;  // enough to check the picture
        return keep;
    }
    // A listed photo whose markers walk cleanly to its end marker needs no
    // decode to show that it is whole.
    void listedUnit(const std::uint8_t* data, std::size_t size) override {
        bool ends = false;
        unit(data, size, ends);
    }
    bool insideStructure() const override { return finder_.insideSegment() || tail_.inPart(); }
    void resumedMidFile() override {
        // The marker walk cannot pick up mid-file: the full decode finds the end.
        const std::uint8_t notJpeg = 0;
        finder_ = formats::JpegEndFinder();
        finder_.feed(&notJpeg, 1);
        head_.clear();
        headDone_ = true;
    }
    EndVerdict closed(const ClosedFile& file) override {
        // Decoded as the renderer would: no picture at all is junk. When the
        // markers led to the end marker the first rows tell a picture from
        // junk; otherwise a full decode finds the end.
        // Markers that reach an end marker over blank bytes went over a gap.
        const bool endKnown = finder_.done() && !finder_.sawBlank();
        // Markers that broke leave no doubt that the picture is damaged:
        // its entropy data only tells where.
        const bool confirm = !finder_.failed();
        if (!endKnown) {
            if (file.checkLater && file.minBytes <= 0) {
                // The headers and first rows tell now that it is a picture;
                // where its data ends or goes wrong is found while the scan reads on.
                formats::JpegEntropy entropy;
                const formats::JpegCheck first = formats::CheckJpegBuffer(head_.data(), head_.size(), true);
                if (first.decodes && entropy.readHeaders(head_.data(), head_.size())) {
                    EndVerdict verdict = later([confirm, listed = file.listedSize, written = file.written](const fs::path& path) {
                        return decodedWhole(path, confirm, listed, written, 0);
                    });
                    verdict.damaged = true;  // until the check says otherwise
                    return verdict;
                }
            }
            file.settle();
            return decodedWhole(file.path, confirm, file.listedSize, file.written, file.minBytes);
        }
        formats::JpegCheck check = formats::CheckJpegBuffer(head_.data(), head_.size(), true);
        if (check.ranOut && head_.size() < file.written) {
            file.settle();
            check = formats::CheckJpegFile(file.path.string(), true);
        }
        if (!check.decodes) return {false, 0};
        const std::vector<formats::PhotoPart> parts = tail_.parts();
        if (parts.empty())
            return lengthVerdict(finder_.length(), false, ~0ull, nullptr, file.listedSize, file.written, file.minBytes);
        // More than one picture: each part is checked by its own structure once written.
        auto whole = [parts, picture = finder_.length(), listed = file.listedSize, written = file.written,
                      minBytes = file.minBytes](const fs::path& path) {
            return withParts(path, parts, picture, listed, written, minBytes);
        };
        if (file.checkLater && file.minBytes <= 0) return later(whole);
        file.settle();
        return whole(file.path);
    }

private:
    using Marks = std::shared_ptr<const std::vector<formats::JpegEntropy::Mark>>;

    // Decoded whole from the written file (its markers did not lead to its
    // end): a fault on the way may be where the file system split it.
    static EndVerdict decodedWhole(const fs::path& path, bool confirmFaults, std::uint64_t listedSize,
                                   std::uint64_t written, double minBytes) {
        std::vector<formats::JpegEntropy::Mark> marks;
        const formats::JpegCheck check = formats::CheckJpegFileData(path.string(), confirmFaults, &marks);
        if (!check.decodes) return {false, 0};
        const bool damaged = !check.complete || check.warnings > 0;
        Marks kept;
        if (damaged && !marks.empty()) kept = std::make_shared<const std::vector<formats::JpegEntropy::Mark>>(std::move(marks));
        return lengthVerdict(check.complete ? check.end : 0, damaged, damaged ? check.firstFault : ~0ull, kept,
                             listedSize, written, minBytes);
    }

    static EndVerdict withParts(const fs::path& path, const std::vector<formats::PhotoPart>& parts,
                                std::uint64_t picture, std::uint64_t listedSize, std::uint64_t written,
                                double minBytes) {
        platform::RawFile f;
        if (!f.open(path, platform::RawFile::Mode::Read))
            return lengthVerdict(picture, false, ~0ull, nullptr, listedSize, written, minBytes);
        const formats::PartsCheck check = formats::CheckPhotoParts(
            [&f](std::uint64_t offset, std::size_t length, std::uint8_t* out) {
                return f.readAt(offset, out, length) == length;
            },
            written, picture, parts);
        EndVerdict verdict = lengthVerdict(check.end, false, ~0ull, nullptr, listedSize, written, minBytes);
        verdict.parts = check.parts;
        verdict.missing = check.missing;
        return verdict;
    }

    // A listed picture is as long as its listing says; too short a one is no find.
    static EndVerdict lengthVerdict(std::uint64_t end, bool damaged, std::uint64_t faultAt, Marks marks,
                                    std::uint64_t listedSize, std::uint64_t written, double minBytes) {
        if (end == 0 || listedSize > 0) return {true, 0, damaged, faultAt, marks};
        if (static_cast<double>(end) <= minBytes) return {false, 0};
        return {true, end < written ? end : 0, damaged, faultAt, marks};
    }

    formats::JpegEndFinder finder_;
    formats::PhotoTail tail_;
    std::vector<std::uint8_t> head_;
    bool headDone_ = false;
};

// TIFF-based raws end where their directories say; past that lie the cluster's slack and junk.
class TiffRawEndRule : public FileEndRule {
public:
    EndVerdict closed(const ClosedFile& file) override {
        if (file.listedSize > 0) return {};
        // Read back once the file is written whole, while the scan reads on.
        if (file.checkLater) return later([written = file.written](const fs::path& path) { return endOf(path, written); });
        file.settle();
        return endOf(file.path, file.written);
    }

private:
    static EndVerdict endOf(const fs::path& path, std::uint64_t written) {
        platform::RawFile f;
        if (!f.open(path, platform::RawFile::Mode::Read)) return {};
        const std::uint64_t end = formats::TiffFileEnd([&f](std::uint64_t offset, std::size_t length, std::uint8_t* out) {
            return f.readAt(offset, out, length) == length;
        });
        return {true, end > 0 && end < written ? end : 0};
    }
};

// Where the file's own layout ends (boxes, chunks, blocks, directory), read
// back from the written file without checksums or unpacking. A file whose
// layout cannot be followed (cut short by the next find, or of a variant not
// known) keeps what was written, unless its signature alone proves too little.
class StructureEndRule : public FileEndRule {
public:
    explicit StructureEndRule(bool needsStructure) : needsStructure_(needsStructure) {}
    // An ISO media file's boxes are followed as its units go by: a signature
    // inside one before its media data (the index's tables, whose numbers
    // may read as a movie's start under DeepScan's sectors) starts no file.
    // Inside the media data one may: the clip's samples may stop in place.
    std::size_t unit(const std::uint8_t* data, std::size_t size, bool&) override {
        if (past_) return size;
        boxes_.feed(data, size);
        // What follows the media data's start is not followed: the clip's
        // pieces may end in it, and other bytes may read as a box of any size.
        const std::string_view box = boxes_.within();
        past_ = boxes_.ended() || (!box.empty() && !headBox(box)) || boxes_.length() > kMaxHead;
        return size;
    }
    bool insideStructure() const override { return !past_ && headBox(boxes_.within()); }
    // Picked up mid-file, its boxes cannot be followed.
    void resumedMidFile() override { past_ = true; }
    EndVerdict closed(const ClosedFile& file) override {
        if (file.listedSize > 0) return {};
        // Kept whatever its layout says: where it ends is read while the scan reads on.
        if (file.checkLater && !needsStructure_ && file.minBytes <= 0)
            return later([written = file.written](const fs::path& path) { return endOf(path, written, false, 0); });
        file.settle();
        return endOf(file.path, file.written, needsStructure_, file.minBytes);
    }

private:
    static EndVerdict endOf(const fs::path& path, std::uint64_t written, bool needsStructure, double minBytes) {
        platform::RawFile f;
        if (!f.open(path, platform::RawFile::Mode::Read)) return {};
        const formats::FileStructure s = formats::ReadFileStructure(
            [&f](std::uint64_t offset, std::size_t length, std::uint8_t* out) {
                return f.readAt(offset, out, length) == length;
            },
            written, false);
        if (s.proof == formats::Proof::None) return {!needsStructure, 0};
        if (static_cast<double>(s.end) <= minBytes) return {false, 0};
        return {true, s.end < written ? s.end : 0};
    }

    // The boxes a clip or a picture opens with before its media data.
    static bool headBox(std::string_view type) {
        for (const std::string_view head : {"ftyp", "moov", "meta", "free", "skip", "wide", "uuid", "pnot"})
            if (type == head) return true;
        return false;
    }
    static constexpr std::uint64_t kMaxHead = 256ull << 20;

    bool needsStructure_;
    formats::IsoBoxFeed boxes_{kMaxHead};
    bool past_ = false;
};

// A Canon CRW names itself and its camera in its heap; its last sector holds
// 00 0A 30 with a zero byte 14 further on.
class CrwEndRule : public TiffRawEndRule {
public:
    explicit CrwEndRule(std::uint32_t bytesPerSector) : sector_(std::max<std::uint32_t>(bytesPerSector, 1)) {}

    std::size_t unit(const std::uint8_t* data, std::size_t size, bool& ends) override {
        const std::size_t mark = find(data, size, ".CRW");
        if (mark != std::string_view::npos && mark >= 8) {
            std::string name;
            for (std::size_t i = mark - 8; i < mark + 4 && i < size; ++i)
                if (data[i] != 0) name.push_back(static_cast<char>(data[i]));
            name = shell::Trim(name);
            if (!name.empty()) facts_.ownName = name;
            named_ = true;
            const bool ccd = find(data, size, "CCD") != std::string_view::npos;
            const std::size_t at = mark + 4 + (ccd ? 64 : 32);
            std::string model;
            for (std::size_t i = at; i < size && i < at + 32 && data[i] >= 0x20 && data[i] < 0x7F; ++i)
                model.push_back(static_cast<char>(data[i]));
            model = shell::Trim(model);
            if (!model.empty()) facts_.model = model;
        }
        if (!named_) return size;
        for (std::size_t s = size; s >= sector_; s -= sector_) {
            const std::size_t from = s - sector_;
            const std::size_t hit = find(data + from, sector_, std::string_view("\0\n0", 3));
            if (hit == std::string_view::npos) continue;
            const std::size_t zero = from + hit + 14;
            if (zero < size && data[zero] == 0) {
                ends = true;
                return zero + 1;
            }
            break;
        }
        return size;
    }

private:
    std::size_t sector_;
    bool named_ = false;
};

// A Fuji RAF names its camera in its header and says where its three parts
// lie (the JPEG preview, the CFA header, the sensor data): it ends with the
// last of them.
class RafEndRule : public FileEndRule {
public:
    std::size_t unit(const std::uint8_t* data, std::size_t size, bool& ends) override {
        if (!seen_ && size >= kHeader) {
            seen_ = true;
            if (std::string_view(reinterpret_cast<const char*>(data), 15) == "FUJIFILMCCD-RAW") {
                std::string model;
                for (std::size_t i = 28; i < 60 && data[i] >= 0x20 && data[i] < 0x7F; ++i)
                    model.push_back(static_cast<char>(data[i]));
                facts_.model = shell::Trim(model);
                for (std::size_t at = 84; at + 8 <= kHeader; at += 8)
                    end_ = std::max<std::uint64_t>(end_, static_cast<std::uint64_t>(platform::Be32(data + at)) +
                                                             platform::Be32(data + at + 4));
            }
        }
        if (end_ > 0 && written_ + size >= end_) {
            ends = true;
            const std::uint64_t keep = end_ - std::min(end_, written_);
            written_ += keep;
            return static_cast<std::size_t>(keep);
        }
        written_ += size;
        return size;
    }

private:
    static constexpr std::size_t kHeader = 108;
    bool seen_ = false;
    std::uint64_t end_ = 0;
    std::uint64_t written_ = 0;
};

// A compound document ends where its sector table says; one whose table
// cannot be followed ends after the sector that carries its class name.
class DocEndRule : public FileEndRule {
public:
    explicit DocEndRule(const std::uint8_t* first) : table_(first), structured_(table_.usable()) {}
    std::size_t unit(const std::uint8_t* data, std::size_t size, bool& ends) override {
        const std::size_t keep = table_.feed(data, size, ends);
        if (!structured_ && find(data, size, "MSWordDoc") != std::string_view::npos) ends = true;
        return keep;
    }

private:
    Ole2EndFinder table_;
    bool structured_;
};

// A Sigma X3F ends with its section directory: "SECd", a count at +8, twelve bytes per entry.
class X3fEndRule : public TiffRawEndRule {
public:
    std::size_t unit(const std::uint8_t* data, std::size_t size, bool& ends) override {
        const std::size_t mark = find(data, size, "SECd");
        if (mark == std::string_view::npos) return size;
        const std::uint32_t count = mark + 12 <= size ? platform::Le32(data + mark + 8) : 0;
        ends = true;
        return static_cast<std::size_t>(std::min<std::uint64_t>(mark + 12ull * count + 16, size));
    }
};

// A learned type whose header holds its own length (a 32-bit field, found by
// learning): the file ends there.
class LengthFieldEndRule : public FileEndRule {
public:
    explicit LengthFieldEndRule(std::uint64_t length) : left_(length) {}
    std::size_t unit(const std::uint8_t*, std::size_t size, bool& ends) override {
        if (left_ <= size) {
            ends = true;
            const auto n = static_cast<std::size_t>(left_);
            left_ = 0;
            return n;
        }
        left_ -= size;
        return size;
    }

private:
    std::uint64_t left_;
};

}  // namespace

std::unique_ptr<FileEndRule> EndRuleFor(const std::string& extension, const std::uint8_t* first,
                                        std::uint32_t bytesPerSector, bool needsStructure, int lengthOffset,
                                        int lengthKind) {
    if (first[0] == 0xFF && first[1] == 0xD8) return std::make_unique<JpegEndRule>();
    if (const formats::Format* format = formats::FormatOf(extension)) {
        switch (format->ending) {
            case formats::Ending::CanonCrw: return std::make_unique<CrwEndRule>(bytesPerSector);
            case formats::Ending::Ole2: return std::make_unique<DocEndRule>(first);
            case formats::Ending::SigmaX3f: return std::make_unique<X3fEndRule>();
            case formats::Ending::FujiRaf: return std::make_unique<RafEndRule>();
            case formats::Ending::Structure: return std::make_unique<StructureEndRule>(needsStructure);
            case formats::Ending::TiffRaw: return std::make_unique<TiffRawEndRule>();
            case formats::Ending::Jpeg:  // a row of the family whose unit starts otherwise
            case formats::Ending::NextFind: break;
        }
    }
    if ((lengthKind == 1 || lengthKind == 2) && lengthOffset >= 0 && lengthOffset <= 1020) {
        const auto* p = first + lengthOffset;
        const std::uint32_t lo = platform::Le16(p), hi = platform::Le16(p + 2);
        const std::uint64_t value = lengthKind == 2 ? (static_cast<std::uint64_t>(hi) << 16 | lo)
                                                    : (static_cast<std::uint64_t>(lo) << 16 | hi);
        // The field may count from itself; a length inside the header says nothing.
        if (value >= 16) return std::make_unique<LengthFieldEndRule>(value);
    }
    return std::make_unique<FileEndRule>();
}

}  // namespace hx::formats
