// Speed of the simulation step at the window's default parameters (719,999
// molecules), in one process: the fastest kernel on 1 and 2 threads (and on
// every core where there are more), the AVX2 kernel on 1 and 2, and the
// reference loop on 1 and 2 (shared among threads with the portable scan).
//
//   build/bench/step_bench
//
// Every run starts from a fresh engine in the same state (populated, two
// steps taken, so every slot is active) and takes 20 steps; the runs of all
// variants are interleaved in random order, 9 of each, and the end gives the
// median time per step and the speed-up over the reference loop. Reports
// molecule-steps per second (items_per_second).
#include <benchmark/benchmark.h>

#include <thread>

#include "Diffunit/Diffunit.h"
#include "Diffunit/Kernels.h"
#include "Session/Parameters.h"
#include "bench/interleaved.h"

namespace {

constexpr int StepsPerRun = 20;

// Kernels by number: the reference loop, the fastest, AVX2.
const TAdvanceKernel Kernels[] = {AdvanceReference, FastestKernel(), AdvanceAvx2};

void BM_Step(benchmark::State& state) {
  const TAdvanceKernel kernel = Kernels[state.range(0)];
  const int threads = static_cast<int>(state.range(1));
  if (kernel == AdvanceAvx2 && !Avx2Supported()) {
    state.SkipWithError("this CPU does not support the kernel");
    return;
  }
  TVolume volume;
  volume.SetThreadCount(threads);
  SetDefaultParameters(volume);
  volume.SetStepCallback([](std::int32_t, std::int32_t, double, double, double) {});
  TStreamStates().Restore();
  AddDefaultSpecies(volume);
  volume.Step();
  volume.Step();
  AdvanceKernel = kernel;
  std::int64_t moved = 0;
  for (auto _ : state) {
    volume.Step();
    moved += volume.Species[0].ActiveCount;
  }
  AdvanceKernel = FastestKernel();
  state.SetItemsProcessed(moved);
}

void Variants(benchmark::internal::Benchmark* b) {
  b->ArgNames({"kernel", "threads"});
  for (int kernel : {0, 1, 2})
    for (int threads : {1, 2}) b->Args({kernel, threads});
  const int cores = static_cast<int>(std::thread::hardware_concurrency());
  if (cores > 2) b->Args({1, cores});
  b->Iterations(StepsPerRun)->Unit(benchmark::kMillisecond);
}
BENCHMARK(BM_Step)->Apply(Variants);

}  // namespace

int main(int argc, char** argv) {
  TRatioReporter reporter("BM_Step/kernel:0/threads:1/iterations:20", "step");
  return RunInterleaved(argc, argv, reporter);
}
