#pragma once
#include <memory>
#include <ostream>
#include <string>

#include "app/fd_stream.h"
#include "files/atomic_file.h"

// A file the runner writes a table into, named as the user names it, written by
// AtomicFile (files/atomic_file.h holds the rule for names and links): a regular
// file appears whole only when committed, and a link stays a link; anything else
// (a device, a FIFO, /dev/stdout on a pipe) is written into. The temporary file is
// on the list a signal clears. Every failure throws std::runtime_error naming the
// file.
class OutputFile {
public:
    explicit OutputFile(std::string path);
    // Without a commit, the temporary file is removed; a device or FIFO still gets
    // what was buffered, as it got every full buffer before.
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    std::ostream& stream() { return stream_; }
    // Throws when a write failed before (so a long run can stop at once).
    void CheckWrites() const;
    // Writes out what is buffered, then commits the file: every write, the sync
    // and the close checked before the rename.
    void Commit();

private:
    AtomicFile file_;
    std::unique_ptr<FdStreamBuffer> buffer_;
    std::ostream stream_{nullptr};
};
