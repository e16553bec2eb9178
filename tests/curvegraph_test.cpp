// The long-curve summary: what a curve draws for a view, against the points
// themselves. Random curves with gaps (NaN), ties and values <= 0, every kind
// of view range and width, with fixed seeds so that a failure repeats.
#include "Mainform/CurveGraph.h"

#include <gtest/gtest.h>

#include <QVector>
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

const double NaN = std::numeric_limits<double>::quiet_NaN();

// Reaches the points a repaint would draw between two point indices.
class TProbe : public TCurveGraph {
 public:
  using TCurveGraph::TCurveGraph;
  QVector<QCPGraphData> Drawn(int first, int last) const {
    QVector<QCPGraphData> line;
    getOptimizedLineData(&line, data()->constBegin() + first, data()->constBegin() + last);
    return line;
  }
};

// A random walk on whole numbers (ties are common), with runs of gaps from
// one point to several blocks long, and strictly rising times.
struct TCurve {
  std::vector<double> Keys, Values;
  double Walk = 0.0;

  void Grow(std::mt19937& random, std::size_t count) {
    std::uniform_real_distribution<double> spacing(0.5, 2.0);
    std::uniform_int_distribution<int> move(-3, 3);
    std::uniform_int_distribution<int> gapStart(0, 999);
    std::geometric_distribution<std::size_t> gapLength(0.01);
    std::size_t gap = 0;
    while (count-- > 0) {
      Keys.push_back((Keys.empty() ? 0.0 : Keys.back()) + spacing(random));
      if (gap == 0 && gapStart(random) < 3) gap = 1 + gapLength(random);
      Walk += move(random);
      Values.push_back(gap > 0 ? NaN : Walk);
      if (gap > 0) --gap;
    }
  }
};

// What the graph draws for a value: on a logarithmic axis, values <= 0 go to
// the lower edge.
double Shown(double value, bool logarithmic, double lowerEdge) {
  return logarithmic && value <= 0.0 ? lowerEdge : value;
}

bool Same(double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); }

// Reads `line` back as pieces that stand for consecutive points of [first,
// last): a point drawn as itself, a block drawn as its two extremes at its
// first and last time, or a block of gaps drawn as one gap. Checks that the
// pieces cover the range once and in order, that each block's extremes are
// the brute-force ones in the order they come, and that no block is wider
// than half a pixel while blocks four times as large would not be.
void ExpectDrawnAsPoints(const QVector<QCPGraphData>& line, const TCurve& curve, std::size_t first,
                         std::size_t last, int pixels, bool logarithmic, double lowerEdge,
                         const std::string& where) {
  SCOPED_TRACE(where);
  const auto indexOf = [&](double key) {
    const auto at = std::lower_bound(curve.Keys.begin(), curve.Keys.end(), key);
    return at != curve.Keys.end() && *at == key ? static_cast<std::size_t>(at - curve.Keys.begin())
                                                : curve.Keys.size();
  };
  const std::size_t widest = (last - first) / (2 * static_cast<std::size_t>(pixels));
  std::size_t largestBlock = 0;
  std::size_t cursor = first;
  for (int e = 0; e < line.size(); ++e) {
    const std::size_t index = indexOf(line[e].key);
    ASSERT_EQ(index, cursor) << "drawn point " << e << " is not the next point";
    const std::size_t next = e + 1 < line.size() ? indexOf(line[e + 1].key) : last;
    ASSERT_GT(next, cursor);
    if (next == cursor + 1) {  // a point as itself
      EXPECT_TRUE(Same(line[e].value, Shown(curve.Values[cursor], logarithmic, lowerEdge)))
          << "point " << cursor;
      cursor = next;
      continue;
    }
    // A block: of gaps, up to the next piece; else up to its second point.
    const bool gaps = std::isnan(line[e].value);
    const std::size_t end = gaps ? next : next + 1;
    const std::size_t size = end - cursor;
    EXPECT_TRUE(size >= 16 && (size & (size - 1)) == 0 && cursor % size == 0)
        << "block [" << cursor << ", " << end << ") is no block of the summary";
    EXPECT_LE(size, widest) << "block [" << cursor << ", " << end << ") wider than half a pixel";
    largestBlock = std::max(largestBlock, size);
    double lowest = HUGE_VAL, highest = -HUGE_VAL;
    std::size_t lowestAt = 0, highestAt = 0;
    for (std::size_t i = cursor; i < end; ++i) {
      const double value = curve.Values[i];
      if (std::isnan(value)) continue;
      if (value < lowest) lowest = value, lowestAt = i;
      if (value > highest) highest = value, highestAt = i;
    }
    if (gaps) {
      EXPECT_GT(lowest, highest) << "block [" << cursor << ", " << end << ") drawn as a gap";
    } else {
      ASSERT_LE(lowest, highest) << "block [" << cursor << ", " << end << ") holds only gaps";
      const bool lowestFirst = lowestAt <= highestAt;
      const double firstValue = Shown(lowestFirst ? lowest : highest, logarithmic, lowerEdge);
      const double secondValue = Shown(lowestFirst ? highest : lowest, logarithmic, lowerEdge);
      EXPECT_EQ(line[e].value, firstValue) << "block [" << cursor << ", " << end << ")";
      EXPECT_EQ(line[e + 1].value, secondValue) << "block [" << cursor << ", " << end << ")";
      ++e;
    }
    cursor = end;
  }
  EXPECT_EQ(cursor, last) << "the drawn points stop early";
  // The coarsest blocks that still come two to a pixel: four times larger
  // ones would not.
  const double halfPixel = static_cast<double>(last - first) / (2.0 * pixels);
  if (largestBlock > 0) {
    EXPECT_GT(4.0 * static_cast<double>(largestBlock), halfPixel);
  } else {
    EXPECT_LT(last - first, 32 * static_cast<std::size_t>(pixels));
  }
}

