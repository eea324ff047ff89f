#pragma once
// Small text helpers of the shell.
#include <cctype>
#include <string>

namespace hx::shell {

// ASCII lower case: names, switches and markers are compared without case.
inline std::string ToLower(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace hx::shell
