"""landuse.Simulation against the headless runner, seeds, controls and hostile values."""

import copy
import pickle
import subprocess
import sys

import numpy as np
import pandas as pd
import pytest

import landuse
from conftest import recorded_scenes, run_runner, scene_controls


def test_every_recorded_scene_equals_the_runner_bit_for_bit(runner):
    """Statistics, agents and cells of each scene, as exact doubles; seed 0 is the runner's start."""
    for arguments in recorded_scenes():
        controls, steps = scene_controls(arguments)
        expected = run_runner(runner, arguments)
        sim = landuse.Simulation(**controls)
        sim.step(steps)

        pd.testing.assert_frame_equal(sim.statistics, expected["statistics"], check_dtype=False, check_exact=True)
        pd.testing.assert_frame_equal(
            sim.agents().reset_index(), expected["agents"], check_dtype=False, check_exact=True
        )
        cells = expected["cells"]
        rows, columns = cells["row"].to_numpy(), cells["column"].to_numpy()
        grids = sim.cells()
        assert grids["kind"].shape == (rows.max() + 1, columns.max() + 1)
        for name, grid in grids.items():
            np.testing.assert_array_equal(grid[rows, columns], cells[name].to_numpy(), err_msg=f"{arguments} {name}")


def test_the_default_run_to_its_stop_time_equals_the_runner(runner):
    expected = run_runner(runner, [])["statistics"]
    sim = landuse.Simulation()
    sim.run()
    assert sim.step_count == sim.stop_time == 800
    pd.testing.assert_frame_equal(sim.statistics, expected, check_dtype=False, check_exact=True)
    # As the runner's --help says: 36.4 million draws, within the 2^26 between the first
    # 64 replicates and beyond the 2^25 between the first 128.
    assert sim.draws == 36_431_342 and 2**25 < sim.draws <= 2**26


def test_numbers_are_given_as_the_texts_that_convert_to_them():
    assert [landuse.control_text(v) for v in (0.1, 3, True, False, "0,1", np.float64(0.25), np.int32(7))] == [
        "0.1",
        "3",
        "1",
        "0",
        "0,1",
        "0.25",
        "7",
    ]
    assert landuse.control_text(1e-300) == "1e-300"
    as_numbers = landuse.Simulation(Edit_size=10, E_CProbab=0.9, CB_migrate=True, E_decay=0.95, CB_decay=1)
    as_texts = landuse.Simulation(Edit_size="10", E_CProbab="0,9", CB_migrate="1", E_decay="0,95", CB_decay="1")
    as_numbers.step(30)
    as_texts.step(30)
    pd.testing.assert_frame_equal(as_numbers.statistics, as_texts.statistics, check_exact=True)
    with pytest.raises(TypeError):
        landuse.Simulation(E_CProbab=None)


def test_seeds_and_replicates():
    def statistics(seed):
        sim = landuse.Simulation(seed=seed, Edit_size=10)
        sim.step(60)
        return sim.statistics

    assert landuse.replicate_seed(0) == 0
    seeds = [landuse.replicate_seed(k) for k in range(2000)]
    assert len(set(seeds)) == len(seeds)
    assert all(0 <= s <= 0xFFFFFFFF for s in seeds)

    default = statistics(0)
    first, again = statistics(seeds[1]), statistics(seeds[1])
    pd.testing.assert_frame_equal(first, again, check_exact=True)
    assert not first.equals(default)
    assert not first.equals(statistics(seeds[2]))
    assert landuse.Simulation(seed=seeds[5]).seed == seeds[5]
    for bad in (-1, 2**32, 1.5, "1"):
        with pytest.raises(ValueError):
            landuse.Simulation(seed=bad)


