"""Measures, stop conditions, sampling designs, sensitivity analysis and plots."""

import os
import subprocess
import sys
import warnings

import numpy as np
import pandas as pd
import pytest

import landuse
from landuse import designs, sensitivity
from landuse.sweep.cli import main

PACKAGE_PARENT = os.path.dirname(os.path.dirname(landuse.__file__))


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
    every = landuse.sweep(
        parameters,
        steps=30,
        client=client,
        progress=False,
        measures=homes,
        every=7,
        stop_when=lambda s: s.statistics["agents"].iloc[-1] >= 60,
    )
    for run, rows in every.groupby("run"):
        alone = landuse.Simulation(Edit_size=10, E_crAgs=[1, 3][run]).run(
            30, measures=homes, every=7, stop_when=lambda s: s.statistics["agents"].iloc[-1] >= 60
        )
        assert list(rows["homes"].fillna(-1)) == list(alone["homes"].fillna(-1))
        assert list(rows["stopped"]) == list(alone["stopped"]) and list(rows["label"]) == list(alone["label"])
    assert every.groupby("run")["step"].max().tolist() == [30, 21]
    final = landuse.sweep(
        parameters,
        steps=30,
        client=client,
        progress=False,
        measures=homes,
        every=7,
        stop_when="agents >= 60",
        keep="final",
    )
    assert final[["run", "step", "homes", "stopped"]].values.tolist() == [[0, 30, 30, False], [1, 21, 63, True]]

    # A measure that raises, or returns what no column holds, is its run's error row.
    failed = landuse.sweep({"Edit_size": 10}, steps=5, client=client, progress=False, measures=broken, every=2)
    assert list(failed["step"].fillna(0)) == [1, 2, 0]
    assert failed["error"].iloc[-1] == "broken raised KeyError: 'no such thing'"
    clash = landuse.sweep({"Edit_size": 10}, steps=2, client=client, progress=False, measures=lambda s: {"agents": 1})
    assert "'agents' cannot be a measure's column" in clash["error"].iloc[-1]
    with pytest.raises(landuse.measures.MeasureError, match="homes"):
        landuse.Simulation(Edit_size=10).run(2, measures=lambda s: {"homes": [1, 2]})


@pytest.mark.parametrize("make", [designs.latin_hypercube, designs.sobol_design, designs.random])
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
    indices = sensitivity.sobol_indices(
        f[:n], f[n : 2 * n], f[2 * n :].reshape(3, n), list(ranges), bootstrap=500, seed=3
    )
    for name, true in (("S1", [0.314, 0.442, 0.0]), ("ST", [0.558, 0.442, 0.244])):
        assert (indices[f"{name}_low"] <= true).all() and (np.array(true) <= indices[f"{name}_high"]).all(), indices
        assert np.allclose(indices[name], true, atol=0.03)


ISHIGAMI_RANGES = {"x1": (-np.pi, np.pi), "x2": (-np.pi, np.pi), "x3": (-np.pi, np.pi)}
ISHIGAMI_VARIANCE = 7**2 / 8 + 0.1 * np.pi**4 / 5 + 0.1**2 * np.pi**8 / 18 + 0.5
ISHIGAMI_FIRST, ISHIGAMI_TOTAL = np.array([0.314, 0.442, 0.0]), np.array([0.558, 0.442, 0.244])


def noisy_runs(function, ranges, n, replicates, noise_variance, noise, seed=3):
    """The runs' outputs of a seeded Saltelli design of a function plus Gaussian noise:
    "seed" noise depends on the replicate index alone (as a seed's draws would),
    "fresh" noise differs in every run."""
    design = sensitivity.seeded_saltelli_design(ranges, n, replicates=replicates, seed=seed)
    x = np.array([[point[name] for name in ranges] for point in design])
    indices = np.array(design.first_replicates)[:, None] + np.arange(replicates)
    if noise == "seed":
        z = np.random.default_rng(seed).normal(size=indices.max() + 1)[indices]
    else:
        z = np.random.default_rng(seed).normal(size=indices.shape)
    y = function(x)[:, None] + np.sqrt(noise_variance) * z
    return sensitivity.split_runs(y.ravel(), n, len(ranges), replicates)