struct TView {
  QCustomPlot Plot;
  TProbe* Graph;

  TView(bool logarithmic, int pixels) {
    if (logarithmic) Plot.yAxis->setScaleType(QCPAxis::stLogarithmic);
    Plot.yAxis->setRange(logarithmic ? 0.5 : -100.0, 100.0);
    Graph = new TProbe(Plot.xAxis, Plot.yAxis);
    // Below two blocks to a pixel the graph hands over to QCustomPlot's own
    // drawing; without its adaptive sampling that is every point.
    Graph->setAdaptiveSampling(false);
    QCPAxisRect* area = Plot.axisRect();
    area->setAutoMargins(QCP::msNone);
    area->setMargins(QMargins());
    area->setOuterRect(QRect(0, 0, pixels, 200));
  }

  void Append(const TCurve& curve, std::size_t from) {
    for (std::size_t i = from; i < curve.Keys.size(); ++i)
      Graph->addData(curve.Keys[i], curve.Values[i]);
  }
};

}  // namespace

// Whole curves and random parts of them, at widths from one pixel to more
// than there are blocks, on both kinds of value axis.
TEST(CurveGraph, DrawsTheBruteForceExtremesOfEveryView) {
  std::mt19937 random(20240611);
  for (int round = 0; round < 24; ++round) {
    const bool logarithmic = round % 2 == 1;
    const int pixels = std::vector<int>{1, 3, 50, 333, 1024, 2000}[round % 6];
    TView view(logarithmic, pixels);
    ASSERT_EQ(view.Plot.axisRect()->width(), pixels);
    TCurve curve;
    curve.Grow(random, std::uniform_int_distribution<std::size_t>(1, 300000)(random));
    view.Append(curve, 0);
    const std::size_t count = curve.Keys.size();
    std::uniform_int_distribution<std::size_t> at(0, count);
    for (int range = 0; range < 12; ++range) {
      std::size_t first = range == 0 ? 0 : at(random);
      std::size_t last = range == 0 ? count : at(random);
      if (first > last) std::swap(first, last);
      if (first == last) continue;
      const QVector<QCPGraphData> line =
          view.Graph->Drawn(static_cast<int>(first), static_cast<int>(last));
      ExpectDrawnAsPoints(line, curve, first, last, pixels, logarithmic,
                          view.Plot.yAxis->range().lower,
                          "round " + std::to_string(round) + ", points [" + std::to_string(first) +
                              ", " + std::to_string(last) + ") of " + std::to_string(count) + ", " +
                              std::to_string(pixels) + " px");
    }
  }
}

// The summary grows with the points appended after a repaint (into the
// blocks that were still open, too), and is made anew after the points
// changed in front.
TEST(CurveGraph, SummaryFollowsAppendedAndReorderedPoints) {
  std::mt19937 random(77);
  TView view(false, 40);
  TCurve curve;
  for (std::size_t grown : {5000, 1, 15, 4097, 60000, 33}) {
    const std::size_t from = curve.Keys.size();
    curve.Grow(random, grown);
    view.Append(curve, from);
    const std::size_t count = curve.Keys.size();
    ExpectDrawnAsPoints(view.Graph->Drawn(0, static_cast<int>(count)), curve, 0, count, 40, false,
                        0.0, "after " + std::to_string(count) + " points");
  }
  // A new first point: every block shifts by one.
  curve.Keys.insert(curve.Keys.begin(), curve.Keys.front() - 1.0);
  curve.Values.insert(curve.Values.begin(), 1e6);
  view.Graph->addData(curve.Keys.front(), curve.Values.front());
  view.Graph->PointsReordered();
  const std::size_t count = curve.Keys.size();
  ExpectDrawnAsPoints(view.Graph->Drawn(0, static_cast<int>(count)), curve, 0, count, 40, false,
                      0.0, "after a point in front");
}
