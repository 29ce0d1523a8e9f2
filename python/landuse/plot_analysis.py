"""Plots of Morris screening and ABC calibration, with matplotlib (imported only
here). Values in labels and legends are shown to 3 significant figures.

    morris(landuse.sensitivity.morris(...))          # mu* against sigma, one axes
    morris_figure(effects)                           # one axes per output
    posterior_pairs(landuse.calibrate.abc(...), truth={"E_CProbab": 0.1})
"""

from __future__ import annotations

import os
from typing import TYPE_CHECKING

import numpy as np

from .files import save_figure

if TYPE_CHECKING:
    import pandas as pd
    from matplotlib.axes import Axes
    from matplotlib.figure import Figure

    from .calibrate import ABCResult

__all__ = ["morris", "morris_figure", "posterior_pairs", "save"]


def _axes(ax):
    if ax is not None:
        return ax
    import matplotlib.pyplot as plt

    return plt.figure(figsize=(6.5, 5)).add_subplot()


def morris(frame: pd.DataFrame, ax: Axes | None = None, title: str | None = None) -> Axes:
    """mu* (with its bootstrap interval) against sigma, one labelled point per
    parameter; the line sigma = mu* parts effects mostly linear and additive
    (below) from those that interact or bend (above).

    Parameters
    ----------
    frame : pandas.DataFrame
        The result of ``landuse.sensitivity.morris`` for one output.
    ax : matplotlib.axes.Axes, optional
        Where to draw; by default a new figure's axes.
    title : str, optional
        The axes' title.

    Returns
    -------
    matplotlib.axes.Axes
        The axes drawn on.

    Examples
    --------
    >>> morris(landuse.sensitivity.morris(RANGES, "residential", trajectories=8))  # doctest: +SKIP
    """
    ax = _axes(ax)
    mu_star, sigma = frame["mu_star"].to_numpy(float), frame["sigma"].to_numpy(float)
    errors = np.clip(
        np.vstack([mu_star - frame["mu_star_low"].to_numpy(float), frame["mu_star_high"].to_numpy(float) - mu_star]),
        0,
        None,
    )
    level = frame.attrs.get("confidence", 0.95)
    ax.errorbar(mu_star, sigma, xerr=errors, fmt="o", capsize=3, label=f"\u03bc* with its {level:.0%} interval")
    top = max(np.nanmax(frame["mu_star_high"].to_numpy(float)), np.nanmax(sigma), 1e-12) * 1.1
    ax.plot([0, top], [0, top], "--", color="gray", linewidth=0.8, label="\u03c3 = \u03bc*")
    ax.set_xlim(0, top)
    ax.set_ylim(0, top)
    _labels(ax, [str(name) for name in frame.index], mu_star, np.nan_to_num(sigma))
    ax.set_xlabel("\u03bc*: mean |elementary effect| (output change over a whole range)")
    ax.set_ylabel("\u03c3: sd of the elementary effects")
    trajectories = frame.attrs.get("trajectories")
    note = f" ({trajectories} trajectories)" if trajectories else ""
    ax.set_title((title or frame.attrs.get("output") or "Morris screening") + note, fontsize="medium")
    ax.legend(fontsize="small", loc="upper left")
    return ax


def _labels(ax, names, xs, ys, size=9):
    """Names beside their points, each moved up (with a leader line) until it
    overlaps no label placed before it, so that close points stay readable."""
    ax.figure.canvas.draw()
    to_pixels = ax.transData.transform
    placed = []
    for k in np.argsort(ys):
        px, py = to_pixels((xs[k], ys[k]))
        width, height = 0.62 * size * len(names[k]), 1.25 * size
        lift = 0.3 * size
        while any(abs(px - qx) < (width + qw) / 2 and abs(py + lift - qy) < height for qx, qy, qw in placed):
            lift += height
        placed.append((px, py + lift, width))
        ax.annotate(
            names[k],
            (xs[k], ys[k]),
            xytext=(4, lift),
            textcoords="offset pixels",
            fontsize=size,
            arrowprops=dict(arrowstyle="-", color="0.35", linewidth=0.7) if lift > 0.3 * size else None,
        )


def morris_figure(frame: pd.DataFrame) -> Figure:
    """One ``morris`` axes per output of a screening of several outputs.

    Parameters
    ----------
    frame : pandas.DataFrame
        The result of ``landuse.sensitivity.morris`` for a list of outputs.

    Returns
    -------
    matplotlib.figure.Figure
        The figure.

    Examples
    --------
    >>> morris_figure(landuse.sensitivity.morris(RANGES, OUTPUTS, trajectories=8))  # doctest: +SKIP
    """
    import matplotlib.pyplot as plt

    outputs = list(dict.fromkeys(frame.index.get_level_values(0))) if frame.index.nlevels > 1 else [None]
    figure, axes = plt.subplots(1, len(outputs), figsize=(6.5 * len(outputs), 5.5), squeeze=False)
    for ax, output in zip(axes[0], outputs):
        part = frame if output is None else frame.loc[output]
        part.attrs.update({k: v for k, v in frame.attrs.items() if k in ("confidence", "trajectories")})
        morris(part, ax, title=output)
    figure.tight_layout()
    return figure


def _log_ticks(axis, set_scale, low, high):
    """A log axis with five ticks across the range, labelled in plain numbers."""
    from matplotlib.ticker import FixedLocator, FuncFormatter, NullLocator

    set_scale("log")
    axis.set_major_locator(FixedLocator(np.geomspace(low, high, 5)))
    axis.set_minor_locator(NullLocator())
    axis.set_major_formatter(FuncFormatter(lambda v, _: f"{v:.3g}"))


