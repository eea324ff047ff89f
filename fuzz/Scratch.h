#pragma once
// Where a fuzz target keeps the medium it makes from each input. Memory
// (/dev/shm) when the machine has it: a run then measures our readers, not
// the disk's bookkeeping of a million files made and deleted. The folder is
// one per process; each input overwrites the same file. libFuzzer ends
// without running exit handlers, so each start clears the folders left by
// runs that are gone.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fcntl.h>
#include <map>
#include <string>
#include <unistd.h>

namespace hx::fuzz {

inline const std::filesystem::path& ScratchFolder(const char* target) {
    static const std::filesystem::path folder = [target] {
        namespace fs = std::filesystem;
        std::error_code ec;
        const fs::path base = fs::is_directory("/dev/shm", ec) && ::access("/dev/shm", W_OK) == 0
                                  ? fs::path("/dev/shm")
                                  : fs::temp_directory_path();
        const std::string prefix = "hx-fuzz-" + std::string(target) + "-";
        for (const auto& old : fs::directory_iterator(base, ec)) {
            const std::string name = old.path().filename().string();
            if (name.rfind(prefix, 0) != 0) continue;
            const std::string pid = name.substr(prefix.size());
            if (!pid.empty() && !fs::exists("/proc/" + pid, ec)) fs::remove_all(old.path(), ec);
        }
        fs::path f = base / (prefix + std::to_string(::getpid()));
        fs::create_directories(f, ec);
        return f;
    }();
    // Registered once the folder is made, so it runs before the folder's name
    // is destroyed. The replay of the corpus ends normally and gets here.
    static const bool removedAtExit = std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(ScratchFolder(""), ignored);
    }) == 0;
    (void)removedAtExit;
    return folder;
}

// Writes the bytes as the file `name` in the scratch folder; returns its path.
// The file stays open between inputs: each input is one write and one cut.
inline std::string WriteScratch(const char* target, const char* name, const std::uint8_t* data, std::size_t size) {
    static std::map<std::string, int> files;
    const std::filesystem::path path = ScratchFolder(target) / name;
    auto it = files.find(path.string());
    if (it == files.end()) it = files.emplace(path.string(), ::open(path.c_str(), O_RDWR | O_CREAT, 0600)).first;
    const int fd = it->second;
    std::size_t done = 0;
    while (fd >= 0 && done < size) {
        const ssize_t n = ::pwrite(fd, data + done, size - done, static_cast<off_t>(done));
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    if (fd >= 0 && ::ftruncate(fd, static_cast<off_t>(done)) != 0) std::abort();
    return path.string();
}

}  // namespace hx::fuzz
