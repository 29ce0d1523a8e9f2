#include "app/input_file.h"

#include <cerrno>
#include <cstdint>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::string ReadWholeRegularFile(const std::string& path, std::size_t maxBytes, const std::string& what)
{
    const std::string tooLarge = "is larger than " + std::to_string(maxBytes >> 20) + " MiB, too large for " + what;
    // Not blocking: a FIFO opens at once and is then refused as no regular file.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) throw InputFileError(std::string("cannot be read: ") + std::strerror(errno));
    struct stat info {};
    std::string text;
    std::string failure;
    if (fstat(fd, &info) != 0) failure = std::string("cannot be read: ") + std::strerror(errno);
    else if (S_ISDIR(info.st_mode)) failure = "is a folder, not " + what;
    else if (!S_ISREG(info.st_mode)) failure = "is not a regular file";
    else if (static_cast<std::uint64_t>(info.st_size) > maxBytes) failure = tooLarge;
    while (failure.empty()) {
        char buffer[65536];
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) failure = std::string("cannot be read: ") + std::strerror(errno);
        else if (got == 0) break;
        else if (text.size() + static_cast<std::size_t>(got) > maxBytes) failure = tooLarge;
        else text.append(buffer, static_cast<std::size_t>(got));
    }
    close(fd);
    if (!failure.empty()) throw InputFileError(failure);
    return text;
}
