"""A sweep's store read back: as an xarray Dataset, or as the table a sweep writes as CSV."""

from __future__ import annotations

import json
import os
from typing import TYPE_CHECKING

import numpy as np
import pandas as pd

from ..controls import STATISTICS_COLUMNS
from ..measures import _measure_column as measure_column
from .store import INT_FILL, STEP_VARIABLE, _stat_name
from .tables import TableLayout, _typed

if TYPE_CHECKING:
    import xarray

__all__ = ["as_table", "open_results", "to_table"]


def open_results(path: str | os.PathLike[str]) -> xarray.Dataset:
    """A sweep's store as an ``xarray.Dataset`` of dask arrays (nothing read until
    asked for). The statistics and measures read as numbers with NaN for the steps a
    run did not keep; the per-run values keep their types (``complete`` tells the
    runs written). ``to_table`` makes the sweep's table of it.

    Parameters
    ----------
    path : str or os.PathLike
        The store (a folder, e.g. "results.zarr").

    Returns
    -------
    xarray.Dataset
        Dimensions ``run`` and ``step``; the sweep's description as attributes.

    Raises
    ------
    FileNotFoundError
        No store at ``path``.

    Examples
    --------
    >>> ds = open_results("results.zarr")  # doctest: +SKIP
    >>> ds["residential"].isel(step=-1).mean().compute()  # doctest: +SKIP
    """
    path = os.fspath(path)
    if not os.path.isfile(os.path.join(path, ".zgroup")):
        raise FileNotFoundError(f"{path}: no sweep store")
    ds = _raw(path)
    for name, variable in ds.data_vars.items():
        fill = variable.attrs.get("_FillValue")
        if variable.dims == ("run", "step") and fill is not None and fill == fill:
            attrs = {k: v for k, v in variable.attrs.items() if k != "_FillValue"}
            ds[name] = variable.where(variable != fill).assign_attrs(attrs)
    return ds


def _raw(results):
    """The store's Dataset without its fill values masked."""
    import xarray as xr

    if not isinstance(results, (str, os.PathLike)):
        results = results.encoding.get("source")
        if results is None:
            raise ValueError("a Dataset not opened by landuse.open_results: no sweep store to read")
    return xr.open_zarr(os.fspath(results), consolidated=False, mask_and_scale=False)


def to_table(results: str | os.PathLike[str] | xarray.Dataset, runs_at_once: int | None = None) -> pd.DataFrame:
    """The tidy table a sweep writes as CSV (the same columns, values and dtypes),
    made from a store (its path, or the Dataset ``open_results`` gave) of its
    complete runs, a chunk of runs at a time.

    Parameters
    ----------
    results : str, os.PathLike or xarray.Dataset
        The store, or the Dataset ``open_results`` gave.
    runs_at_once : int, optional
        Runs read at a time; by default a chunk of the store's.

    Returns
    -------
    pandas.DataFrame
        The table the sweep would have written as CSV, for its complete runs.

    Examples
    --------
    >>> table = to_table("results.zarr")  # doctest: +SKIP
    >>> table.groupby("E_CProbab")["residential"].last()  # doctest: +SKIP
    """
    ds = _raw(results)
    attrs = ds.attrs
    names, coordinate_names = list(attrs["parameters"]), list(attrs["design"])
    order = sorted(attrs["measure_order"].items(), key=lambda item: item[1])
    layout = TableLayout(names, coordinate_names, [name for name, _ in order])
    runs = ds.sizes["run"]
    step_at = runs_at_once or ds[STEP_VARIABLE].encoding.get("chunks", (runs,))[0] or runs
    parts = []
    for first in range(0, runs, step_at):
        part = _table_part(ds.isel(run=slice(first, first + step_at)), layout, attrs)
        if part is not None:
            parts.append(part)
    if not parts:
        return pd.DataFrame(columns=layout.columns())
    table = pd.concat(parts, ignore_index=True)
    for name in names:
        if attrs["control_kinds"][name] == "json":
            table[name] = _typed(table[name])
    for name in layout.measure_names:
        column = table[name]
        if column.dtype == object:
            table[name] = measure_column(list(column))
        elif ds[name].attrs.get("whole") and not column.isna().any():
            # Every row measured, every value an int: a column of ints, as the table of the runs' records has.
            table[name] = column.astype("int64")
    return table[layout.columns()]


def _table_part(ds, layout, attrs):
    complete = ds["complete"].values
    if not complete.any():
        return None
    keep = np.flatnonzero(complete)
    steps = ds[STEP_VARIABLE].values[keep]
    kept = (steps != INT_FILL).sum(axis=1)
    error = ds["error"].values[keep]
    error = np.array(["" if e is None else e for e in error] + [None], dtype=object)[:-1]
    failed = error != ""
    per_run = kept + failed
    which = np.repeat(np.arange(len(keep)), per_run)
    starts = np.cumsum(per_run) - per_run
    position = np.arange(len(which)) - starts[which]
    error_row = position >= kept[which]
    at = np.minimum(position, steps.shape[1] - 1)
    frame = {"run": ds["run"].values[keep][which].astype("int64")}
    if layout.coordinate_names:
        frame["point"] = ds["point"].values[keep][which].astype("int64")
        for name in layout.coordinate_names:
            frame[name] = ds[name].values[keep][which].astype("float64")
    for name in layout.names:
        values = ds[name].values[keep]
        if attrs["control_kinds"][name] == "json":
            values = np.array([json.loads(v) for v in values] + [None], dtype=object)[:-1]
        frame[name] = values[which]
    for name in ("replicate", "seed"):
        frame[name] = ds[name].values[keep][which].astype("int64")
    frame["version"] = np.full(len(which), attrs["version"], dtype=object)
    frame["draws"] = ds["draws"].values[keep][which].astype("int64")
    for name in STATISTICS_COLUMNS:
        values = ds[_stat_name(name)].values[keep][which, at]
        if name == "max_mark":
            frame[name] = pd.Series(np.where(error_row, np.nan, values), dtype="float64")
        else:
            frame[name] = pd.array(np.where(error_row, 0, values), dtype="Int64")
            frame[name][error_row] = pd.NA
    for name in layout.measure_names:
        values = ds[name].values[keep][which, at]
        if ds[name].attrs.get("values") == "json":
            column = np.array(
                [None if e or v is None else json.loads(v) for v, e in zip(values, error_row)] + [None], dtype=object
            )[:-1]
        else:
            column = np.where(error_row, np.nan, values).astype("float64")
        frame[name] = column
    stopped = ds["stopped"].values[keep]
    frame["stopped"] = stopped[which] & (position == kept[which] - 1) & ~error_row
    frame["error"] = np.where(error_row, error[which], "").astype(object)
    return pd.DataFrame(frame)


def as_table(results: pd.DataFrame | str | os.PathLike[str] | xarray.Dataset) -> pd.DataFrame:
    """A sweep's table: a DataFrame as it is; a store's Dataset (or path) made into the table.

    Parameters
    ----------
    results : pandas.DataFrame, str, os.PathLike or xarray.Dataset
        A sweep's table or its store.

    Returns
    -------
    pandas.DataFrame
        The sweep's table.

    Examples
    --------
    >>> import pandas as pd
    >>> as_table(pd.DataFrame({"run": [0]}))["run"].tolist()
    [0]
    """
    if isinstance(results, pd.DataFrame):
        return results
    return to_table(results)
