"""Measures, stop conditions, sampling designs, sensitivity analysis and plots."""

import os
import subprocess
import sys
import warnings

import numpy as np
import pandas as pd
import pytest

import landuse
from landuse import designs, sensitivity, sweeps
from landuse.sweep_cli import main

PACKAGE_PARENT = os.path.dirname(os.path.dirname(landuse.__file__))


@pytest.fixture(scope="module")
def client():
    client, cluster = sweeps.local_client(2)
    yield client
    client.close()
    cluster.close()


def homes(sim):
    """A measure of one's own: the residential cells counted in the grid."""
    return {"homes": int((sim.cells()["kind"] == 2).sum()), "label": f"s{sim.step_count}"}


def broken(sim):
    raise KeyError("no such thing")


def test_measures_and_stop_conditions_in_a_run_and_in_a_sweep(client):
    # One run: measured every 7 steps of its count and at its last, stopped where the condition held.
    sim = landuse.Simulation(Edit_size=10)
    sim.step(3)
    table = sim.run(30, measures=homes, every=7, stop_when="agents >= 60")
    measured = table.dropna(subset=["homes"])
    assert list(measured["step"]) == [7, 14, 21] and list(measured["homes"]) == list(measured["residential"])
    assert list(table["stopped"]) == [False] * (len(table) - 1) + [True] and table["step"].iloc[-1] == 21
    assert list(sim.run(5, measures=homes, every=100).dropna(subset=["homes"])["step"]) == [26]  # the last step

    # The sweep gives each run the rows a run of its own gives, and keep="final" only the last.
    parameters = {"Edit_size": 10, "E_crAgs": [1, 3]}
    every = landuse.sweep(parameters, steps=30, client=client, progress=False, measures=homes, every=7,
                          stop_when=lambda s: s.statistics["agents"].iloc[-1] >= 60)
    for run, rows in every.groupby("run"):
        alone = landuse.Simulation(Edit_size=10, E_crAgs=[1, 3][run]).run(
            30, measures=homes, every=7, stop_when=lambda s: s.statistics["agents"].iloc[-1] >= 60)
        assert list(rows["homes"].fillna(-1)) == list(alone["homes"].fillna(-1))
        assert list(rows["stopped"]) == list(alone["stopped"]) and list(rows["label"]) == list(alone["label"])
    assert every.groupby("run")["step"].max().tolist() == [30, 21]
    final = landuse.sweep(parameters, steps=30, client=client, progress=False, measures=homes, every=7,
                          stop_when="agents >= 60", keep="final")
    assert final[["run", "step", "homes", "stopped"]].values.tolist() == [[0, 30, 30, False], [1, 21, 63, True]]

    # A measure that raises, or returns what no column holds, is its run's error row.
    failed = landuse.sweep({"Edit_size": 10}, steps=5, client=client, progress=False, measures=broken, every=2)
    assert list(failed["step"].fillna(0)) == [1, 2, 0]
    assert failed["error"].iloc[-1] == "broken raised KeyError: 'no such thing'"
    clash = landuse.sweep({"Edit_size": 10}, steps=2, client=client, progress=False, measures=lambda s: {"agents": 1})
    assert "'agents' cannot be a measure's column" in clash["error"].iloc[-1]
    with pytest.raises(landuse.measures.MeasureError, match="homes"):
        landuse.Simulation(Edit_size=10).run(2, measures=lambda s: {"homes": [1, 2]})


