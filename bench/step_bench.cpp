// Speed of the simulation step at the window's default parameters.
//
//   build/bench/step_bench --benchmark_min_time=2
//
// Reports time per Step and molecule-steps per second (items_per_second).
#include <benchmark/benchmark.h>

#include "Diffunit/Diffunit.h"
#include "Mainform/Parameters.h"

namespace {

// The window's default scenario: one species of 719,999 molecules.
void DefaultScenario(TVolume& volume) {
  SetDefaultParameters(volume);
  volume.SetStepCallback([](std::int32_t, std::int32_t, double, double, double) {});
  AddDefaultSpecies(volume);
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
