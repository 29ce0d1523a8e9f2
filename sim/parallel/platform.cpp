#include "sim/parallel/platform.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

std::uint64_t PhysicalMemoryBytes()
{
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0) return 0;
    return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize);
}

namespace {

// A cgroup v1 limit this large stands for "no limit" (the kernel writes 2^63 less a page).
constexpr std::uint64_t kNoV1Limit = std::uint64_t{1} << 62;

std::optional<std::uint64_t> ParseBytes(const std::string& text)
{
    std::istringstream in(text);
    std::uint64_t value = 0;
    if (!(in >> value)) return std::nullopt;
    return value;
}

// A "Name:  N kB" line of /proc/meminfo or /proc/self/status, in bytes.
std::optional<std::uint64_t> KilobyteField(const std::string& text, const std::string& name)
{
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(name + ":", 0) != 0) continue;
        if (const auto kilobytes = ParseBytes(line.substr(name.size() + 1))) return *kilobytes * 1024;
    }
    return std::nullopt;
}

std::vector<std::string> Split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    std::istringstream in(text);
    for (std::string part; std::getline(in, part, separator);) parts.push_back(part);
    return parts;
}

// A memory cgroup hierarchy: where it is mounted and the path of this process in it.
struct CgroupFolder {
    bool version2 = false;
    std::string folder;     // this process's folder under the mount point
    std::string mountPoint; // the walk up stops here
};

// This process's memory cgroup folders, from /proc/self/cgroup and the mounts.
std::vector<CgroupFolder> MemoryCgroupFolders(const MemorySources& sources)
{
    std::vector<CgroupFolder> folders;
    std::istringstream mounts(sources.mountInfo);
    for (std::string line; std::getline(mounts, line);) {
        // "ID PARENT MAJ:MIN ROOT MOUNTPOINT OPTIONS [OPTIONAL...] - TYPE SOURCE SUPEROPTIONS"
        const auto dash = line.find(" - ");
        if (dash == std::string::npos) continue;
        const std::vector<std::string> before = Split(line.substr(0, dash), ' ');
        const std::vector<std::string> after = Split(line.substr(dash + 3), ' ');
        if (before.size() < 5 || after.size() < 3) continue;
        const bool version2 = after[0] == "cgroup2";
        const std::vector<std::string> options = Split(after[2], ',');
        const bool memoryV1 =
            after[0] == "cgroup" && std::find(options.begin(), options.end(), "memory") != options.end();
        if (!version2 && !memoryV1) continue;
        const std::string& root = before[3];
        std::istringstream groups(sources.selfCgroup);
        for (std::string group; std::getline(groups, group);) {
            // "ID:CONTROLLERS:PATH"; version 2 has ID 0 and no controllers.
            const auto first = group.find(':');
            const auto second = group.find(':', first + 1);
            if (first == std::string::npos || second == std::string::npos) continue;
            const std::string controllers = group.substr(first + 1, second - first - 1);
            const std::vector<std::string> names = Split(controllers, ',');
            const bool matches = version2 ? controllers.empty()
                                          : std::find(names.begin(), names.end(), "memory") != names.end();
            std::string path = group.substr(second + 1);
            if (!matches || path.rfind(root, 0) != 0) continue;
            path.erase(0, root == "/" ? 0 : root.size());
            folders.push_back({version2, before[4] + (path == "/" ? "" : path), before[4]});
        }
    }
    return folders;
}

// The room left under the limits of a cgroup folder and of every folder above it.
std::optional<std::uint64_t> CgroupRoom(const MemorySources& sources, const CgroupFolder& cgroup)
{
    const char* limitName = cgroup.version2 ? "/memory.max" : "/memory.limit_in_bytes";
    const char* usageName = cgroup.version2 ? "/memory.current" : "/memory.usage_in_bytes";
    std::optional<std::uint64_t> room;
    for (std::string folder = cgroup.folder;;) {
        const auto limitText = sources.readFile(folder + limitName);
        const auto limit = limitText ? ParseBytes(*limitText) : std::nullopt;  // "max" reads as none
        if (limit && (cgroup.version2 || *limit < kNoV1Limit)) {
            const auto usageText = sources.readFile(folder + usageName);
            const std::uint64_t usage = usageText ? ParseBytes(*usageText).value_or(0) : 0;
            const std::uint64_t left = *limit > usage ? *limit - usage : 0;
            room = std::min(room.value_or(left), left);
        }
        if (folder.size() <= cgroup.mountPoint.size()) break;
        folder.erase(folder.rfind('/'));
    }
    return room;
}

std::optional<std::uint64_t> Smaller(std::optional<std::uint64_t> a, std::optional<std::uint64_t> b)
{
    if (!a) return b;
    if (!b) return a;
    return std::min(*a, *b);
}

std::optional<std::uint64_t> RoomUnder(std::optional<std::uint64_t> limit, std::optional<std::uint64_t> used)
{
    if (!limit) return std::nullopt;
    const std::uint64_t inUse = used.value_or(0);
    return *limit > inUse ? *limit - inUse : 0;
}

std::string FileText(const std::string& path)
{
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::optional<std::uint64_t> Limit(int resource)
{
    rlimit limit{};
    if (getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return std::nullopt;
    return static_cast<std::uint64_t>(limit.rlim_cur);
}

}  // namespace

MemorySources CurrentMemorySources()
{
    MemorySources sources;
    sources.selfCgroup = FileText("/proc/self/cgroup");
    sources.mountInfo = FileText("/proc/self/mountinfo");
    sources.memInfo = FileText("/proc/meminfo");
    sources.selfStatus = FileText("/proc/self/status");
    sources.readFile = [](const std::string& path) -> std::optional<std::string> {
        std::ifstream in(path);
        if (!in) return std::nullopt;
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    };
    sources.addressSpaceLimit = Limit(RLIMIT_AS);
    sources.dataLimit = Limit(RLIMIT_DATA);
    return sources;
}

std::optional<std::uint64_t> UsableMemoryBytes(const MemorySources& sources)
{
    std::optional<std::uint64_t> usable = KilobyteField(sources.memInfo, "MemAvailable");
    for (const CgroupFolder& cgroup : MemoryCgroupFolders(sources)) usable = Smaller(usable, CgroupRoom(sources, cgroup));
    usable = Smaller(usable, RoomUnder(sources.addressSpaceLimit, KilobyteField(sources.selfStatus, "VmSize")));
    usable = Smaller(usable, RoomUnder(sources.dataLimit, KilobyteField(sources.selfStatus, "VmData")));
    return usable;
}

std::uint64_t UsableMemoryBytes()
{
    return UsableMemoryBytes(CurrentMemorySources()).value_or(PhysicalMemoryBytes());
}