@pytest.mark.parametrize("make", [designs.latin_hypercube, designs.sobol, designs.random])
def test_designs_keep_to_their_ranges_and_record_their_coordinates(make):
    ranges = {"E_CProbab": (0.01, 0.5), "E_crAgs": (1, 10, int), "rb_rulette": [0, 1], "Edit_size": (10, 10, int)}
    design = make(ranges, 16, seed=4)
    assert len(design) == 16 and design.coordinates.shape == (16, 4)
    assert design == make(ranges, 16, seed=4) and design != make(ranges, 16, seed=5)
    u = design.coordinates
    assert ((u >= 0) & (u < 1)).all()
    values = pd.DataFrame(list(design))
    assert values["E_CProbab"].between(0.01, 0.5).all()
    assert np.allclose(values["E_CProbab"], 0.01 + u[:, 0] * 0.49)
    assert values["E_crAgs"].map(type).eq(int).all() and values["E_crAgs"].between(1, 10).all()
    assert (values["E_crAgs"] == 1 + np.floor(u[:, 1] * 10)).all()
    assert set(values["rb_rulette"]) <= {0, 1} and (values["Edit_size"] == 10).all()
    if make is designs.latin_hypercube:  # every one of the 16 strata of each range once
        assert all(sorted(np.floor(u[:, i] * 16)) == list(range(16)) for i in range(4))
    with pytest.raises(ValueError):
        make({"E_crAgs": (5, 1, int)}, 4)
    grid = designs.grid({"E_crAgs": [1, 2], "E_CProbab": [0.1, 0.2, 0.3]})
    assert len(grid) == 6 and grid[1] == {"E_crAgs": 1, "E_CProbab": 0.2}


def test_a_design_sweeps_with_its_points_and_coordinates(client):
    design = designs.random({"E_crAgs": (1, 4, int), "E_CProbab": (0.05, 0.2)}, 3, seed=1)
    table = landuse.sweep(design, replicates=2, steps=3, client=client, progress=False, keep="final")
    assert list(table.columns[:5]) == ["run", "point", "u_E_crAgs", "u_E_CProbab", "E_crAgs"]
    assert list(table["point"]) == [0, 0, 1, 1, 2, 2]
    assert np.allclose(table[["u_E_crAgs", "u_E_CProbab"]].to_numpy(), np.repeat(design.coordinates, 2, axis=0))


def ishigami(x, a=7.0, b=0.1):
    return np.sin(x[:, 0]) + a * np.sin(x[:, 1]) ** 2 + b * x[:, 2] ** 4 * np.sin(x[:, 0])


def test_jansen_estimators_hold_the_ishigami_indices_within_their_intervals():
    """With a = 7, b = 0.1 the indices are known: first order 0.314, 0.442, 0;
    total 0.558, 0.442, 0.244. At n = 1024 base points each lies within its 95 %
    interval, and the estimates within 0.03."""
    ranges = {"x1": (-np.pi, np.pi), "x2": (-np.pi, np.pi), "x3": (-np.pi, np.pi)}
    n = 1024
    design = sensitivity.saltelli_design(ranges, n, seed=3)
    assert len(design) == n * 5
    f = ishigami(np.array([[p["x1"], p["x2"], p["x3"]] for p in design]))
    indices = sensitivity.sobol_indices(f[:n], f[n:2 * n], f[2 * n:].reshape(3, n), list(ranges), bootstrap=500,
                                        seed=3)
    for name, true in (("S1", [0.314, 0.442, 0.0]), ("ST", [0.558, 0.442, 0.244])):
        assert (indices[f"{name}_low"] <= true).all() and (np.array(true) <= indices[f"{name}_high"]).all(), indices
        assert np.allclose(indices[name], true, atol=0.03)


