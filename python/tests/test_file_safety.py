"""Files written whole through the one writer (run states, tables, plots): written
through links, never replacing them, keeping a file's mode, every failure
reported; read only when a regular file of a plausible size."""

import contextlib
import errno
import os
import pathlib
import signal
import stat
import subprocess
import sys
import tempfile
import threading

import pytest

import landuse
import landuse.files

PACKAGE_PARENT = str(pathlib.Path(landuse.__file__).resolve().parents[1])


@pytest.fixture(scope="module")
def state():
    return landuse.Simulation(Edit_size=10).state()


@contextlib.contextmanager
def fails_after(seconds):
    """Ends a call that blocks (a FIFO opened for reading) with TimeoutError."""

    def expire(number, frame):
        raise TimeoutError(f"still waiting after {seconds} s")

    previous = signal.signal(signal.SIGALRM, expire)
    signal.setitimer(signal.ITIMER_REAL, seconds)
    try:
        yield
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)


def link_to_file(folder):
    (folder / "real.lus").write_bytes(b"old")
    (folder / "real.lus").chmod(0o640)
    (folder / "name.lus").symlink_to("real.lus")
    return folder / "name.lus", folder / "real.lus", 0o640


def chain_to_nothing(folder):
    (folder / "sub").mkdir()
    (folder / "sub" / "hop.lus").symlink_to("made.lus")  # relative to sub, not to the first link's folder
    (folder / "name.lus").symlink_to("sub/hop.lus")
    mask = os.umask(0)
    os.umask(mask)
    return folder / "name.lus", folder / "sub" / "made.lus", 0o666 & ~mask


def private_file(folder):
    (folder / "name.lus").write_bytes(b"old")
    (folder / "name.lus").chmod(0o600)
    return folder / "name.lus", folder / "name.lus", 0o600


@pytest.mark.parametrize("make", [link_to_file, chain_to_nothing, private_file])
def test_a_regular_file_is_replaced_whole_where_its_name_leads(tmp_path, state, make):
    name, target, mode = make(tmp_path)
    links = {path: os.readlink(path) for path in tmp_path.rglob("*") if path.is_symlink()}
    landuse.Simulation(Edit_size=10).save(name)
    assert target.read_bytes() == state and stat.S_IMODE(target.stat().st_mode) == mode
    assert {path: os.readlink(path) for path in tmp_path.rglob("*") if path.is_symlink()} == links
    assert sorted(p.name for p in target.parent.iterdir() if p.name.endswith(".tmp")) == []


def test_a_link_to_a_fifo_or_a_device_is_written_into(tmp_path, state):
    fifo = tmp_path / "pipe"
    os.mkfifo(fifo)
    (tmp_path / "to-pipe").symlink_to(fifo)
    received = []
    reader = threading.Thread(target=lambda: received.append(fifo.read_bytes()))
    reader.start()
    with fails_after(20):
        landuse.Simulation(Edit_size=10).save(tmp_path / "to-pipe")
    reader.join()
    assert received == [state] and stat.S_ISFIFO(fifo.lstat().st_mode)
    (tmp_path / "to-null").symlink_to("/dev/null")
    landuse.Simulation(Edit_size=10).save(tmp_path / "to-null")
    assert stat.S_ISCHR(os.stat("/dev/null").st_mode) and (tmp_path / "to-null").is_symlink()
    with pytest.raises(IsADirectoryError, match="folder"):
        landuse.Simulation().save(tmp_path)


def as_nobody():
    """Run as nobody where this process may: /dev is then not ours to change."""
    if os.geteuid() == 0:
        os.setgroups([])
        os.setgid(65534)
        os.setuid(65534)


def test_dev_stdout_to_a_file_is_written_and_stays_a_link(state):
    package = pathlib.Path(PACKAGE_PARENT)
    if os.geteuid() == 0 and not all(os.stat(p).st_mode & 0o005 == 0o005 for p in [package, *package.parents]):
        pytest.skip("nobody cannot import landuse from this build tree")
    script = "import landuse\nlanduse.Simulation(Edit_size=10).save('/dev/stdout')\n"
    link = os.readlink("/dev/stdout")
    with tempfile.TemporaryDirectory() as folder:
        os.chmod(folder, 0o777)
        out = pathlib.Path(folder) / "out.lus"
        with open(out, "wb") as stdout:
            os.fchmod(stdout.fileno(), 0o666)
            done = subprocess.run(
                [sys.executable, "-c", script],
                stdout=stdout,
                stderr=subprocess.PIPE,
                env=dict(os.environ, PYTHONPATH=PACKAGE_PARENT),
                preexec_fn=as_nobody,
                timeout=120,
            )
        assert done.returncode == 0, done.stderr
        assert out.read_bytes() == state
    assert os.readlink("/dev/stdout") == link


def sparse_over_the_limit(folder):
    path = folder / "large.lus"
    path.touch()
    os.truncate(path, landuse.MAX_STATE_FILE_BYTES + 1)
    return path


def fifo(folder):
    os.mkfifo(folder / "pipe")
    return folder / "pipe"


