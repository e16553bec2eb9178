// Speed of the simulation step at the window's default parameters.
//
//   build/bench/step_bench --benchmark_min_time=2
//
// Reports time per Step and molecule-steps per second (items_per_second).
#include <benchmark/benchmark.h>

#include "Diffunit/Diffunit.h"

namespace {

// Outer rib 1e-5 m, inner rib 1e-6 m, time step 1e-4 s, one species with
// C = 7.2e20 m^-3, D = 1.43e-10 m^2/s, a = 1.5e-9 m: 719,999 molecules.
void DefaultScenario(TVolume& volume) {
  volume.SetParameters(1e-5, 1e-6, 0.001, 293.15, 0.0001);
  volume.SetStepCallback([](std::int32_t, std::int32_t, double, double, double) {});
  volume.AddSpecies(7.2e20, 1.43e-10, 1.5e-9);
}

void BM_StepDefault(benchmark::State& state) {
  TVolume volume;
  DefaultScenario(volume);
  volume.Step();  // activate the spare slots, as every later step sees them
  std::int64_t moved = 0;
  for (auto _ : state) {
    volume.Step();
    moved += volume.Species[0].ActiveCount;
  }
  state.SetItemsProcessed(moved);
}
BENCHMARK(BM_StepDefault)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
