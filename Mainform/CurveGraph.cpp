#include "Mainform/CurveGraph.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr int LevelCount = 10;  // blocks of 16 up to 16 * 4^9 = 4,194,304 points

constexpr std::size_t BlockSize(int level) { return std::size_t{16} << (2 * level); }

// Blocks drawn per pixel of the key axis: two keep the envelope of the curve
// exact to the pixel.
constexpr double BlocksPerPixel = 2.0;

}  // namespace

TCurveGraph::TCurveGraph(QCPAxis* keyAxis, QCPAxis* valueAxis) : QCPGraph(keyAxis, valueAxis) {
  Levels.resize(LevelCount);
}

void TCurveGraph::AddToSummary(std::size_t index, double value) const {
  // Each level takes the point into its last block, or opens a new one.
  for (int level = 0; level < LevelCount; ++level) {
    std::vector<TExtremes>& blocks = Levels[static_cast<std::size_t>(level)];
    const std::size_t block = index / BlockSize(level);
    if (block == blocks.size())
      blocks.push_back({std::numeric_limits<double>::infinity(),
                        -std::numeric_limits<double>::infinity(), true});
    TExtremes& extremes = blocks[block];
    if (std::isnan(value)) continue;
    // The latest point is the last of its block so far: a new minimum comes
    // after the maximum, a new maximum after the minimum.
    if (extremes.Min > extremes.Max) {
      extremes = {value, value, true};
    } else if (value < extremes.Min) {
      extremes.Min = value;
      extremes.MinFirst = false;
    } else if (value > extremes.Max) {
      extremes.Max = value;
      extremes.MinFirst = true;
    }
  }
}

void TCurveGraph::Summarize() const {
  const QCPGraphDataContainer& points = *mDataContainer;
  const std::size_t count = static_cast<std::size_t>(points.size());
  if (!SummaryValid || count < Summarized) {
    for (std::vector<TExtremes>& blocks : Levels) blocks.clear();
    Summarized = 0;
    SummaryValid = true;
  }
  const auto first = points.constBegin();
  for (; Summarized < count; ++Summarized)
    AddToSummary(Summarized, (first + static_cast<qsizetype>(Summarized))->value);
}

void TCurveGraph::EmitRange(QVector<QCPGraphData>* lineData, std::size_t first, std::size_t last,
                            int level) const {
  const auto point = mDataContainer->constBegin();
  if (level < 0) {
    for (std::size_t i = first; i < last; ++i)
      lineData->append(*(point + static_cast<qsizetype>(i)));
    return;
  }
  const std::size_t size = BlockSize(level);
  const std::size_t blockBegin = (first + size - 1) / size;
  const std::size_t blockEnd = last / size;
  if (blockBegin >= blockEnd) {
    EmitRange(lineData, first, last, level - 1);
    return;
  }
  EmitRange(lineData, first, blockBegin * size, level - 1);
  const std::vector<TExtremes>& blocks = Levels[static_cast<std::size_t>(level)];
  for (std::size_t block = blockBegin; block < blockEnd; ++block) {
    const TExtremes& extremes = blocks[block];
    // At the block's first and last time: the extreme that comes first, then
    // the other; a block of gaps draws a gap.
    const double firstKey = (point + static_cast<qsizetype>(block * size))->key;
    const double lastKey = (point + static_cast<qsizetype>((block + 1) * size - 1))->key;
    if (!(extremes.Min <= extremes.Max)) {
      lineData->append(QCPGraphData(firstKey, std::numeric_limits<double>::quiet_NaN()));
      continue;
    }
    lineData->append(QCPGraphData(firstKey, extremes.MinFirst ? extremes.Min : extremes.Max));
    lineData->append(QCPGraphData(lastKey, extremes.MinFirst ? extremes.Max : extremes.Min));
  }
  EmitRange(lineData, blockEnd * size, last, level - 1);
}

void TCurveGraph::getOptimizedLineData(QVector<QCPGraphData>* lineData,
                                       const QCPGraphDataContainer::const_iterator& begin,
                                       const QCPGraphDataContainer::const_iterator& end) const {
  const std::size_t first = static_cast<std::size_t>(begin - mDataContainer->constBegin());
  const std::size_t last = static_cast<std::size_t>(end - mDataContainer->constBegin());
  const double pixels =
      std::max(1.0, std::fabs(static_cast<double>(mKeyAxis->axisRect()->width())));
  // The coarsest level whose blocks in view still come two to a pixel.
  int level = -1;
  for (int k = LevelCount - 1; k >= 0; --k) {
    if (static_cast<double>(last - first) / static_cast<double>(BlockSize(k)) >=
        BlocksPerPixel * pixels) {
      level = k;
      break;
    }
  }
  if (level < 0) {
    QCPGraph::getOptimizedLineData(lineData, begin, end);
  } else {
    Summarize();
    lineData->clear();
    lineData->reserve(static_cast<int>(4 * BlocksPerPixel * pixels) + 64);
    EmitRange(lineData, first, last, level);
  }
  const QCPAxis* axis = valueAxis();
  if (!axis || axis->scaleType() != QCPAxis::stLogarithmic) return;
  const double lowerEdge = axis->range().lower;
  for (QCPGraphData& point : *lineData) {
    if (point.value <= 0.0) point.value = lowerEdge;  // NaN stays a gap
  }
}
