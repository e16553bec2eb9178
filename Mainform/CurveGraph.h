// One curve of a chart, drawn in time however many points it holds. The
// graph keeps every point (for reading back and for zooming in), and beside
// them a summary: the smallest and largest value of every block of 16
// points, of every 64, 256 and so on. A repaint draws, for the part of the
// curve in view, the extremes of blocks about two to a pixel (and the points
// themselves at the ends of that part): what the full curve would show at
// that width, in time that grows with the width of the chart and the log of
// the points, not with the points.
#pragma once

#include <qcustomplot.h>

#include <cstddef>
#include <vector>

class TCurveGraph : public QCPGraph {
 public:
  TCurveGraph(QCPAxis* keyAxis, QCPAxis* valueAxis);

  // The points changed other than by appending at the end (cleared, or a
  // point inserted in front of others): the summary is made anew before the
  // next repaint. Appending needs no call.
  void PointsReordered() { SummaryValid = false; }

 protected:
  // QCustomPlot maps the lower end of a value range (and the upper end of a
  // key range) one pixel outside its clip, so a curve lying on the lower
  // edge, such as a count of 0, would vanish. One more pixel right and below
  // keeps it on the edge, where it is drawn over the axis line.
  QRect clipRect() const override { return QCPGraph::clipRect().adjusted(0, 0, 1, 1); }

  // The points to draw between `begin` and `end`: the summary's, where they
  // are many for the pixels, else QCustomPlot's own. On a logarithmic value
  // axis, values <= 0 go to the lower edge of the plot area instead of off
  // the screen (the stored points keep their values).
  void getOptimizedLineData(QVector<QCPGraphData>* lineData,
                            const QCPGraphDataContainer::const_iterator& begin,
                            const QCPGraphDataContainer::const_iterator& end) const override;

 private:
  // The extremes of one block of points; NaN values (gaps) are left out, and
  // a block of NaN only has Min > Max.
  struct TExtremes {
    double Min;
    double Max;
    bool MinFirst;  // the smallest value comes before the largest
  };

  // Brings the summary up to the points held (appended since, or all anew).
  void Summarize() const;
  void AddToSummary(std::size_t index, double value) const;
  // Appends to `lineData` what to draw for points [first, last), using blocks
  // of `level` and finer ones at the ends.
  void EmitRange(QVector<QCPGraphData>* lineData, std::size_t first, std::size_t last,
                 int level) const;

  // Level k summarizes blocks of 16 * 4^k points; built as the repaints need it.
  mutable std::vector<std::vector<TExtremes>> Levels;
  mutable std::size_t Summarized = 0;  // points in the summary
  mutable bool SummaryValid = true;
};