@pytest.mark.parametrize(
    "noise, estimator, replicates",
    [("seed", "saltelli", 2), ("fresh", "saltelli", 2), ("seed", "jansen", 3), ("fresh", "jansen", 2)],
)
def test_chance_is_told_from_cause_on_ishigami_plus_noise(noise, estimator, replicates):
    """Ishigami (a = 7, b = 0.1, variance V) plus noise of variance 4: the chance
    share and the seed's total index are 4 / (V + 4); the replicate mean's indices
    are Ishigami's; one run's total index is V_Ti / (V + 4) when the noise is the
    seed's alone (A and A_B^i share it), (V_Ti + 4) / (V + 4) when every run has
    its own. x3's total is then below the seed's, and flagged."""
    s2, n = 4.0, 1024
    chance = s2 / (ISHIGAMI_VARIANCE + s2)
    frame = sensitivity.replicated_indices(
        *noisy_runs(ishigami, ISHIGAMI_RANGES, n, replicates, s2, noise),
        list(ISHIGAMI_RANGES),
        bootstrap=300,
        seed=1,
        estimator=estimator,
    )
    share, seed = frame.attrs["chance"], frame.attrs["seed"]
    assert share["low"] <= chance <= share["high"] and abs(share["share"] - chance) < 0.03
    assert seed["ST_low"] <= chance <= seed["ST_high"] and abs(seed["ST"] - chance) < 0.03
    run_total = ISHIGAMI_TOTAL * (1 - chance) + (chance if noise == "fresh" else 0)
    for name, true in (("S1", ISHIGAMI_FIRST), ("ST", ISHIGAMI_TOTAL), ("ST_run", run_total)):
        assert (frame[f"{name}_low"] <= true).all() and (true <= frame[f"{name}_high"]).all(), (name, frame)
        assert np.allclose(frame[name], true, atol=0.05), (name, frame)
    assert list(frame["like_chance"]) == [False, False, noise == "seed"]


@pytest.mark.parametrize("n, flagged", [(64, [False, True]), (4096, [False, False])])
def test_a_total_a_little_above_the_seeds_is_flagged_until_its_interval_clears_it(n, flagged):
    """2 x1 + x2 / 2 plus seed noise of variance 0.015: x2's total over one run,
    0.055, is above the seed's, 0.041, but at n = 64 their difference's interval
    reaches 0."""
    ranges = {"x1": (0, 1), "x2": (0, 1)}
    frame = sensitivity.replicated_indices(
        *noisy_runs(lambda x: 2 * x[:, 0] + x[:, 1] / 2, ranges, n, 2, 0.015, "seed"),
        list(ranges),
        bootstrap=300,
        seed=1,
    )
    assert frame.loc["x2", "ST_run"] > frame.attrs["seed"]["ST"] and list(frame["like_chance"]) == flagged


def linear(x):
    return x[:, 0] + 2 * x[:, 1]  # x3 does nothing: S1 = 1/5, 4/5, 0


def g_function(x, a=(0, 1, 4.5, 9, 99)):
    a = np.asarray(a, float)
    return np.prod((np.abs(4 * x - 2) + a) / (1 + a), axis=1)


def test_saltelli_is_the_default_and_steadier_than_jansen_for_a_factor_that_does_nothing():
    ranges = {"x1": (0, 1), "x2": (0, 1), "x3": (0, 1)}
    runs = noisy_runs(linear, ranges, 256, 2, 0.01, "fresh")
    default = sensitivity.replicated_indices(*runs, list(ranges), bootstrap=300, seed=1)
    jansen = sensitivity.replicated_indices(*runs, list(ranges), bootstrap=300, seed=1, estimator="jansen")
    for frame in (default, jansen):
        assert np.allclose(frame["S1"], [0.2, 0.8, 0.0], atol=0.1) and frame.attrs["n"] == 256
    width = lambda frame: frame.loc["x3", "S1_high"] - frame.loc["x3", "S1_low"]  # noqa: E731
    assert default.attrs["estimator"] == "saltelli" and width(default) * 5 < width(jansen)
    with pytest.raises(ValueError, match="estimator"):
        sensitivity.replicated_indices(*runs, list(ranges), estimator="sobol")


def test_convergence_from_nested_prefixes_of_one_design():
    """G-function, a = 0, 1, 4.5, 9, 99: totals 0.79, 0.24, 0.034, 0.010, 0.0001.
    The indices at every n = 2^k prefix, the largest equal to the whole design's,
    and their error falls as n grows."""
    ranges = {f"x{i}": (0, 1) for i in range(1, 6)}
    first = np.array([1 / 3, 1 / 12, 1 / 3 / 5.5**2, 1 / 3 / 100, 1 / 3 / 100**2])
    variance = np.prod(1 + first) - 1
    total = first * np.prod(1 + first) / (1 + first) / variance
    runs = noisy_runs(g_function, ranges, 512, 2, 0.0, "fresh")
    table = sensitivity.convergence(*runs, list(ranges), bootstrap=50, seed=1)
    assert sorted(set(table["n"])) == [8, 16, 32, 64, 128, 256, 512]
    assert set(table["parameter"]) == {*ranges, "seed", "chance"}
    whole = sensitivity.replicated_indices(*runs, list(ranges), bootstrap=50, seed=1)
    last = table[(table["n"] == 512) & table["parameter"].isin(list(ranges))].set_index("parameter")
    assert np.allclose(last["ST"], whole["ST"]) and np.allclose(last["ST"], total, atol=0.05)
    prefix = sensitivity.replicated_indices(*(part[..., :64, :] for part in runs), list(ranges), bootstrap=50, seed=1)
    assert np.allclose(table[(table["n"] == 64) & table["parameter"].isin(list(ranges))]["ST"], prefix["ST"])
    error = (
        table[table["parameter"].isin(list(ranges))]
        .assign(error=lambda t: np.abs(t["ST"] - total[t["parameter"].str[1:].astype(int) - 1]))
        .groupby("n")["error"]
        .max()
    )
    assert error[512] < error[8] / 3


