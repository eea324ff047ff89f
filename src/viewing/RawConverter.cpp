#include "viewing/RawConverter.h"

#include <cstdlib>
#include <sstream>

#include "platform/ChildProcess.h"
#include "shell/Text.h"
#include "formats/Formats.h"
#include "viewing/ThumbnailFiles.h"

namespace hx::viewing {

namespace fs = std::filesystem;

bool IsConverterRawType(const std::string& extension) {
    if (extension.size() < 2 || extension[0] != '.') return false;
    return formats::HasTrait(extension, formats::kConverted);
}

std::string ConverterProgram() {
    const char* chosen = std::getenv("HARVESTRIX_RAW_CONVERTER");
    return chosen != nullptr && *chosen != '\0' ? chosen : "dcraw";
}

bool RunConverter(const std::string& options, const fs::path& raw, const fs::path& output, int timeoutMs,
                  const std::function<void()>& waitStep) {
    std::vector<std::string> argv{ConverterProgram()};
    std::istringstream words(options);
    for (std::string w; words >> w;) argv.push_back(w);
    argv.push_back(raw.string());
    if (waitStep) waitStep();
    const auto r = platform::RunChild(argv, output.string(), timeoutMs, waitStep);
    if (waitStep) waitStep();
    return r.started && r.finished && r.exitCode == 0;
}

fs::path ConvertRaw(const fs::path& raw, const fs::path& folder, RawOutput what, int timeoutMs,
                    const std::function<void()>& waitStep) {
    static constexpr struct {
        const char* options;
        const char* extension;
    } kRuns[] = {{" -c -T -e -w ", ".thc"}, {" -c -T -h -w ", ".rpc"}, {" -c -T -w ", ".tif"}};
    const auto& run = kRuns[static_cast<int>(what)];
    std::string name = ThumbnailFileName(raw.filename().string());
    name = name.substr(0, name.size() - 4) + run.extension;  // in place of ".jpg"
    const fs::path output = folder / name;
    std::error_code ec;
    if (fs::is_regular_file(output, ec) && fs::file_size(output, ec) > 0) return output;
    fs::create_directories(folder, ec);
    const bool ok = RunConverter(run.options, raw, output, timeoutMs, waitStep);
    if (ok && fs::file_size(output, ec) > 0 && !ec) return output;
    fs::remove(output, ec);  // nothing, or half a picture
    return {};
}

}  // namespace hx::viewing
