#pragma once
// Dutch and German for the texts the program added beside its numbered
// string table, found by their English text.
#include <string>

namespace hx::shell {

// The text in `languageId` (Dutch or German), or nullptr when there is none.
const char* AddedText(const std::string& english, int languageId);

// The description of a file type ("Canon Raw", "MP4 Video") in the current
// language: its own row when it has one, else its kind translated after its
// name ("Canon-rawbestand"). Names of their own stay as they are.
std::string TypeDescription(const std::string& english);

}  // namespace hx::shell
