// The pace of a run and its readout. At the designed speed every 50 ms tick
// takes one step; faster, the steps run in slices of bounded wall time
// between which the event loop paints and takes clicks, so that pausing acts
// at once however fast the run goes. (Slices on the window's thread rather
// than a worker thread: the engine stays with one owner and every view reads
// it without locks, and a step already uses every core.)
//
// The run control never touches the engine: it asks the window to step, and
// the window tells it what to show.
#pragma once

#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QObject>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <vector>

class TChart;

class TRunControl : public QObject {
  Q_OBJECT

 public:
  // What the run control asks of the window.
  struct THooks {
    // One engine step; throws when the step fails (the window pauses first).
    std::function<void()> Step;
    // After a tick's or a slice's steps: the window updates what shows the
    // engine, and through ShowReadout and RepaintCharts what shows here.
    std::function<void()> Stepped;
    // Steps taken since the last Apply.
    std::function<std::int64_t()> StepsTaken;
  };

  // The speed box goes into `runPanel`; the readout floats over `countChart`;
  // `charts` are held back from repainting during a fast run. Owned by
  // `window`, whose timers these become.
  TRunControl(QWidget* window, QWidget* runPanel, TChart* countChart, std::vector<TChart*> charts,
              THooks hooks);

  QTimer* const Timer;        // 50 ms, off at start: the only driver of the simulation
  QComboBox* const SpeedBox;  // steps per tick: 1 (as designed), 10, 100, or flat out
  QTimer* const SliceTimer;   // 0 ms: the next slice of steps at the faster speeds
  // Over the count chart: time, speed, inside count against band and expectation.
  QLabel* const Readout;

  bool Running() const { return Timer->isActive(); }
  // Starts the run, or pauses it; queued steps are dropped.
  void StartOrPause();
  // A tick of Timer: one step at the designed speed; faster, a tick's worth
  // of steps queued and a slice run at once.
  void Tick();
  // A slice of the queued steps, within its wall time; the next one follows
  // from the event loop while steps remain.
  void RunSlice();
  // The speed box changed: steps queued at the former speed are dropped;
  // flat out keeps going until paused.
  void SpeedChanged();

  // The run is to pause once `step` steps have been taken since the last
  // Apply (0: never); ReachedPauseStep says when.
  void PauseAtStep(std::int64_t step) { StopStep = step; }
  bool ReachedPauseStep(std::int64_t steps) const { return StopStep > 0 && steps >= StopStep; }

  void ShowReadout(const QString& text);
  // The charts repaint after every tick at the designed speed, and at a
  // steady rate faster.
  void RepaintCharts();

 protected:
  // The readout lets the mouse through to the chart under it; its tooltip
  // comes from the chart's tooltip event there.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  int StepsPerTick() const;
  // Keeps the readout at the lower right of the count chart's plot area.
  void PlaceReadout();

  TChart* CountChart;
  std::vector<TChart*> Charts;
  THooks Hooks;
  std::int64_t PendingSteps = 0;  // queued by ticks at the faster speeds; -1: no end
  std::int64_t StopStep = 0;
  QElapsedTimer ChartPaintClock;  // since the charts last repainted during a fast run
};
