#pragma once
// The desktop's own thumbnail of a file that the program cannot draw: the
// thumbnailer registered for the file's type (freedesktop "*.thumbnailer"
// entries, as file managers use them) is run on it with a time-out.
#include <filesystem>
#include <functional>
#include <string>

namespace hx::platform {

enum class DesktopThumbOutcome {
    Made,           // `picture` holds the thumbnail (a PNG)
    Failed,         // a thumbnailer is registered for the type but gave nothing
    NoThumbnailer,  // none is registered (or the type is unknown)
};

struct DesktopThumb {
    DesktopThumbOutcome outcome = DesktopThumbOutcome::NoThumbnailer;
    std::filesystem::path picture;
    std::string thumbnailer;  // the entry's file name, for the status
};

// The file's MIME type as the desktop sees it ("image/png"); empty when unknown.
std::string DesktopMimeType(const std::filesystem::path& file);

// The command line of the thumbnailer registered for `mimeType`, found in
// the data folders' "thumbnailers" ($XDG_DATA_HOME first, then
// $XDG_DATA_DIRS); empty when there is none. `entry` gets its file name.
std::string ThumbnailerFor(const std::string& mimeType, std::string* entry = nullptr);

// Runs the thumbnailer for `file` into `workFolder` at `size` pixels.
// `waitStep` is called while it runs.
DesktopThumb MakeDesktopThumb(const std::filesystem::path& file, const std::filesystem::path& workFolder, int size,
                              int timeoutMs, const std::function<void()>& waitStep = {});

}  // namespace hx::platform
