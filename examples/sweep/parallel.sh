#!/usr/bin/env bash
# One run per inner rib on this machine, as many at once as it has cores
# (one thread each), every run writing its own CSV.
mkdir -p runs
parallel kelvane-run --inner-rib {} --until "${UNTIL:-0.5}" --threads 1 \
  --csv runs/rib-{}.csv ::: 5E-7 1E-6 1.5E-6 2E-6
