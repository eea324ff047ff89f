#pragma once
// Why a drive cannot be read, in this system's words and with what to do:
// no right to open it, no card in the reader, a damaged card, or another
// error of the system.
#include <string>

namespace hx::media {

// `error` is the errno of the open or read that failed; another error than
// those is said as `otherwise` ("Cannot read the disk." when empty) with the
// system's own words for it.
std::string ReadFailureText(const std::string& drive, int error, const std::string& otherwise = {});

// "%0 no longer answers: ...": a medium that stopped answering part way.
std::string NoLongerAnswersText(const std::string& drive);

// The errno of opening `drive` for reading now (0 when it opens).
int OpenError(const std::string& drive);

}  // namespace hx::media
