#include "output_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include "signal_cleanup.h"

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
    struct stat info {};
    int fd = -1;
    if (stat(path_.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        if (S_ISDIR(info.st_mode)) Fail("it is a folder");
        fd = open(path_.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd < 0) Fail(std::strerror(errno));
    } else {
        // O_EXCL: a file or a link already at the name is noticed, never followed.
        // The mode is the one a plain new file gets (0666 less the umask). The name
        // is listed before the file exists, so a signal never misses it.
        for (int attempt = 0; fd < 0; ++attempt) {
            temporaryPath_ = path_ + ".part-" + RandomSuffix();
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
        if (std::rename(temporaryPath_.c_str(), path_.c_str()) != 0) Fail(std::strerror(errno));
        UnlistTemporaryFile(listedSlot_);
    }
    committed_ = true;
}
