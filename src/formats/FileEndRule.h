#pragma once
// Where a found file ends. The scan copies unit after unit into the open
// file; a file-end rule looks at every unit as it goes by and may say that the
// file ends inside it, and once the file is closed it may cut it where the
// file's own structure ends or tell that it is no file of its type at all.
// One rule per format; a format without one ends at the next found file.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "formats/JpegEntropy.h"
#include "formats/PhotoParts.h"

namespace hx::formats {

// What a file told about itself while it was read.
struct FileFacts {
    std::string ownName;  // the camera's own file name
    std::string model;    // the camera model
};

// A found file once its last unit is written.
struct ClosedFile {
    std::filesystem::path path;
    std::uint64_t written = 0;     // bytes written
    std::uint64_t listedSize = 0;  // the listing's byte count; 0 when it was not listed
    double minBytes = 0;           // files up to this length are not kept
    std::function<void()> settle;  // returns once every written byte is in the file
    // The scan can take a verdict's `later` part: checks that need the whole
    // file may be left to run while it reads on.
    bool checkLater = false;
};

struct EndVerdict;
// A check run once the file at the path is written whole: its verdict's `keep` was settled already.
using LaterCheck = std::function<EndVerdict(const std::filesystem::path&)>;

struct EndVerdict {
    bool keep = true;
    std::uint64_t end = 0;  // the file's length by its structure; 0 = as written
    bool damaged = false;   // a picture that does not decode cleanly to its end
    std::uint64_t faultAt = ~0ull;  // damaged: about where its decode first went wrong
    // damaged: where its entropy walk may start again before the fault
    std::shared_ptr<const std::vector<formats::JpegEntropy::Mark>> marks = nullptr;
    // Set when the rest of the check is left for later: the file is kept as
    // written for now, and this tells its end, damage and marks.
    LaterCheck later = nullptr;
    // A photo of more than one picture: its parts that hold, the first
    // picture's first, and the kinds named after them that do not.
    std::vector<PhotoPart> parts;
    std::vector<PartKind> missing;
};

class FileEndRule {
public:
    virtual ~FileEndRule() = default;
    // The next unit of the file: how many of its bytes belong to the file;
    // `ends` is set when the file ends inside them.
    virtual std::size_t unit(const std::uint8_t* data, std::size_t size, bool& ends) { return size; }
    // The next unit of a file whose listing gives its length: only looked at,
    // for what it tells about the file's health.
    virtual void listedUnit(const std::uint8_t* data, std::size_t size) {}
    // A signature seen now lies inside the file's structure (an embedded
    // thumbnail) and starts no file of its own.
    virtual bool insideStructure() const { return false; }
    // The scan picks the file up in its middle: what came before went unseen.
    virtual void resumedMidFile() {}
    virtual EndVerdict closed(const ClosedFile& file) { return {}; }
    const FileFacts& facts() const { return facts_; }

protected:
    FileFacts facts_;
};

// The rule for a file found by a row with `extension` whose first unit is `first`
// (at least 1024 bytes readable). With `needsStructure` a file whose own
// structure does not hold is no file of its type.
// A format without a rule of its own whose row names a length field
// (`lengthOffset` into the first unit, `lengthKind` 2: 32-bit little-endian,
// 1: its 16-bit halves swapped) ends at that length.
std::unique_ptr<FileEndRule> EndRuleFor(const std::string& extension, const std::uint8_t* first,
                                        std::uint32_t bytesPerSector, bool needsStructure = false,
                                        int lengthOffset = 0, int lengthKind = 0);

}  // namespace hx::formats
