#pragma once
#include <memory>
#include <ostream>
#include <string>

#include "app/fd_stream.h"

// A file the runner writes a table into, named as the user names it: a link is
// written through, never replaced. A regular file (or a new name) appears only when
// committed: the table is written into a temporary file created exclusively beside
// it (never at a name known in advance, never through a link) and renamed over it
// once every write and the close succeeded; where the name is a link, beside the
// file the link leads to, so the link stays. An existing file keeps its
// permissions. Anything else (a device, a FIFO, /dev/stdout on a pipe) is written
// into directly, since a rename would replace it. Every failure throws
// std::runtime_error naming the file.
class OutputFile {
public:
    explicit OutputFile(std::string path);
    ~OutputFile();  // without a commit, the temporary file is removed
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    std::ostream& stream() { return stream_; }
    // Throws when a write failed before (so a long run can stop at once).
    void CheckWrites() const;
    void Commit();

private:
    [[noreturn]] void Fail(const std::string& reason) const;
    std::string path_;
    std::string targetPath_;     // where the links of path_ lead: the file replaced or made
    std::string temporaryPath_;  // empty when writing into the target itself
    int listedSlot_ = -1;
    std::unique_ptr<FdStreamBuffer> buffer_;
    std::ostream stream_{nullptr};
    bool committed_ = false;
};
