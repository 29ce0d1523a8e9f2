"""Plots of sweeps and sensitivity analyses, with matplotlib (imported only here,
so the rest of the package does without it). Each function draws on the axes
given (or new ones) and returns them.

    over_steps(table, "residential")          # per point: the replicates' mean and a band
    indices(landuse.sensitivity.sobol_analysis(...))   # S1 and ST with their intervals, n and chance
    convergence(indices)                      # the indices against n, from nested prefixes
    final_values(table, "residential", "E_CProbab")
    write_sweep_plots(table, folder)          # PNG files of the above for a sweep's table
"""

from __future__ import annotations

import os
from typing import TYPE_CHECKING

import numpy as np
import pandas as pd

from .controls import STATISTICS_COLUMNS
from .files import save_figure
from .sweep.results import as_table
from .sweep.points import RESERVED_COLUMNS

if TYPE_CHECKING:
    from matplotlib.axes import Axes

__all__ = [
    "convergence",
    "final_values",
    "indices",
    "over_steps",
    "varying_columns",
    "write_sweep_plots",
]

# Statistics that count cells or agents: their bands stop at 0.
COUNT_COLUMNS = {name for name in STATISTICS_COLUMNS if name != "max_mark"}


def _axes(ax):
    if ax is not None:
        return ax
    import matplotlib.pyplot as plt  # without a display, matplotlib draws with Agg

    return plt.figure(figsize=(7, 4.5)).add_subplot()


def _swept_names(table):
    """The columns of a sweep's table that hold the swept controls."""
    return [
        name
        for name in table.columns
        if name not in RESERVED_COLUMNS
        and not name.startswith("u_")
        and table.columns.get_loc(name) < table.columns.get_loc("replicate")
    ]


def _short(value):
    """A value as a legend shows it: numbers to 3 significant figures."""
    if isinstance(value, (bool, np.bool_)) or not isinstance(value, (int, float, np.integer, np.floating)):
        return str(value)
    return f"{value:.3g}"


def _point_label(values):
    return ", ".join(f"{name}={_short(value)}" for name, value in values.items()) or "all runs"


def _numbers(column):
    try:
        return pd.to_numeric(column, errors="raise").astype(float)
    except (TypeError, ValueError):
        return None


def _is_whole(values):
    return values is not None and np.all(np.isfinite(values)) and np.all(values == np.round(values))


def _integer_ticks(axis):
    from matplotlib.ticker import MaxNLocator

    axis.set_major_locator(MaxNLocator(integer=True))


def _is_count(table, column):
    values = _numbers(table[column].dropna())
    return column in COUNT_COLUMNS or (values is not None and _is_whole(values.to_numpy()) and (values >= 0).all())


