#include "files/atomic_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// As many hops as the kernel follows before it gives up with ELOOP.
constexpr int kMostHops = 40;
// Names tried for a temporary file before giving up, each taken by someone else.
constexpr int kMostAttempts = 100;

std::string FolderOf(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return "";
    return path.substr(0, slash + 1);
}

std::string Reason(int error) { return std::strerror(error); }

}  // namespace

FileWriteError::FileWriteError(const std::string& path, const std::string& reason)
    : std::runtime_error("cannot write " + path + ": " + reason), path_(path), reason_(reason)
{
}

std::string RandomFileSuffix()
{
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    unsigned char bytes[6] = {};
    if (getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes))
        throw std::runtime_error("no random bytes for a temporary name: " + Reason(errno));
    std::string suffix;
    for (const unsigned char b : bytes) suffix += kLetters[b % (sizeof kLetters - 1)];
    return suffix;
}

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
            throw FileWriteError(path, Reason(errno));
        }
        const std::string next(target.data(), static_cast<std::size_t>(length));
        if (next.empty()) throw FileWriteError(path, "a link that leads nowhere");
        name = next.front() == '/' ? next : FolderOf(name) + next;
    }
    throw FileWriteError(path, Reason(ELOOP));
}

AtomicFile::AtomicFile(std::string path, TemporaryFileWatch watch, std::function<std::string()> suffix)
    : path_(std::move(path)), watch_(std::move(watch))
{
    // Opened as the user means the name, through every link, creating nothing.
    fd_ = open(path_.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    std::optional<mode_t> keptMode;  // an existing file's permissions
    if (fd_ >= 0) {
        struct stat opened {};
        if (fstat(fd_, &opened) != 0) {
            const int error = errno;
            close(fd_);
            fd_ = -1;
            Fail(Reason(error));
        }
        if (!S_ISREG(opened.st_mode)) return;  // written into as it is
        close(fd_);
        fd_ = -1;
        // The name the links lead to must be the very file that was opened, and no
        // link itself: else a link was swapped meanwhile.
        targetPath_ = LinkedName(path_);
        struct stat named {};
        if (lstat(targetPath_.c_str(), &named) != 0 || !S_ISREG(named.st_mode) || named.st_dev != opened.st_dev ||
            named.st_ino != opened.st_ino)
            Fail("it changed while it was opened");
        keptMode = opened.st_mode & 07777;
    } else if (errno == ENOENT) {
        // Nothing there, or a dangling link: made where the chain ends, where
        // there must still be nothing (a file or link put there meanwhile stops it).
        targetPath_ = LinkedName(path_);
        struct stat named {};
        if (lstat(targetPath_.c_str(), &named) == 0) Fail("it changed while it was opened");
    } else {
        Fail(errno == EISDIR ? std::string("it is a folder") : Reason(errno));
    }
    // The name is listed before the file exists, so a signal never misses it.
    for (int attempt = 0; fd_ < 0; ++attempt) {
        temporaryPath_ = targetPath_ + ".part-" + suffix();
        if (watch_.listed) slot_ = watch_.listed(temporaryPath_);
        fd_ = open(temporaryPath_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ >= 0) break;
        const int error = errno;
        if (watch_.unlisted && slot_ >= 0) watch_.unlisted(slot_);
        slot_ = -1;
        if (error != EEXIST || attempt == kMostAttempts) {
            temporaryPath_.clear();
            Fail(Reason(error));
        }
    }
    // A private 0600 file stays private.
    if (keptMode && fchmod(fd_, *keptMode) != 0) {
        const int error = errno;
        RemoveTemporary();
        Fail(Reason(error));
    }
}

AtomicFile::~AtomicFile()
{
    if (!committed_) RemoveTemporary();
}

void AtomicFile::RemoveTemporary()
{
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    if (temporaryPath_.empty()) return;
    unlink(temporaryPath_.c_str());
    if (watch_.unlisted && slot_ >= 0) watch_.unlisted(slot_);
    slot_ = -1;
    temporaryPath_.clear();
}

void AtomicFile::Fail(const std::string& reason) const { throw FileWriteError(path_, reason); }

void AtomicFile::Write(const char* data, std::size_t size)
{
    if (size > 0 && fd_ < 0 && error_ == 0) error_ = EBADF;
    while (size > 0 && error_ == 0) {
        const ssize_t written = write(fd_, data, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            error_ = written < 0 ? errno : EIO;
            break;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
}

void AtomicFile::Commit()
{
    if (committed_) return;
    if (error_ != 0) Fail(Reason(error_));
    if (fd_ < 0) Fail(Reason(EBADF));
    // Data the file system accepted may still fail to reach the disk (a full disk
    // found at write-back, a network file system): the sync and the close say so.
    if (!temporaryPath_.empty() && fsync(fd_) != 0) Fail(Reason(errno));
    const int closed = close(fd_);
    fd_ = -1;
    if (closed != 0) Fail(Reason(errno));
    if (temporaryPath_.empty()) {
        committed_ = true;
        return;
    }
    if (std::rename(temporaryPath_.c_str(), targetPath_.c_str()) != 0) Fail(Reason(errno));
    temporaryPath_.clear();
    if (watch_.unlisted && slot_ >= 0) watch_.unlisted(slot_);
    slot_ = -1;
    committed_ = true;
    // The rename lives in the folder: synced too, so a crash keeps old or new.
    // A folder that cannot be opened for reading, or a file system that syncs no
    // folders, leaves the rename to the system.
    const std::string folder = FolderOf(targetPath_);
    const int folderFd = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd < 0) return;
    const int synced = fsync(folderFd);
    const int error = errno;
    close(folderFd);
    if (synced != 0 && error != EINVAL && error != EROFS)
        Fail("it is in place, but its folder was not synced: " + Reason(error));
}
