"""Files written whole or not at all, with the permissions the umask leaves."""

import os
import tempfile


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


def write_atomically(path, write, binary=False):
    """Calls write(file) to write the file at path. A regular file (or a new one) is
    written to a temporary file beside it, synced and renamed over it, so path never
    holds half a content and an old file stays as it was on a failure; anything else
    (a device, a pipe) is written into."""
    mode = "wb" if binary else "w"
    newline = None if binary else ""
    if os.path.exists(path) and not os.path.isfile(path):
        with open(path, mode, newline=newline) as f:
            write(f)
        return
    directory = os.path.dirname(os.path.abspath(path))
    descriptor, temporary = tempfile.mkstemp(dir=directory, prefix="." + os.path.basename(path) + ".",
                                             suffix=".tmp")
    try:
        os.fchmod(descriptor, 0o666 & ~current_umask())
        with os.fdopen(descriptor, mode, newline=newline) as f:
            write(f)
            f.flush()
            os.fsync(f.fileno())
        os.replace(temporary, path)
    except BaseException:
        os.unlink(temporary)
        raise
