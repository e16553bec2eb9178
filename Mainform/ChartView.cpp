// The chart view on top of QCustomPlot. Each curve is a QCPGraph whose data
// container holds every point once (16 bytes: key and value), sorted by x.
// Repaints are queued, so the four appends of one timer tick draw once.
// Zoom, pan and the picture menu are in ChartInteraction.cpp.
#include "Mainform/ChartView.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <utility>

#include "Mainform/CurveGraph.h"
#include "Session/Captions.h"
#include "Session/Conversions.h"

namespace {

// Tick values written as "#.##E-##" with the user's decimal separator, on a
// linear (QCPAxisTicker) or logarithmic (QCPAxisTickerLog) axis.
template <class TTicker>
class TTickLabels : public TTicker {
 public:
  explicit TTickLabels(char separator) : Separator(separator) {}

 protected:
  QString getTickLabel(double tick, const QLocale&, QChar, int) override {
    return QString::fromStdString(TickLabelText(tick, Separator));
  }

 private:
  char Separator;
};

// A range of non-zero size around [lower, upper]: a single value gets a
// window around it (a factor of 10 either way on a logarithmic axis).
QCPRange Widened(double lower, double upper, bool logarithmic) {
  if (lower < upper) return QCPRange(lower, upper);
  if (logarithmic) return QCPRange(lower / 10.0, lower * 10.0);
  if (lower == 0.0) return QCPRange(-1.0, 1.0);
  const double half = std::fabs(lower) / 2.0;
  return QCPRange(lower - half, lower + half);
}

bool KeyLess(const QCPGraphData& a, const QCPGraphData& b) { return a.key < b.key; }

}  // namespace

TChart::TChart(QWidget* parent, const QString& title, const QString& leftAxisTitle,
               TChartScale scale, char separator)
    : QCustomPlot(parent), Scale(scale) {
  plotLayout()->insertRow(0);
  auto* titleElement = new QCPTextElement(this, title, QFont("Arial", 8));
  titleElement->setTextColor(Qt::black);
  plotLayout()->addElement(0, 0, titleElement);

  legend->setVisible(false);
  xAxis->setLabel("t, s");
  yAxis->setLabel(leftAxisTitle);

  const QSharedPointer<QCPAxisTicker> linearTicks(new TTickLabels<QCPAxisTicker>(separator));
  xAxis->setTicker(linearTicks);
  xAxis2->setTicker(linearTicks);
  if (scale == TChartScale::Logarithmic) {
    const QSharedPointer<QCPAxisTicker> logTicks(new TTickLabels<QCPAxisTickerLog>(separator));
    yAxis->setScaleType(QCPAxis::stLogarithmic);
    yAxis->setTicker(logTicks);
    yAxis2->setScaleType(QCPAxis::stLogarithmic);
    yAxis2->setTicker(logTicks);
  } else {
    yAxis->setTicker(linearTicks);
    yAxis2->setTicker(linearTicks);
  }

  // The curves are drawn over the axis lines so that points on the lower
  // edge stay visible.
  addLayer("curves", layer("axes"), limAbove);

  // Curve 0: the red reference, no brush. Curve 1: the green measured value.
  // Plain lines through the points, no markers.
  auto* reference = new TCurveGraph(xAxis, yAxis);
  reference->setPen(QPen(QColor(255, 0, 0)));
  reference->setBrush(Qt::NoBrush);
  auto* measured = new TCurveGraph(xAxis, yAxis);
  measured->setPen(QPen(QColor(0, 128, 0)));
  for (QCPGraph* graph : {static_cast<QCPGraph*>(reference), static_cast<QCPGraph*>(measured)}) {
    graph->setLineStyle(QCPGraph::lsLine);
    graph->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssNone));
    graph->setAdaptiveSampling(true);  // never thins the data, only what is drawn per pixel
    graph->setLayer("curves");
  }

  // The band: two bounds, the area between them filled, below the curves.
  BandLower = new TCurveGraph(xAxis, yAxis);
  BandUpper = new TCurveGraph(xAxis, yAxis);
  for (QCPGraph* bound : {BandLower, BandUpper}) {
    bound->setLineStyle(QCPGraph::lsStepLeft);
    bound->setPen(Qt::NoPen);
    bound->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssNone));
  }
  BandUpper->setBrush(QColor(255, 0, 0, 36));
  BandUpper->setChannelFillGraph(BandLower);

  // The expected count: dark blue and dashed, over the measured curve, which
  // shows through its gaps.
  Expected = new TCurveGraph(xAxis, yAxis);
  Expected->setPen(QPen(QColor(0, 0, 170), 1.5, Qt::DashLine));
  Expected->setLayer("curves");
  Expected->setLineStyle(QCPGraph::lsLine);
  Expected->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssNone));
  Expected->setAdaptiveSampling(true);
  // The legend lists the run and the overlays only, once there are any.
  legend->clearItems();
  legend->setFont(QFont("Arial", 8));
  legend->setBrush(QColor(255, 255, 255, 215));
  FitRanges();
  SetUpInteractions();
}

