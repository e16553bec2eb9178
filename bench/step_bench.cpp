// Speed of the simulation step at the window's default parameters (719,999
// molecules): the fast kernel on 1 and 2 threads (and on every core where
// there are more) and the reference loop on one, in one process.
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
#include "Mainform/Parameters.h"
#include "bench/interleaved.h"

namespace {

constexpr int StepsPerRun = 20;

// `threads` 0: the reference loop on one thread.
void BM_Step(benchmark::State& state) {
  const int threads = static_cast<int>(state.range(0));
  TVolume volume;
  volume.SetThreadCount(threads > 0 ? threads : 1);
  SetDefaultParameters(volume);
  volume.SetStepCallback([](std::int32_t, std::int32_t, double, double, double) {});
  TStreamStates().Restore();
  AddDefaultSpecies(volume);
  volume.Step();
  volume.Step();
  AdvanceKernel = threads > 0 ? FastestKernel() : AdvanceReference;
  std::int64_t moved = 0;
  for (auto _ : state) {
    volume.Step();
    moved += volume.Species[0].ActiveCount;
  }
  AdvanceKernel = FastestKernel();
  state.SetItemsProcessed(moved);
}

void Variants(benchmark::internal::Benchmark* b) {
  b->ArgName("threads")->Arg(0)->Arg(1)->Arg(2);
  const int cores = static_cast<int>(std::thread::hardware_concurrency());
  if (cores > 2) b->Arg(cores);
  b->Iterations(StepsPerRun)->Unit(benchmark::kMillisecond);
}
BENCHMARK(BM_Step)->Apply(Variants);

}  // namespace

int main(int argc, char** argv) {
  TRatioReporter reporter("BM_Step/threads:0/iterations:20", "step");
  return RunInterleaved(argc, argv, reporter);
}
