// The run record: every step's sample since the last Apply, in the order the
// steps came, and the statistics the readout shows. The engine's step report
// feeds it; the charts, the readout and every export read it. Plain C++.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "Session/Filling.h"
#include "Session/RunStatistics.h"

class TVolume;

// One step's report.
struct TRunSample {
  double Time;                  // s, after the step
  std::int32_t InsideCount;     // molecules inside the inner cube
  std::int32_t ReferenceCount;  // molecules the inner cube holds at the concentrations
  double InsideConcentration;   // m^-3
  double TotalConcentration;    // m^-3
  double ExpectedCount;         // molecules by the diffusion equation (Filling.h); NaN: none
};

// The step report's arguments (TStepCallback's order) as a sample, with the
// expected count of `volume` as the step left it.
TRunSample SampleOf(const TVolume& volume, std::int32_t insideCount, std::int32_t innerCountTotal,
                    double insideConcentration, double totalConcentration, double time);

class TRunRecord {
 public:
  // Forgets the run (Apply), and expects `expectation` from here on.
  void Restart(const TFillingExpectation& expectation);
  // The species changed: the averages start again, with `expectation`.
  void SpeciesChanged(const TFillingExpectation& expectation);
  // One step's sample, with the band in force for it (ExpectedBand of the
  // engine as it stands).
  void Add(const TRunSample& sample, const std::optional<TBand>& band);

  const std::vector<TRunSample>& Samples() const { return AllSamples; }
  // The species changed after the run's first step: its last setup alone
  // does not replay it.
  bool SpeciesChangedWhileRunning() const { return ChangedWhileRunning; }
  const TRunStatistics& Statistics() const { return RunStatistics; }
  TRunStatistics& Statistics() { return RunStatistics; }

 private:
  std::vector<TRunSample> AllSamples;  // 40 bytes a step
  bool ChangedWhileRunning = false;
  TRunStatistics RunStatistics;
};
