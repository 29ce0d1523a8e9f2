"""The land-use model driven by walking agents, from Python.

    import landuse
    sim = landuse.Simulation(seed=landuse.replicate_seed(3), Edit_size=10, E_CProbab=0.2)
    sim.run()                      # to the stop time (E_stop, 800 by default)
    sim.statistics                 # one row per step, as the headless runner's CSV
    grids = sim.cells()            # numpy arrays [row, column]

The package calls the model's own simulation library (the extension module
``landuse._core``); nothing of the model is written again in Python.
"""

import functools
import numbers
import os
import re

import numpy as np
import pandas as pd

from ._core import ConversionError, ControlValueError, RunStateError, __version__, draws_between, replicate_seed, streams_overlap
from ._core import ModelRun as _ModelRun
from ._core import check_control_value as _check_control_value
from ._core import default_track_threshold as _default_track_threshold
from ._core import max_state_file_bytes as _max_state_file_bytes
from ._core import control_table as _control_table
from ._core import pattern_measures as _pattern_measures
from ._core import statistics_columns as _statistics_columns
from .files import FileSizeError, read_regular_file, write_atomically

__all__ = [
    "ConversionError",
    "ControlValueError",
    "RunStateError",
    "Simulation",
    "__version__",
    "check_controls",
    "control_settings",
    "control_table",
    "control_text",
    "designs",
    "measures",
    "patterns",
    "patterns_with",
    "draws_between",
    "read_statistics",
    "replicate_seed",
    "streams_overlap",
    "sweep",
    "open_results",
    "to_table",
]

# The runner's CSV columns, as the model's library names them.
STATISTICS_COLUMNS = list(_statistics_columns)
# Every column but max_mark is a whole number.
STATISTICS_DTYPES = {name: ("float64" if name == "max_mark" else "int64") for name in STATISTICS_COLUMNS}
# Every pattern measure in column order, from the model's own table: name (the
# index), unit and meaning.
PATTERN_MEASURES = pd.DataFrame(list(_pattern_measures), columns=["name", "unit", "meaning"]).set_index("name")
# The all-tracks value from which a cell is a track cell, as the runner's default.
DEFAULT_TRACK_THRESHOLD = _default_track_threshold
# The step count is a 32-bit number in the model.
LARGEST_STEP = 2**31 - 1
# The largest run state file read, as the headless runner's.
MAX_STATE_FILE_BYTES = _max_state_file_bytes
# The model reads control texts as C strings and params files line by line: a NUL
# would cut a text short, a line break would split a line.
_CONTROL_CHARACTER = re.compile(r"[\x00-\x1f\x7f-\x9f]")


def control_text(value):
    """The text a control is given for a value: texts as they are, True/False as
    "1"/"0", whole numbers in decimal and other reals in the shortest form that
    reads back as the same double (repr), so 0.1 is the double nearest 0.1."""
    if isinstance(value, str):
        return value
    if isinstance(value, (bool, np.bool_)):
        return "1" if value else "0"
    if isinstance(value, numbers.Integral):
        return str(int(value))
    if isinstance(value, numbers.Real):
        return repr(float(value))
    raise TypeError(f"a control takes a text or a number, not {type(value).__name__}")


def control_table():
    """Every control the model has, one row each: name, kind, page, default (the
    panel's text), caption, meaning, range and, for a radio button, its partner.
    Usage-table cells are named StringGrid1.C.R (column 1..5, row 1..3)."""
    return pd.DataFrame(_control_table()).set_index("name")


@functools.lru_cache(maxsize=1)
def _radio_partners():
    # Made once: the table is the model's own and never changes, and every point of a sweep is checked with it.
    return {row["name"]: row["partner"] for row in _control_table() if row["partner"]}


