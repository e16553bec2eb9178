#include "Mainform/RunControl.h"

#include <QEvent>
#include <QHelpEvent>
#include <QToolTip>
#include <algorithm>
#include <utility>

#include "Mainform/ChartView.h"
#include "Mainform/ErrorDisplay.h"
#include "Session/Captions.h"

namespace {

// Steps per timer tick for each entry of the speed box; 0: as fast as the
// machine allows, ticks or not.
constexpr int StepsPerTickOfEntry[] = {1, 10, 100, 0};

constexpr int TimerInterval = 50;  // ms between simulation steps at the designed speed

// Wall time a slice of steps may take before the event loop gets its turn:
// with one paint after it, well under the 100 ms in which a click must act.
constexpr qint64 SliceMilliseconds = 40;

// How often the charts repaint during a fast run: after a slice once this
// long has passed since the last paint, so 12 to 20 times a second, smooth to
// the eye, while most of the time goes to the steps.
constexpr qint64 ChartPaintMilliseconds = 50;

}  // namespace

TRunControl::TRunControl(QWidget* window, QWidget* runPanel, TChart* countChart,
                         std::vector<TChart*> charts, THooks hooks)
    : QObject(window),
      Timer(new QTimer(window)),
      SpeedBox(new QComboBox(runPanel)),
      SliceTimer(new QTimer(window)),
      Readout(new QLabel(countChart)),
      CountChart(countChart),
      Charts(std::move(charts)),
      Hooks(std::move(hooks)) {
  Timer->setInterval(TimerInterval);

  for (const char* speed : Captions::Speeds) SpeedBox->addItem(QString::fromUtf8(speed));
  SpeedBox->setToolTip(QString::fromUtf8(Captions::SpeedTip));
  SpeedBox->setFocusPolicy(Qt::NoFocus);
  SpeedBox->setGeometry(2, 2, 56, 22);

  // The readout floats over the lower right of the count chart, where the
  // curves rarely go once the inner cube has filled, so that all its lines
  // show at the window's first size. Clicks pass through it to the chart.
  Readout->setTextFormat(Qt::PlainText);
  Readout->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Readout->setAttribute(Qt::WA_TransparentForMouseEvents);
  Readout->setStyleSheet(QStringLiteral(
      "QLabel { background: rgba(255, 255, 255, 215); border: 1px solid rgb(170, 170, 170);"
      " padding: 1px 3px; }"));
  Readout->setToolTip(QString::fromUtf8(Captions::ReadoutTip));
  connect(CountChart, &QCustomPlot::afterReplot, this, &TRunControl::PlaceReadout);
  CountChart->installEventFilter(this);

  SliceTimer->setSingleShot(true);
  SliceTimer->setInterval(0);

  // A step that fails stops its tick or slice and is shown; the run has
  // paused by then (the window's step sees to it).
  connect(Timer, &QTimer::timeout, this, Guarded(this, &TRunControl::Tick));
  connect(SliceTimer, &QTimer::timeout, this, Guarded(this, &TRunControl::RunSlice));
  connect(SpeedBox, &QComboBox::currentIndexChanged, this,
          Guarded(this, &TRunControl::SpeedChanged));
}

int TRunControl::StepsPerTick() const {
  return StepsPerTickOfEntry[std::max(0, SpeedBox->currentIndex())];
}

void TRunControl::StartOrPause() {
  PendingSteps = 0;
  if (Timer->isActive())
    Timer->stop();
  else
    Timer->start();
  SpeedChanged();  // flat out starts at once, not with the first tick
  // A pause in a fast run must let the charts repaint again: they held their
  // repaints for the run's own pace, and would otherwise show nothing new
  // (kept runs, compared files) until the next step.
  RepaintCharts();
}

void TRunControl::Tick() {
  const int perTick = StepsPerTick();
  if (perTick == 1) {
    Hooks.Step();
    Hooks.Stepped();
    return;
  }
  // A tick that comes while steps are still queued adds to them, but never
  // beyond two ticks' worth: a machine that cannot keep up runs flat out
  // rather than falling ever further behind.
  if (perTick > 0) PendingSteps = std::min<std::int64_t>(PendingSteps + perTick, 2 * perTick);
  RunSlice();
}

void TRunControl::RunSlice() {
  QElapsedTimer clock;
  clock.start();
  qint64 longestStep = 0;
  int taken = 0;
  while (Timer->isActive() && PendingSteps != 0 &&
         (taken == 0 || clock.elapsed() + longestStep < SliceMilliseconds)) {
    const qint64 before = clock.elapsed();
    Hooks.Step();
    longestStep = std::max(longestStep, clock.elapsed() - before);
    ++taken;
    if (PendingSteps > 0) --PendingSteps;
    if (ReachedPauseStep(Hooks.StepsTaken())) break;
  }
  Hooks.Stepped();
  if (Timer->isActive() && PendingSteps != 0) SliceTimer->start();
}

void TRunControl::SpeedChanged() {
  const bool flatOut = StepsPerTick() == 0;
  PendingSteps = flatOut && Timer->isActive() ? -1 : 0;
  if (PendingSteps != 0)
    SliceTimer->start();
  else
    SliceTimer->stop();
}

void TRunControl::ShowReadout(const QString& text) {
  Readout->setText(text);
  PlaceReadout();
}

void TRunControl::PlaceReadout() {
  Readout->adjustSize();
  const QRect area = CountChart->axisRect()->rect();
  Readout->move(std::max(0, area.right() - Readout->width() - 3),
                std::max(0, area.bottom() - Readout->height() - 3));
}

bool TRunControl::eventFilter(QObject* watched, QEvent* event) {
  if (watched == CountChart && event->type() == QEvent::ToolTip) {
    const auto* help = static_cast<QHelpEvent*>(event);
    if (Readout->isVisible() && Readout->geometry().contains(help->pos())) {
      QToolTip::showText(help->globalPos(), Readout->toolTip(), CountChart);
      return true;
    }
  }
  return QObject::eventFilter(watched, event);
}

void TRunControl::RepaintCharts() {
  const bool fast = Timer->isActive() && StepsPerTick() != 1;
  const bool due =
      !ChartPaintClock.isValid() || ChartPaintClock.elapsed() >= ChartPaintMilliseconds;
  for (TChart* chart : Charts) {
    chart->HoldRepaints(fast);
    // Painted now: a queued paint would wait behind the next slice.
    if (fast && due) chart->replot(QCustomPlot::rpImmediateRefresh);
  }
  if (!fast || due) ChartPaintClock.start();
}
