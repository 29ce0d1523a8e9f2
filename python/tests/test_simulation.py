"""landuse.Simulation against the headless runner, seeds, controls and hostile values."""

import subprocess

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
        pd.testing.assert_frame_equal(sim.agents().reset_index(), expected["agents"], check_dtype=False,
                                      check_exact=True)
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


def test_numbers_are_given_as_the_texts_that_convert_to_them():
    assert [landuse.control_text(v) for v in (0.1, 3, True, False, "0,1", np.float64(0.25), np.int32(7))] == [
        "0.1", "3", "1", "0", "0,1", "0.25", "7"]
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
    pd.testing.assert_frame_equal(sim.statistics, run_runner(runner, arguments)["statistics"], check_dtype=False,
                                  check_exact=True)


def test_set_runs_the_change_handler_and_the_run_goes_on():
    sim = landuse.Simulation(Edit_size=10)
    sim.set("Edit_size", 12)  # kept within 2..10 by its handler
    sim.set("E_noise", "")    # an empty return noise becomes "0"
    sim.set("E_stop", 25)     # the stop time follows the text
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
    assert str(raised.value) == "'abc' is not a valid floating point value"
    assert raised.value.control == "E_CProbab"
    assert isinstance(raised.value, ValueError)
    assert len(sim.statistics) == 3
    sim.set("E_CProbab", "0,1")
    sim.step(2)
    assert sim.step_count == 5


# Values no control converts or holds, for every kind of control; some arrive
# through Python's own types. (An empty return noise becomes "0" by design.)
HOSTILE = ["", " ", "abc", "-", "0x10", "nan", "inf", "1e400", "-1e400", "1,2,3", "1..2", "１", "1\x002", "\x00",
           "é", "9" * 5000, float("nan"), float("inf")]
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
