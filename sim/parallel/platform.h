#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

// What the model asks of the operating system, in one place.

// The machine's physical memory in bytes; 0 when the system does not tell.
std::uint64_t PhysicalMemoryBytes();

// What the memory this process may still take is read from: the system's texts,
// given as they are so that a test can give its own.
struct MemorySources {
    std::string selfCgroup;  // /proc/self/cgroup
    std::string mountInfo;   // /proc/self/mountinfo
    std::string memInfo;     // /proc/meminfo
    std::string selfStatus;  // /proc/self/status
    // The text of a file of a cgroup folder, or nothing when it cannot be read.
    std::function<std::optional<std::string>(const std::string& path)> readFile;
    std::optional<std::uint64_t> addressSpaceLimit;  // RLIMIT_AS, when not unlimited
    std::optional<std::uint64_t> dataLimit;          // RLIMIT_DATA, when not unlimited
};

// The sources of this process: /proc, the cgroup files and getrlimit.
MemorySources CurrentMemorySources();

// The bytes this process may still take: the smallest of the room left under its
// cgroup's memory limit at every level up to the root (v2 memory.max less
// memory.current, v1 memory.limit_in_bytes less memory.usage_in_bytes), under
// RLIMIT_AS and RLIMIT_DATA less what is in use (VmSize, VmData), and the
// system's MemAvailable. Nothing when no source tells.
std::optional<std::uint64_t> UsableMemoryBytes(const MemorySources& sources);
// The same for this process, with the physical memory as the last resort; 0 when
// nothing at all is known.
std::uint64_t UsableMemoryBytes();
