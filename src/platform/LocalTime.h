#pragma once
// The present moment in local time as text, in a strftime format.
#include <ctime>
#include <string>

namespace hx::platform {

inline std::string LocalTimeText(const char* format) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char buf[64];
    return std::strftime(buf, sizeof buf, format, &local) > 0 ? std::string(buf) : std::string();
}

}  // namespace hx::platform
