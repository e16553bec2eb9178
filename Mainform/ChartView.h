// The chart view: one line chart with two curves, 0 (red, the reference) and
// 1 (green, the measured value). Points are kept in ascending x, equal x in
// arrival order. Appearance is fixed at construction.
#pragma once

#include <qcustomplot.h>

#include <QString>
#include <vector>

class QAction;
class QMenu;
class TCurveGraph;

enum class TChartScale { Linear, Logarithmic };

class TChart : public QCustomPlot {
  Q_OBJECT

 public:
  // `separator` is the locale decimal separator used in tick labels.
  TChart(QWidget* parent, const QString& title, const QString& leftAxisTitle, TChartScale scale,
         char separator);

  // Removes every point of curve 0, then curve 1; marks the chart for repaint.
  void ClearCurves();
  // Inserts (x, y) into `curve` (0 or 1) keeping ascending x; marks for repaint.
  void AppendPoint(int curve, double x, double y);
  // Reading a curve, in stored order. A curve other than 0 or 1, or an index
  // outside 0 .. count - 1, throws std::out_of_range.
  int PointCount(int curve) const;
  double PointX(int curve, int index) const;
  double PointY(int curve, int index) const;

  // The band around curve 0 in which a settled run's values are expected: a
  // light shaded area from `lower` to `upper`, from x on until the next call
  // (a step at every change). NaN bounds leave a gap. Cleared with the curves;
  // not part of the automatic ranges.
  void ExtendBand(double x, double lower, double upper);
  void SetBandVisible(bool visible);
  bool BandVisible() const;

  // The count the diffusion equation expects (a dashed line): one point per
  // step, NaN for a gap. Cleared with the curves; not part of the automatic
  // ranges.
  void AppendExpected(double x, double y);
  void SetExpectedVisible(bool visible);
  bool ExpectedVisible() const;
  int ExpectedPointCount() const;

  // Runs to compare with (kept runs, runs read from files): lighter curves
  // beside the run's own, each with a legend entry ("this run" joins them),
  // in the automatic ranges and in saved and copied images, and never among
  // the curves read above. `x` and `y` hold one point per step.
  void AddOverlay(const QString& label, const std::vector<double>& x, const std::vector<double>& y);
  void RemoveOverlay(int index);
  void ClearOverlays();
  void SetOverlayLabel(int index, const QString& label);
  int OverlayCount() const { return static_cast<int>(Overlays.size()); }
  QString OverlayLabel(int index) const;
  // Shows the overlays' legend, while there are any, in a row above the plot
  // (by default the chart has none: one legend for both charts keeps the
  // count chart's readout clear).
  void ShowLegend();

  // While held, changes do not ask for a repaint; whoever holds them repaints
  // (replot) when it sees fit, so that a fast run is not slowed by paints it
  // would not see. Releasing asks for one.
  void HoldRepaints(bool held);

  // Zoom, pan and the picture. The wheel zooms and a drag pans both axes;
  // from then on new points leave the view where the user put it, until a
  // double-click returns to the automatic ranges (or the curves are cleared).
  bool Zoomed() const { return UserRanges; }
  // Writes the chart as shown: PDF for a name ending in ".pdf", PNG
  // otherwise. Throws TError naming the file and the reason; a file that
  // cannot be written keeps what it held.
  void SaveImage(const QString& fileName);
  void CopyImage();  // to the clipboard
  // The right-click menu: "Save image...", "Copy image", then what the
  // window adds here.
  QMenu* ContextMenu() const { return Menu; }
  void AddMenuAction(QAction* action);

 protected:
  void wheelEvent(QWheelEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void SetUpInteractions();
  // Marks the ranges as the user's when the event just handled moved them.
  void NoteUserRanges(const QCPRange& x, const QCPRange& y);
  void SaveImageAs();  // asks for the file

  QMenu* Menu = nullptr;
  bool UserRanges = false;

  // The curve's graph; throws std::out_of_range for an index other than 0 or 1.
  TCurveGraph* Curve(int curve) const;
  // Fits every axis to the points held: O(1), from the sorted x ends and the
  // running y extremes.
  void FitRanges();

  // Asks for a repaint at the next turn of the event loop, unless held.
  void Changed();

  // The legend shows while there are overlays.
  void UpdateLegend();
  // Moves the legend into a row above the plot, or back out of sight.
  void PlaceLegend(bool aboveThePlot);

  struct TOverlay {
    TCurveGraph* Graph;
    double LowestX, HighestX, LowestY, HighestY;  // finite extremes; none: Lowest > Highest
  };
  std::vector<TOverlay> Overlays;
  int OverlaysMade = 0;  // picks each new overlay's colour
  bool HasLegend = false;

  bool RepaintsHeld = false;
  QCPGraph* BandLower;
  QCPGraph* BandUpper;
  TCurveGraph* Expected;
  TChartScale Scale;
  // Smallest and largest finite y of both curves since the last clear.
  double LowestY = 0.0;
  double HighestY = 0.0;
  bool HasY = false;
};
