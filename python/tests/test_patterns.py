"""The pattern measures: against independent numpy/scipy code on grids of real runs,
the same numbers from every front end, and the documentation's table against the model's."""

import math
import os
import pathlib
import re
import subprocess
import sys

import numpy as np
import pandas as pd
import pytest

import landuse
from landuse import sensitivity

ndimage = pytest.importorskip("scipy.ndimage")

ROOT = pathlib.Path(__file__).resolve().parents[2]
PACKAGE_PARENT = os.path.dirname(os.path.dirname(landuse.__file__))
NAMES = list(landuse.PATTERN_MEASURES.index)
RESIDENTIAL, DESTINATION, SERVICE, INDUSTRY = 2, 3, 4, 5
CLASSES = {
    "residential": [RESIDENTIAL],
    "services": [SERVICE],
    "industry": [INDUSTRY],
    "built": [RESIDENTIAL, SERVICE, INDUSTRY],
}


def torus_components(mask):
    """Sizes of the 8-connected components of mask on the torus: scipy labels the
    grid tiled 3 x 3, and the labels of the nine copies of each cell are one."""
    rows, columns = mask.shape
    labels, count = ndimage.label(np.tile(mask, (3, 3)), structure=np.ones((3, 3)))
    parent = list(range(count + 1))

    def root(a):
        while parent[a] != a:
            a = parent[a]
        return a

    copies = labels.reshape(3, rows, 3, columns).transpose(1, 3, 0, 2).reshape(rows, columns, 9)
    for cell in copies[mask]:
        for other in cell[1:]:
            a, b = root(cell[0]), root(other)
            if a != b:
                parent[b] = a
    roots = [root(label) for label in copies[mask][:, 0]]
    return np.unique(roots, return_counts=True)[1] if roots else np.array([], int)


def expected_patterns(grids, arrivals, threshold):
    kind = grids["kind"]
    cells = kind.size
    nan = float("nan")
    values = {}
    for name, kinds in CLASSES.items():
        mask = np.isin(kind, kinds)
        count = int(mask.sum())
        sizes = torus_components(mask)
        sides = sum(int((mask & ~np.roll(mask, shift, axis)).sum()) for shift in (1, -1) for axis in (0, 1))
        like = sum(int((mask & np.roll(mask, 1, axis)).sum()) for axis in (0, 1))
        # The most sides n cells can share in the plane (Harary and Harborth): 2n - ceil(2 sqrt(n)).
        most = 2 * count - math.ceil(2 * math.sqrt(count)) if count else 0
        values.update(
            {
                f"{name}_patches": len(sizes),
                f"{name}_largest_patch": sizes.max() if len(sizes) else 0,
                f"{name}_largest_share": sizes.max() / count if count else nan,
                f"{name}_mean_patch": count / len(sizes) if len(sizes) else nan,
                f"{name}_edge_density": sides / cells,
                f"{name}_aggregation": like / most if most else nan,
            }
        )
    rows, columns = kind.shape
    homes = np.argwhere(kind == RESIDENTIAL)

    def nearest(target):
        targets = np.argwhere(kind == target)
        if not len(homes) or not len(targets):
            return np.array([nan])
        d = np.abs(homes[:, None, :] - targets[None, :, :])
        d = np.minimum(d, np.array([rows, columns]) - d)
        return np.sqrt((d**2).sum(axis=2)).min(axis=1)

    to_destination = nearest(DESTINATION)
    values.update(
        home_destination_mean=to_destination.mean(),
        home_destination_max=to_destination.max(),
        home_service_mean=nearest(SERVICE).mean(),
    )
    tracks = grids["all_tracks"] >= threshold
    values.update(track_share=tracks.sum() / cells, track_networks=len(torus_components(tracks)))
    a = np.asarray(arrivals, float)
    values.update(
        arrivals_mean=a.mean() if len(a) else nan,
        arrivals_max=a.max() if len(a) else nan,
        arrivals_gini=np.abs(a[:, None] - a[None, :]).sum() / (2 * len(a) * a.sum()) if len(a) and a.sum() else nan,
    )
    return values


# Grids of real runs: a fine grid and a coarse one, an odd grid size, few and many
# track cells, destinations with and without arrivals.
@pytest.mark.parametrize(
    "seed, controls, steps, threshold",
    [
        (0, {"Edit_size": 5}, 40, 22.0),
        (landuse.replicate_seed(1), {"Edit_size": 8, "E_crAgs": 4, "CB_migrate": 1}, 60, 5.0),
        (landuse.replicate_seed(2), {"Edit_size": 3, "E_crServ": 3, "E_crIndu": 3}, 30, 22.0),
        (landuse.replicate_seed(3), {"Edit_size": 10}, 0, 22.0),
    ],
)
def test_the_measures_equal_independent_code_on_the_torus(seed, controls, steps, threshold):
    sim = landuse.Simulation(seed=seed, **controls)
    sim.step(steps)
    found = sim.patterns(threshold)
    expected = expected_patterns(sim.cells(), sim._run.arrivals(), threshold)
    assert list(found) == NAMES
    for name in NAMES:
        assert found[name] == pytest.approx(expected[name], rel=1e-12, nan_ok=True), name


