"""Filling time against b0^2/D: a sweep over diffusion coefficients and
replicates, one kelvane.run per task on dask.distributed.

    python3 dask_sweep.py                          # a LocalCluster here
    python3 dask_sweep.py --scheduler tcp://host:8786 --seeds 8

Each run reports its filling time: the first time the mean inside count of
the latest 100 steps reaches 63.2 % of the expected equilibrium count, as
the window's readout tells it. Writes filling.csv (one row per run) and
filling.png (each replicate, and the replicates' mean and standard
deviation per coefficient) into --out. The workers need the kelvane module
(PYTHONPATH, or installed).
"""

import argparse
import os
import time

import kelvane


def filling_run(values, diffusion, seed, until):
    """One run: its filling time and what it was run with. Runs on a worker;
    one thread each, since the workers share the machine's cores."""
    session = kelvane.Session()
    session.outer_rib, session.inner_rib, concentration = values
    session.species = [kelvane.Species(concentration,
                                       kelvane.Session().species[0].radius,
                                       diffusion)]
    started = time.perf_counter()
    result = kelvane.run(session, until=until, seeds=seed, threads=1)
    nan = float("nan")
    return {
        "D [m^2/s]": diffusion,
        "seed": seed,
        "b0^2/D [s]": session.outer_rib ** 2 / diffusion,
        "filling time [s]": (result.filling_time
                             if result.filling_time is not None else nan),
        "expected filling time [s]": (
            result.expected_filling_time
            if result.expected_filling_time is not None else nan),
        "steps": len(result),
        "wall time [s]": time.perf_counter() - started,
    }


def plot(table, path):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    figure, axes = plt.subplots(figsize=(6, 4), dpi=120)
    axes.plot(table["b0^2/D [s]"], table["filling time [s]"], "o",
              color="0.6", markersize=4, label="replicates")
    summary = table.groupby("b0^2/D [s]")["filling time [s]"].agg(
        ["mean", "std"]).reset_index()
    axes.errorbar(summary["b0^2/D [s]"], summary["mean"],
                  yerr=summary["std"].fillna(0.0), fmt="s-", color="C0",
                  capsize=4, label="mean +- standard deviation")
    expected = table.groupby("b0^2/D [s]")["expected filling time [s]"].first()
    axes.plot(expected.index, expected.values, "--", color="C1",
              label="diffusion equation")
    axes.set_xlabel("b0^2 / D [s]")
    axes.set_ylabel("filling time [s]")
    axes.legend()
    figure.tight_layout()
    figure.savefig(path)
    plt.close(figure)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--scheduler", metavar="ADDRESS",
                        help="a dask scheduler (default: a LocalCluster)")
    parser.add_argument("--workers", type=int, default=2,
                        help="LocalCluster workers (default 2)")
    parser.add_argument("--coefficients", type=float, nargs="+",
                        default=[0.5e-10, 1e-10, 1.5e-10, 2e-10],
                        metavar="D", help="diffusion coefficients [m^2/s]")
    parser.add_argument("--seeds", type=int, default=4,
                        help="replicates per coefficient: seeds 0..N-1")
    parser.add_argument("--outer-rib", type=float, default=3e-6)
    parser.add_argument("--inner-rib", type=float, default=1e-6)
    parser.add_argument("--concentration", type=float, default=7.2e20)
    parser.add_argument("--until", type=float, default=0.1,
                        help="simulated seconds per run")
    parser.add_argument("--out", default=".", help="folder for the outputs")
    options = parser.parse_args()

    import pandas
    from dask.distributed import Client, LocalCluster

    values = (options.outer_rib, options.inner_rib, options.concentration)
    started = time.perf_counter()
    if options.scheduler:
        client = Client(options.scheduler)
        cluster = None
    else:
        cluster = LocalCluster(n_workers=options.workers,
                               threads_per_worker=1, processes=True,
                               dashboard_address=None)
        client = Client(cluster)
    try:
        futures = [client.submit(filling_run, values, d, seed, options.until,
                                 pure=False)
                   for d in options.coefficients
                   for seed in range(options.seeds)]
        rows = client.gather(futures)
    finally:
        client.close()
        if cluster is not None:
            cluster.close()
    wall = time.perf_counter() - started

    table = pandas.DataFrame(rows).sort_values(["D [m^2/s]", "seed"])
    os.makedirs(options.out, exist_ok=True)
    table.to_csv(os.path.join(options.out, "filling.csv"), index=False)
    plot(table, os.path.join(options.out, "filling.png"))
    print(table.to_string(index=False))
    print(f"{len(rows)} runs in {wall:.1f} s")


if __name__ == "__main__":
    main()
