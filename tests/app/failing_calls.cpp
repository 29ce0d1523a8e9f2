// Loaded into the runner with LD_PRELOAD by a test, so that a failure the local
// disk never gives can be seen handled: close() or fsync() of a file whose name
// holds the text in LANDUSE_FAIL_CLOSE or LANDUSE_FAIL_FSYNC does its work, then
// reports EIO, as a network file system reports a write-back that failed.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <dlfcn.h>
#include <unistd.h>

namespace {

bool Marked(int fd, const char* variable)
{
    const char* marker = std::getenv(variable);
    if (marker == nullptr || *marker == '\0') return false;
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char name[4096];
    const ssize_t length = readlink(link, name, sizeof name - 1);
    if (length < 0) return false;
    name[length] = '\0';
    return std::strstr(name, marker) != nullptr;
}

template <typename Call>
int FailWhenMarked(Call real, int fd, const char* variable)
{
    const bool fail = Marked(fd, variable);
    const int result = real(fd);
    if (!fail || result != 0) return result;
    errno = EIO;
    return -1;
}

}  // namespace

extern "C" int close(int fd)
{
    static const auto real = reinterpret_cast<int (*)(int)>(dlsym(RTLD_NEXT, "close"));
    return FailWhenMarked(real, fd, "LANDUSE_FAIL_CLOSE");
}

extern "C" int fsync(int fd)
{
    static const auto real = reinterpret_cast<int (*)(int)>(dlsym(RTLD_NEXT, "fsync"));
    return FailWhenMarked(real, fd, "LANDUSE_FAIL_FSYNC");
}
