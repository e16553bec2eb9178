// The window's run beyond the designed controls: how fast it steps, what the
// readout and the band show, and the export of a whole run. At the designed
// speed every 50 ms tick takes one step; faster, the steps run in slices of
// bounded wall time between which the event loop paints and takes clicks,
// so that pausing acts at once however fast the run goes. (Slices on the
// window's thread rather than a worker thread: the engine stays with one
// owner and every view reads it without locks, and a step already uses every
// core.)
#include <QAction>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHelpEvent>
#include <QToolTip>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

#include "Mainform/Mainform.h"
#include "Mainform/Widgets.h"
#include "Session/Exports.h"
#include "Session/OutputFile.h"
#include "Session/RunCsv.h"

namespace {

// Steps per timer tick for each entry of the speed box; 0: as fast as the
// machine allows, ticks or not.
constexpr int StepsPerTick[] = {1, 10, 100, 0};

int StepsPerTickOf(const QComboBox* speedBox) {
  return StepsPerTick[std::max(0, speedBox->currentIndex())];
}

// Wall time a slice of steps may take before the event loop gets its turn:
// with one paint after it, well under the 100 ms in which a click must act.
constexpr qint64 SliceMilliseconds = 40;

// How often the charts repaint during a fast run: after a slice once this
// long has passed since the last paint, so 12 to 20 times a second, smooth to
// the eye, while most of the time goes to the steps.
constexpr qint64 ChartPaintMilliseconds = 50;

// The wall clock of the readout's speed, shared by all windows.
double WallSeconds() {
  static QElapsedTimer clock;
  if (!clock.isValid()) clock.start();
  return static_cast<double>(clock.nsecsElapsed()) * 1e-9;
}

}  // namespace

void TMForm::BuildRunPanel() {
  SpeedBox = new QComboBox(RunPanel);
  SpeedBox->addItems({QStringLiteral("\u00d71"), QStringLiteral("\u00d710"),
                      QStringLiteral("\u00d7100"), QStringLiteral("Max")});
  SpeedBox->setToolTip(QStringLiteral(
      "Run speed: \u00d71 takes one step every 50 ms, \u00d710 and \u00d7100 that many per "
      "50 ms, Max as many as the machine can. Every step is plotted and exported alike."));
  SpeedBox->setFocusPolicy(Qt::NoFocus);
  SpeedBox->setGeometry(2, 2, 56, 22);

  ExportRunButton = MakeButton(RunPanel, QStringLiteral("Export run..."), {60, 2, 79, 22});

  // The readout floats over the lower right of the count chart, where the
  // curves rarely go once the inner cube has filled, so that all its lines
  // show at the window's first size. Clicks pass through it to the chart.
  Readout = new QLabel(NChart);
  Readout->setTextFormat(Qt::PlainText);
  Readout->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Readout->setAttribute(Qt::WA_TransparentForMouseEvents);
  Readout->setStyleSheet(QStringLiteral(
      "QLabel { background: rgba(255, 255, 255, 215); border: 1px solid rgb(170, 170, 170);"
      " padding: 1px 3px; }"));
  Readout->setToolTip(QStringLiteral(
      "t: simulated time; mean: of the inside count over the last 100 steps since the species "
      "last changed; ref ±: the count the inner cube holds at the concentrations, and twice "
      "the spread of the count expected at equilibrium (the shaded band); in band at: when the "
      "mean first entered that band; expected: the count the diffusion equation gives (the "
      "dashed curve) and what it tends to; filled: when the expected curve, and the mean of the "
      "run, reach 63.2 % of that"));
  connect(NChart, &QCustomPlot::afterReplot, this, &TMForm::PlaceReadout);
  NChart->installEventFilter(this);

  SliceTimer = new QTimer(this);
  SliceTimer->setSingleShot(true);
  SliceTimer->setInterval(0);

  // The band can be hidden from either chart's right-click menu.
  BandAction = new QAction(QStringLiteral("Expected band (ref \u00b1 2\u03c3)"), this);
  BandAction->setCheckable(true);
  BandAction->setChecked(true);
  connect(BandAction, &QAction::toggled, this, &TMForm::ShowBand);
  // Kept runs are named in one legend, at the lower right of the
  // concentration chart, where its curves do not go once the cube fills.
  CChart->SetLegendPlace(Qt::AlignRight | Qt::AlignBottom);
  CChart->AddMenuAction(BandAction);
  NChart->AddMenuAction(BandAction);
  ExpectedAction = new QAction(QStringLiteral("Expected curve (diffusion equation)"), this);
  ExpectedAction->setCheckable(true);
  ExpectedAction->setChecked(true);
  connect(ExpectedAction, &QAction::toggled, this, &TMForm::ShowExpected);
  CChart->AddMenuAction(ExpectedAction);
  NChart->AddMenuAction(ExpectedAction);
}

void TMForm::TimerTimer() {
  const int perTick = StepsPerTickOf(SpeedBox);
  if (perTick == 1) {
    StepOnce();
    AfterEngineChange();
    return;
  }
  // A tick that comes while steps are still queued adds to them, but never
  // beyond two ticks' worth: a machine that cannot keep up runs flat out
  // rather than falling ever further behind.
  if (perTick > 0) PendingSteps = std::min<std::int64_t>(PendingSteps + perTick, 2 * perTick);
  SliceTimerTimer();
}

