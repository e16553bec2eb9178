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
#include "Mainform/Parameters.h"
#include "Statg/Statg.h"

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
    Streams = TStreamStates::Current();
  }
};

const TStart& Start() {
  static const TStart start;
  return start;
}

// One step per iteration, from the same molecules and stream states for every
// kernel and every run, and the same number of steps, so that every kernel
// sees exactly the same work.
constexpr int StepsPerRun = 20;

void BM_Advance(benchmark::State& state, TAdvanceKernel kernel, bool (*supported)()) {
  if (supported && !supported()) {
    state.SkipWithError("this CPU does not support the kernel");
    return;
  }
  const TStart& start = Start();
  TSpecies species = start.Volume.Species[0];  // a private copy of the molecules
  start.Streams.Restore();
  std::int64_t moved = 0;
  for (auto _ : state) {
    kernel(species);
    moved += species.ActiveCount;
  }
  benchmark::DoNotOptimize(species.InsideCount);
  state.SetItemsProcessed(moved);
}
BENCHMARK_CAPTURE(BM_Advance, Reference, AdvanceReference, nullptr)
    ->Iterations(StepsPerRun)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Advance, Avx512, AdvanceAvx512, Avx512Supported)
    ->Iterations(StepsPerRun)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Advance, Avx2, AdvanceAvx2, Avx2Supported)
    ->Iterations(StepsPerRun)
    ->Unit(benchmark::kMillisecond);

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : 0.5 * (values[n / 2 - 1] + values[n / 2]);
}

// The console output, and at the end the median time per step of each kernel
// (wall clock and CPU) and its speed-up over the reference kernel.
class TRatioReporter : public benchmark::ConsoleReporter {
 public:
  TRatioReporter() : ConsoleReporter(OO_None) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs)
      if (run.run_type == Run::RT_Iteration && !run.error_occurred && run.iterations > 0) {
        TTimes& times = Times[run.run_name.function_name];
        times.Real.push_back(run.GetAdjustedRealTime());
        times.Cpu.push_back(run.GetAdjustedCPUTime());
      }
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    const auto reference = Times.find("BM_Advance/Reference");
    if (reference == Times.end()) return;
    const double referenceReal = Median(reference->second.Real);
    const double referenceCpu = Median(reference->second.Cpu);
    std::printf(
        "\nMedian time per step over %zu runs of %d steps (ms), and speed-up over the "
        "reference kernel:\n",
        reference->second.Real.size(), StepsPerRun);
    std::printf("  %-22s %10s %8s %10s %8s\n", "kernel", "wall", "ratio", "cpu", "ratio");
    for (const auto& [name, times] : Times) {
      const double real = Median(times.Real), cpu = Median(times.Cpu);
      std::printf("  %-22s %10.3f %8.2f %10.3f %8.2f\n", name.c_str(), real, referenceReal / real,
                  cpu, referenceCpu / cpu);
    }
  }

 private:
  struct TTimes {
    std::vector<double> Real, Cpu;  // ms per step, one entry per run
  };
  std::map<std::string, TTimes> Times;
};

}  // namespace

int main(int argc, char** argv) {
  std::vector<char*> args(argv, argv + argc);
  bool repetitions = false, interleaving = false;
  for (int i = 1; i < argc; ++i) {
    repetitions |= std::strncmp(argv[i], "--benchmark_repetitions", 23) == 0;
    interleaving |= std::strncmp(argv[i], "--benchmark_enable_random_interleaving", 38) == 0;
  }
  char repetitionsFlag[] = "--benchmark_repetitions=9";
  char interleavingFlag[] = "--benchmark_enable_random_interleaving=true";
  if (!repetitions) args.push_back(repetitionsFlag);
  if (!interleaving) args.push_back(interleavingFlag);
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
  TRatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