@pytest.mark.parametrize(
    "spec, check",
    [
        (("log", 0.9, 0.999), lambda v: np.isclose(np.median(v), np.sqrt(0.9 * 0.999), rtol=1e-3)),
        (
            ("log", 7, 700, designs.decay_of_half_life),
            lambda v: np.isclose(np.median(np.log(0.5) / np.log(v)), 70, rtol=0.01),
        ),
        (("normal", 20, 10, 0, 60), lambda v: v.min() >= 0 and v.max() <= 60 and abs(v.mean() - 20.551) < 0.05),
        (("uniform", 2, 4), lambda v: abs(np.median(v) - 3) < 0.01),
        ((1, 3, int), lambda v: sorted(set(v)) == [1, 2, 3]),
    ],
)
def test_non_uniform_ranges_map_alike_in_designs_and_grids(spec, check):
    design = designs.sobol_design({"E_noise": spec} if spec[0] == "normal" else {"x": spec}, 1024, seed=2)
    name = design.names[0]
    values = np.array([point[name] for point in design])
    assert check(values) and design.coordinates.min() >= 0 and design.coordinates.max() < 1
    grid = designs.grid({name: spec if isinstance(spec[0], str) else ("int", 1, 3)}, levels=4)
    again = designs.from_unit_cube({name: spec}, grid.coordinates, "again")
    assert [p[name] for p in grid] == [p[name] for p in again] and list(grid.coordinates[:, 0]) == [
        0.125,
        0.375,
        0.625,
        0.875,
    ]


def made_table(values, steps=(1, 2, 3), stopped_after=None):
    """A sweep's table without the model: one run per (point value, replicate),
    residential and agents the same counts, avg_travel the same everywhere."""
    rows = []
    for run, (value, replicate, residential) in enumerate(values):
        for step in steps:
            if stopped_after is not None and replicate == 1 and step > stopped_after:
                break
            row = dict.fromkeys(landuse.STATISTICS_COLUMNS, 0)
            row.update(
                run=run,
                E_CProbab=value,
                replicate=replicate,
                seed=0,
                version="",
                draws=0,
                step=step,
                residential=residential * step,
                agents=residential * step,
                avg_travel=5,
                stopped=False,
                error="",
            )
            rows.append(row)
    return pd.DataFrame(rows)[
        ["run", "E_CProbab", "replicate", "seed", "version", "draws", *landuse.STATISTICS_COLUMNS, "stopped", "error"]
    ]


@pytest.mark.parametrize("case", ["legend", "band", "stopped", "many", "varying", "ticks"])
def test_plots_say_what_they_draw(case):
    import matplotlib

    matplotlib.use("Agg")
    from landuse import plot

    two = made_table(
        [(0.123456789, 0, 0), (0.123456789, 1, 10), (0.5, 0, 3), (0.5, 1, 4)],
        stopped_after=2 if case == "stopped" else None,
    )
    if case == "legend":
        labels = [t.get_text() for t in plot.over_steps(two, "residential").get_legend().get_texts()]
        assert labels == ["E_CProbab=0.123", "E_CProbab=0.5"]
    elif case == "band":  # 0 and 10 a step: mean 5, sd 7.1, the band cut at 0 and labelled
        ax = plot.over_steps(two, "residential")
        assert min(path.vertices[:, 1].min() for c in ax.collections for path in c.get_paths()) == 0
        assert "mean \u00b1 1 sd" in ax.get_title() and "2 replicates" in ax.get_title()
    elif case == "stopped":  # replicate 1 stops after step 2: step 3 is the mean of replicate 0 alone
        ax = plot.over_steps(two, "residential")
        assert [line.get_linestyle() for line in ax.lines] == ["-", "--", "-", "--"]
        assert "still running" in ax.get_title()
    elif case == "many":
        ax = plot.over_steps(made_table([(v / 7, 0, v) for v in range(13)]), "residential")
        assert len(ax.lines) == 13 and len(ax.figure.axes) == 2 and ax.get_legend() is None
    elif case == "varying":  # agents repeat residential run for run; avg_travel never varies
        assert plot.varying_columns(two) == ["residential"]
    else:
        ticks = plot.final_values(made_table([(v, 0, v) for v in (1, 2)]), "residential", "E_CProbab").get_xticks()
        assert len(ticks) > 1 and (ticks == np.round(ticks)).all()  # not 1.0, 1.2, .. for a whole-number control
    matplotlib.pyplot.close("all")


