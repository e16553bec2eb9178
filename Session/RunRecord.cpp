#include "Session/RunRecord.h"

void TRunRecord::Restart() {
  AllSamples.clear();
  RunStatistics.Restart();
}

void TRunRecord::Add(const TRunSample& sample, const std::optional<TBand>& band) {
  AllSamples.push_back(sample);
  RunStatistics.Expect(sample.ReferenceCount, band);
  RunStatistics.Record(sample.InsideCount, sample.Time);
}
