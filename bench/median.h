// The median of a benchmark's repeated timings: the middle value, or the mean
// of the two middle ones for an even count.
#pragma once

#include <algorithm>
#include <vector>

inline double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : 0.5 * (values[n / 2 - 1] + values[n / 2]);
}