def test_sobol_indices_of_the_model_and_their_plots(client, tmp_path):
    indices = sensitivity.sobol_analysis(
        {"E_crAgs": (1, 6, int), "E_noise": (0, 60)},
        "residential at step 6",
        n=4,
        client=client,
        progress=False,
        controls={"Edit_size": 10},
        bootstrap=50,
        steps=8,
        replicates=1,
        estimator="jansen",
    )
    table = indices.attrs["table"]
    # n (d + 3) points, the seed's block among them; only the output's step of each run kept.
    assert list(indices.index) == ["E_crAgs", "E_noise"] and table["run"].nunique() == 20 and len(table) == 20
    assert (table["step"] == 6).all() and table["replicate"].nunique() == 8
    assert table[["E_crAgs", "E_noise", "residential"]].corr().shape == (3, 3)  # swept controls are numbers
    for output, steps, extra, message in (
        ("residental at step 6", None, {}, "no statistics column"),
        ("residential at step 6", 5, {}, "before step 6"),
        ("track_share at step 6", 9, {"every": 4}, "never at step 6"),
    ):
        with pytest.raises(ValueError, match=message):  # refused before any run
            sensitivity.sobol_analysis(
                {"E_crAgs": (1, 6, int)}, output, n=4, steps=steps, client="tcp://nowhere:1", progress=False, **extra
            )
    # Growth adds E_crAgs homes a step, whatever the agents' return noise or the seed: f(B) equals
    # f(A_B) for E_crAgs, and f(A) equals f(A_B) for E_noise, exactly; no run differs by chance.
    assert indices.loc["E_crAgs", "S1"] == 1.0 and indices.loc["E_noise", "ST"] == 0.0
    assert indices.attrs["seed"]["ST"] == 0.0 and list(indices["like_chance"]) == [False, True]
    some_steps = landuse.sweep({"Edit_size": 10}, steps=8, keep=[3], client=client, progress=False)
    assert list(some_steps["step"]) == [3, 8]  # the kept step and the last

    import matplotlib

    matplotlib.use("Agg")
    from landuse import plot

    plot.indices(indices).figure.savefig(tmp_path / "indices.png")
    paths = plot.write_sweep_plots(table, tmp_path / "sweep")
    assert [os.path.basename(p) for p in paths][:3] == [
        "residential-over-steps.png",
        "residential-by-E_crAgs.png",
        "residential-by-E_noise.png",
    ]
    assert all(open(p, "rb").read(8) == b"\x89PNG\r\n\x1a\n" for p in [*paths, tmp_path / "indices.png"])


def test_the_command_plots_a_design_and_landuse_does_without_matplotlib(tmp_path):
    sweep_file = tmp_path / "design.toml"
    sweep_file.write_text(
        'steps = 4\nkeep = "final"\n[design]\nkind = "latin_hypercube"\npoints = 3\nseed = 1\n'
        '[ranges]\nE_crAgs = [1, 4, "int"]\nEdit_size = [10, 10, "int"]\n'
    )
    out = tmp_path / "out.csv"
    (tmp_path / "a-file").write_text("")
    with pytest.raises(SystemExit) as exited:  # before any run
        main([str(sweep_file), "--out", str(out), "--quiet", "--plot", str(tmp_path / "a-file")])
    assert exited.value.code == 2 and not out.exists()
    assert main([str(sweep_file), "--out", str(out), "--quiet", "--workers", "1", "--plot", str(tmp_path / "p")]) == 0
    table = pd.read_csv(out)
    assert list(table["point"]) == [0, 1, 2] and (table["step"] == 4).all()
    assert (tmp_path / "p" / "residential-by-E_crAgs.png").exists()
    plain = subprocess.run(
        [sys.executable, "-c", "import sys, landuse; print('matplotlib' in sys.modules)"],
        capture_output=True,
        text=True,
        env=dict(os.environ, PYTHONPATH=PACKAGE_PARENT),
    )
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
    return {
        **{f"n{i}": i * step for i in range(150)},
        **{f"r{i}": (i / 4 if step % 2 else None) for i in range(150)},
        "text": f"s{step}",
        "as_text": str(step),
    }


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
        assert columns[after : after + len(names) + 1] == [*names, "stopped"]
        assert table["n7"].tolist() == [7, 14, 21] and table["n7"].dtype == np.int64
        assert table["r2"].tolist()[::2] == [0.5, 0.5] and table["r2"].isna().tolist() == [False, True, False]
        assert table["text"].tolist() == ["s1", "s2", "s3"] and table["as_text"].tolist() == [1, 2, 3]
