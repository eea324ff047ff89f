#include "platform/DiskService.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <fcntl.h>
#include <sys/stat.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

namespace hx::platform {

namespace {

constexpr const char* kService = "org.freedesktop.UDisks2";
constexpr const char* kBlock = "org.freedesktop.UDisks2.Block";
// A password prompt may be on the screen for a while.
constexpr std::uint64_t kCallMicroseconds = 120ull * 1000 * 1000;
// A refusal stands for this long: a listing that opens the device many times
// does not put a password prompt up again at each open after a Cancel.
constexpr auto kRefusalHolds = std::chrono::seconds(30);

struct Refusal {
    dev_t device = 0;
    std::string failure;
    std::chrono::steady_clock::time_point when;
};

std::mutex gMutex;
std::map<std::pair<std::string, bool>, Refusal> gRefused;
std::string gLastFailure;

dev_t deviceOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISBLK(st.st_mode) ? st.st_rdev : 0;
}

DiskServiceOpen ask(const std::string& path, bool write) {
    DiskServiceOpen result;
    sd_bus* bus = nullptr;
    int r = sd_bus_open_system(&bus);
    if (r < 0) {
        result.failure = std::string("no system message bus (D-Bus) could be reached: ") + std::strerror(-r);
        return result;
    }
    sd_bus_set_allow_interactive_authorization(bus, 1);
    sd_bus_message* call = nullptr;
    sd_bus_message* reply = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    const std::string object = DiskServiceObjectPath(path);
    r = sd_bus_message_new_method_call(bus, &call, kService, object.c_str(), kBlock, "OpenDevice");
    if (r >= 0) r = sd_bus_message_append(call, "sa{sv}", write ? "rw" : "r", 0);
    if (r >= 0) r = sd_bus_call(bus, call, kCallMicroseconds, &error, &reply);
    int fd = -1;
    if (r >= 0) r = sd_bus_message_read(reply, "h", &fd);
    if (r >= 0 && fd >= 0) {
        // The descriptor belongs to the reply: ours is a copy of it.
        result.fd = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
        if (result.fd < 0) result.failure = std::strerror(errno);
    } else if (sd_bus_error_is_set(&error)) {
        result.failure = std::string(error.name) + ": " + (error.message ? error.message : "");
    } else {
        result.failure = std::strerror(-r);
    }
    sd_bus_error_free(&error);
    sd_bus_message_unref(reply);
    sd_bus_message_unref(call);
    sd_bus_flush_close_unref(bus);
    return result;
}

}  // namespace

std::string DiskServiceObjectPath(const std::string& devicePath) {
    // The kernel's name of the device, as the service spells it in its object
    // paths: letters and digits as they are, every other byte as _ and two hex digits.
    std::error_code ec;
    const std::filesystem::path real = std::filesystem::weakly_canonical(devicePath, ec);
    const std::string name = (ec ? std::filesystem::path(devicePath) : real).filename().string();
    std::string out = "/org/freedesktop/UDisks2/block_devices/";
    for (unsigned char c : name) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
            out += static_cast<char>(c);
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "_%02x", c);
            out += hex;
        }
    }
    return out;
}

DiskServiceOpen OpenThroughDiskService(const std::string& path, bool write) {
    const dev_t device = deviceOf(path);
    if (device == 0) return {-1, "not a block device"};
    {
        std::lock_guard<std::mutex> lock(gMutex);
        const auto refused = gRefused.find({path, write});
        if (refused != gRefused.end() && refused->second.device == device &&
            std::chrono::steady_clock::now() - refused->second.when < kRefusalHolds) {
            gLastFailure = refused->second.failure;
            return {-1, refused->second.failure};
        }
    }
    // Asked at every open: a card swapped in its reader keeps the node's name and numbers.
    DiskServiceOpen asked = ask(path, write);
    std::lock_guard<std::mutex> lock(gMutex);
    gLastFailure = asked.failure;
    if (asked.fd < 0)
        gRefused[{path, write}] = {device, asked.failure, std::chrono::steady_clock::now()};
    else
        gRefused.erase({path, write});
    return asked;
}

std::string LastDiskServiceFailure() {
    std::lock_guard<std::mutex> lock(gMutex);
    return gLastFailure;
}

}  // namespace hx::platform
