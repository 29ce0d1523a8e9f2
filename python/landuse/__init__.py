"""The land-use model driven by walking agents, from Python.

    import landuse
    sim = landuse.Simulation(seed=landuse.replicate_seed(3), Edit_size=10, E_CProbab=0.2)
    sim.run()                      # to the stop time (E_stop, 800 by default)
    sim.statistics                 # one row per step, as the headless runner's CSV
    grids = sim.cells()            # numpy arrays [row, column]

The package calls the model's own simulation library (the extension module
``landuse._core``); nothing of the model is written again in Python.
"""

import numbers

import pandas as pd

from ._core import ConversionError, ControlValueError, replicate_seed
from ._core import ModelRun as _ModelRun
from ._core import control_table as _control_table

__all__ = [
    "ConversionError",
    "ControlValueError",
    "Simulation",
    "control_table",
    "control_text",
    "replicate_seed",
    "sweep",
]

STATISTICS_COLUMNS = ["step", "agents", "successful", "avg_travel", "max_mark", "migrated", "returning"]


def control_text(value):
    """The text a control is given for a value: texts as they are, True/False as
    "1"/"0", whole numbers in decimal and other reals in the shortest form that
    reads back as the same double (repr), so 0.1 is the double nearest 0.1."""
    if isinstance(value, str):
        return value
    if isinstance(value, bool):
        return "1" if value else "0"
    if isinstance(value, numbers.Integral):
        return str(int(value))
    if isinstance(value, numbers.Real):
        return repr(float(value))
    raise TypeError(f"a control takes a text or a number, not {type(value).__name__}")


def control_table():
    """Every control the model has, one row each: name, kind, page, default (the
    panel's text), caption, meaning and range. Usage-table cells are named
    StringGrid1.C.R (column 1..5, row 1..3)."""
    return pd.DataFrame(_control_table()).set_index("name")


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

    ``threads`` (1 or 2) is how many workers the diffusion uses; by default as
    many as the CPUs the process may use, at most 2. Every count gives the same run.
    """

    def __init__(self, seed=0, threads=None, **controls):
        if not isinstance(seed, numbers.Integral) or not 0 <= int(seed) <= 0xFFFFFFFF:
            raise ValueError(f"seed takes a whole number 0..4294967295, not {seed!r}")
        texts = [(name, control_text(value)) for name, value in controls.items()]
        self._run = _ModelRun(int(seed), texts)
        if threads is not None:
            if not isinstance(threads, numbers.Integral):
                raise ValueError(f"threads takes 1 or 2, not {threads!r}")
            self._run.set_threads(int(threads))

    @property
    def seed(self):
        """The generator's starting state."""
        return self._run.seed

    @property
    def step_count(self):
        """Steps run so far."""
        return self._run.step_count

    @property
    def stop_time(self):
        """The step at which the run stops by itself (the control E_stop)."""
        return self._run.stop_time

    def set(self, name, value):
        """Changes a control as the user would: its change handler runs."""
        self._run.set(name, control_text(value))

    def step(self, n=1):
        """Runs n time steps. A conversion error ends the step where the value was
        read; the steps before it stay in ``statistics``."""
        if not isinstance(n, numbers.Integral) or n < 0:
            raise ValueError(f"step takes a whole number of 0 or more, not {n!r}")
        self._run.step(int(n))

    def run(self):
        """Runs the steps left to the stop time."""
        if self.stop_time <= 0:
            raise ValueError(f"the stop time {self.stop_time} never stops the run: use step(n)")
        self.step(max(0, self.stop_time - self.step_count))

    @property
    def statistics(self):
        """One row per completed step: the columns and values of the headless
        runner's CSV (step, agents, successful, avg_travel, max_mark, migrated,
        returning)."""
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

    def __repr__(self):
        return f"<landuse.Simulation seed={self.seed} step {self.step_count} of {self.stop_time}>"


from ._sweep import sweep  # noqa: E402  (the sweep uses Simulation)