def test_one_thread_gives_the_same_run_as_two():
    runs = []
    for threads in (1, 2):
        sim = landuse.Simulation(threads=threads, Edit_size=4, CB_migrate=1)
        sim.step(50)
        runs.append((sim.statistics, sim.cells()))
    pd.testing.assert_frame_equal(runs[0][0], runs[1][0], check_exact=True)
    for name, grid in runs[0][1].items():
        assert np.array_equal(grid, runs[1][1][name], equal_nan=True), name
    for bad in (0, 3, 1.5, "2"):
        with pytest.raises(ValueError):
            landuse.Simulation(threads=bad)


def test_a_seed_gives_the_runners_run_from_that_seed(runner):
    seed = landuse.replicate_seed(7)
    arguments = ["--steps", "40", "--set", "Edit_size=5", "--seed", str(seed)]
    if b"--seed" not in subprocess.run([runner, "--help"], capture_output=True).stdout:
        pytest.skip("this runner has no --seed")
    sim = landuse.Simulation(seed=seed, Edit_size=5)
    sim.step(40)
    pd.testing.assert_frame_equal(
        sim.statistics, run_runner(runner, arguments)["statistics"], check_dtype=False, check_exact=True
    )


def test_set_runs_the_change_handler_and_the_run_goes_on():
    sim = landuse.Simulation(Edit_size=10)
    sim.set("Edit_size", 12)  # kept within 2..10 by its handler
    sim.set("E_noise", "")  # an empty return noise becomes "0"
    sim.set("E_stop", 25)  # the stop time follows the text
    controls = sim.controls()
    assert (controls["Edit_size"], controls["E_noise"], controls["E_stop"]) == ("10", "0", "25")
    sim.set("rb_direct", 1)
    assert (sim.controls()["rb_direct"], sim.controls()["rb_hillCl"]) == ("1", "0")
    sim.step(5)
    sim.run()
    assert sim.step_count == 25 and list(sim.statistics["step"]) == list(range(1, 26))
    sim.set("E_stop", 0)
    with pytest.raises(ValueError, match="never stops"):
        sim.run()

    # Usage cells given at construction are read after the program's start.
    usage = landuse.Simulation(Edit_size=10, **{"StringGrid1.3.2": "0,5"})
    assert usage.controls()["StringGrid1.3.2"] == "0,5"


def test_a_conversion_error_keeps_the_steps_before_it_and_the_run_can_go_on():
    sim = landuse.Simulation(Edit_size=10)
    sim.step(3)
    sim.set("E_CProbab", "abc")
    with pytest.raises(landuse.ConversionError) as raised:
        sim.step(2)
    # The message names the control, then gives the model's own words.
    assert str(raised.value) == "E_CProbab: 'abc' is not a valid floating point value"
    assert raised.value.control == "E_CProbab"
    assert raised.value.reason == "'abc' is not a valid floating point value"
    assert isinstance(raised.value, ValueError) and isinstance(raised.value, landuse.LanduseError)
    assert len(sim.statistics) == 3
    sim.set("E_CProbab", "0,1")
    sim.step(2)
    assert sim.step_count == 5


# Values no control converts or holds, for every kind of control; some arrive
# through Python's own types. (An empty return noise becomes "0" by design.)
HOSTILE = [
    "",
    " ",
    "abc",
    "-",
    "0x10",
    "nan",
    "inf",
    "1e400",
    "-1e400",
    "1,2,3",
    "1..2",
    "１",
    "1\x002",
    "\x00",
    "é",
    "9" * 5000,
    float("nan"),
    float("inf"),
]
# Beyond 32 bits: hostile to every control but the reals.
TOO_LARGE = ["2147483648", 10**30, -(10**30)]

# A small run that reads every edit at every step.
READS_EVERY_EDIT = dict(Edit_size=10, CB_decay=1, CB_migrate=1, CB_gravity=1, E_migTh=0)