def control_settings(controls):
    """The (name, text) pairs that set up ``controls``, in their order. A radio
    button can only be switched on, which switches its partner off; one given as
    off ("0", 0, False) is set as its partner switched on, so that
    ``Simulation(**sim.controls())`` makes the same set-up. A pair given both on
    or both off, or a name or text with a control character (NUL, a line break),
    raises ``ControlValueError``."""
    partners = _radio_partners()
    texts = {name: control_text(value) for name, value in controls.items()}
    for name, text in texts.items():
        for what, found in ((f"the control name {name[:40]!r}", name), (f"{name}'s text {text[:40]!r}", text)):
            bad = _CONTROL_CHARACTER.search(found) if isinstance(found, str) else None
            if bad:
                raise ControlValueError(f"{what} holds the control character {bad.group()!r} at position "
                                        f"{bad.start()}: names and texts take printable characters only")
    settings = []
    for name, text in texts.items():
        partner = partners.get(name)
        if partner is None or text != "0":
            settings.append((name, text))
            continue
        if partner in texts:
            if texts[partner] != "1":
                raise ControlValueError(f"{name} and {partner} are a pair: one of them is on, the other off")
            continue  # the partner switched on sets both
        settings.append((partner, "1"))
    for name, partner in partners.items():
        if texts.get(name) == "1" and texts.get(partner) == "1":
            raise ControlValueError(f"{name} and {partner} are a pair: one of them is on, the other off")
    return settings


def check_controls(controls):
    """Raises for a control that does not exist or a value it cannot hold
    (``ControlValueError``) or a value of no type a control takes (``TypeError``),
    without running anything. A text that does not convert is found only where the
    model reads it."""
    for name, text in control_settings(controls):
        _check_control_value(name, text)


def read_statistics(path):
    """A statistics CSV (the headless runner's or the window's) as a DataFrame with
    every value as written: whole numbers as int64 and max_mark as the very double
    the run computed (pandas' default parser misreads the last digit of some)."""
    return pd.read_csv(path, dtype=STATISTICS_DTYPES, float_precision="round_trip")