TCurveGraph* TChart::Curve(int curve) const {
  if (curve < 0 || curve > 1) throw std::out_of_range("chart curve index out of range");
  return static_cast<TCurveGraph*>(graph(curve));
}

void TChart::ClearCurves() {
  for (TCurveGraph* graph : {Curve(0), Curve(1), Expected}) {
    graph->data()->clear();
    graph->PointsReordered();
  }
  BandLower->data()->clear();
  BandUpper->data()->clear();
  HasY = false;
  LowestY = HighestY = 0.0;
  UserRanges = false;  // a new run starts in the automatic ranges
  FitRanges();
  Changed();
}

void TChart::AppendPoint(int curve, double x, double y) {
  QCPGraphDataContainer& points = *Curve(curve)->data();
  const bool atEnd = points.isEmpty() || !(x < (points.constEnd() - 1)->key);
  points.add(QCPGraphData(x, y));  // appends, prepends or inserts at the first x >= new x
  if (!atEnd) {
    Curve(curve)->PointsReordered();
    // The container inserts in front of equal x; move the new point behind
    // them so that equal x keep their arrival order.
    const QCPGraphData probe(x, y);
    const auto first = std::lower_bound(points.begin(), points.end(), probe, KeyLess);
    const auto last = std::upper_bound(first, points.end(), probe, KeyLess);
    if (last - first > 1) std::rotate(first, first + 1, last);
  }
  if (std::isfinite(y)) {
    LowestY = HasY ? std::min(LowestY, y) : y;
    HighestY = HasY ? std::max(HighestY, y) : y;
    HasY = true;
  }
  FitRanges();
  Changed();
}

int TChart::PointCount(int curve) const { return Curve(curve)->data()->size(); }

double TChart::PointX(int curve, int index) const {
  const QCPGraphDataContainer& points = *Curve(curve)->data();
  if (index < 0 || index >= points.size())
    throw std::out_of_range("chart point index out of range");
  return points.at(index)->key;
}

double TChart::PointY(int curve, int index) const {
  const QCPGraphDataContainer& points = *Curve(curve)->data();
  if (index < 0 || index >= points.size())
    throw std::out_of_range("chart point index out of range");
  return points.at(index)->value;
}

namespace {

bool SameBound(double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); }

// Adds the bound `value` at `x` to a step line. While the value stays, the
// line's last point only moves on to x, so a long run costs two points per
// change, not one per step.
void ExtendBound(QCPGraphDataContainer& bound, double x, double value) {
  const int size = bound.size();
  if (size >= 2) {
    const auto last = bound.end() - 1;
    if (!(x < last->key) && SameBound(last->value, value) && SameBound((last - 1)->value, value)) {
      last->key = x;
      return;
    }
  }
  bound.add(QCPGraphData(x, value));
}

}  // namespace

