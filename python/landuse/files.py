"""Files written whole or not at all, with the permissions the umask leaves, and
files read whole only when they are regular files of a plausible size."""

import contextlib
import errno
import os
import stat
import tempfile

from .errors import LanduseValueError

__all__ = [
    "FileSizeError",
    "current_umask",
    "read_regular_file",
    "save_figure",
    "write_atomically",
]


def current_umask():
    """The process's umask, read without changing it where the system tells it."""
    try:
        with open("/proc/self/status") as status:
            for line in status:
                if line.startswith("Umask:"):
                    return int(line.split()[1], 8)
    except OSError:
        pass
    mask = os.umask(0o022)
    os.umask(mask)
    return mask


def _open_for_writing(path):
    """The descriptor of what path names, opened for writing through every link
    (the magic /proc/self/fd links included), or None where nothing is there yet."""
    if path.endswith(os.sep):
        raise IsADirectoryError(errno.EISDIR, "is a folder, not a file", path)
    try:
        return os.open(path, os.O_WRONLY | os.O_CLOEXEC | os.O_NOCTTY)
    except FileNotFoundError:
        return None
    except IsADirectoryError:
        raise IsADirectoryError(errno.EISDIR, "is a folder, not a file", path) from None


def write_atomically(path, write, binary=False):
    """Calls write(file) to write the file at path, as the name resolves through
    its links (a link stays a link). A regular file, or a new one, is written to a
    temporary file beside the file the name resolves to (made with O_EXCL), synced,
    closed and renamed over it, and the folder synced, so the file never holds half
    a content and an old file stays as it was on a failure; every failure (of
    write, the sync, the close or the rename) raises. A replaced file keeps its
    permission bits, a new one gets those the umask leaves. Anything else (a
    device, a pipe, /dev/stdout to a terminal) is written into, and a failed write
    or close raises there too. What was opened is checked, not the name, so a link
    swapped meanwhile is never written through unseen. A file this process may not
    write raises PermissionError, as the shell's `>` would. The rule, shared with
    the runner and the window: docs/reference/files.md."""
    path = os.fspath(path)
    mode = "wb" if binary else "w"
    newline = None if binary else ""
    descriptor = _open_for_writing(path)
    permissions = 0o666 & ~current_umask()
    if descriptor is not None:
        try:
            opened = os.fstat(descriptor)
            if not stat.S_ISREG(opened.st_mode):
                with os.fdopen(descriptor, mode, newline=newline, closefd=False) as f:
                    write(f)
                return
        finally:
            os.close(descriptor)
        permissions = stat.S_IMODE(opened.st_mode) & 0o777
    # A dangling link names the file to make at the end of its chain (a relative
    # target is relative to its link's folder), as opening it with O_CREAT would.
    target = os.path.realpath(path)
    try:
        named = os.lstat(target)
        found = (named.st_dev, named.st_ino)
    except FileNotFoundError:
        found = None
    # The name must still lead to what was opened (or to nothing, as it did).
    if found != (None if descriptor is None else (opened.st_dev, opened.st_ino)):
        raise OSError(errno.EAGAIN, "the file changed while it was opened, or its name cannot be found", path)
    directory, name = os.path.split(target)
    # mkstemp creates its name with O_EXCL: a file or link already there is never used.
    descriptor, temporary = tempfile.mkstemp(dir=directory, prefix="." + name + ".", suffix=".tmp")
    try:
        os.fchmod(descriptor, permissions)
        # Closing the file flushes it and reports a failed write or close.
        with os.fdopen(descriptor, mode, newline=newline) as f:
            write(f)
            f.flush()
            os.fsync(f.fileno())
        os.replace(temporary, target)
    except BaseException:
        with contextlib.suppress(FileNotFoundError):
            os.unlink(temporary)
        raise
    _sync_folder(directory)


def _sync_folder(directory):
    """Syncs the folder a file was renamed into, so the rename survives a crash. A
    folder that cannot be opened for reading, or a file system that syncs no
    folders, leaves the rename to the system."""
    try:
        descriptor = os.open(directory or ".", os.O_RDONLY | os.O_DIRECTORY | os.O_CLOEXEC)
    except OSError:
        return
    try:
        os.fsync(descriptor)
    except OSError as error:
        if error.errno not in (errno.EINVAL, errno.EROFS):
            raise
    finally:
        os.close(descriptor)


def save_figure(figure, path, **options):
    """Writes a matplotlib figure at path through write_atomically, in the format
    the path's extension names (as savefig(path) would), with savefig's options."""
    path = os.fspath(path)
    extension = os.path.splitext(path)[1][1:].lower()
    write_atomically(path, lambda f: figure.savefig(f, format=extension or None, **options), binary=True)
    return path


class FileSizeError(LanduseValueError):
    """A file that is no regular file, or larger than its kind of file can be."""


def read_regular_file(path, max_bytes, what):
    """The whole content of the regular file at path, of at most max_bytes. A
    device, a pipe or a folder (opened without blocking, so a FIFO with no writer
    does not hang), a larger file, and a file that grows or shrinks while it is
    read raise FileSizeError; a missing or unreadable file the OSError as open
    raises it. `what` names the kind of file ("a run state") in the messages."""
    descriptor = os.open(os.fspath(path), os.O_RDONLY | os.O_NONBLOCK | os.O_CLOEXEC)
    try:
        info = os.fstat(descriptor)
    except BaseException:
        os.close(descriptor)
        raise
    failure = None
    if stat.S_ISDIR(info.st_mode):
        failure = f"is a folder, not {what}"
    elif not stat.S_ISREG(info.st_mode):
        failure = "is not a regular file"
    elif info.st_size > max_bytes:
        failure = f"is larger than {max_bytes >> 20} MiB, too large for {what}"
    if failure is not None:
        os.close(descriptor)
        raise FileSizeError(f"{path}: {failure}")
    with os.fdopen(descriptor, "rb", buffering=0) as f:
        content = bytearray(info.st_size)
        view = memoryview(content)
        got = 0
        while got < info.st_size:
            n = f.readinto(view[got:])
            if not n:
                break
            got += n
        if got != info.st_size or f.read(1):
            raise FileSizeError(f"{path}: changed while it was read")
        return bytes(content)
