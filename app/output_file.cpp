#include "app/output_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <stdexcept>

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/output_name.h"
#include "app/signal_cleanup.h"

namespace {

// Six random letters and digits, for a temporary name nobody can guess.
std::string RandomSuffix()
{
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    unsigned char bytes[6] = {};
    if (getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes))
        throw std::runtime_error(std::string("no random bytes for a temporary name: ") + std::strerror(errno));
    std::string suffix;
    for (const unsigned char b : bytes) suffix += kLetters[b % (sizeof kLetters - 1)];
    return suffix;
}

}  // namespace

OutputFile::OutputFile(std::string path) : path_(std::move(path))
{
    // Opened as the user means the name, through every link (/dev/stdout too), and
    // judged by what was opened, so a link swapped after a look at the path misleads nothing.
    int fd = open(path_.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    std::optional<mode_t> keptMode;  // an existing file's permissions; a new file's are 0666 less the umask
    if (fd >= 0) {
        struct stat opened {};
        if (fstat(fd, &opened) != 0) {
            const int error = errno;
            close(fd);
            Fail(std::strerror(error));
        }
        if (S_ISREG(opened.st_mode)) {
            // A regular file is replaced whole, at the name its links lead to: it is
            // kept as it was until the table is complete, and the links stay links.
            close(fd);
            fd = -1;
            targetPath_ = LinkedName(path_);
            struct stat target {};
            if (stat(targetPath_.c_str(), &target) != 0 || target.st_dev != opened.st_dev || target.st_ino != opened.st_ino)
                Fail("it changed while it was opened");
            keptMode = opened.st_mode & 07777;
        }
    } else if (errno == ENOENT) {
        targetPath_ = LinkedName(path_);  // a dangling link: the file is made where it leads
    } else {
        Fail(errno == EISDIR ? std::string("it is a folder") : std::strerror(errno));
    }
    if (fd < 0) {
        // O_EXCL: a file or a link already at the name is noticed, never followed.
        // The name is listed before the file exists, so a signal never misses it.
        for (int attempt = 0; fd < 0; ++attempt) {
            temporaryPath_ = targetPath_ + ".part-" + RandomSuffix();
            listedSlot_ = ListTemporaryFile(temporaryPath_);
            fd = open(temporaryPath_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd >= 0) break;
            const int error = errno;
            UnlistTemporaryFile(listedSlot_);
            if (error != EEXIST || attempt == 100) {
                temporaryPath_.clear();
                Fail(std::strerror(error));
            }
        }
        // An existing file keeps its permissions (a private 0600 file stays private).
        if (keptMode && fchmod(fd, *keptMode) != 0) {
            const int error = errno;
            close(fd);
            unlink(temporaryPath_.c_str());
            UnlistTemporaryFile(listedSlot_);
            temporaryPath_.clear();
            Fail(std::strerror(error));
        }
    }
    buffer_ = std::make_unique<FdStreamBuffer>(fd);
    stream_.rdbuf(buffer_.get());
}

OutputFile::~OutputFile()
{
    if (committed_) return;
    buffer_->Close();
    if (temporaryPath_.empty()) return;
    unlink(temporaryPath_.c_str());
    UnlistTemporaryFile(listedSlot_);
}

void OutputFile::Fail(const std::string& reason) const
{
    throw std::runtime_error("cannot write " + path_ + ": " + reason);
}

void OutputFile::CheckWrites() const
{
    if (!stream_.good()) Fail(WriteFailure(stream_));
}

void OutputFile::Commit()
{
    stream_.flush();
    CheckWrites();
    if (!buffer_->Close()) Fail(std::strerror(buffer_->error()));
    if (!temporaryPath_.empty()) {
        if (std::rename(temporaryPath_.c_str(), targetPath_.c_str()) != 0) Fail(std::strerror(errno));
        UnlistTemporaryFile(listedSlot_);
    }
    committed_ = true;
}
