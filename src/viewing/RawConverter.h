#pragma once
// Camera raws through the raw converter (dcraw, or another program that takes
// its options): the embedded preview, a half-size decode or the full picture,
// written as files into a folder of the cache. A converter that hangs is ended
// after its time-out and the caller goes on.
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace hx::viewing {

// The raw types the converter is asked about: those of the formats marked kConverted.
bool IsConverterRawType(const std::string& extension);

enum class RawOutput {
    EmbeddedPreview,  // " -c -T -e -w ", into <thumbnail name>.thc
    HalfSize,         // " -c -T -h -w ", into .rpc
    Full,             // " -c -T -w ", into .tif
};

// The converter's program: $HARVESTRIX_RAW_CONVERTER when set, else "dcraw".
std::string ConverterProgram();

// Runs the converter with `options` (split at blanks) and the file last, its
// standard output into `output`. Waits at most `timeoutMs`, calling `waitStep`
// meanwhile; a converter still running then is ended. True when it ran and
// ended by itself with exit code 0.
bool RunConverter(const std::string& options, const std::filesystem::path& raw, const std::filesystem::path& output,
                  int timeoutMs, const std::function<void()>& waitStep = {});

// The picture file `what` of `raw` in `folder` (made once; an earlier output
// is used again). Empty when the converter gave nothing.
std::filesystem::path ConvertRaw(const std::filesystem::path& raw, const std::filesystem::path& folder, RawOutput what,
                                 int timeoutMs, const std::function<void()>& waitStep = {});

}  // namespace hx::viewing