@pytest.mark.parametrize(
    "make, message",
    [
        (lambda folder: "/dev/zero", "is not a regular file"),
        (fifo, "is not a regular file"),
        (lambda folder: folder, "is a folder, not a run state"),
        (sparse_over_the_limit, "is larger than 1024 MiB, too large for a run state"),
        (lambda folder: "/proc/self/status", "changed while it was read"),  # said to be empty, yet has lines
    ],
)
def test_load_refuses_what_is_no_run_state_file_before_reading_it(tmp_path, make, message):
    with fails_after(20), pytest.raises(landuse.RunStateError, match=message):
        landuse.Simulation.load(make(tmp_path))


def test_load_reads_a_saved_state_and_a_missing_file_stays_an_os_error(tmp_path, state):
    landuse.Simulation(Edit_size=10).save(tmp_path / "run.lus")
    assert landuse.Simulation.load(tmp_path / "run.lus").state() == state
    with pytest.raises(FileNotFoundError):
        landuse.Simulation.load(tmp_path / "missing.lus")


def test_a_name_that_no_longer_leads_to_the_file_opened_is_refused(tmp_path):
    with open(tmp_path / "gone.lus", "wb") as opened:
        os.unlink(tmp_path / "gone.lus")
        with pytest.raises(OSError, match="changed while it was opened"):
            landuse.Simulation(Edit_size=10).save(f"/proc/self/fd/{opened.fileno()}")
    assert list(tmp_path.iterdir()) == []


def _fail_with(error_number):
    def fail(*args, **kwargs):
        raise OSError(error_number, os.strerror(error_number))

    return fail


def _writer_fails(file):
    file.write(b"half of the new")
    raise OSError(errno.EIO, os.strerror(errno.EIO))


@pytest.mark.parametrize(
    "failing, error_number",
    [
        ("write", errno.EIO),  # the caller's writer
        ("fsync", errno.EIO),  # the sync to disk
        ("close", errno.ENOSPC),  # the flush at the close (NFS says a disk is full only there)
        ("replace", errno.EXDEV),  # the rename
    ],
)
def test_every_failure_reaches_the_caller_and_keeps_the_old_file(tmp_path, monkeypatch, failing, error_number):
    (tmp_path / "real.bin").write_bytes(b"old")
    (tmp_path / "name.bin").symlink_to("real.bin")
    write = lambda f: f.write(b"new")  # noqa: E731
    if failing == "write":
        write = _writer_fails
    elif failing == "close":

        class FailsAtClose:
            def __init__(self, raw):
                self.raw = raw

            def __getattr__(self, name):
                return getattr(self.raw, name)

            def __enter__(self):
                return self

            def __exit__(self, *exc):
                self.raw.close()
                _fail_with(error_number)()

        real_fdopen = os.fdopen
        monkeypatch.setattr(landuse.files.os, "fdopen", lambda *a, **k: FailsAtClose(real_fdopen(*a, **k)))
    else:
        monkeypatch.setattr(landuse.files.os, failing, _fail_with(error_number))
    with pytest.raises(OSError) as raised:
        landuse.files.write_atomically(tmp_path / "name.bin", write, binary=True)
    monkeypatch.undo()
    assert raised.value.errno == error_number
    assert (tmp_path / "real.bin").read_bytes() == b"old" and (tmp_path / "name.bin").is_symlink()
    assert sorted(p.name for p in tmp_path.iterdir()) == ["name.bin", "real.bin"]


def test_a_full_device_fails_states_tables_and_plots(tmp_path):
    """Written into, /dev/full takes nothing: the error surfaces when the file is
    flushed and closed, for a run state, a table and a plot alike, named directly
    or through a link (which stays a link)."""
    matplotlib = pytest.importorskip("matplotlib")
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    import landuse.plot_analysis

    (tmp_path / "to-full").symlink_to("/dev/full")
    for path in ["/dev/full", tmp_path / "to-full"]:
        writes = [
            lambda: landuse.Simulation(Edit_size=10).save(path),
            lambda: landuse.files.write_atomically(path, lambda f: f.write("step,agents\n0,1\n")),
            lambda: landuse.plot_analysis.save(plt.figure(), path),
        ]
        for write in writes:
            with pytest.raises(OSError) as raised:
                write()
            assert raised.value.errno == errno.ENOSPC, path
    plt.close("all")
    assert (tmp_path / "to-full").is_symlink() and stat.S_ISCHR(os.stat("/dev/full").st_mode)


def test_plots_are_written_whole_in_the_format_their_name_gives(tmp_path):
    matplotlib = pytest.importorskip("matplotlib")
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    import landuse.plot_analysis

    (tmp_path / "real.png").write_bytes(b"old")
    (tmp_path / "chart.png").symlink_to("real.png")
    landuse.plot_analysis.save(plt.figure(), tmp_path / "chart.png")
    assert (tmp_path / "real.png").read_bytes()[:8] == b"\x89PNG\r\n\x1a\n" and (tmp_path / "chart.png").is_symlink()
    landuse.plot_analysis.save(plt.figure(), tmp_path / "chart.svg")
    assert b"<svg" in (tmp_path / "chart.svg").read_bytes()[:1000]
    (tmp_path / "chart.nope").write_bytes(b"old")
    with pytest.raises(ValueError, match="nope"):
        landuse.plot_analysis.save(plt.figure(), tmp_path / "chart.nope")
    plt.close("all")
    assert (tmp_path / "chart.nope").read_bytes() == b"old"
    assert sorted(p.name for p in tmp_path.iterdir()) == ["chart.nope", "chart.png", "chart.svg", "real.png"]
