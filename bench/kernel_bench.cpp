// Speed of each kernel of TSpecies::Advance at the window's default
// parameters, on the same molecules and stream states, in one process.
//
//   build/bench/kernel_bench
//
// Runs every kernel this CPU supports several times, interleaved in random
// order (so that a busy machine slows all of them alike), each run 20 steps
// from the same start, and ends with the median time per step of each kernel
// and the ratio of the reference kernel's median to each fast kernel's.
// Reports molecule-steps per second (items_per_second). Other Google
// Benchmark flags work as usual; the defaults are --benchmark_repetitions=9
// --benchmark_enable_random_interleaving=true.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "Diffunit/Diffunit.h"
#include "Diffunit/Kernels.h"
#include "Session/Parameters.h"
#include "Statg/Statg.h"
#include "bench/interleaved.h"

namespace {

// The engine every run starts from: the window's default scenario (719,999
// molecules), after two steps so that every slot is active and re-injected
// molecules sit on the wall as in a long run.
struct TStart {
  TVolume Volume;
  TStreamStates Streams;

  TStart() {
    SetDefaultParameters(Volume);
    Volume.SetStepCallback([](std::int32_t, std::int32_t, double, double, double) {});
    AddDefaultSpecies(Volume);
    Volume.Step();
    Volume.Step();
    Streams = Volume.Streams;
  }
};

// Runs step its species against this engine's streams, set back each time.
TStart& Start() {
  static TStart start;
  return start;
}

// One step per iteration, from the same molecules and stream states for every
// kernel and every run, and the same number of steps, so that every kernel
// sees exactly the same work.
constexpr int StepsPerRun = 20;

// One benchmark per row of the kernel table.
void BM_Advance(benchmark::State& state, const TKernel* kernel) {
  if (!kernel->Supported()) {
    state.SkipWithError("this CPU does not support the kernel");
    return;
  }
  TStart& start = Start();
  TSpecies species = start.Volume.Species[0];  // a private copy of the molecules
  start.Volume.Streams = start.Streams;
  std::int64_t moved = 0;
  for (auto _ : state) {
    kernel->Advance(species);
    moved += species.ActiveCount;
  }
  benchmark::DoNotOptimize(species.InsideCount);
  state.SetItemsProcessed(moved);
}

void RegisterKernels() {
  for (const TKernel& kernel : Kernels)
    benchmark::RegisterBenchmark((std::string("BM_Advance/") + kernel.Name).c_str(), BM_Advance,
                                 &kernel)
        ->Iterations(StepsPerRun)
        ->Unit(benchmark::kMillisecond);
}

}  // namespace

int main(int argc, char** argv) {
  RegisterKernels();
  TRatioReporter reporter("BM_Advance/reference/iterations:20", "step");
  return RunInterleaved(argc, argv, reporter);
}
