// Speed of the simulation step at the window's default parameters (719,999
// molecules), in one process: every kernel of the table this CPU runs, on 1
// and 2 threads (the fastest also on every core where there are more). The
// reference kernel on one thread is the plain loop that the others are
// compared with.
//
//   build/bench/step_bench
//
// Every run starts from a fresh engine in the same state (populated, ten
// steps taken: every slot is active, and on several threads the engine has
// measured once whether sharing pays, see TShareJudge in Workers.h) and
// takes 20 steps; the runs of all
// variants are interleaved in random order, 9 of each, and the end gives the
// median time per step and the speed-up over the reference loop. Reports
// molecule-steps per second (items_per_second). KELVANE_KERNEL plays no part:
// every kernel is measured. The fastest kernel on 2 threads is also measured
// with every step shared ("/shared"), whether it pays or not.
#include <benchmark/benchmark.h>

#include <string>
#include <thread>

#include "Diffunit/Diffunit.h"
#include "Diffunit/Kernels.h"
#include "Diffunit/Workers.h"
#include "Session/Parameters.h"
#include "bench/interleaved.h"

namespace {

constexpr int StepsPerRun = 20;

void BM_Step(benchmark::State& state, const TKernel* kernel, int threads, bool alwaysShared) {
  if (!kernel->Supported()) {
    state.SkipWithError("this CPU does not support the kernel");
    return;
  }
  TVolume volume;
  TEngineSettings settings;
  settings.Threads = threads;
  settings.Kernel = kernel;
  if (alwaysShared) settings.Sharing = TEngineSettings::TSharing::Always;
  volume.SetSettings(settings);
  SetDefaultParameters(volume);
  volume.SetStepCallback([](std::int32_t, std::int32_t, double, double, double) {});
  AddDefaultSpecies(volume);
  for (int k = 0; k < 2 + 2 * TShareJudge::ProbePairs; ++k) volume.Step();
  std::int64_t moved = 0;
  for (auto _ : state) {
    volume.Step();
    moved += volume.Species[0].ActiveCount;
  }
  state.SetItemsProcessed(moved);
}

// BM_Step/<kernel>/threads:<n> for every row of the kernel table.
void RegisterVariants() {
  const auto add = [](const TKernel& kernel, int threads, bool alwaysShared = false) {
    const std::string name = std::string("BM_Step/") + kernel.Name +
                             "/threads:" + std::to_string(threads) +
                             (alwaysShared ? "/shared" : "");
    benchmark::RegisterBenchmark(name.c_str(), BM_Step, &kernel, threads, alwaysShared)
        ->Iterations(StepsPerRun)
        ->Unit(benchmark::kMillisecond);
  };
  for (const TKernel& kernel : Kernels)
    for (int threads : {1, 2}) add(kernel, threads);
  add(FastestKernel(), 2, true);
  const int cores = static_cast<int>(std::thread::hardware_concurrency());
  if (cores > 2) add(FastestKernel(), cores);
}

}  // namespace

int main(int argc, char** argv) {
  RegisterVariants();
  TRatioReporter reporter("BM_Step/reference/threads:1/iterations:20", "step");
  return RunInterleaved(argc, argv, reporter);
}
