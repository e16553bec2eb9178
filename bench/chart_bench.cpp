// Cost of the chart view with long runs: a full repaint of both charts at
// their design size (549 x 220 pixels) with every curve holding N points,
// with and without kept runs beside them, appending, keeping a run, and the
// memory each point takes.
//
//   QT_QPA_PLATFORM=offscreen build/bench/chart_bench
//
// BM_RepaintBothCharts reports ms per repaint of both charts (the window
// repaints them in one paint after a tick); bytes_per_point is the heap
// growth per stored point of one curve.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <QApplication>
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "Mainform/ChartView.h"

namespace {

// A run of `points` steps of 0.0001 s, shaped like the default scenario: the
// reference curves flat, the measured ones rising from 0 with noise.
void FillLikeARun(TChart& cChart, TChart& nChart, int points) {
  std::uint32_t noise = 12345;
  double t = 0.0;
  for (int k = 0; k < points; ++k) {
    t += 0.0001;
    noise = noise * 1664525u + 1013904223u;  // LCG, numerical recipes constants
    const double jitter = static_cast<double>(noise >> 24) - 128.0;
    const double count = std::max(0.0, std::floor(720.0 * (1.0 - std::exp(-t / 2.0)) + jitter));
    cChart.AppendPoint(0, t, 7.2e20);
    cChart.AppendPoint(1, t, count / 1e-18);
    nChart.AppendPoint(0, t, 720.0);
    nChart.AppendPoint(1, t, count);
  }
}

struct TCharts {
  TChart C{nullptr, "Concentration", "C(t)", TChartScale::Linear, '.'};
  TChart N{nullptr, "Number of Molecules", "N(t)", TChartScale::Logarithmic, '.'};
  TCharts() {
    C.resize(549, 220);
    N.resize(549, 220);
  }
};

// A run kept beside the one on the charts: the same shape, a little lower.
void KeepALikeRun(TChart& cChart, TChart& nChart, int points, int which) {
  std::vector<double> times(static_cast<std::size_t>(points));
  std::vector<double> counts(times.size());
  std::vector<double> concentrations(times.size());
  double t = 0.0;
  for (std::size_t k = 0; k < times.size(); ++k) {
    t += 0.0001;
    times[k] = t;
    counts[k] = std::floor((650.0 - 20.0 * which) * (1.0 - std::exp(-t / 2.0)));
    concentrations[k] = counts[k] / 1e-18;
  }
  const QString label = QStringLiteral("kept %1: D 7.15E-11").arg(which + 1);
  nChart.AddOverlay(label, times, counts);
  cChart.AddOverlay(label, times, concentrations);
}

// A shown widget replotted immediately: layout, drawing of every layer into
// the paint buffers and the paint of the widget. Arguments: points per
// curve, kept runs beside them.
void BM_RepaintBothCharts(benchmark::State& state) {
  TCharts charts;
  const int points = static_cast<int>(state.range(0));
  FillLikeARun(charts.C, charts.N, points);
  for (int kept = 0; kept < state.range(1); ++kept) KeepALikeRun(charts.C, charts.N, points, kept);
  charts.C.ShowLegend();
  charts.C.show();
  charts.N.show();
  QApplication::processEvents();
  // The first paint summarizes the curves, as the window's paints do while
  // the run grows.
  charts.C.replot(QCustomPlot::rpImmediateRefresh);
  charts.N.replot(QCustomPlot::rpImmediateRefresh);
  for (auto _ : state) {
    charts.C.replot(QCustomPlot::rpImmediateRefresh);
    charts.N.replot(QCustomPlot::rpImmediateRefresh);
  }
  state.counters["points_per_curve"] = static_cast<double>(points);
  state.counters["kept_runs"] = static_cast<double>(state.range(1));
}
BENCHMARK(BM_RepaintBothCharts)
    ->Args({1000, 0})
    ->Args({100000, 0})
    ->Args({1000000, 0})
    ->Args({10000000, 0})
    ->Args({10000000, 2})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The same drawing into an off-widget pixmap.
void BM_PixmapBothCharts(benchmark::State& state) {
  TCharts charts;
  FillLikeARun(charts.C, charts.N, static_cast<int>(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(charts.C.toPixmap(549, 220));
    benchmark::DoNotOptimize(charts.N.toPixmap(549, 220));
  }
}
BENCHMARK(BM_PixmapBothCharts)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();

// Times `fill` on fresh charts; the heap it took, per one of `units`.
template <class TFill>
double TimedHeapGrowth(benchmark::State& state, TFill&& fill, double units) {
  double perUnit = 0.0;
  for (auto _ : state) {
    state.PauseTiming();
    auto charts = std::make_unique<TCharts>();
    const std::size_t before = mallinfo2().uordblks;
    state.ResumeTiming();
    fill(*charts);
    state.PauseTiming();
    perUnit = static_cast<double>(mallinfo2().uordblks - before) / units;
    charts.reset();
    state.ResumeTiming();
  }
  return perUnit;
}

// Appending a whole run, four points per step, and the heap it takes.
void BM_AppendRun(benchmark::State& state) {
  const int points = static_cast<int>(state.range(0));
  state.counters["bytes_per_point"] = TimedHeapGrowth(
      state, [&](TCharts& charts) { FillLikeARun(charts.C, charts.N, points); }, 4.0 * points);
  state.SetItemsProcessed(state.iterations() * 4 * points);
}
BENCHMARK(BM_AppendRun)->Arg(100000)->Unit(benchmark::kMillisecond);

// Keeping a run of N steps on both charts, and the heap it takes per step.
void BM_KeepRun(benchmark::State& state) {
  const int points = static_cast<int>(state.range(0));
  state.counters["bytes_per_kept_step"] = TimedHeapGrowth(
      state, [&](TCharts& charts) { KeepALikeRun(charts.C, charts.N, points, 0); }, points);
}
BENCHMARK(BM_KeepRun)->Arg(1000000)->Unit(benchmark::kMillisecond);

}  // namespace
