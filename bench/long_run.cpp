// Long headless run of the engine at the window's default parameters, to show
// that memory stays flat however many steps are taken (the molecule array is
// sized once, when the species is populated, and a step allocates nothing).
//
//   build-long/bench/long_run [steps] [report every]
//   /usr/bin/time -v build-long/bench/long_run 100000
//
// Prints, at every report point, the step number, simulated time [s], wall
// time [s], the process's resident set [KiB] now (VmRSS) and at its peak
// (VmHWM), and the species' counters; then the final state. Not a test: it
// asserts nothing and takes about half an hour for 100,000 steps with the
// plain kernel.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "Diffunit/Diffunit.h"
#include "Session/Parameters.h"
#include "Session/RunRecord.h"

namespace {

// A field of /proc/self/status in KiB ("VmRSS", "VmHWM"), or -1 when absent.
long StatusKiB(const std::string& field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.compare(0, field.size() + 1, field + ":") == 0)
      return std::strtol(line.c_str() + field.size() + 1, nullptr, 10);
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  const long steps = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 100000;
  const long every = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 1000;
  if (steps < 0 || every <= 0) {
    std::fprintf(stderr, "usage: long_run [steps >= 0] [report every > 0]\n");
    return 2;
  }

  try {
    TVolume volume;
    TRunSample last{};
    // The default scenario: 719,999 molecule slots, about 17 MB.
    SetDefaultParameters(volume);
    volume.SetStepCallback([&](std::int32_t inside, std::int32_t innerTotal,
                               double insideConcentration, double totalConcentration, double time) {
      last = SampleOf(volume, inside, innerTotal, insideConcentration, totalConcentration, time);
    });
    AddDefaultSpecies(volume);
    const TSpecies& species = volume.Species[0];

    const auto start = std::chrono::steady_clock::now();
    auto report = [&](long step) {
      const double wall =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      std::printf(
          "step %7ld  t %.6f s  wall %8.1f s  rss %7ld KiB  peak %7ld KiB  inside %4d  "
          "active %6d  slots %6d\n",
          step, volume.Time, wall, StatusKiB("VmRSS"), StatusKiB("VmHWM"), species.InsideCount,
          species.InsideCount + species.OutsideCount, species.SlotCount);
      std::fflush(stdout);
    };

    report(0);
    for (long step = 1; step <= steps; ++step) {
      volume.Step();
      if (step % every == 0 || step == steps) report(step);
    }
    std::printf(
        "final: steps %ld, Time %.17g s, insideCount %d, innerCountTotal %d, "
        "insideConcentration %.17g m^-3, totalConcentration %.17g m^-3, "
        "InsideCount %d, OutsideCount %d, SlotCount %d\n",
        steps, volume.Time, last.InsideCount, last.ReferenceCount, last.InsideConcentration,
        last.TotalConcentration, species.InsideCount, species.OutsideCount, species.SlotCount);
  } catch (const TError& e) {
    std::fprintf(stderr, "error: %s\n", e.what());
    return 1;
  }
  return 0;
}