def test_sobol_indices_of_the_model_and_their_plots(client, tmp_path):
    indices = sensitivity.sobol({"E_crAgs": (1, 6, int), "E_noise": (0, 60)}, "residential at step 6", n=4,
                                client=client, progress=False, controls={"Edit_size": 10}, bootstrap=50)
    table = indices.attrs["table"]
    assert list(indices.index) == ["E_crAgs", "E_noise"] and table["run"].nunique() == 16
    for output, steps, message in (("residental at step 6", None, "no statistics column"),
                                   ("residential at step 6", 5, "before step 6")):
        with pytest.raises(ValueError, match=message):  # refused before any run
            sensitivity.sobol({"E_crAgs": (1, 6, int)}, output, n=4, steps=steps, client=None, progress=False)
    # Growth adds E_crAgs homes a step, whatever the agents' return noise: f(B) equals
    # f(A_B) for E_crAgs, and f(A) equals f(A_B) for E_noise, exactly.
    assert indices.loc["E_crAgs", "S1"] == 1.0 and indices.loc["E_noise", "ST"] == 0.0

    import matplotlib

    matplotlib.use("Agg")
    from landuse import plot

    plot.indices(indices).figure.savefig(tmp_path / "indices.png")
    paths = plot.write_sweep_plots(table, tmp_path / "sweep")
    assert [os.path.basename(p) for p in paths][:3] == ["residential-over-steps.png", "residential-by-E_crAgs.png",
                                                        "residential-by-E_noise.png"]
    assert all(open(p, "rb").read(8) == b"\x89PNG\r\n\x1a\n" for p in [*paths, tmp_path / "indices.png"])


def test_the_command_plots_a_design_and_landuse_does_without_matplotlib(tmp_path):
    sweep_file = tmp_path / "design.toml"
    sweep_file.write_text('steps = 4\nkeep = "final"\n[design]\nkind = "latin_hypercube"\npoints = 3\nseed = 1\n'
                          '[ranges]\nE_crAgs = [1, 4, "int"]\nEdit_size = [10, 10, "int"]\n')
    out = tmp_path / "out.csv"
    (tmp_path / "a-file").write_text("")
    with pytest.raises(SystemExit) as exited:  # before any run
        main([str(sweep_file), "--out", str(out), "--quiet", "--plot", str(tmp_path / "a-file")])
    assert exited.value.code == 2 and not out.exists()
    assert main([str(sweep_file), "--out", str(out), "--quiet", "--workers", "1", "--plot", str(tmp_path / "p")]) == 0
    table = pd.read_csv(out)
    assert list(table["point"]) == [0, 1, 2] and (table["step"] == 4).all()
    assert (tmp_path / "p" / "residential-by-E_crAgs.png").exists()
    plain = subprocess.run([sys.executable, "-c", "import sys, landuse; print('matplotlib' in sys.modules)"],
                           capture_output=True, text=True, env=dict(os.environ, PYTHONPATH=PACKAGE_PARENT))
    assert plain.stdout.strip() == "False", plain.stderr


def test_a_simulation_travels_to_a_worker_and_goes_on_there_as_here(client):
    sim = landuse.Simulation(Edit_size=10, CB_migrate=1)
    sim.step(7)

    def go_on(s):
        s.step(5)
        return s

    there = client.submit(go_on, sim, pure=False).result()
    sim.step(5)
    assert there.state() == sim.state()


def many_columns(sim):
    """A measure of many columns: whole numbers, reals with gaps, texts and numbers given as text."""
    step = sim.step_count
    return {**{f"n{i}": i * step for i in range(150)}, **{f"r{i}": (i / 4 if step % 2 else None) for i in range(150)},
            "text": f"s{step}", "as_text": str(step)}


def test_a_measure_of_many_columns_is_tabulated_whole(client):
    # A column at a time, pandas warns of (and pays for) a table cut into as many blocks as columns.
    with warnings.catch_warnings():
        warnings.simplefilter("error", pd.errors.PerformanceWarning)
        alone = landuse.Simulation(Edit_size=10).run(3, measures=many_columns)
        swept = landuse.sweep({"Edit_size": 10}, steps=3, client=client, progress=False, measures=many_columns)
    names = list(many_columns(landuse.Simulation()))
    for table in (alone, swept):
        columns = list(table.columns)
        after = columns.index("industry") + 1
        assert columns[after:after + len(names) + 1] == [*names, "stopped"]
        assert table["n7"].tolist() == [7, 14, 21] and table["n7"].dtype == np.int64
        assert table["r2"].tolist()[::2] == [0.5, 0.5] and table["r2"].isna().tolist() == [False, True, False]
        assert table["text"].tolist() == ["s1", "s2", "s3"] and table["as_text"].tolist() == [1, 2, 3]