def _prior_range(prior, j):
    """A parameter's prior range on its own scale."""
    if prior.log[j]:
        return np.exp(prior.low[j]), np.exp(prior.high[j])
    return prior.low[j], prior.high[j]


def _posterior_histogram(ax, result, name, low, high, log, interval, level, truth):
    """A parameter's weighted histogram against the flat prior, with its interval and truth."""
    posterior = result.posterior
    weights = posterior["weight"].to_numpy(float)
    # Bins of equal width on the axis' scale, where the prior is flat: each holds 1/20 of it.
    bins = np.geomspace(low, high, 21) if log else np.linspace(low, high, 21)
    ax.hist(
        posterior[name],
        bins=bins,
        weights=weights / weights.sum(),
        alpha=0.7,
        color="tab:blue",
        label="posterior",
    )
    ax.axhline(1 / 20, color="0.4", linestyle="--", label="prior")
    row = interval.loc[name]
    ax.axvspan(
        row["low"],
        row["high"],
        color="tab:blue",
        alpha=0.12,
        label=f"{level:.0%} interval {row['low']:.3g}\u2013{row['high']:.3g}",
    )
    if truth and name in truth:
        ax.axvline(truth[name], color="red", label=f"truth {truth[name]:.3g}")
    ax.set_ylabel("share of the weight per bin")
    ax.legend(fontsize="x-small")


def _posterior_scatter(ax, result, x_name, y, truth):
    """The particles of two parameters, area by weight, over round 0's; y is the row's index."""
    runs, posterior = result.runs, result.posterior
    y_name = result.prior.names[y]
    prior = runs[runs["round"] == 0]
    weights = posterior["weight"].to_numpy(float)
    ax.scatter(prior[x_name], prior[y_name], s=6, color="0.6", label="prior sample (round 0)")
    ax.scatter(
        posterior[x_name],
        posterior[y_name],
        s=8 + 120 * weights / weights.max(),
        alpha=0.6,
        color="tab:blue",
        label="posterior (area by weight)",
    )
    if truth and x_name in truth and y_name in truth:
        ax.plot(
            truth[x_name],
            truth[y_name],
            "*",
            color="red",
            markersize=14,
            label=f"truth ({truth[x_name]:.3g}, {truth[y_name]:.3g})",
        )
    ax.set_ylabel(y_name)
    if result.prior.log[y]:
        _log_ticks(ax.yaxis, ax.set_yscale, *_prior_range(result.prior, y))
    ax.legend(fontsize="x-small")


def posterior_pairs(result: ABCResult, truth: dict[str, float] | None = None, level: float = 0.9) -> Figure:
    """An ABC result's posterior as pairs: on the diagonal each parameter's
    weighted histogram against the prior (flat on the axis' scale), elsewhere the
    particles (area by weight) over round 0's, drawn from the prior; the truth,
    when known, in red.
    Log-uniform ranges are drawn on log axes.

    Parameters
    ----------
    result : ABCResult
        A calibration's outcome.
    truth : dict of str to float, optional
        The true values, where known, drawn as lines.
    level : float, default 0.9
        The credible intervals' level.

    Returns
    -------
    matplotlib.figure.Figure
        The figure.

    Examples
    --------
    >>> posterior_pairs(landuse.calibrate.abc(RANGES, TARGETS), truth={"E_CProbab": 0.1})  # doctest: +SKIP
    """
    import matplotlib.pyplot as plt

    names, logs = result.prior.names, result.prior.log
    posterior, runs = result.posterior, result.runs
    interval = result.interval(level)
    d = len(names)
    figure, axes = plt.subplots(d, d, figsize=(3.4 * d + 1, 3.2 * d + 0.6), squeeze=False)
    for i in range(d):
        for j, x_name in enumerate(names):
            ax = axes[i, j]
            low, high = _prior_range(result.prior, j)
            if i == j:
                _posterior_histogram(ax, result, x_name, low, high, logs[j], interval, level, truth)
            elif i > j:
                _posterior_scatter(ax, result, x_name, i, truth)
            else:
                ax.axis("off")
                continue
            if logs[j]:
                _log_ticks(ax.xaxis, ax.set_xscale, low, high)
            ax.set_xlim(low, high)
            ax.set_xlabel(x_name)
    runs_done = len(runs)
    figure.suptitle(
        f"ABC posterior: {len(posterior)} particles after {result.rounds_done} rounds, "
        f"{runs_done} runs, tolerance {result.tolerances[-1]:.3g}",
        fontsize="medium",
    )
    figure.tight_layout()
    return figure


def save(figure: Figure, path: str | os.PathLike[str], dpi: int = 100) -> str | os.PathLike[str]:
    """Writes the figure as a PNG and closes it; its path.

    Parameters
    ----------
    figure : matplotlib.figure.Figure
        The figure.
    path : str or os.PathLike
        The PNG file.
    dpi : int, default 100
        Its resolution.

    Returns
    -------
    str or os.PathLike
        ``path``.

    Raises
    ------
    OSError
        The file could not be written.

    Examples
    --------
    >>> save(morris_figure(effects), "morris.png")  # doctest: +SKIP
    """
    import matplotlib.pyplot as plt

    save_figure(figure, path, dpi=dpi)
    plt.close(figure)
    return path
