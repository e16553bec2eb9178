#include "Session/Exports.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "Session/Conversions.h"

const char* CurveFileName(TCurve curve) {
  return curve == TCurve::Concentration ? "C1(t).txt" : "N1(t).txt";
}

std::string CurveLine(const TRunSample& sample, TCurve curve) {
  return ExportLine(sample.Time, curve == TCurve::Concentration
                                     ? sample.InsideConcentration
                                     : static_cast<double>(sample.InsideCount));
}

std::string CurveText(const std::vector<TRunSample>& samples, TCurve curve) {
  // The steps' times only ever rise (or, with a negative time step, fall):
  // the common case needs no sorting.
  const auto earlier = [](const TRunSample& a, const TRunSample& b) { return a.Time < b.Time; };
  std::string text;
  text.reserve(samples.size() * 24);
  if (std::is_sorted(samples.begin(), samples.end(), earlier)) {
    for (const TRunSample& sample : samples) text += CurveLine(sample, curve);
    return text;
  }
  std::vector<std::size_t> order(samples.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return earlier(samples[a], samples[b]); });
  for (const std::size_t i : order) text += CurveLine(samples[i], curve);
  return text;
}
