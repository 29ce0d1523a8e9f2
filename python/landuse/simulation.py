"""One run of the model: ``Simulation``."""

from __future__ import annotations

import numbers
import os
from collections.abc import Callable, Mapping
from typing import Any

import numpy as np
import pandas as pd

from ._core import ModelRun as _ModelRun
from ._core import RunStateError
from ._core import decide_steps as _decide_steps
from .controls import (
    DEFAULT_TRACK_THRESHOLD,
    LARGEST_SEED,
    MAX_STATE_FILE_BYTES,
    STATISTICS_COLUMNS,
    THREADS,
    control_settings,
)
from .errors import LanduseTypeError, LanduseValueError
from .files import FileSizeError, read_regular_file, write_atomically
from .measures import check_every, check_functions, check_track_threshold, measure_table, step_measured

__all__ = ["Simulation"]


def _steps_to_run(sim: Simulation, what: str, steps: int | None) -> int:
    """The steps ``what`` runs from sim's step count by the model's one rule, the
    headless runner's: ``steps``, or with None those left to the stop time (none
    for a run at or past it). A count out of range, or None with a stop time that
    never stops the run, raises LanduseValueError."""
    # Beyond 64 bits a count is out of range all the same; the model's rule takes 64.
    requested = None if steps is None else max(-(2**63), min(int(steps), 2**63 - 1))
    try:
        return _decide_steps(requested, sim.step_count, sim.stop_time)[0]
    except ValueError as e:
        if steps is None:
            raise LanduseValueError(f"{what}: {e} (step(n) or run(steps))") from None
        raise LanduseValueError(f"{what}({steps!r}): {e}") from None


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

    Parameters
    ----------
    seed : int, default 0
        The generator's starting state, 0..4294967295.
    threads : int, optional
        1 or 2, the diffusion's workers; 1 when not given.
    pictures : bool, default False
        Whether the cells' drawing is recorded at every step.
    **controls : str, int, float or bool
        Controls by their table name, applied in order.

    Raises
    ------
    LanduseValueError
        A seed or a thread count out of range.
    ConversionError
        A control's text that does not convert, where the set-up reads it.
    ControlValueError
        An unknown control (with the nearest names) or a value it cannot hold.
    LanduseTypeError
        A control's value of no type a control takes.

    Examples
    --------
    >>> sim = Simulation(seed=replicate_seed(3), Edit_size=10, E_CProbab=0.2)
    >>> table = sim.run(5)
    >>> list(table["step"])
    [1, 2, 3, 4, 5]
    """

    def __init__(
        self, seed: int = 0, *, threads: int | None = None, pictures: bool = False, **controls: str | float
    ) -> None:
        if not isinstance(seed, numbers.Integral) or not 0 <= int(seed) <= LARGEST_SEED:
            raise LanduseValueError(f"seed takes a whole number 0..{LARGEST_SEED}, not {seed!r}")
        self._run = _ModelRun(int(seed), control_settings(controls), bool(pictures))
        self._pictures = bool(pictures)
        if threads is not None:
            if not isinstance(threads, numbers.Integral):
                raise LanduseValueError(f"threads takes {THREADS.start}..{THREADS.stop - 1}, not {threads!r}")
            self._run.set_threads(int(threads))

    @property
    def seed(self) -> int:
        """The generator's starting state."""
        return self._run.seed

    @property
    def draws(self) -> int:
        """The random numbers this run has drawn so far, its set-up included: its
        stream is the next ``draws`` states of the generator's cycle after ``seed``."""
        return self._run.draws

    @property
    def step_count(self) -> int:
        """Steps run so far."""
        return self._run.step_count

    @property
    def stop_time(self) -> int:
        """The step at which the run stops by itself (the control E_stop)."""
        return self._run.stop_time

    def set(self, name: str, value: str | float) -> None:
        """Changes a control as the user would: its change handler runs. A radio
        button set off switches its partner on.

        Parameters
        ----------
        name : str
            The control's table name.
        value : str, int, float or bool
            Its text as the panel takes it, or a plain value.

        Raises
        ------
        ControlValueError
            An unknown control or a value it cannot hold.
        ConversionError
            A text that does not convert, where its change handler reads it.

        Examples
        --------
        >>> sim = Simulation()
        >>> sim.set("E_CProbab", "0,2")
        >>> sim.controls()["E_CProbab"]
        '0,2'
        """
        for setting in control_settings({name: value}):
            self._run.set(*setting)

    def step(self, n: int = 1) -> None:
        """Runs ``n`` time steps. A conversion error ends the step where the value was
        read; the steps before it stay in ``statistics``.

        Parameters
        ----------
        n : int, default 1
            Steps to run, at most those left before the step count's end.

        Raises
        ------
        LanduseValueError
            ``n`` out of range.
        ConversionError
            A control's text that does not convert, read in a step.

        Examples
        --------
        >>> sim = Simulation(Edit_size=10)
        >>> sim.step(3)
        >>> sim.step_count
        3
        """
        if not isinstance(n, numbers.Integral):
            raise LanduseValueError(f"step takes a whole number, not {n!r}")
        self._run.step(_steps_to_run(self, "step", n))

    def run(
        self,
        steps: int | None = None,
        *,
        measures: Callable[[Simulation], Mapping[str, Any]] | None = None,
        every: int = 1,
        stop_when: Callable[[Simulation], bool] | str | None = None,
    ) -> pd.DataFrame:
        """Runs ``steps`` steps (by default those left to the stop time) and returns
        their table: the statistics of each step, then the columns of ``measures``
        (a function ``f(sim) -> dict``, evaluated every ``every`` steps of the run's
        count and at the last step; empty on the other rows) and ``stopped``, true on
        the last row when ``stop_when`` (a function ``g(sim) -> bool``, or a
        condition's text such as ``"agents >= 2000"``, see ``landuse.measures``),
        evaluated at the same steps, ended the run early. A measure or stop
        condition that raises raises ``landuse.measures.MeasureError`` naming it;
        the steps run stay in ``statistics``.

        Parameters
        ----------
        steps : int, optional
            Steps to run; by default those left to the stop time: none for a run at or
            past it, as the headless runner decides.
        measures : callable, optional
            ``f(sim) -> dict`` of column names to plain values.
        every : int, default 1
            How often (by the run's step count) measures and the stop condition are evaluated.
        stop_when : callable or str, optional
            ``g(sim) -> bool``, or a condition's text.

        Returns
        -------
        pandas.DataFrame
            One row per step run: the statistics, the measures and ``stopped``.

        Raises
        ------
        LanduseValueError
            ``steps`` or ``every`` out of range, or no stop time to run to.
        MeasureError
            A measure or stop condition that raised or returned what is no measure.
        StopConditionError
            A condition's text the grammar does not take.

        Examples
        --------
        >>> table = Simulation(Edit_size=10).run(20, stop_when="agents >= 3")
        >>> bool(table["stopped"].iloc[-1])
        True
        """

        measures, stop_when = check_functions(measures, stop_when)
        every = check_every(every)
        if steps is not None and (isinstance(steps, bool) or not isinstance(steps, numbers.Integral)):
            raise LanduseValueError(f"run takes a whole number of steps, not {steps!r}")
        steps = _steps_to_run(self, "run", steps)
        first = self.step_count
        reserved = {*STATISTICS_COLUMNS, "stopped"}
        measured, stopped = step_measured(
            self, int(steps), measures=measures, every=every, stop_when=stop_when, reserved=reserved
        )
        table = self.statistics
        table = table[table["step"] > first].reset_index(drop=True)
        names = list(dict.fromkeys(name for values in measured.values() for name in values))
        # Joined in one go: a column at a time costs pandas time in proportion to the columns already there.
        rows = [measured.get(step, {}) for step in table["step"]]
        stopped = pd.DataFrame({"stopped": [stopped and i == len(table) - 1 for i in range(len(table))]})
        return pd.concat([table, measure_table(rows, names, table.index), stopped], axis=1)

    def patterns(self, track_threshold: float = DEFAULT_TRACK_THRESHOLD) -> dict[str, float]:
        """The pattern of land use as it stands: {name: value} of every measure of
        ``PATTERN_MEASURES``, in its order (as the runner's ``--patterns``). Track
        cells are those whose all-tracks value is ``track_threshold`` or more; a
        measure with nothing to measure is NaN.

        Parameters
        ----------
        track_threshold : float, default DEFAULT_TRACK_THRESHOLD
            The all-tracks value from which a cell is a track cell.

        Returns
        -------
        dict of str to float
            Every pattern measure by name.

        Raises
        ------
        LanduseValueError
            A threshold that is no finite number.

        Examples
        --------
        >>> sim = Simulation(Edit_size=10)
        >>> sim.step(5)
        >>> list(sim.patterns()) == list(PATTERN_MEASURES.index)
        True
        """

        return self._run.patterns(check_track_threshold(track_threshold))

    @property
    def statistics(self) -> pd.DataFrame:
        """One row per completed step: the columns and values of the headless
        runner's CSV (step, agents, successful, avg_travel, max_mark, migrated,
        returning, then the cells of each kind: empty, obstacles, residential,
        destinations, services, industry)."""
        return pd.DataFrame(self._run.statistics(), columns=STATISTICS_COLUMNS)

    def agents(self) -> pd.DataFrame:
        """The agents in list order (the index): position, home, mode, heading,
        travel steps and the success and migrated flags.

        Returns
        -------
        pandas.DataFrame
            One row per agent.

        Examples
        --------
        >>> sim = Simulation(Edit_size=10)
        >>> sim.step(2)
        >>> len(sim.agents()) == sim.statistics["agents"].iloc[-1]
        True
        """
        frame = pd.DataFrame(self._run.agents())
        frame.index.name = "index"
        return frame

    def cells(self) -> dict[str, np.ndarray]:
        """Every cell's values as numpy arrays indexed [row, column]: kind,
        all_tracks, return_tracks, population, service, industry (the three
        potential fields) and agents (the agents standing on the cell).

        Returns
        -------
        dict of str to numpy.ndarray
            One array per value.

        Examples
        --------
        >>> cells = Simulation().cells()
        >>> cells["kind"].shape == cells["population"].shape
        True
        """
        return dict(self._run.cells())

    def controls(self) -> dict[str, str]:
        """Every control's value in effect, as the text the control holds.

        Returns
        -------
        dict of str to str
            Every control's text by name.

        Examples
        --------
        >>> Simulation(Edit_size=10).controls()["Edit_size"]
        '10'
        """
        return dict(self._run.controls())

    def state(self) -> bytes:
        """The whole run as the bytes of a run state file.

        Returns
        -------
        bytes
            What ``save`` writes and ``from_state`` reads.

        Examples
        --------
        >>> sim = Simulation(Edit_size=10)
        >>> Simulation.from_state(sim.state()).controls() == sim.controls()
        True
        """
        return self._run.state()

    @classmethod
    def from_state(cls, state: bytes, pictures: bool | None = None) -> Simulation:
        """The run a state holds (bytes, as ``state()`` gives them), to go on with.
        ``pictures`` as for a new Simulation; by default the run records its drawing
        when the saved run recorded it, so its pictures are those of the whole run. A
        state without a drawing record, asked for pictures, starts one with every cell
        drawn afresh from its values. A state that is damaged, of another format
        version or no state at all raises ``RunStateError`` (a ``ValueError``).

        Parameters
        ----------
        state : bytes
            A run state, as ``state()`` gives it.
        pictures : bool, optional
            Whether the run records its drawing; by default as the saved run did.

        Returns
        -------
        Simulation
            The run, to go on with bit for bit.

        Raises
        ------
        RunStateError
            A damaged state, one of another format version or no state at all.
        LanduseTypeError
            A state that is not bytes.

        Examples
        --------
        >>> sim = Simulation(Edit_size=10)
        >>> Simulation.from_state(sim.state()).step_count
        0
        """
        if not isinstance(state, (bytes, bytearray, memoryview)):
            raise LanduseTypeError(f"a run state is bytes, not {type(state).__name__}")
        sim = cls.__new__(cls)
        sim._run = _ModelRun(bytes(state), None if pictures is None else bool(pictures))
        sim._pictures = sim._run.recording()
        return sim

    def save(self, path: str | os.PathLike[str]) -> None:
        """Writes the run state to ``path``. A regular file is replaced only once the
        whole state is written and synced (a temporary file beside it is renamed over
        it), so a failed save leaves the old file as it was; it keeps its permission
        bits. A link is written through: the file it names is written, the link stays.
        A device or a pipe (/dev/stdout to a pipe) is written into.

        Parameters
        ----------
        path : str or os.PathLike
            Where the state goes.

        Raises
        ------
        OSError
            The file could not be written.

        Examples
        --------
        >>> Simulation(Edit_size=10).save("run.state")  # doctest: +SKIP
        """
        data = self.state()
        write_atomically(os.fspath(path), lambda f: f.write(data), binary=True)

    @classmethod
    def load(cls, path: str | os.PathLike[str], pictures: bool | None = None) -> Simulation:
        """The run saved in the state file at ``path``, to go on with bit for bit.
        A file that is no regular file (a device, a pipe, a folder) or is larger than
        ``MAX_STATE_FILE_BYTES`` raises ``RunStateError`` before anything is read; a
        missing one ``FileNotFoundError``.

        Parameters
        ----------
        path : str or os.PathLike
            A run state file, as ``save`` or the runner writes it.
        pictures : bool, optional
            As for ``from_state``.

        Returns
        -------
        Simulation
            The saved run.

        Raises
        ------
        RunStateError
            No regular file, too large a file, or no state the model can go on with.
        FileNotFoundError
            No file at ``path``.

        Examples
        --------
        >>> sim = Simulation.load("run.state")  # doctest: +SKIP
        """
        try:
            state = read_regular_file(path, MAX_STATE_FILE_BYTES, "a run state")
        except FileSizeError as e:
            raise RunStateError(str(e)) from None
        return cls.from_state(state, pictures)

    def picture(self) -> np.ndarray:
        """The drawing panel as the window shows it, as a numpy uint8 array of
        shape (404, 404, 3) indexed [y, x, channel] (RGB): every cell as last
        drawn (its kind's colour, or its gray with ``pictures=True``), under the
        agents' dots when the control CB_showAg is on.

        Returns
        -------
        numpy.ndarray
            The panel's pixels.

        Examples
        --------
        >>> Simulation(Edit_size=10).picture().shape
        (404, 404, 3)
        """
        return self._run.picture()

    def _repr_png_(self) -> bytes:
        """The picture as PNG bytes, for notebooks and anything that shows PNGs."""
        return self._run.picture_png()

    def __repr__(self) -> str:
        return f"<landuse.Simulation seed={self.seed} step {self.step_count} of {self.stop_time}>"

    def __reduce__(self):
        return (_simulation_from_state, (self.state(), self._pictures))

    def __copy__(self):
        return self.from_state(self.state(), self._pictures)

    def __deepcopy__(self, memo):
        return self.from_state(self.state(), self._pictures)


def _simulation_from_state(state: bytes, pictures: bool | None = None) -> Simulation:
    """Unpickles a Simulation."""
    return Simulation.from_state(state, pictures)