void TMForm::SliceTimerTimer() {
  QElapsedTimer clock;
  clock.start();
  qint64 longestStep = 0;
  int taken = 0;
  while (Timer->isActive() && PendingSteps != 0 &&
         (taken == 0 || clock.elapsed() + longestStep < SliceMilliseconds)) {
    const qint64 before = clock.elapsed();
    StepOnce();
    longestStep = std::max(longestStep, clock.elapsed() - before);
    ++taken;
    if (PendingSteps > 0) --PendingSteps;
    if (StopStep > 0 && Run->Record().Statistics().Steps() >= StopStep) break;
  }
  AfterEngineChange();
  if (Timer->isActive() && PendingSteps != 0) SliceTimer->start();
}

void TMForm::StepOnce() {
  try {
    Run->Step();
  } catch (...) {
    // A step that fails would fail again at every tick: stop the run, as a
    // pause would, so that its message is shown once.
    if (Timer->isActive()) PauseButtonClick();
    AfterEngineChange();
    throw;
  }
}

void TMForm::AfterEngineChange() {
  // Threads the system refused: the engine goes on on one, and the program
  // says so where it says its other start-up troubles.
  const std::string notice = Run->Volume().TakeNotice();
  if (!notice.empty()) std::fprintf(stderr, "%s\n", notice.c_str());
  TRunStatistics& statistics = Run->Record().Statistics();
  statistics.Expect(Run->Volume().TotalInnerCount, ExpectedBand(Run->Volume()));
  statistics.MarkWallTime(WallSeconds());
  Readout->setText(QString::fromStdString(statistics.ReadoutText(DecimalSeparator)));
  PlaceReadout();
  RelabelKeptRuns();
  if (Timer->isActive() && StopStep > 0 && statistics.Steps() >= StopStep) PauseButtonClick();
  RepaintCharts();
  emit EngineChanged();
}

bool TMForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == NChart && event->type() == QEvent::ToolTip) {
    const auto* help = static_cast<QHelpEvent*>(event);
    if (Readout->isVisible() && Readout->geometry().contains(help->pos())) {
      QToolTip::showText(help->globalPos(), Readout->toolTip(), NChart);
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void TMForm::SpeciesChanged() { AfterEngineChange(); }

void TMForm::PlaceReadout() {
  Readout->adjustSize();
  const QRect area = NChart->axisRect()->rect();
  Readout->move(std::max(0, area.right() - Readout->width() - 3),
                std::max(0, area.bottom() - Readout->height() - 3));
}

void TMForm::RepaintCharts() {
  const bool fast = Timer->isActive() && StepsPerTickOf(SpeedBox) != 1;
  const bool due =
      !ChartPaintClock.isValid() || ChartPaintClock.elapsed() >= ChartPaintMilliseconds;
  for (TChart* chart : {CChart, NChart}) {
    chart->HoldRepaints(fast);
    // Painted now: a queued paint would wait behind the next slice.
    if (fast && due) chart->replot(QCustomPlot::rpImmediateRefresh);
  }
  if (!fast || due) ChartPaintClock.start();
}

void TMForm::ExtendBand(double time, const std::optional<TBand>& band) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double lower = band ? band->Lower() : nan;
  const double upper = band ? band->Upper() : nan;
  NChart->ExtendBand(time, lower, upper);
  // The concentration chart shows the same band per volume of the inner cube.
  CChart->ExtendBand(time, lower / Run->Volume().InnerVolume, upper / Run->Volume().InnerVolume);
}

void TMForm::SpeedBoxChange() {
  // Steps queued at the former speed are dropped; flat out keeps going
  // until paused.
  const bool flatOut = StepsPerTickOf(SpeedBox) == 0;
  PendingSteps = flatOut && Timer->isActive() ? -1 : 0;
  if (PendingSteps != 0)
    SliceTimer->start();
  else
    SliceTimer->stop();
}

void TMForm::ShowExpected(bool visible) {
  ExpectedAction->setChecked(visible);
  CChart->SetExpectedVisible(visible);
  NChart->SetExpectedVisible(visible);
}

void TMForm::ShowBand(bool visible) {
  BandAction->setChecked(visible);
  CChart->SetBandVisible(visible);
  NChart->SetBandVisible(visible);
}

void TMForm::ExportRunButtonClick() {
  const QString folder = RunExportFolder.isEmpty() ? QDir::currentPath() : RunExportFolder;
  const QString fileName = QFileDialog::getSaveFileName(
      this, QStringLiteral("Export run"), QDir(folder).filePath(QStringLiteral("run.csv")),
      QStringLiteral("CSV files (*.csv);;All files (*)"));
  if (fileName.isEmpty()) return;
  RunExportFolder = QFileInfo(fileName).absolutePath();
  ExportRun(fileName);
}

void TMForm::ExportRun(const QString& fileName) {
  WriteFileAtomically(QFile::encodeName(fileName).toStdString(), RunCsv(*Run));
}
