// A large species at the window's default ribs: the time to populate it and
// to step it, on each thread count given, alternated, in one process.
//
//   build/bench/large_run [concentration] [threads ...]
//   build/bench/large_run 7.2e22 1 2      # 72 million molecules, 1.7 GB
//
// For each round and each thread count: a fresh engine from the same stream
// states, the species populated (timed), then 5 steps (each timed). Three
// rounds; prints every figure and, per thread count, the median populate
// time and median step time. Not a test: it asserts nothing.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <vector>

#include "Diffunit/Diffunit.h"
#include "Session/Parameters.h"
#include "Statg/Statg.h"
#include "bench/median.h"

namespace {

double MillisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

}  // namespace

int main(int argc, char** argv) {
  const double concentration = argc > 1 ? std::atof(argv[1]) : 7.2e22;
  std::vector<int> threadCounts;
  for (int i = 2; i < argc; ++i) threadCounts.push_back(std::atoi(argv[i]));
  if (threadCounts.empty()) threadCounts = {1, 2};
  std::map<int, std::vector<double>> populate, step;
  for (int round = 1; round <= 3; ++round) {
    for (int threads : threadCounts) {
      TVolume volume;
      volume.SetThreadCount(threads);
      SetDefaultParameters(volume);
      auto start = std::chrono::steady_clock::now();
      volume.AddSpecies(concentration, Defaults::Diffusion, Defaults::Radius);
      populate[threads].push_back(MillisecondsSince(start));
      std::printf("round %d, %d threads: %d molecules populated in %.0f ms; steps", round, threads,
                  volume.Species[0].SlotCount, populate[threads].back());
      for (int k = 0; k < 5; ++k) {
        start = std::chrono::steady_clock::now();
        volume.Step();
        step[threads].push_back(MillisecondsSince(start));
        std::printf(" %.0f", step[threads].back());
      }
      std::printf(" ms\n");
    }
  }
  for (int threads : threadCounts)
    std::printf("%d threads: populate %.0f ms, step %.0f ms (medians)\n", threads,
                Median(populate[threads]), Median(step[threads]));
  return 0;
}