def test_hostile_values_of_every_control_raise_value_error():
    table = landuse.control_table()
    assert "E_CProbab" in table.index and "StringGrid1.5.3" in table.index
    for name, kind in table["kind"].items():
        values = HOSTILE + (TOO_LARGE if kind not in ("real", "usage cell") else [])
        for value in values:
            if (name, value) == ("E_noise", ""):
                continue
            context = {k: v for k, v in READS_EVERY_EDIT.items() if k != name}
            # Given at the start and read there or in the first step.
            with pytest.raises(ValueError):
                sim = landuse.Simulation(**context, **{name: value})
                sim.step(2)
            # Set later, in a running program: refused on setting or at the next read.
            sim = landuse.Simulation(**context)
            sim.step(1)
            with pytest.raises(ValueError):
                sim.set(name, value)
                sim.step(1)
    with pytest.raises(landuse.ControlValueError, match="unknown control"):
        landuse.Simulation(E_nothing=1)
    with pytest.raises(ValueError):
        landuse.Simulation().step(-1)


SHARED_BY_THREADS = """
import sys, threading
import landuse
workers = int(sys.argv[1])
shared = landuse.Simulation(threads=workers, Edit_size=5)
def stepper():
    for _ in range(15):
        shared.step(1)
def reader():
    for _ in range(40):
        shared.cells(), shared.statistics, shared.controls(), shared.agents()
threads = [threading.Thread(target=t) for t in (stepper, stepper, reader)]
for t in threads:
    t.start()
for t in threads:
    t.join()
alone = landuse.Simulation(threads=1, Edit_size=5)
alone.step(30)
assert shared.step_count == 30, shared.step_count
assert shared.statistics.equals(alone.statistics)
"""


def test_one_simulation_shared_by_threads_takes_turns():
    """Two threads stepping one run and a third reading it: with one worker the run
    lost steps or crashed, with two it deadlocked. Now the calls take turns, so the
    run is the same as 30 steps made by one thread. In a process of its own, where
    a crash or a deadlock cannot take the tests with it."""
    for workers in ("1", "2"):
        done = subprocess.run(
            [sys.executable, "-c", SHARED_BY_THREADS, workers], capture_output=True, text=True, timeout=120
        )
        assert done.returncode == 0, (workers, done.stderr)


def test_odd_arguments_are_named():
    sim = landuse.Simulation(Edit_size=10)
    for count in (2**63, 2**31):
        with pytest.raises(ValueError, match=r"0\.\.2147483647"):
            sim.step(count)
    sim.step(1)
    with pytest.raises(ValueError, match=r"0\.\.2147483646"):
        sim.step(2**31 - 1)
    assert [landuse.control_text(v) for v in (np.bool_(True), np.bool_(False))] == ["1", "0"]
    as_numpy = landuse.Simulation(Edit_size=10, CB_migrate=np.bool_(True))
    assert as_numpy.controls()["CB_migrate"] == "1"


def test_the_controls_in_effect_set_up_the_same_run():
    sim = landuse.Simulation(Edit_size=50, rb_rulette=1, rb_direct=True, E_CProbab=0.3, E_stop=40)
    assert sim.controls()["Edit_size"] == "10"  # kept within 2..10 at set-up
    sim.step(20)
    again = landuse.Simulation(**sim.controls())
    again.step(20)
    assert again.controls() == sim.controls()
    pd.testing.assert_frame_equal(again.statistics, sim.statistics, check_exact=True)

    # A radio button switched off switches its partner on; a pair both on or both off is refused.
    sim.set("rb_hillCl", 0)
    assert (sim.controls()["rb_direct"], sim.controls()["rb_hillCl"]) == ("1", "0")
    sim.set("rb_direct", False)
    assert (sim.controls()["rb_direct"], sim.controls()["rb_hillCl"]) == ("0", "1")
    for pair in ({"rb_hill": 0, "rb_rulette": 0}, {"rb_hill": 1, "rb_rulette": 1}):
        with pytest.raises(landuse.ControlValueError, match="pair"):
            landuse.Simulation(**pair)


