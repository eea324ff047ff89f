#include "media/ReadFailure.h"

#include <cerrno>
#include <cstring>

#include "media/SectorIo.h"
#include "shell/Strings.h"

namespace hx::media {

using shell::FormatStr;
using shell::LoadStr;

std::string ReadFailureText(const std::string& drive, int error, const std::string& otherwise) {
    if (platform::isPermissionError(error))
        return FormatStr(LoadStr(0, "%0 may not be opened by this user."), {drive}) + "\n" +
               LoadStr(0, "Run Harvestrix as root or as a member of the group 'disk', or install the desktop's disk "
                          "service (package udisks2), which opens it after asking for a password.");
    if (error == ENOMEDIUM || error == ENXIO || error == ENODEV)
        return FormatStr(LoadStr(0, "There is no card in the reader %0."), {drive}) + "\n" +
               LoadStr(0, "Put the card in, wait a moment and try again.");
    if (error == EIO)
        return FormatStr(LoadStr(0, "%0 is damaged: the system reports an error reading it."), {drive}) + "\n" +
               LoadStr(0, "Make an image of it first (Backup), while it still reads, and scan the image.");
    std::string text = otherwise.empty() ? LoadStr(562, "Cannot read the disk.") : otherwise;
    if (error != 0) text += " (" + drive + ": " + std::strerror(error) + ")";
    return text;
}

std::string NoLongerAnswersText(const std::string& drive) {
    return FormatStr(LoadStr(0, "%0 no longer answers: the card was taken out of its reader, or it has "
                                "stopped working."),
                     {drive});
}

int OpenError(const std::string& drive) {
    Handle handle = OpenVolume(drive);
    return handle.isOpen() ? 0 : handle.lastError();
}

}  // namespace hx::media
