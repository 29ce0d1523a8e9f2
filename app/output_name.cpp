#include "app/output_name.h"

#include <cstdio>

std::string StepFileName(const std::string& directory, const char* stem, std::int32_t step, const char* extension)
{
    char name[64];
    std::snprintf(name, sizeof name, "%s-%010d.%s", stem, step, extension);
    return directory + "/" + name;
}
