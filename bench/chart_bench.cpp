// Cost of the chart view with long runs: a full repaint of both charts at
// their design size (549 x 220 pixels) with every curve holding N points,
// appending, and the memory each point takes.
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

// A shown widget replotted immediately: layout, drawing of every layer into
// the paint buffers and the paint of the widget.
void BM_RepaintBothCharts(benchmark::State& state) {
  TCharts charts;
  FillLikeARun(charts.C, charts.N, static_cast<int>(state.range(0)));
  charts.C.show();
  charts.N.show();
  QApplication::processEvents();
  for (auto _ : state) {
    charts.C.replot(QCustomPlot::rpImmediateRefresh);
    charts.N.replot(QCustomPlot::rpImmediateRefresh);
  }
  state.counters["points_per_curve"] = static_cast<double>(state.range(0));
}
BENCHMARK(BM_RepaintBothCharts)
    ->Arg(1000)
    ->Arg(100000)
    ->Arg(1000000)
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

// Appending a whole run, four points per step, and the heap it takes.
void BM_AppendRun(benchmark::State& state) {
  const int points = static_cast<int>(state.range(0));
  double bytesPerPoint = 0.0;
  for (auto _ : state) {
    state.PauseTiming();
    auto charts = std::make_unique<TCharts>();
    const std::size_t before = mallinfo2().uordblks;
    state.ResumeTiming();
    FillLikeARun(charts->C, charts->N, points);
    state.PauseTiming();
    bytesPerPoint = static_cast<double>(mallinfo2().uordblks - before) / (4.0 * points);
    charts.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * 4 * points);
  state.counters["bytes_per_point"] = bytesPerPoint;
}
BENCHMARK(BM_AppendRun)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace
