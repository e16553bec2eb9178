"""The Python module's cost against kelvane-run, and its memory per step.

    PYTHONPATH=build/python python3 bench/python_bench.py build/app/kelvane-run

1. kelvane.run at the defaults for 1,000 steps and write_csv, against
   kelvane-run --steps 1000 --csv over the same steps, alternated; both on
   one thread, each with its own process start excluded (kelvane-run's
   process start is timed apart and shown).
2. Memory per step: the resident size of a 100,000-step run (MEMORY_STEPS)
   with its record and arrays held, and its peak, less those of a 10-step
   run of the same small session (2 um outer rib, 5,760 molecules), each in
   a fresh process, over the steps between.
"""

import os
import statistics
import subprocess
import sys
import tempfile
import time

import kelvane

# The resident size with the run's record and arrays held (VmRSS), and the
# peak (VmHWM), which the engine's placement may set before the steps.
MEMORY_CHILD = """
import sys, kelvane
session = kelvane.Session()
session.outer_rib = 2e-6
result = kelvane.run(session, steps=int(sys.argv[1]), threads=1)
status = dict(line.split(":", 1) for line in open("/proc/self/status"))
print(int(status["VmRSS"].split()[0]) * 1024,
      int(status["VmHWM"].split()[0]) * 1024)
"""


def memory(steps):
    output = subprocess.run([sys.executable, "-c", MEMORY_CHILD, str(steps)],
                            check=True, capture_output=True, text=True)
    return [int(field) for field in output.stdout.split()]


def main():
    kelvane_run = sys.argv[1] if len(sys.argv) > 1 else "kelvane-run"
    rounds = int(os.environ.get("ROUNDS", "7"))
    folder = tempfile.mkdtemp()
    module_times, command_times, start_times = [], [], []
    for _ in range(rounds):
        started = time.perf_counter()
        kelvane.run(kelvane.Session(), steps=1000, threads=1).write_csv(
            os.path.join(folder, "module.csv"))
        module_times.append(time.perf_counter() - started)
        started = time.perf_counter()
        subprocess.run([kelvane_run, "--steps", "1000", "--threads", "1",
                        "--csv", os.path.join(folder, "command.csv")],
                       check=True)
        command_times.append(time.perf_counter() - started)
        started = time.perf_counter()
        subprocess.run([kelvane_run, "--version"], check=True,
                       capture_output=True)
        start_times.append(time.perf_counter() - started)
    same = (open(os.path.join(folder, "module.csv"), "rb").read()
            == open(os.path.join(folder, "command.csv"), "rb").read())
    module = statistics.median(module_times)
    command = statistics.median(command_times) - statistics.median(
        start_times)
    print(f"1,000 steps at the defaults, median of {rounds} alternated: "
          f"kelvane.run {module:.3f} s (least {min(module_times):.3f}), "
          f"kelvane-run {command:.3f} s without its process start of "
          f"{statistics.median(start_times) * 1000:.1f} ms "
          f"(least {min(command_times):.3f} with it); "
          f"module / command {module / command:.3f}; same bytes: {same}")
    steps = int(os.environ.get("MEMORY_STEPS", "100000"))
    small, large = memory(10), memory(steps)
    for name, i in (("held after the run", 0), ("peak", 1)):
        print(f"resident size {name}: 10 steps {small[i] / 1e6:.1f} MB, "
              f"{steps:,} steps {large[i] / 1e6:.1f} MB: "
              f"{(large[i] - small[i]) / (steps - 10):.1f} bytes a step")


if __name__ == "__main__":
    main()
