#pragma once
// What a walk of folders needs to know of an entry itself (a link is not
// followed), and matching names against a pattern of * and ?.
#include <cstdint>
#include <filesystem>
#include <string>

namespace hx::platform {

struct EntryFacts {
    bool exists = false;
    bool directory = false;    // a real folder, not a link to one
    std::uint64_t device = 0;  // the file system it lies on
};

EntryFacts EntryOf(const std::filesystem::path& path);

// `name` matches `pattern` (* and ?, [...] sets), in any case.
bool MatchesPattern(const std::string& pattern, const std::string& name);

}  // namespace hx::platform