def over_steps(table: pd.DataFrame, column: str, *, ax: Axes | None = None, most_points: int = 12) -> Axes:
    """The column over the steps. Up to ``most_points`` points: for each, the mean
    over its replicates as a line, labelled with its values, and a band of one
    standard deviation (never below 0 for a count); where some replicates have
    stopped, the mean of those still running, dashed. More points: every point's
    mean, coloured by the first numeric swept control, with a colour bar.

    Parameters
    ----------
    table : pandas.DataFrame
        A sweep's table.
    column : str
        The column drawn.
    ax : matplotlib.axes.Axes, optional
        Where to draw; by default a new figure's axes.
    most_points : int, default 12
        The most points drawn each as a line.

    Returns
    -------
    matplotlib.axes.Axes
        The axes drawn on.

    Examples
    --------
    >>> over_steps(landuse.sweep({"E_crAgs": [1, 3]}, steps=20), "residential")  # doctest: +SKIP
    """
    table = as_table(table)  # a store's Dataset made into the sweep's table
    ax = _axes(ax)
    names = _swept_names(table)
    ok = table[table["error"] == ""]
    groups = list(ok.groupby(names, sort=False, dropna=False)) if names else [((), ok)]
    count = _is_count(ok, column)
    replicates = ok.groupby(names, dropna=False)["run"].nunique().max() if names else ok["run"].nunique()
    few = len(groups) <= most_points
    colour_by = next((name for name in names if _numbers(ok[name]) is not None and ok[name].nunique() > 1), None)
    if not few and colour_by is not None:
        import matplotlib as mpl

        values = _numbers(ok[colour_by])
        norm = mpl.colors.Normalize(values.min(), values.max())
        cmap = mpl.colormaps["viridis"]
    stopped_early = False
    for key, rows in groups:
        key = key if isinstance(key, tuple) else (key,)
        by_step = rows.groupby("step")[column].agg(["mean", "std", "count"]).astype(float)
        steps = by_step.index.to_numpy(dtype=float)
        running = by_step["count"] == by_step["count"].max()
        if few:
            (line,) = ax.plot(steps[running], by_step["mean"][running], label=_point_label(dict(zip(names, key))))
            colour = line.get_color()
        else:
            point = dict(zip(names, key))
            colour = cmap(norm(float(point[colour_by]))) if colour_by is not None else "C0"
            ax.plot(steps[running], by_step["mean"][running], color=colour, linewidth=0.8, alpha=0.7)
        if not running.all():
            stopped_early = True
            ax.plot(steps[~running], by_step["mean"][~running], color=colour, linestyle="--")
        if few and replicates > 1:
            spread = by_step["std"].fillna(0)
            low, high = by_step["mean"] - spread, by_step["mean"] + spread
            if count:
                low = low.clip(lower=0)
            ax.fill_between(steps, low, high, color=colour, alpha=0.2, linewidth=0)
    notes = [f"{len(groups)} points; line: mean of {replicates} replicate{'s' if replicates > 1 else ''}"]
    if few and replicates > 1:
        notes.append("band: mean \u00b1 1 sd" + (", cut at 0" if count else ""))
    if stopped_early:
        notes.append("dashed: mean of the replicates still running")
    ax.set_title("; ".join(notes), fontsize="small")
    ax.set_xlabel("step")
    ax.set_ylabel(column)
    _integer_ticks(ax.xaxis)
    if few:
        ax.legend(fontsize="small")
    elif colour_by is not None:
        bar = ax.figure.colorbar(mpl.cm.ScalarMappable(norm=norm, cmap=cmap), ax=ax, label=colour_by)
        if _is_whole(_numbers(ok[colour_by]).to_numpy()):
            _integer_ticks(bar.ax.yaxis)
    return ax


def _chance_note(frame):
    a = frame.attrs
    parts = []
    if "n" in a:
        parts.append(f"n = {a['n']} base points \u00d7 {a.get('replicates', 1)} replicates")
    if "confidence" in a:
        parts.append(f"{a['confidence']:.0%} bootstrap intervals")
    chance = a.get("chance")
    if chance and np.isfinite(chance["share"]):
        parts.append(f"chance share {chance['share']:.3f} [{chance['low']:.3f}, {chance['high']:.3f}]")
    return "; ".join(parts)


