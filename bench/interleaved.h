// What the interleaved benchmarks share: Google Benchmark's console output,
// then the median time per iteration of each benchmark over its repetitions
// (wall clock and CPU) and its ratio to a reference benchmark's; and a main
// that runs 9 repetitions in random interleaved order unless told otherwise,
// so that a busy machine slows every benchmark alike.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "bench/median.h"

class TRatioReporter : public benchmark::ConsoleReporter {
 public:
  // `reference`: the function name of the benchmark the others are compared with.
  explicit TRatioReporter(std::string reference, const char* what)
      : ConsoleReporter(OO_None), Reference(std::move(reference)), What(what) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs)
      if (run.run_type == Run::RT_Iteration && !run.error_occurred && run.iterations > 0) {
        TTimes& times = Times[run.benchmark_name()];
        times.Real.push_back(run.GetAdjustedRealTime());
        times.Cpu.push_back(run.GetAdjustedCPUTime());
        times.Iterations = run.iterations;
      }
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    const auto reference = Times.find(Reference);
    if (reference == Times.end()) return;
    const double referenceReal = Median(reference->second.Real);
    const double referenceCpu = Median(reference->second.Cpu);
    std::printf("\nMedian time per %s over %zu runs of %lld (ms), and speed-up over %s:\n", What,
                reference->second.Real.size(), static_cast<long long>(reference->second.Iterations),
                Reference.c_str());
    std::printf("  %-34s %10s %8s %10s %8s\n", "benchmark", "wall", "ratio", "cpu", "ratio");
    for (const auto& [name, times] : Times) {
      const double real = Median(times.Real), cpu = Median(times.Cpu);
      std::printf("  %-34s %10.3f %8.2f %10.3f %8.2f\n", name.c_str(), real, referenceReal / real,
                  cpu, referenceCpu / cpu);
    }
  }

 private:
  struct TTimes {
    std::vector<double> Real, Cpu;  // ms per iteration, one entry per run
    benchmark::IterationCount Iterations = 0;
  };
  std::string Reference;
  const char* What;
  std::map<std::string, TTimes> Times;
};

// main() of an interleaved benchmark: --benchmark_repetitions=9 and
// --benchmark_enable_random_interleaving=true unless given.
inline int RunInterleaved(int argc, char** argv, TRatioReporter& reporter) {
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
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
