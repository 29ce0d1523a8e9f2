#include "app/output_checks.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <stdexcept>

#include <sys/stat.h>
#include <unistd.h>

#include "app/output_name.h"

namespace {

// What makes two paths one file: device and inode when it exists, else the name
// its links lead to, made absolute with its links and dot-dots resolved.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    std::string path;  // for a file that does not exist yet
    bool shareable = false;  // a character device: writing twice is harmless
    bool operator==(const FileIdentity& other) const
    {
        return device == other.device && inode == other.inode && path == other.path;
    }
};

std::string FolderOf(const std::string& path)
{
    const std::string folder = std::filesystem::path(path).parent_path();
    return folder.empty() ? "." : folder;
}

FileIdentity IdentityOf(const OutputTarget& target)
{
    FileIdentity identity;
    struct stat info {};
    if (target.path.empty() && fstat(STDOUT_FILENO, &info) != 0) {
        identity.path = "stdout";  // closed: the first write to it reports that
        return identity;
    }
    if (target.path.empty() || stat(target.path.c_str(), &info) == 0) {
        identity.device = info.st_dev;
        identity.inode = info.st_ino;
        identity.shareable = !S_ISREG(info.st_mode);
        if (S_ISDIR(info.st_mode))
            throw std::runtime_error("cannot write " + target.path + ": it is a folder");
        return identity;
    }
    // Nothing there yet: the file will be made where the name's links lead, so a
    // dangling link and the name it leads to are one file.
    const std::string named = LinkedName(target.path);
    const std::string folder = FolderOf(named);
    if (stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        throw std::runtime_error("cannot write " + target.path + ": the folder " + folder + " does not exist");
    std::error_code error;
    identity.path = std::filesystem::weakly_canonical(std::filesystem::absolute(named), error).string();
    if (error) identity.path = std::filesystem::absolute(named).lexically_normal().string();
    return identity;
}

}  // namespace

void CheckOutputTargets(const std::vector<OutputTarget>& targets)
{
    std::vector<FileIdentity> identities;
    for (const OutputTarget& target : targets) identities.push_back(IdentityOf(target));
    for (std::size_t i = 0; i < targets.size(); ++i) {
        for (std::size_t j = 0; j < i; ++j) {
            if (!(identities[i] == identities[j]) || identities[i].shareable) continue;
            // Two tables on stdout are parted by an empty line: only a file named twice is a mistake.
            if (targets[i].path.empty() && targets[j].path.empty()) continue;
            const auto name = [](const OutputTarget& t) { return t.path.empty() ? std::string("stdout") : t.path; };
            throw std::runtime_error(targets[j].option + " " + name(targets[j]) + " and " + targets[i].option + " " +
                                     name(targets[i]) + " are the same file: give each table a file of its own");
        }
    }
}

void CheckOutputFolder(const std::string& option, const std::string& directory)
{
    struct stat info {};
    if (directory.empty()) throw std::runtime_error(option + " must name a folder");
    if (stat(directory.c_str(), &info) != 0)
        throw std::runtime_error(option + " " + directory + ": " + std::strerror(errno));
    if (!S_ISDIR(info.st_mode)) throw std::runtime_error(option + " " + directory + ": not a folder");
    if (access(directory.c_str(), W_OK | X_OK) != 0)
        throw std::runtime_error(option + " " + directory + ": " + std::strerror(errno));
}
