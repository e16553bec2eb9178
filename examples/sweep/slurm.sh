#!/usr/bin/env bash
#SBATCH --job-name=kelvane-ribs
#SBATCH --array=0-3
#SBATCH --cpus-per-task=4
#SBATCH --time=00:30:00
# The same sweep as a Slurm job array: `sbatch slurm.sh`; task i runs rib i.
ribs=(5E-7 1E-6 1.5E-6 2E-6)
rib=${ribs[$SLURM_ARRAY_TASK_ID]}
mkdir -p runs
kelvane-run --inner-rib "$rib" --until "${UNTIL:-0.5}" \
  --threads "${SLURM_CPUS_PER_TASK:-1}" --csv "runs/rib-$rib.csv"
