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
    bool regular = false;      // a plain file (not a device, a link or a folder)
    std::uint64_t device = 0;  // the file system it lies on
    // Which file and which version of it: a file saved anew (written and
    // renamed over the old one) differs in at least one of these.
    std::uint64_t inode = 0, size = 0;
    std::int64_t modifiedNs = 0;
    bool sameVersion(const EntryFacts& o) const {
        return exists && o.exists && device == o.device && inode == o.inode && size == o.size &&
               modifiedNs == o.modifiedNs;
    }
};

EntryFacts EntryOf(const std::filesystem::path& path);
// The same of an open file descriptor: what it was opened as, links followed.
EntryFacts EntryOfOpen(int fd);

// `name` matches `pattern` (* and ?, [...] sets), in any case.
bool MatchesPattern(const std::string& pattern, const std::string& name);

}  // namespace hx::platform