def test_draws_streams_version_and_columns_come_from_the_model():
    sim = landuse.Simulation(Edit_size=10)
    set_up = sim.draws
    sim.step(3)
    assert 0 < set_up < sim.draws
    again = landuse.Simulation(Edit_size=10)
    again.step(3)
    assert again.draws == sim.draws

    # Replicate k starts bitreverse32(k) draws from state 0.
    for replicate, distance in [(1, 2**31), (2, 2**30), (3, 3 * 2**30), (64, 2**25)]:
        assert landuse.draws_between(0, landuse.replicate_seed(replicate)) == distance
    one = landuse.replicate_seed(1)
    assert landuse.streams_overlap(0, 2**31 + 1, one, 1)
    assert not landuse.streams_overlap(0, 2**31, one, 2**31)

    assert landuse.__version__ == landuse._core.__version__ and landuse.__version__.count(".") == 2
    names = [name for name, *_ in landuse._core.statistics_columns]
    assert landuse.STATISTICS_COLUMNS == names == list(sim.statistics.columns)


def test_read_statistics_reads_the_runners_csv_exactly(runner, tmp_path):
    """pandas' default parser reads some 17-digit max_mark values one unit off in the last place."""
    path = tmp_path / "statistics.csv"
    with open(path, "w") as f:
        subprocess.run([runner, "--steps", "200", "--set", "Edit_size=10"], stdout=f, check=True, timeout=300)
    sim = landuse.Simulation(Edit_size=10)
    sim.step(200)
    expected = sim.statistics.astype(landuse.STATISTICS_DTYPES)
    pd.testing.assert_frame_equal(landuse.read_statistics(path), expected, check_exact=True)
    assert not pd.read_csv(path)["max_mark"].equals(expected["max_mark"])  # why it matters


def test_each_statistics_column_has_one_type_wherever_it_is_read(runner, tmp_path):
    """The model's table of the columns gives names, order and type: int64 where no
    value can be missing, the nullable Int64 in a sweep's table, whose error rows
    have no statistics; float64 for the real column."""
    from landuse import sweep as sweeps

    table = landuse._core.statistics_columns
    assert all(len(column) == 4 and all(column) for column in table)
    kinds = {name: kind for name, kind, _, _ in table}
    assert sorted(set(kinds.values())) == ["integer", "real"]
    numpy_types = {name: ("int64" if kind == "integer" else "float64") for name, kind in kinds.items()}
    sweep_types = {name: ("Int64" if kind == "integer" else "float64") for name, kind in kinds.items()}

    path = tmp_path / "statistics.csv"
    with open(path, "w") as f:
        subprocess.run([runner, "--steps", "3", "--set", "Edit_size=10"], stdout=f, check=True, timeout=300)
    assert path.read_text().splitlines()[0].split(",") == [name for name, *_ in table]
    sim = landuse.Simulation(Edit_size=10)
    sim.step(3)
    for frame in (sim.statistics, landuse.read_statistics(path), landuse.Simulation(Edit_size=10).statistics):
        assert frame.dtypes.astype(str).to_dict() == numpy_types
    last = sim._run.last_statistics()
    assert {name: type(value).__name__ for name, value in last.items()} == {
        name: ("int" if kind == "integer" else "float") for name, kind in kinds.items()
    }

    layout = sweeps.TableLayout([])
    record = {
        "run": 0,
        "values": [],
        "replicate": 0,
        "seed": 0,
        "version": landuse.__version__,
        "draws": 0,
        "statistics": {name: sim.statistics[name].tolist() for name in kinds},
        "error": "",
    }
    for error in ("", "a run that failed"):
        frame = sweeps.run_frame(dict(record, error=error), layout)
        assert frame[list(kinds)].dtypes.astype(str).to_dict() == sweep_types


def test_land_use_columns_count_the_cells():
    sim = landuse.Simulation(Edit_size=6, CB_migrate=True, E_crServ=3)
    kinds = ["empty", "obstacles", "residential", "destinations", "services", "industry"]
    for _ in range(3):
        sim.step(40)
        counts = np.bincount(sim.cells()["kind"].ravel(), minlength=6)
        assert list(sim.statistics[kinds].iloc[-1]) == list(counts)