void TChart::ExtendBand(double x, double lower, double upper) {
  ExtendBound(*BandLower->data(), x, lower);
  ExtendBound(*BandUpper->data(), x, upper);
  Changed();
}

void TChart::SetBandVisible(bool visible) {
  BandLower->setVisible(visible);
  BandUpper->setVisible(visible);
  Changed();
}

bool TChart::BandVisible() const { return BandUpper->visible(); }

void TChart::AppendExpected(double x, double y) {
  // Time runs one way in a run, so the points come at one end or the other.
  QCPGraphDataContainer& points = *Expected->data();
  if (!points.isEmpty() && x < (points.constEnd() - 1)->key) Expected->PointsReordered();
  points.add(QCPGraphData(x, y));
  Changed();
}

void TChart::SetExpectedVisible(bool visible) {
  Expected->setVisible(visible);
  Changed();
}

bool TChart::ExpectedVisible() const { return Expected->visible(); }

int TChart::ExpectedPointCount() const { return Expected->data()->size(); }

namespace {

// Overlay colours, in turn: distinct from the run's red, green and blue, and
// lighter than them.
const QColor OverlayColours[] = {{31, 119, 180},  {255, 127, 14},  {148, 103, 189}, {140, 86, 75},
                                 {227, 119, 194}, {127, 127, 127}, {188, 189, 34},  {23, 190, 207}};

}  // namespace

void TChart::AddOverlay(const QString& label, const std::vector<double>& x,
                        const std::vector<double>& y) {
  auto* graph = new TCurveGraph(xAxis, yAxis);
  QColor colour = OverlayColours[OverlaysMade++ % std::size(OverlayColours)];
  colour.setAlpha(150);
  graph->setPen(QPen(colour, 1.0));
  graph->setLineStyle(QCPGraph::lsLine);
  graph->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssNone));
  graph->setAdaptiveSampling(true);
  graph->setName(label);
  // Under the run's own curves.
  graph->setLayer("main");
  TOverlay overlay{graph, HUGE_VAL, -HUGE_VAL, HUGE_VAL, -HUGE_VAL};
  QVector<QCPGraphData> points;
  points.reserve(static_cast<qsizetype>(x.size()));
  for (std::size_t i = 0; i < x.size() && i < y.size(); ++i) {
    points.append(QCPGraphData(x[i], y[i]));
    if (std::isfinite(x[i])) {
      overlay.LowestX = std::min(overlay.LowestX, x[i]);
      overlay.HighestX = std::max(overlay.HighestX, x[i]);
    }
    if (std::isfinite(y[i])) {
      overlay.LowestY = std::min(overlay.LowestY, y[i]);
      overlay.HighestY = std::max(overlay.HighestY, y[i]);
    }
  }
  graph->data()->set(points, std::is_sorted(x.begin(), x.end()));
  Overlays.push_back(overlay);
  UpdateLegend();
  FitRanges();
  Changed();
}

void TChart::RemoveOverlay(int index) {
  if (index < 0 || index >= OverlayCount()) return;
  removeGraph(Overlays[static_cast<std::size_t>(index)].Graph);
  Overlays.erase(Overlays.begin() + index);
  UpdateLegend();
  FitRanges();
  Changed();
}

void TChart::ClearOverlays() {
  while (!Overlays.empty()) RemoveOverlay(OverlayCount() - 1);
}

void TChart::SetOverlayLabel(int index, const QString& label) {
  if (index < 0 || index >= OverlayCount()) return;
  TCurveGraph* graph = Overlays[static_cast<std::size_t>(index)].Graph;
  if (graph->name() == label) return;
  graph->setName(label);
  Changed();
}

QString TChart::OverlayLabel(int index) const {
  return index >= 0 && index < OverlayCount()
             ? Overlays[static_cast<std::size_t>(index)].Graph->name()
             : QString();
}

void TChart::ShowLegend() {
  HasLegend = true;
  UpdateLegend();
}

