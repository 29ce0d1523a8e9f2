// landuse-reference-pages FOLDER: writes the reference pages made from the
// program's tables (output-columns.md, run-state-format.md) into FOLDER, the
// repository's docs/reference.

#include <cstdio>
#include <fstream>
#include <string>

#include "sim/io/reference_pages.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: landuse-reference-pages FOLDER\n");
        return 64;
    }
    const std::string folder = argv[1];
    const struct {
        const char* name;
        std::string text;
    } pages[] = {{"output-columns.md", OutputColumnsPage()}, {"run-state-format.md", RunStateFormatPage()}};
    for (const auto& page : pages) {
        const std::string path = folder + "/" + page.name;
        std::ofstream out(path, std::ios::binary);
        out << page.text;
        out.close();
        if (!out) {
            std::fprintf(stderr, "landuse-reference-pages: cannot write %s\n", path.c_str());
            return 73;
        }
    }
    return 0;
}
