#pragma once
#include <array>
#include <ostream>
#include <streambuf>
#include <string>

// A buffered writer on a file descriptor that keeps the reason of the first failed
// write, so a full disk, a closed stdout or a broken pipe is reported, not lost.
class FdStreamBuffer : public std::streambuf {
public:
    // fd -1 stands for a descriptor that was closed: writing anything fails with EBADF.
    // With wholeLines, a full buffer is written only up to its last line break, so
    // whatever reaches the descriptor ends with a whole line.
    explicit FdStreamBuffer(int fd, bool wholeLines = false);
    ~FdStreamBuffer() override;
    FdStreamBuffer(const FdStreamBuffer&) = delete;
    FdStreamBuffer& operator=(const FdStreamBuffer&) = delete;

    // The errno of the first failure, 0 while every write succeeded.
    int error() const { return error_; }
    // Writes what is buffered and closes the descriptor; false (with error()) on failure.
    bool Close();

protected:
    int_type overflow(int_type c) override;
    int sync() override;

private:
    bool WriteOut(std::size_t count);  // writes the buffer's first `count` bytes
    int fd_;
    bool wholeLines_;
    int error_ = 0;
    std::array<char, 1 << 16> buffer_;
};

// Why writing to `stream` failed: the system's reason when it writes to a
// descriptor, else a plain "write error".
std::string WriteFailure(const std::ostream& stream);
