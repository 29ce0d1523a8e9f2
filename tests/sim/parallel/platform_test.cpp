#include <gtest/gtest.h>

#include <map>

#include "sim/parallel/platform.h"

namespace {

constexpr std::uint64_t kGiB = std::uint64_t{1} << 30;

// A process under cgroup v2 at /sys/fs/cgroup/job/step and a v1 memory
// hierarchy at /sys/fs/cgroup/memory, with 8 GiB available to the system.
MemorySources FakeSources(std::map<std::string, std::string> files)
{
    MemorySources sources;
    sources.selfCgroup = "12:memory:/slurm/job\n0::/job/step\n";
    sources.mountInfo =
        "30 23 0:26 / /sys/fs/cgroup rw,nosuid shared:4 - cgroup2 cgroup2 rw,nsdelegate\n"
        "31 23 0:27 / /sys/fs/cgroup/memory rw,nosuid shared:5 - cgroup cgroup rw,memory\n"
        "32 23 0:28 / /sys/fs/cgroup/cpu rw,nosuid shared:6 - cgroup cgroup rw,cpu\n";
    sources.memInfo = "MemTotal:       33554432 kB\nMemAvailable:    8388608 kB\n";
    sources.selfStatus = "VmSize:\t  1048576 kB\nVmData:\t   524288 kB\n";
    sources.readFile = [files](const std::string& path) -> std::optional<std::string> {
        const auto found = files.find(path);
        if (found == files.end()) return std::nullopt;
        return found->second;
    };
    return sources;
}

}  // namespace

TEST(UsableMemory, TheSmallestRoomOfEveryLimitThatApplies)
{
    struct Case {
        const char* what;
        std::map<std::string, std::string> files;
        std::optional<std::uint64_t> addressSpace, data;
        std::uint64_t expected;
    };
    const std::string v2 = "/sys/fs/cgroup/job/step/", v2parent = "/sys/fs/cgroup/job/";
    const std::string v1 = "/sys/fs/cgroup/memory/slurm/job/";
    const std::vector<Case> cases = {
        {"no limit: what the system has available", {}, {}, {}, 8 * kGiB},
        {"cgroup v2 \"max\" is no limit", {{v2 + "memory.max", "max\n"}}, {}, {}, 8 * kGiB},
        {"cgroup v2: the limit less what is in use",
         {{v2 + "memory.max", "1073741824\n"}, {v2 + "memory.current", "268435456\n"}}, {}, {}, 3 * kGiB / 4},
        {"cgroup v2: a parent's smaller limit",
         {{v2 + "memory.max", "max\n"}, {v2parent + "memory.max", "536870912\n"},
          {v2parent + "memory.current", "0\n"}},
         {}, {}, kGiB / 2},
        {"cgroup v2: usage over the limit leaves nothing",
         {{v2 + "memory.max", "1000\n"}, {v2 + "memory.current", "4000\n"}}, {}, {}, 0},
        {"cgroup v1: the limit less the usage",
         {{v1 + "memory.limit_in_bytes", "2147483648\n"}, {v1 + "memory.usage_in_bytes", "1073741824\n"}}, {}, {},
         kGiB},
        {"cgroup v1: the kernel's \"no limit\"", {{v1 + "memory.limit_in_bytes", "9223372036854771712\n"}}, {}, {},
         8 * kGiB},
        {"RLIMIT_AS less VmSize", {}, 3 * kGiB, {}, 2 * kGiB},
        {"RLIMIT_DATA less VmData", {}, {}, kGiB, kGiB / 2},
        {"the smallest of all",
         {{v2 + "memory.max", "4294967296\n"}, {v1 + "memory.limit_in_bytes", "3221225472\n"}}, 6 * kGiB, 4 * kGiB,
         3 * kGiB},
    };
    for (const Case& c : cases) {
        MemorySources sources = FakeSources(c.files);
        sources.addressSpaceLimit = c.addressSpace;
        sources.dataLimit = c.data;
        EXPECT_EQ(UsableMemoryBytes(sources), c.expected) << c.what;
    }
    // A cgroup namespace: the process sits at the root of what it sees.
    MemorySources inContainer = FakeSources({{"/sys/fs/cgroup/memory.max", "1073741824\n"}});
    inContainer.selfCgroup = "0::/\n";
    EXPECT_EQ(UsableMemoryBytes(inContainer), kGiB);
    // Nothing known at all.
    MemorySources none = FakeSources({});
    none.memInfo.clear();
    EXPECT_EQ(UsableMemoryBytes(none), std::nullopt);
    // This process: some room, never more than the machine has.
    EXPECT_GT(UsableMemoryBytes(), 0u);
    EXPECT_LE(UsableMemoryBytes(), PhysicalMemoryBytes());
}
