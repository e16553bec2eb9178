"""The examples at a small size: the dask sweep on a LocalCluster of two
workers, and the notebook executed with nbclient."""

import csv
import math
import os
import pathlib
import subprocess
import sys

import pytest

import kelvane

EXAMPLES = pathlib.Path(os.environ.get(
    "KELVANE_SOURCE", pathlib.Path(__file__).parents[2])) / "examples"


def test_dask_sweep_gathers_each_runs_filling_time(tmp_path):
    pytest.importorskip("dask.distributed")
    subprocess.run(
        [sys.executable, str(EXAMPLES / "sweep" / "dask_sweep.py"),
         "--workers", "2", "--coefficients", "1e-10", "2e-10", "--seeds", "2",
         "--outer-rib", "2e-6", "--until", "0.02", "--out", str(tmp_path)],
        check=True, capture_output=True, env=os.environ)
    with open(tmp_path / "filling.csv") as table:
        rows = list(csv.DictReader(table))
    assert [(float(r["D [m^2/s]"]), int(r["seed"])) for r in rows] == [
        (1e-10, 0), (1e-10, 1), (2e-10, 0), (2e-10, 1)]
    assert (tmp_path / "filling.png").stat().st_size > 0
    # Each worker's run is the run this process makes with the same values.
    session = kelvane.Session()
    session.outer_rib = 2e-6
    for row in rows:
        session.species = [kelvane.Species(7.2e20, 1.5e-9,
                                           float(row["D [m^2/s]"]))]
        here = kelvane.run(session, until=0.02, seeds=int(row["seed"]))
        assert int(row["steps"]) == len(here) == 200
        assert float(row["filling time [s]"]) == pytest.approx(
            here.filling_time, rel=1e-12)
        assert math.isfinite(float(row["expected filling time [s]"]))


def test_notebook_runs_and_shows_its_sweep(tmp_path):
    nbformat = pytest.importorskip("nbformat")
    nbclient = pytest.importorskip("nbclient")
    notebook = nbformat.read(EXAMPLES / "kelvane.ipynb", as_version=4)
    nbclient.NotebookClient(notebook, timeout=120, kernel_name="python3",
                            resources={"metadata": {"path": str(tmp_path)}}
                            ).execute()
    assert (tmp_path / "notebook.png").stat().st_size > 0
    # The sweep's table: three coefficients, filling times in each row.
    table = notebook.cells[-1].outputs[0]["data"]["text/plain"]
    assert [line.split()[0] for line in table.splitlines()[3:]] == [
        "0.0225", "0.0450", "0.0900"]
    assert "nan" not in table.lower()
