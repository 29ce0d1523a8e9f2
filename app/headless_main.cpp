#include <iostream>
#include <string>
#include <vector>

#include <unistd.h>

#include "headless_runner.h"

int main(int argc, char** argv)
{
    std::ios::sync_with_stdio(false);
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    return RunHeadless(arguments, std::cout, std::cerr, isatty(STDERR_FILENO) != 0);
}
