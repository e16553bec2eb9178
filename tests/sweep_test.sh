#!/usr/bin/env bash
# The README's sweep, at a tiny size: the GNU parallel and Slurm scripts from
# examples/sweep give the same CSVs, and the Python lines read them and plot;
# examples/filling plots one of them against its expected curve. The README
# must show the sweep's files as they are. A part whose tool is missing
# is skipped with a message; exit 77 (skipped) when GNU parallel is missing.
#
#   sweep_test.sh <kelvane-run> <source folder>
set -euo pipefail
run="$1"
source="$2"
examples="$source/examples/sweep"

for file in parallel.sh slurm.sh equilibration.py; do
  if ! python3 - "$source/README.md" "$examples/$file" <<'PY'; then
import sys
readme, example = (open(p).read() for p in sys.argv[1:])
sys.exit(0 if example.strip() in readme else 1)
PY
    echo "README.md does not show examples/sweep/$file as it is" >&2
    exit 1
  fi
done

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin"
ln -s "$(realpath "$run")" "$work/bin/kelvane-run"
export PATH="$work/bin:$PATH" UNTIL=0.002  # 20 steps a run

mkdir "$work/slurm"
for task in 0 1 2 3; do
  (cd "$work/slurm" && SLURM_ARRAY_TASK_ID=$task SLURM_CPUS_PER_TASK=2 bash "$examples/slurm.sh")
done
[ "$(ls "$work/slurm/runs" | wc -l)" -eq 4 ] || { echo "the Slurm array wrote no 4 CSVs" >&2; exit 1; }
for csv in "$work"/slurm/runs/*.csv; do
  # 8 header lines for one species, the column names, 20 steps.
  [ "$(grep -vc '^#' "$csv")" -eq 21 ] || { echo "$csv: not 20 steps" >&2; exit 1; }
done

skipped=0
if parallel --version 2>/dev/null | grep -q 'GNU parallel'; then
  mkdir "$work/parallel"
  (cd "$work/parallel" && bash "$examples/parallel.sh")
  # Same inputs, same bytes, whatever the threads or the batch system.
  diff -r "$work/slurm/runs" "$work/parallel/runs"
else
  echo "skipped the GNU parallel sweep: GNU parallel is missing (Debian package parallel)"
  skipped=1
fi

# Debian's Python, where pandas and matplotlib are packaged.
python=/usr/bin/python3
[ -x "$python" ] || python=python3
if "$python" -c 'import pandas, matplotlib' 2>/dev/null; then
  (cd "$work/slurm" && "$python" "$examples/equilibration.py") | tee "$work/table"
  [ "$(grep -c 'E-0\|e-0' "$work/table")" -eq 4 ] || { echo "no row per rib" >&2; exit 1; }
  [ -s "$work/slurm/equilibration.png" ] || { echo "no plot" >&2; exit 1; }
  (cd "$work/slurm" && "$python" "$source/examples/filling/filling.py" runs/rib-1E-6.csv)
  [ -s "$work/slurm/filling.png" ] || { echo "no filling plot" >&2; exit 1; }
else
  echo "skipped the Python lines: pandas or matplotlib is missing (python3-pandas, python3-matplotlib)"
fi
[ "$skipped" -eq 0 ] || exit 77
