#include "platform/DirectoryEntry.h"

#include <fnmatch.h>
#include <sys/stat.h>

namespace hx::platform {

namespace {

EntryFacts factsOf(const struct stat& st) {
    EntryFacts facts;
    facts.exists = true;
    facts.directory = S_ISDIR(st.st_mode);
    facts.regular = S_ISREG(st.st_mode);
    facts.device = static_cast<std::uint64_t>(st.st_dev);
    facts.inode = static_cast<std::uint64_t>(st.st_ino);
    facts.size = static_cast<std::uint64_t>(st.st_size);
    facts.modifiedNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return facts;
}

}  // namespace

EntryFacts EntryOf(const std::filesystem::path& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? factsOf(st) : EntryFacts{};
}

EntryFacts EntryOfOpen(int fd) {
    struct stat st {};
    return fd >= 0 && ::fstat(fd, &st) == 0 ? factsOf(st) : EntryFacts{};
}

bool MatchesPattern(const std::string& pattern, const std::string& name) {
    return ::fnmatch(pattern.c_str(), name.c_str(), FNM_CASEFOLD) == 0;
}

}  // namespace hx::platform