def indices(frame: pd.DataFrame, ax: Axes | None = None) -> Axes:
    """First-order (S1) and total (ST) indices of the replicate mean as bars with
    their intervals; the total over one run (ST_run) as a dot against the seed's
    total index (a gray band); a parameter not told from chance marked "~ chance".
    The title gives the output, n, the interval level and the chance share.

    Parameters
    ----------
    frame : pandas.DataFrame
        The result of ``sensitivity.sobol_analysis``.
    ax : matplotlib.axes.Axes, optional
        Where to draw; by default a new figure's axes.

    Returns
    -------
    matplotlib.axes.Axes
        The axes drawn on.

    Examples
    --------
    >>> indices(landuse.sensitivity.sobol_analysis(RANGES, "residential", n=8))  # doctest: +SKIP
    """
    ax = _axes(ax)
    x = np.arange(len(frame))
    width = 0.38
    for offset, name in ((-width / 2, "S1"), (width / 2, "ST")):
        values = frame[name].to_numpy(float)
        errors = np.vstack(
            [values - frame[f"{name}_low"].to_numpy(float), frame[f"{name}_high"].to_numpy(float) - values]
        )
        ax.bar(
            x + offset,
            values,
            width,
            yerr=np.clip(np.nan_to_num(errors), 0, None),
            capsize=3,
            label="first order (replicate mean)" if name == "S1" else "total (replicate mean)",
        )
    seed = frame.attrs.get("seed")
    if "ST_run" in frame:
        values = frame["ST_run"].to_numpy(float)
        errors = np.vstack(
            [values - frame["ST_run_low"].to_numpy(float), frame["ST_run_high"].to_numpy(float) - values]
        )
        ax.errorbar(
            x + width / 2,
            values,
            yerr=np.clip(np.nan_to_num(errors), 0, None),
            fmt="o",
            color="black",
            markersize=4,
            capsize=2,
            label="total of one run",
        )
    if seed:
        ax.axhspan(seed["ST_low"], seed["ST_high"], color="gray", alpha=0.3, linewidth=0)
        ax.axhline(seed["ST"], color="gray", linestyle="--", label="the seed's total (one run)")
    labels = [
        f"{name}\n~ chance" if frame.get("like_chance", pd.Series(False, frame.index))[name] else str(name)
        for name in frame.index
    ]
    ax.set_xticks(x, labels)
    ax.set_ylabel("Sobol' index")
    ax.axhline(0, color="black", linewidth=0.5)
    title = frame.attrs.get("output", "")
    note = _chance_note(frame)
    ax.set_title("\n".join(filter(None, [title, note])), fontsize="small")
    ax.legend(fontsize="small")
    return ax


def convergence(frame: pd.DataFrame, ax: Axes | None = None, index: str = "ST") -> Axes:
    """An index against the number of base points n, from the nested prefixes of
    one design (``frame`` the result of ``sensitivity.sobol_analysis`` or its
    ``attrs["convergence"]``): a line and interval band per parameter, with the
    seed's total index and the chance share dashed.

    Parameters
    ----------
    frame : pandas.DataFrame
        The result of ``sensitivity.sobol_analysis``, or its ``attrs["convergence"]``.
    ax : matplotlib.axes.Axes, optional
        Where to draw; by default a new figure's axes.
    index : {"ST", "S1", "ST_run"}, default "ST"
        The index drawn.

    Returns
    -------
    matplotlib.axes.Axes
        The axes drawn on.

    Examples
    --------
    >>> convergence(landuse.sensitivity.sobol_analysis(RANGES, "residential", n=8))  # doctest: +SKIP
    """
    ax = _axes(ax)
    table = frame.attrs.get("convergence", frame) if hasattr(frame, "attrs") else frame
    source = frame if "convergence" in getattr(frame, "attrs", {}) else None
    for number, (name, rows) in enumerate(table.groupby("parameter", sort=False)):
        if name in ("seed", "chance"):
            key, style = "ST_run", {"color": "black" if name == "seed" else "gray", "linestyle": "--"}
            label = "seed's total (one run)" if name == "seed" else "chance share"
        else:
            key, style, label = index, {"color": f"C{number}"}, name
        ns = rows["n"].to_numpy(float)
        ax.plot(ns, rows[key], marker="o", markersize=3, label=label, **style)
        ax.fill_between(ns, rows[f"{key}_low"], rows[f"{key}_high"], color=style["color"], alpha=0.12, linewidth=0)
    ax.set_xscale("log", base=2)
    ns = sorted(table["n"].unique())
    ax.set_xticks(ns, [str(n) for n in ns])
    ax.set_xlabel("base points n (each n (d + 3) design points)")
    ax.set_ylabel({"ST": "total index", "S1": "first-order index"}.get(index, index) + " (replicate mean)")
    title = [source.attrs.get("output", "")] if source is not None else []
    if source is not None:
        title.append(
            f"{source.attrs['replicates']} replicates; bands: {source.attrs['confidence']:.0%} " "bootstrap intervals"
        )
    ax.set_title("\n".join(filter(None, title)), fontsize="small")
    ax.axhline(0, color="black", linewidth=0.5)
    ax.legend(fontsize="small", ncol=2)
    return ax


