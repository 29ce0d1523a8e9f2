#pragma once
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <stdlib.h>

// A scratch folder of its own under /tmp, removed afterwards.
struct ScratchFolder {
    ScratchFolder()
    {
        char pattern[] = "/tmp/landuse-runner-XXXXXX";
        path = mkdtemp(pattern);
    }
    ~ScratchFolder() { std::filesystem::remove_all(path); }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    std::string File(const std::string& name) const { return path + "/" + name; }
    // Every name below the folder, with its subfolders' files as "sub/name".
    std::vector<std::string> Names() const
    {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(path))
            names.push_back(entry.path().lexically_relative(path).string());
        std::sort(names.begin(), names.end());
        return names;
    }
    std::string path;
};

inline void WriteFile(const std::string& path, const std::string& text)
{
    std::ofstream(path) << text;
}

inline std::string ReadFile(const std::string& path)
{
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}
