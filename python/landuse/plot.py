"""Plots of sweeps and sensitivity analyses, with matplotlib (imported only here,
so the rest of the package does without it). Each function draws on the axes
given (or new ones) and returns them.

    over_steps(table, "residential")          # per point: the replicates' mean and a band
    indices(landuse.sensitivity.sobol(...))   # S1 and ST as bars with their intervals
    final_values(table, "residential", "E_CProbab")
    write_sweep_plots(table, folder)          # PNG files of the above for a sweep's table
"""

import os

import numpy as np

from .sweeps import RESERVED_COLUMNS


def _axes(ax):
    if ax is not None:
        return ax
    import matplotlib.pyplot as plt  # without a display, matplotlib draws with Agg

    return plt.figure(figsize=(7, 4.5)).add_subplot()


def swept_names(table):
    """The columns of a sweep's table that hold the swept controls."""
    return [name for name in table.columns if name not in RESERVED_COLUMNS and not name.startswith("u_")
            and table.columns.get_loc(name) < table.columns.get_loc("replicate")]


def _point_label(values):
    return ", ".join(f"{name}={value}" for name, value in values.items()) or "all runs"


def over_steps(table, column, ax=None, band="sd", most_points=12):
    """The column over the steps: for each point (the swept values), the mean over
    its replicates as a line and a band of one standard deviation ("sd") or the
    replicates' range ("range"); at most ``most_points`` points are drawn."""
    ax = _axes(ax)
    names = swept_names(table)
    ok = table[table["error"] == ""]
    groups = ok.groupby(names, sort=False, dropna=False) if names else [((), ok)]
    for number, (key, rows) in enumerate(groups):
        if number == most_points:
            break
        key = key if isinstance(key, tuple) else (key,)
        by_step = rows.groupby("step")[column].agg(["mean", "std", "min", "max"]).astype(float)
        steps = by_step.index.to_numpy(dtype=float)
        line, = ax.plot(steps, by_step["mean"], label=_point_label(dict(zip(names, key))))
        low, high = ((by_step["mean"] - by_step["std"].fillna(0), by_step["mean"] + by_step["std"].fillna(0))
                     if band == "sd" else (by_step["min"], by_step["max"]))
        ax.fill_between(steps, low, high, color=line.get_color(), alpha=0.2, linewidth=0)
    ax.set_xlabel("step")
    ax.set_ylabel(column)
    ax.legend(fontsize="small")
    return ax


def indices(frame, ax=None):
    """First-order (S1) and total (ST) indices as bars with their intervals."""
    ax = _axes(ax)
    x = np.arange(len(frame))
    width = 0.38
    for offset, name in ((-width / 2, "S1"), (width / 2, "ST")):
        values = frame[name].to_numpy(float)
        errors = np.vstack([values - frame[f"{name}_low"].to_numpy(float),
                            frame[f"{name}_high"].to_numpy(float) - values])
        ax.bar(x + offset, values, width, yerr=np.clip(errors, 0, None), capsize=3,
               label="first order" if name == "S1" else "total")
    ax.set_xticks(x, list(frame.index))
    ax.set_ylabel("Sobol' index")
    ax.axhline(0, color="black", linewidth=0.5)
    output = frame.attrs.get("output")
    if output:
        ax.set_title(output)
    ax.legend()
    return ax


def final_values(table, column, parameter, ax=None):
    """Each run's value of the column at its last row against a swept parameter."""
    ax = _axes(ax)
    ok = table[table["error"] == ""]
    last = ok.groupby("run").tail(1)
    ax.plot(last[parameter].astype(float), last[column].astype(float), "o", alpha=0.6)
    ax.set_xlabel(parameter)
    ax.set_ylabel(f"{column} at the last step")
    return ax


def _save(ax, path):
    ax.figure.tight_layout()
    ax.figure.savefig(path, dpi=100)
    import matplotlib.pyplot as plt

    plt.close(ax.figure)
    return path


def write_sweep_plots(table, folder, columns=("residential", "agents")):
    """PNG files in the folder: each column over the steps, and its final values
    against each swept parameter that takes numbers and more than one value.
    Returns their paths."""
    import matplotlib

    matplotlib.use("Agg")
    os.makedirs(folder, exist_ok=True)
    paths = []
    for column in columns:
        paths.append(_save(over_steps(table, column), os.path.join(folder, f"{column}-over-steps.png")))
        for name in swept_names(table):
            try:
                values = table[name].astype(float)
            except (TypeError, ValueError):
                continue
            if values.nunique() < 2:
                continue
            paths.append(_save(final_values(table, column, name), os.path.join(folder, f"{column}-by-{name}.png")))
    return paths