def test_a_saved_run_goes_on_as_the_whole_run(tmp_path):
    """300 steps in one go equal 150 steps, saved, loaded (from a file, a pickle and
    a deep copy) and run 150 more: the states, statistics included, byte for byte."""
    cases = [
        (0, {"Edit_size": 4}),
        (landuse.replicate_seed(5), {"Edit_size": 5, "CB_migrate": 1, "rb_rulette": 1, "E_stop": 300}),
        (7, {"Edit_size": 3, "CB_decay": 1, "rb_direct": 1, "CB_potField": 1}),
    ]
    for seed, controls in cases:
        whole = landuse.Simulation(seed, **controls)
        whole.step(300)
        half = landuse.Simulation(seed, **controls)
        half.step(150)
        path = tmp_path / "half.lus"
        half.save(path)
        for copy_of_half in (landuse.Simulation.load(path), pickle.loads(pickle.dumps(half)), copy.deepcopy(half)):
            assert (copy_of_half.seed, copy_of_half.step_count) == (seed, 150)
            copy_of_half.step(150)
            assert copy_of_half.state() == whole.state(), controls
            pd.testing.assert_frame_equal(copy_of_half.statistics, whole.statistics, check_exact=True)
        assert half.step_count == 150  # the copies share nothing with it


def test_damaged_states_are_refused_by_what_is_wrong(tmp_path):
    state = landuse.Simulation(Edit_size=10).state()
    other_version = state[:8] + (99).to_bytes(4, "little") + state[12:]
    flipped = state[:-5] + bytes([state[-5] ^ 1]) + state[-4:]
    for damaged, reason in (
        (state[:-1], "ends early"),
        (state + b"\0", "follow its end"),
        (flipped, "checksum"),
        (other_version, "format version 99"),
        (b"step,agents\n1,2\n", "not a run state"),
        (b"", "not a run state"),
    ):
        with pytest.raises(landuse.RunStateError, match=reason):
            landuse.Simulation.from_state(damaged)
    path = tmp_path / "kept.lus"
    path.write_bytes(b"old")
    with pytest.raises(TypeError):
        landuse.Simulation.from_state("a text")
    landuse.Simulation(Edit_size=10).save(path)
    assert landuse.Simulation.load(path).state() == state


def test_picture_is_the_panel_and_its_png_the_runners_picture(runner, tmp_path):
    """The panel as RGB, indexed [y, x]: each cell's kind in its colour at the cell's
    corner pixel, the tracks in gray with pictures=True, white without; the PNG is the
    runner's file of the same step, and recording the drawing leaves the run as it is."""
    sim = landuse.Simulation(pictures=True, CB_showAg=True)
    sim.step(150)
    png = sim._repr_png_()
    assert png[:8] == b"\x89PNG\r\n\x1a\n"
    subprocess.run(
        [
            runner,
            "--steps",
            "150",
            "--set",
            "CB_showAg=1",
            "--stats",
            str(tmp_path / "stats.csv"),
            "--pictures-every",
            "150",
            "--pictures-dir",
            str(tmp_path),
        ],
        check=True,
        timeout=300,
    )
    assert (tmp_path / "picture-0000000150.png").read_bytes() == png
    with_agents = sim.picture()

    sim.set("CB_showAg", False)
    picture = sim.picture()
    assert picture.shape == (404, 404, 3) and picture.dtype == np.uint8
    assert (with_agents != picture).any()
    size = int(sim.controls()["Edit_size"])
    kinds = sim.cells()["kind"]
    corners = picture[::size, ::size][: kinds.shape[0], : kinds.shape[1]]
    colours = {1: (0, 0, 128), 2: (0, 128, 0), 3: (0, 255, 0), 4: (255, 0, 0), 5: (0, 102, 204)}
    assert (kinds == 2).any()
    for kind, colour in colours.items():
        assert (corners[kinds == kind] == colour).all(), kind
    empty = corners[kinds == 0]
    assert (empty[:, 0] == empty[:, 1]).all() and (empty[:, 1] == empty[:, 2]).all()
    assert (empty[:, 0] < 255).any()  # tracks

    plain = landuse.Simulation()
    plain.step(150)
    pd.testing.assert_frame_equal(plain.statistics, sim.statistics, check_exact=True)
    assert (plain.picture()[::size, ::size][: kinds.shape[0], : kinds.shape[1]][kinds == 0] == 255).all()