CONTROLS = {"Edit_size": 8, "E_crAgs": 3, "CB_migrate": 1}
STEPS, EVERY = 40, 10


def measured_rows(table):
    """The steps a table measured and their pattern columns, as floats for comparing bit for bit."""
    rows = table[table["step"] % EVERY == 0]
    return rows[["step", *NAMES]].reset_index(drop=True).astype(float)


def test_every_front_end_gives_the_same_pattern_numbers(runner, client, tmp_path):
    def by_runner(*threshold):
        path = tmp_path / "patterns.csv"
        sets = [a for name, value in CONTROLS.items() for a in ("--set", f"{name}={value}")]
        done = subprocess.run(
            [
                runner,
                "--steps",
                str(STEPS),
                *sets,
                "--stats",
                os.devnull,
                "--patterns",
                str(path),
                "--patterns-every",
                str(EVERY),
                *threshold,
            ],
            capture_output=True,
            text=True,
        )
        assert done.returncode == 0, done.stderr
        return measured_rows(pd.read_csv(path, float_precision="round_trip"))

    # The default threshold: the runner, one run and a sweep on the cluster.
    expected = by_runner()
    assert list(expected["step"]) == [10, 20, 30, 40]
    alone = landuse.Simulation(**CONTROLS).run(STEPS, measures=landuse.patterns, every=EVERY)
    swept = landuse.sweep(CONTROLS, steps=STEPS, client=client, progress=False, measures=landuse.patterns, every=EVERY)
    for found in (alone, swept):
        pd.testing.assert_frame_equal(measured_rows(found), expected, check_exact=True)

    # Another threshold: the runner's option, the measure made for it, and a sweep file.
    expected = by_runner("--track-threshold", "5")
    assert expected["track_networks"].iloc[-1] > 1  # the threshold makes tracks of more than the destinations
    alone = landuse.Simulation(**CONTROLS).run(STEPS, measures=landuse.patterns_with(track_threshold=5), every=EVERY)
    sweep_file, out = tmp_path / "patterns.toml", tmp_path / "out.csv"
    sweep_file.write_text(
        f'steps = {STEPS}\nevery = {EVERY}\nmeasures = ["patterns"]\ntrack_threshold = 5\n'
        "[parameters]\n" + "".join(f"{name} = {value}\n" for name, value in CONTROLS.items())
    )
    done = subprocess.run(
        [sys.executable, "-m", "landuse.sweep", str(sweep_file), "--out", str(out), "--quiet", "--workers", "1"],
        capture_output=True,
        text=True,
        env=dict(os.environ, PYTHONPATH=PACKAGE_PARENT),
        timeout=300,
    )
    assert done.returncode == 0, done.stderr
    for found in (alone, pd.read_csv(out, float_precision="round_trip")):
        pd.testing.assert_frame_equal(measured_rows(found), expected, check_exact=True)


def test_a_pattern_measure_is_the_output_of_a_sensitivity_analysis(client):
    indices = sensitivity.sobol_analysis(
        {"E_crAgs": (1, 4, int)},
        "built_aggregation at step 8",
        n=2,
        client=client,
        progress=False,
        controls={"Edit_size": 10},
        bootstrap=10,
        replicates=1,
    )
    table = indices.attrs["table"]
    final = table[table["step"] == 8]
    assert len(final) == 8  # n (d + 3) points, the seed's block among them
    for _, row in final.iterrows():
        sim = landuse.Simulation(Edit_size=10, E_crAgs=row["E_crAgs"], seed=row["seed"])
        sim.step(8)
        assert row["built_aggregation"] == sim.patterns()["built_aggregation"]


def test_the_documentation_lists_every_pattern_measure_with_its_unit_and_meaning():
    page = (ROOT / "docs" / "how-to" / "measures.md").read_text()
    section = page.split("## Pattern measures\n", 1)[1].split("\n#", 1)[0]
    rows = re.findall(r"^\| `([a-z_]+)` \| ([^|]+?) \| ([^|]+?) \|$", section, re.M)
    assert rows == [tuple(measure) for measure in landuse._core.pattern_measures]
    assert list(landuse.PATTERN_MEASURES.index) == [name for name, _, _ in rows]
