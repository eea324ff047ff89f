#pragma once
// The program's small text helpers, in one place: case, blanks and
// case-insensitive searches on ASCII text (names, extensions, markers).
#include <algorithm>
#include <cctype>
#include <string>
#include <string_view>

namespace hx::shell {

// ASCII lower case: names, switches and markers are compared without case.
inline std::string ToLower(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

inline std::string ToUpper(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// Without blanks, tabs and line ends at either end.
inline std::string Trim(std::string_view s) {
    const auto b = s.find_first_not_of(" \t\r\n");
    if (b == std::string_view::npos) return {};
    return std::string(s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1));
}

// `part` occurs in `text`, case aside; an empty part never does. Looks at
// the text where it lies: it may be a file's first 128 KiB.
inline bool ContainsNoCase(std::string_view text, std::string_view part) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c | 0x20) : c; };
    return !part.empty() && std::search(text.begin(), text.end(), part.begin(), part.end(),
                                        [&](char a, char b) { return lower(a) == lower(b); }) != text.end();
}

}  // namespace hx::shell
