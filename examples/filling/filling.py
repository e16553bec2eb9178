# A measured run against the diffusion equation's expected curve, from a
# kelvane-run CSV: `python3 filling.py [run.csv]` writes filling.png and
# prints the filling times and the settled counts.
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt
import pandas as pd

path = sys.argv[1] if len(sys.argv) > 1 else "run.csv"
run = pd.read_csv(path, comment="#")
t = run["t [s]"]
mean = run["inside count"].rolling(100, min_periods=1).mean()
expected = run["expected count"]
limit = expected.iloc[-1]  # close to the limit once the run has settled


def first(times):
    return times.iloc[0] if len(times) else float("nan")


print(f"63.2 % filled: expected {first(t[expected >= 0.632 * limit]):.4g} s, "
      f"measured {first(t[mean >= 0.632 * limit]):.4g} s")
late = t >= t.iloc[-1] / 2
settled = run["inside count"][late].mean()
print(f"second half: measured {settled:.1f}, expected {expected[late].mean():.1f}, "
      f"reference {run['reference count'].iloc[-1]} "
      f"({100 * (settled / expected[late].mean() - 1):+.1f} %)")

fig, ax = plt.subplots(figsize=(7, 4))
ax.plot(t, run["inside count"], color="tab:green", alpha=0.35, lw=0.6, label="inside count")
ax.plot(t, mean, color="tab:green", lw=1.2, label="mean of the latest 100 steps")
ax.plot(t, expected, color="navy", ls="--", lw=1.5, label="diffusion equation")
ax.axhline(run["reference count"].iloc[-1], color="red", lw=0.8, label="reference count")
ax.set_xlabel("t [s]")
ax.set_ylabel("molecules inside the inner cube")
ax.legend(loc="lower right")
fig.tight_layout()
fig.savefig("filling.png", dpi=110)
