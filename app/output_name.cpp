#include "app/output_name.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <vector>

#include <unistd.h>

namespace {

// As many hops as the kernel follows before it gives up with ELOOP.
constexpr int kMostHops = 40;

std::string FolderOf(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return "";
    return path.substr(0, slash + 1);
}

}  // namespace

std::string LinkedName(const std::string& path)
{
    std::string name = path;
    for (int hop = 0; hop <= kMostHops; ++hop) {
        std::vector<char> target(4096);
        ssize_t length = 0;
        while ((length = readlink(name.c_str(), target.data(), target.size())) == static_cast<ssize_t>(target.size()))
            target.resize(target.size() * 2);
        if (length < 0) {
            // Not a link, or nothing there yet (a missing folder shows when the file is made).
            if (errno == EINVAL || errno == ENOENT || errno == ENOTDIR) return name;
            throw std::runtime_error("cannot write " + path + ": " + std::strerror(errno));
        }
        const std::string next(target.data(), static_cast<std::size_t>(length));
        if (next.empty()) throw std::runtime_error("cannot write " + path + ": a link that leads nowhere");
        name = next.front() == '/' ? next : FolderOf(name) + next;
    }
    throw std::runtime_error("cannot write " + path + ": " + std::strerror(ELOOP));
}

std::string StepFileName(const std::string& directory, const char* stem, std::int32_t step, const char* extension)
{
    char name[64];
    std::snprintf(name, sizeof name, "%s-%010d.%s", stem, step, extension);
    return directory + "/" + name;
}
