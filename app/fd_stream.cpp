#include "app/fd_stream.h"

#include <cerrno>
#include <cstring>

#include <unistd.h>

FdStreamBuffer::FdStreamBuffer(int fd, bool wholeLines) : fd_(fd), wholeLines_(wholeLines)
{
    setp(buffer_.data(), buffer_.data() + buffer_.size());
}

FdStreamBuffer::~FdStreamBuffer()
{
    // Flushing is the owner's job (Close or the stream's flush); a descriptor the
    // owner did not close stays open.
}

bool FdStreamBuffer::WriteOut(std::size_t count)
{
    const char* data = pbase();
    std::size_t left = count;
    if (left > 0 && fd_ < 0) error_ = EBADF;
    while (left > 0 && error_ == 0) {
        const ssize_t written = write(fd_, data, left);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            error_ = written < 0 ? errno : EIO;
            break;
        }
        data += written;
        left -= static_cast<std::size_t>(written);
    }
    if (error_ != 0) return false;
    // Keeps what was not written (a part line) at the start of the buffer.
    const std::size_t rest = static_cast<std::size_t>(pptr() - pbase()) - count;
    std::memmove(buffer_.data(), pbase() + count, rest);
    setp(buffer_.data(), buffer_.data() + buffer_.size());
    pbump(static_cast<int>(rest));
    return true;
}

FdStreamBuffer::int_type FdStreamBuffer::overflow(int_type c)
{
    if (error_ != 0) return traits_type::eof();
    std::size_t count = static_cast<std::size_t>(pptr() - pbase());
    if (wholeLines_) {
        std::size_t lineEnd = count;
        while (lineEnd > 0 && pbase()[lineEnd - 1] != '\n') --lineEnd;
        if (lineEnd > 0) count = lineEnd;  // a line longer than the buffer goes out in parts
    }
    if (!WriteOut(count)) return traits_type::eof();
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
        *pptr() = traits_type::to_char_type(c);
        pbump(1);
    }
    return traits_type::not_eof(c);
}

int FdStreamBuffer::sync()
{
    if (error_ != 0) return -1;
    return WriteOut(static_cast<std::size_t>(pptr() - pbase())) ? 0 : -1;
}

bool FdStreamBuffer::Close()
{
    const bool written = sync() == 0;
    if (fd_ >= 0 && close(fd_) != 0 && error_ == 0) error_ = errno;
    fd_ = -1;
    return written && error_ == 0;
}

std::string WriteFailure(const std::ostream& stream)
{
    if (const auto* buffer = dynamic_cast<const FdStreamBuffer*>(stream.rdbuf()); buffer && buffer->error() != 0)
        return std::strerror(buffer->error());
    return "write error";
}
