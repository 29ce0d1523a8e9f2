#pragma once
#include <cstddef>
#include <functional>
#include <stdexcept>
#include <string>

// Why a file could not be written: what() reads "cannot write PATH: REASON".
class FileWriteError : public std::runtime_error {
public:
    FileWriteError(const std::string& path, const std::string& reason);
    const std::string& path() const { return path_; }
    const std::string& reason() const { return reason_; }

private:
    std::string path_;
    std::string reason_;
};

// Tells a program which temporary file exists, so that it can remove it when a
// signal ends the program: `listed` is called before the file is made and
// returns a slot, `unlisted` with that slot once the file is renamed or removed.
struct TemporaryFileWatch {
    std::function<int(const std::string& path)> listed;
    std::function<void(int slot)> unlisted;
};

// Six random letters and digits (from getrandom), the end of a temporary name.
std::string RandomFileSuffix();

// A file written whole or not at all, at the name the user gives. The runner and
// the window write every file with it; Python's landuse.files.write_atomically
// follows the same rule (docs/reference/files.md).
//
// The rule for names:
//  - The name is opened for writing first, through every link, without creating
//    anything, and what was opened is judged with fstat, never the name, so a
//    link swapped between a look at the name and the open misleads nothing.
//  - Anything that is no regular file (/dev/stdout, /dev/null, a FIFO, a
//    terminal, /proc/self/fd/N) is written into as opened, since a rename would
//    replace it.
//  - A regular file is replaced whole at the name its links lead to (LinkedName),
//    so the links stay links; that name must still be the file that was opened
//    (same device and inode, and no link itself), else nothing is written.
//  - A name that does not exist yet, or a link that dangles, makes the file where
//    the chain of links ends, as the shell's `>` would; nothing may be there
//    when that name is looked at again.
//  - The content goes into a temporary file beside the target, TARGET.part-XXXXXX
//    with a random suffix, created with O_EXCL (a file or link already at that
//    name is never followed nor reused), with the permissions of the file it
//    replaces, or 0666 less the umask for a new file.
//  - Commit reports the first failed write, syncs the temporary file to disk,
//    closes it (the close is checked: some file systems report a full disk only
//    there), renames it over the target and syncs the folder, so the rename
//    itself survives a crash. A file not committed is removed; the target stays
//    as it was.
// Every failure throws FileWriteError naming the path as given.
class AtomicFile {
public:
    explicit AtomicFile(std::string path, TemporaryFileWatch watch = {},
                        std::function<std::string()> suffix = RandomFileSuffix);
    ~AtomicFile();  // without a commit, the temporary file is removed
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Where to write: the temporary file, or the opened non-regular file.
    int descriptor() const { return fd_; }
    // The name the file is (or will be) at once committed: where the links lead.
    const std::string& target() const { return targetPath_; }
    // The temporary file's name; empty when writing into a non-regular file.
    const std::string& temporary() const { return temporaryPath_; }

    // Writes every byte (again after a short write); after a failure writes
    // nothing more, and Commit reports that failure.
    void Write(const char* data, std::size_t size);
    // The errno of the first failed write, 0 while every write succeeded.
    int error() const { return error_; }

    void Commit();
    [[noreturn]] void Fail(const std::string& reason) const;

private:
    void RemoveTemporary();
    std::string path_;
    std::string targetPath_;
    std::string temporaryPath_;
    TemporaryFileWatch watch_;
    int slot_ = -1;
    int fd_ = -1;
    int error_ = 0;
    bool committed_ = false;
};

// The name a file is written at when the user names `path`: the path itself, or,
// where it is a symbolic link, the name the link leads to after every hop, whether
// or not a file is there yet. A relative link leads from the link's own folder.
// Throws FileWriteError for a chain of links that does not end (a loop) or
// cannot be read.
std::string LinkedName(const std::string& path);
