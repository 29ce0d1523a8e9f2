#include <iostream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "app/fd_stream.h"
#include "app/headless_runner.h"
#include "app/signal_cleanup.h"

namespace {

// Whether descriptor `fd` was open at the start. A closed one is taken by
// /dev/null, so that no file the runner opens lands on it.
bool KeepOpen(int fd)
{
    if (fcntl(fd, F_GETFD) != -1) return true;
    const int null = open("/dev/null", O_RDWR);
    if (null >= 0 && null != fd) {
        dup2(null, fd);
        close(null);
    }
    return false;
}

}  // namespace

int main(int argc, char** argv)
{
    std::ios::sync_with_stdio(false);
    KeepOpen(STDIN_FILENO);
    const bool stdoutOpen = KeepOpen(STDOUT_FILENO);
    KeepOpen(STDERR_FILENO);
    RemoveTemporaryFilesOnSignals();
    // Stdout takes whole lines: a run ended by a signal leaves no part line there.
    FdStreamBuffer stdoutBuffer(stdoutOpen ? STDOUT_FILENO : -1, true);
    std::ostream out(&stdoutBuffer);
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    return RunHeadless(arguments, out, std::cerr, isatty(STDERR_FILENO) != 0);
}
