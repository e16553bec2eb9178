#include "Session/RunRecord.h"

#include <limits>

TRunSample SampleOf(const TVolume& volume, std::int32_t insideCount, std::int32_t innerCountTotal,
                    double insideConcentration, double totalConcentration, double time) {
  const std::optional<double> expected = ExpectedCount(volume);
  return {time,
          insideCount,
          innerCountTotal,
          insideConcentration,
          totalConcentration,
          expected ? *expected : std::numeric_limits<double>::quiet_NaN()};
}

void TRunRecord::Restart(const TFillingExpectation& expectation) {
  AllSamples.clear();
  ChangedWhileRunning = false;
  RunStatistics.Restart();
  RunStatistics.RestartAverages(expectation);
}

void TRunRecord::SpeciesChanged(const TFillingExpectation& expectation) {
  ChangedWhileRunning = ChangedWhileRunning || !AllSamples.empty();
  RunStatistics.RestartAverages(expectation);
}

void TRunRecord::Add(const TRunSample& sample, const std::optional<TBand>& band) {
  AllSamples.push_back(sample);
  RunStatistics.Expect(sample.ReferenceCount, band);
  RunStatistics.Record(sample.InsideCount, sample.Time, sample.ExpectedCount);
}
