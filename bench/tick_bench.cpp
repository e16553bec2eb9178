// Speed of one timer tick of the window at the default parameters: one
// simulation step, four points on the curves and a repaint of both charts,
// on Qt's offscreen platform.
//
//   build-window/bench/tick_bench --benchmark_min_time=2
//
// The argument is the number of points each curve already holds: the
// repaint draws every one of them, so a tick costs more the longer a run
// goes (1200 points: one minute of running; 72000: one hour).
// BM_TickWithMoleculeView is the same tick with the molecule view open: its
// refresh and paint are added (see moleculeview_bench for other states).
#include <benchmark/benchmark.h>

#include "Mainform/Mainform.h"
#include "Mainform/MoleculeView.h"

namespace {

void BM_Tick(benchmark::State& state) {
  TMForm form;  // start-up defaults: one species, 719,999 molecules
  form.show();
  // Earlier points of the run, on the flat default curves.
  const int points = static_cast<int>(state.range(0));
  for (int k = 0; k < points; ++k) form.PlotStep(0, 720, 0.0, 7.2e20, (k + 1) * 1e-4 - 100.0);
  form.TimerTimer();  // activate the spare slots, as every later step sees them
  for (auto _ : state) {
    form.TimerTimer();
    form.CChart->replot(QCustomPlot::rpImmediateRefresh);
    form.NChart->replot(QCustomPlot::rpImmediateRefresh);
  }
}
BENCHMARK(BM_Tick)->Arg(0)->Arg(1200)->Arg(72000)->Unit(benchmark::kMillisecond);

void BM_TickWithMoleculeView(benchmark::State& state) {
  TMForm form;
  form.show();
  const int points = static_cast<int>(state.range(0));
  for (int k = 0; k < points; ++k) form.PlotStep(0, 720, 0.0, 7.2e20, (k + 1) * 1e-4 - 100.0);
  form.TimerTimer();
  form.MoleculeViewButtonClick();
  TMoleculeView* view = form.findChild<TMoleculeView*>();
  for (auto _ : state) {
    form.TimerTimer();  // the view copies its picture on EngineChanged
    form.CChart->replot(QCustomPlot::rpImmediateRefresh);
    form.NChart->replot(QCustomPlot::rpImmediateRefresh);
    view->repaint();
  }
  state.counters["drawn"] = static_cast<double>(view->Picture().Drawn());
}
BENCHMARK(BM_TickWithMoleculeView)->Arg(0)->Arg(1200)->Arg(72000)->Unit(benchmark::kMillisecond);

// The repaint alone, to tell the charts' share from the step's.
void BM_Repaint(benchmark::State& state) {
  TMForm form;
  form.show();
  const int points = static_cast<int>(state.range(0));
  for (int k = 0; k < points; ++k) form.PlotStep(k % 800, 720, k * 1e15, 7.2e20, (k + 1) * 1e-4);
  for (auto _ : state) {
    form.CChart->replot(QCustomPlot::rpImmediateRefresh);
    form.NChart->replot(QCustomPlot::rpImmediateRefresh);
  }
}
BENCHMARK(BM_Repaint)->Arg(0)->Arg(1200)->Arg(72000)->Unit(benchmark::kMillisecond);

}  // namespace