class Simulation:
    """One run of the model, as a program start would make it.

    ``seed`` is the random generator's starting state (0, the program's own
    start, gives the default run; ``replicate_seed(k)`` gives replicate k).
    Every keyword is a control by its table name (see ``control_table()``), with
    the panel's text or a plain number. They are applied in order as if typed
    before the start, each running its change handler; usage-table cells are
    written after the start, and the table is read once.

    A text that does not convert raises ``ConversionError`` (a ``ValueError``
    whose message is the model's own, e.g. "'abc' is not a valid floating point
    value"; its ``control`` names the control), where the model reads it: on
    setting, at the start or in a step. A value a control cannot hold (a check
    state other than 0/1, an unknown name) raises ``ControlValueError``, also a
    ``ValueError``.

    A radio button given as off switches its partner on (see ``control_settings``),
    so ``Simulation(**sim.controls())`` repeats sim's set-up.

    ``threads`` (1 or 2) is how many workers the diffusion uses; by default 1.
    Every count gives the same run.

    ``pictures=True`` records the cells' drawing at every step, as the window
    does, so that ``picture()`` shows the tracks in gray; the run is the same
    either way. Without it nothing is recorded (a step costs nothing more) and a
    picture shows the cells' kinds and the agents on white.

    One Simulation may be used from several threads: its calls take turns (a
    ``step(n)`` lets others in between its steps).

    ``save(path)`` writes the whole run (controls, world, agents, generator,
    statistics so far) as a run state file, and ``Simulation.load(path)`` goes on
    from it bit for bit; the headless runner and the window read and write the
    same files. ``pickle`` and ``copy.deepcopy`` go through the same bytes, so a
    Simulation can travel to a Dask worker; a copy is a run of its own that
    shares nothing with its original, and uses one worker.
    """

    def __init__(self, seed=0, threads=None, pictures=False, **controls):
        if not isinstance(seed, numbers.Integral) or not 0 <= int(seed) <= 0xFFFFFFFF:
            raise ValueError(f"seed takes a whole number 0..4294967295, not {seed!r}")
        self._run = _ModelRun(int(seed), control_settings(controls), bool(pictures))
        self._pictures = bool(pictures)
        if threads is not None:
            if not isinstance(threads, numbers.Integral):
                raise ValueError(f"threads takes 1 or 2, not {threads!r}")
            self._run.set_threads(int(threads))

    @property
    def seed(self):
        """The generator's starting state."""
        return self._run.seed

    @property
    def draws(self):
        """The random numbers this run has drawn so far, its set-up included: its
        stream is the next ``draws`` states of the generator's cycle after ``seed``."""
        return self._run.draws

    @property
    def step_count(self):
        """Steps run so far."""
        return self._run.step_count

    @property
    def stop_time(self):
        """The step at which the run stops by itself (the control E_stop)."""
        return self._run.stop_time

    def set(self, name, value):
        """Changes a control as the user would: its change handler runs. A radio
        button set off switches its partner on."""
        for setting in control_settings({name: value}):
            self._run.set(*setting)

    def step(self, n=1):
        """Runs n time steps. A conversion error ends the step where the value was
        read; the steps before it stay in ``statistics``."""
        left = LARGEST_STEP - self.step_count
        if not isinstance(n, numbers.Integral) or not 0 <= n <= left:
            raise ValueError(f"step takes a whole number 0..{left} (the step count ends at {LARGEST_STEP}), not {n!r}")
        self._run.step(int(n))

    def run(self, steps=None, measures=None, every=1, stop_when=None):
        """Runs ``steps`` steps (by default those left to the stop time) and returns
        their table: the statistics of each step, then the columns of ``measures``
        (a function ``f(sim) -> dict``, evaluated every ``every`` steps of the run's
        count and at the last step; empty on the other rows) and ``stopped``, true on
        the last row when ``stop_when`` (a function ``g(sim) -> bool``, or a
        condition's text such as ``"agents >= 2000"``, see ``landuse.measures``),
        evaluated at the same steps, ended the run early. A measure or stop
        condition that raises raises ``landuse.measures.MeasureError`` naming it;
        the steps run stay in ``statistics``."""
        from .measures import check_every, check_functions, measure_table, step_measured

        measures, stop_when = check_functions(measures, stop_when)
        every = check_every(every)
        if steps is None:
            if self.stop_time <= 0:
                raise ValueError(f"the stop time {self.stop_time} never stops the run: use step(n)")
            steps = max(0, self.stop_time - self.step_count)
        left = LARGEST_STEP - self.step_count
        if isinstance(steps, bool) or not isinstance(steps, numbers.Integral) or not 0 <= steps <= left:
            raise ValueError(f"run takes a whole number of steps 0..{left}, not {steps!r}")
        first = self.step_count
        reserved = {*STATISTICS_COLUMNS, "stopped"}
        measured, stopped = step_measured(self, int(steps), measures, every, stop_when, reserved)
        table = self.statistics
        table = table[table["step"] > first].reset_index(drop=True)
        names = list(dict.fromkeys(name for values in measured.values() for name in values))
        # Joined in one go: a column at a time costs pandas time in proportion to the columns already there.
        rows = [measured.get(step, {}) for step in table["step"]]
        stopped = pd.DataFrame({"stopped": [stopped and i == len(table) - 1 for i in range(len(table))]})
        return pd.concat([table, measure_table(rows, names, table.index), stopped], axis=1)

    def patterns(self, track_threshold=DEFAULT_TRACK_THRESHOLD):
        """The pattern of land use as it stands: {name: value} of every measure of
        ``PATTERN_MEASURES``, in its order (as the runner's ``--patterns``). Track
        cells are those whose all-tracks value is ``track_threshold`` or more; a
        measure with nothing to measure is NaN."""
        from .measures import check_track_threshold

        return self._run.patterns(check_track_threshold(track_threshold))

    @property
    def statistics(self):
        """One row per completed step: the columns and values of the headless
        runner's CSV (step, agents, successful, avg_travel, max_mark, migrated,
        returning, then the cells of each kind: empty, obstacles, residential,
        destinations, services, industry)."""
        return pd.DataFrame(self._run.statistics(), columns=STATISTICS_COLUMNS)

    def agents(self):
        """The agents in list order (the index): position, home, mode, heading,
        travel steps and the success and migrated flags."""
        frame = pd.DataFrame(self._run.agents())
        frame.index.name = "index"
        return frame

    def cells(self):
        """Every cell's values as numpy arrays indexed [row, column]: kind,
        all_tracks, return_tracks, population, service, industry (the three
        potential fields) and agents (the agents standing on the cell)."""
        return dict(self._run.cells())

    def controls(self):
        """Every control's value in effect, as the text the control holds."""
        return dict(self._run.controls())

    def state(self):
        """The whole run as the bytes of a run state file."""
        return self._run.state()

    @classmethod
    def from_state(cls, state, pictures=None):
        """The run a state holds (bytes, as ``state()`` gives them), to go on with.
        ``pictures`` as for a new Simulation; by default the run records its drawing
        when the saved run recorded it, so its pictures are those of the whole run. A
        state without a drawing record, asked for pictures, starts one with every cell
        drawn afresh from its values. A state that is damaged, of another format
        version or no state at all raises ``RunStateError`` (a ``ValueError``)."""
        if not isinstance(state, (bytes, bytearray, memoryview)):
            raise TypeError(f"a run state is bytes, not {type(state).__name__}")
        sim = cls.__new__(cls)
        sim._run = _ModelRun(bytes(state), None if pictures is None else bool(pictures))
        sim._pictures = sim._run.recording()
        return sim

    def save(self, path):
        """Writes the run state to ``path``. A regular file is replaced only once the
        whole state is written and synced (a temporary file beside it is renamed over
        it), so a failed save leaves the old file as it was; it keeps its permission
        bits. A link is written through: the file it names is written, the link stays.
        A device or a pipe (/dev/stdout to a pipe) is written into."""
        data = self.state()
        write_atomically(os.fspath(path), lambda f: f.write(data), binary=True)

    @classmethod
    def load(cls, path, pictures=None):
        """The run saved in the state file at ``path``, to go on with bit for bit.
        A file that is no regular file (a device, a pipe, a folder) or is larger than
        ``MAX_STATE_FILE_BYTES`` raises ``RunStateError`` before anything is read; a
        missing one ``FileNotFoundError``."""
        try:
            state = read_regular_file(path, MAX_STATE_FILE_BYTES, "a run state")
        except FileSizeError as e:
            raise RunStateError(str(e)) from None
        return cls.from_state(state, pictures)

    def picture(self):
        """The drawing panel as the window shows it, as a numpy uint8 array of
        shape (404, 404, 3) indexed [y, x, channel] (RGB): every cell as last
        drawn (its kind's colour, or its gray with ``pictures=True``), under the
        agents' dots when the control CB_showAg is on."""
        return self._run.picture()

    def _repr_png_(self):
        """The picture as PNG bytes, for notebooks and anything that shows PNGs."""
        return self._run.picture_png()

    def __repr__(self):
        return f"<landuse.Simulation seed={self.seed} step {self.step_count} of {self.stop_time}>"

    def __reduce__(self):
        return (_simulation_from_state, (self.state(), self._pictures))

    def __copy__(self):
        return self.from_state(self.state(), self._pictures)

    def __deepcopy__(self, memo):
        return self.from_state(self.state(), self._pictures)


def _simulation_from_state(state, pictures=None):
    """Unpickles a Simulation."""
    return Simulation.from_state(state, pictures)


from . import designs, measures  # noqa: E402  (both use the package's names)
from .measures import patterns, patterns_with  # noqa: E402
from .sweeps import sweep  # noqa: E402  (the sweep uses Simulation)
from .results_store import open_results, to_table  # noqa: E402


def __getattr__(name):
    """landuse.sensitivity, .screening, .calibrate (scipy) and landuse.plot, .plot_analysis (matplotlib) are
    imported when first used."""
    if name in ("sensitivity", "plot", "screening", "calibrate", "plot_analysis"):
        import importlib

        return importlib.import_module(f".{name}", __name__)
    raise AttributeError(f"module 'landuse' has no attribute {name!r}")