def final_values(table: pd.DataFrame, column: str, parameter: str, *, ax: Axes | None = None) -> Axes:
    """Each run's value of the column at its last row against a swept parameter;
    every run drawn, whole-number controls with whole-number ticks.

    Parameters
    ----------
    table : pandas.DataFrame
        A sweep's table.
    column : str
        The column drawn.
    parameter : str
        The swept control on the x axis.
    ax : matplotlib.axes.Axes, optional
        Where to draw; by default a new figure's axes.

    Returns
    -------
    matplotlib.axes.Axes
        The axes drawn on.

    Examples
    --------
    >>> final_values(table, "residential", "E_CProbab")  # doctest: +SKIP
    """
    table = as_table(table)  # a store's Dataset made into the sweep's table
    ax = _axes(ax)
    ok = table[table["error"] == ""]
    last = ok.groupby("run").tail(1)
    x = last[parameter].astype(float)
    ax.plot(x, last[column].astype(float), "o", alpha=0.6)
    ax.set_xlabel(parameter)
    ax.set_ylabel(f"{column} at the last step")
    ax.set_title(f"{len(last)} runs", fontsize="small")
    if _is_whole(x.to_numpy()):
        _integer_ticks(ax.xaxis)
    return ax


def _save(ax, path):
    ax.figure.tight_layout()
    save_figure(ax.figure, path, dpi=100)
    import matplotlib.pyplot as plt

    plt.close(ax.figure)
    return path


def varying_columns(table: pd.DataFrame, most: int = 6) -> list[str]:
    """The outputs whose last values differ between runs: the statistics (residential
    first) and numeric measures, leaving out any whose values repeat an earlier
    one's run for run; at most ``most``.

    Parameters
    ----------
    table : pandas.DataFrame
        A sweep's table.
    most : int, default 6
        The most columns returned.

    Returns
    -------
    list of str
        The columns.

    Examples
    --------
    >>> varying_columns(table)  # doctest: +SKIP
    ['residential', 'agents']
    """
    table = as_table(table)  # a store's Dataset made into the sweep's table
    ok = table[table["error"] == ""]
    last = ok.groupby("run").tail(1)
    names = _swept_names(table)
    measures = [
        name
        for name in table.columns[table.columns.get_loc("max_mark") + 1 :]
        if name not in ("stopped", "error") and name not in names
    ]
    candidates = ["residential", *[c for c in STATISTICS_COLUMNS if c not in ("step", "residential")], *measures]
    chosen, seen = [], []
    for name in candidates:
        values = _numbers(last[name]) if name in last else None
        if values is None or values.nunique() < 2:
            continue
        values = values.to_numpy()
        if any(np.array_equal(values, other) for other in seen):
            continue
        chosen.append(name)
        seen.append(values)
        if len(chosen) == most:
            break
    return chosen


def write_sweep_plots(
    table: pd.DataFrame, folder: str | os.PathLike[str], columns: list[str] | None = None
) -> list[str]:
    """PNG files in the folder: each column over the steps, and its final values
    against each swept parameter that takes numbers and more than one value;
    ``columns`` by default those whose values vary across the sweep
    (``varying_columns``), else residential. Returns their paths.

    Parameters
    ----------
    table : pandas.DataFrame
        A sweep's table.
    folder : str or os.PathLike
        Where the PNG files go; made if missing.
    columns : list of str, optional
        The columns drawn; by default ``varying_columns(table)``.

    Returns
    -------
    list of str
        The files written.

    Raises
    ------
    OSError
        A file could not be written.

    Examples
    --------
    >>> write_sweep_plots(table, "plots")  # doctest: +SKIP
    """
    table = as_table(table)  # a store's Dataset made into the sweep's table
    import matplotlib

    matplotlib.use("Agg")
    os.makedirs(folder, exist_ok=True)
    if columns is None:
        columns = varying_columns(table) or ["residential"]
    paths = []
    for column in columns:
        paths.append(_save(over_steps(table, column), os.path.join(folder, f"{column}-over-steps.png")))
        for name in _swept_names(table):
            values = _numbers(table[name])
            if values is None or values.nunique() < 2:
                continue
            paths.append(_save(final_values(table, column, name), os.path.join(folder, f"{column}-by-{name}.png")))
    return paths