def test_a_loaded_run_draws_what_the_whole_run_draws(tmp_path):
    """A state carries whether the run recorded its drawing: loaded (or copied)
    without saying, a recording run goes on recording, picture for picture; one
    that never recorded stays without pictures unless asked, and is then drawn afresh."""
    whole = landuse.Simulation(seed=3, pictures=True, Edit_size=8, CB_showAg=True)
    whole.step(10)
    whole.save(tmp_path / "at-10.lus")
    copied = copy.deepcopy(whole)
    whole.step(10)
    loaded = landuse.Simulation.load(tmp_path / "at-10.lus")
    for continued in (loaded, copied):
        continued.step(10)
        assert np.array_equal(continued.picture(), whole.picture())

    plain = landuse.Simulation(seed=3, Edit_size=8, CB_showAB=False)
    plain.step(10)
    assert not landuse.Simulation.from_state(plain.state())._run.recording()
    drawn = landuse.Simulation.from_state(plain.state(), pictures=True)
    assert drawn._run.recording()
    # Drawn afresh: the tracks show in gray, where a run without a record shows white ground.
    assert len(np.unique(drawn.picture().reshape(-1, 3), axis=0)) > len(
        np.unique(plain.picture().reshape(-1, 3), axis=0)
    )


# (controls set after loading, steps given to run()): how many steps a run saved at
# step 8 with stop time 8 takes, or None where no number can be decided.
STEPS_CASES = [
    ({}, None, 0),  # at its stop time
    ({"E_stop": 5}, None, 0),  # past it
    ({"E_stop": 10}, None, 2),  # before it
    ({"E_stop": 5}, 3, 3),  # a count given goes past the stop time
    ({"E_stop": 0}, None, None),  # a stop time that never stops the run
    ({}, 2**31 - 8, None),  # beyond the last step count
]


def test_python_and_the_runner_take_the_same_steps(runner, tmp_path):
    """Simulation.run() and the runner's --load-state decide the steps of a loaded run by
    the model's one rule: none at or past the stop time (0 rows, exit 0), a usage
    mistake (ValueError, exit 64) where there is no number to run."""
    saved = landuse.Simulation(Edit_size=10, E_stop=8)
    saved.run()
    path = tmp_path / "at-8.lus"
    saved.save(path)
    for controls, steps, expected in STEPS_CASES:
        arguments = [runner, "--load-state", str(path)]
        arguments += [f"--set={name}={value}" for name, value in controls.items()]
        arguments += [] if steps is None else ["--steps", str(steps)]
        done = subprocess.run(arguments, capture_output=True, text=True, timeout=120)
        sim = landuse.Simulation.load(path)
        for name, value in controls.items():
            sim.set(name, value)
        if expected is None:
            assert done.returncode == 64, (controls, steps, done.stderr)
            with pytest.raises(ValueError):
                sim.run(steps)
            continue
        assert done.returncode == 0, (controls, steps, done.stderr)
        rows = sim.run(steps)
        assert len(rows) == len(done.stdout.splitlines()) - 1 == expected, (controls, steps)
        assert ("no step runs" in done.stderr) == (expected == 0 and steps is None)
    assert landuse.LARGEST_STEP == 2**31 - 1 and landuse.LARGEST_SEED == 2**32 - 1
