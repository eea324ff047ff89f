#pragma once
// Free space of the disk that holds a path, and the memory available for
// read blocks. Tests inject values to simulate a disk that fills up.
#include <functional>
#include <optional>
#include <string>

namespace hx::platform {

// Free megabytes (1,048,576 bytes) of the file system holding `path`; 0 when unknown.
double FreeMegabytes(const std::string& path);
// Total megabytes of the file system holding `path`; 0 when unknown.
double TotalMegabytes(const std::string& path);
// Available physical memory in megabytes (MemAvailable); 0 when unknown.
double AvailableMemoryMB();
// The swap space the system has, in megabytes (0 when none).
double SwapMegabytes();

// Replaces FreeMegabytes for tests; an empty function restores the real query.
using FreeSpaceHook = std::function<double(const std::string& path)>;
void SetFreeSpaceHook(FreeSpaceHook hook);

}  // namespace hx::platform
