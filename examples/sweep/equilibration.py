# Equilibration time against the inner rib, from the CSVs in runs/: the first
# time at which the mean inside count of the latest 100 steps lies within
# 2 sigma of the reference count, as the window's readout tells it.
import glob
import re

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt
import pandas as pd


def parameters(path):
    """The '# SIM_... caption: value' header lines as {key: value}."""
    with open(path) as f:
        header = [line for line in f if line.startswith("#")]
    return {m[1]: float(m[2]) for m in (re.match(r"# (SIM_\w+) .*: (\S+)$", h) for h in header) if m}


rows = []
for path in sorted(glob.glob("runs/*.csv")):
    p = parameters(path)
    run = pd.read_csv(path, comment="#")
    mean = run["inside count"].rolling(100, min_periods=1).mean()
    reference = run["reference count"]
    sigma = (reference * (1 - (p["SIM_B1"] / p["SIM_B0"]) ** 3)) ** 0.5
    settled = run["t [s]"][(mean - reference).abs() <= 2 * sigma]
    rows.append({"inner rib [m]": p["SIM_B1"],
                 "equilibration [s]": settled.iloc[0] if len(settled) else float("nan")})

table = pd.DataFrame(rows).sort_values("inner rib [m]")
print(table.to_string(index=False))
table.plot(x="inner rib [m]", y="equilibration [s]", marker="o", legend=False)
plt.ylabel("equilibration time [s]")
plt.savefig("equilibration.png", dpi=120)