void TChart::UpdateLegend() {
  legend->clearItems();
  const bool shown = HasLegend && !Overlays.empty();
  legend->setVisible(shown);
  PlaceLegend(shown);
  if (!shown) return;
  Curve(1)->setName(QString::fromUtf8(Captions::ThisRun));
  Curve(1)->addToLegend();
  for (const TOverlay& overlay : Overlays) overlay.Graph->addToLegend();
}

void TChart::PlaceLegend(bool aboveThePlot) {
  // Above the plot, in a row of its own under the title, the legend can
  // never cover the curves it names, wherever they run. Without it the row
  // goes, and the chart is laid out exactly as before.
  QCPLayoutInset* inset = axisRect()->insetLayout();
  const bool above = plotLayout()->hasElement(1, 0) && plotLayout()->element(1, 0) == legend;
  if (aboveThePlot == above) return;
  if (aboveThePlot) {
    inset->take(legend);
    plotLayout()->insertRow(1);
    plotLayout()->addElement(1, 0, legend);
    plotLayout()->setRowStretchFactor(1, 0.001);  // as tall as its entries, no more
    legend->setFillOrder(QCPLayoutGrid::foColumnsFirst);
    legend->setWrap(4);
  } else {
    plotLayout()->take(legend);
    plotLayout()->simplify();
    inset->addElement(legend, Qt::AlignRight | Qt::AlignTop);
  }
}

void TChart::HoldRepaints(bool held) {
  RepaintsHeld = held;
  Changed();
}

void TChart::Changed() {
  if (!RepaintsHeld) replot(rpQueuedReplot);
}

void TChart::FitRanges() {
  if (UserRanges) return;  // the user's zoom stays until a double-click
  const bool logarithmic = Scale == TChartScale::Logarithmic;
  bool hasX = false;
  double lowestX = 0.0;
  double highestX = 0.0;
  for (int curve = 0; curve < 2; ++curve) {
    const QCPGraphDataContainer& points = *Curve(curve)->data();
    if (points.isEmpty()) continue;
    // Sorted by x: the ends are the extremes (NaN x can only sit at the end).
    const double first = points.constBegin()->key;
    const double last = (points.constEnd() - 1)->key;
    for (double key : {first, last}) {
      if (!std::isfinite(key)) continue;
      lowestX = hasX ? std::min(lowestX, key) : key;
      highestX = hasX ? std::max(highestX, key) : key;
      hasX = true;
    }
  }
  double lowestY = LowestY;
  double highestY = HighestY;
  bool hasY = HasY;
  for (const TOverlay& overlay : Overlays) {
    if (overlay.LowestX <= overlay.HighestX) {
      lowestX = hasX ? std::min(lowestX, overlay.LowestX) : overlay.LowestX;
      highestX = hasX ? std::max(highestX, overlay.HighestX) : overlay.HighestX;
      hasX = true;
    }
    if (overlay.LowestY <= overlay.HighestY) {
      lowestY = hasY ? std::min(lowestY, overlay.LowestY) : overlay.LowestY;
      highestY = hasY ? std::max(highestY, overlay.HighestY) : overlay.HighestY;
      hasY = true;
    }
  }
  // Ranges that QCustomPlot finds invalid (beyond about 1e250) are ignored by
  // setRange, which keeps the previous one: nothing to guard here.
  const QCPRange x = hasX ? Widened(lowestX, highestX, false) : QCPRange(0.0, 1.0);
  xAxis->setRange(x);
  xAxis2->setRange(x);

  QCPRange y;
  if (!hasY) {
    y = logarithmic ? QCPRange(1.0, 10.0) : QCPRange(0.0, 1.0);
  } else if (logarithmic) {
    // The range spans the logs of the extremes; a bound <= 0 counts as 1 (log 0).
    double lower = lowestY > 0.0 ? lowestY : 1.0;
    double upper = highestY > 0.0 ? highestY : 1.0;
    if (lower > upper) std::swap(lower, upper);
    y = Widened(lower, upper, true);
  } else {
    y = Widened(lowestY, highestY, false);
  }
  yAxis->setRange(y);
  yAxis2->setRange(y);
}
