// Long run of the window's chart view: 200,000 steps' worth of samples
// through TMForm::PlotStep (four points per step, as the window plots them),
// with the window shown on Qt's offscreen platform and repainted as the
// event loop would; then the export of the measured curves, timed and checked.
// Not a test and not a Google Benchmark: it prints figures and fails only when
// an exported file is wrong.
//
//   build-e2e/bench/chart_long_run [steps] [report every]
//   /usr/bin/time -v build-e2e/bench/chart_long_run 200000
//
// At every report point it prints the heap in use (mallinfo2, bytes) and its
// growth per stored point of one curve since the curves were emptied, and the
// process's resident set now and at its peak (KiB). A second run after Apply
// shows that the same number of points takes no more memory than the first.
#include <malloc.h>

#include <QApplication>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "Mainform/Mainform.h"
#include "tests/test_support.h"

namespace {

// A field of /proc/self/status in KiB ("VmRSS", "VmHWM"), or -1 when absent.
long StatusKiB(const char* field) {
  std::ifstream status("/proc/self/status");
  const std::string prefix = std::string(field) + ":";
  std::string line;
  while (std::getline(status, line))
    if (line.compare(0, prefix.size(), prefix) == 0)
      return std::strtol(line.c_str() + prefix.size(), nullptr, 10);
  return -1;
}

// Bytes handed out by malloc: small blocks plus the mmapped large ones (the
// curves' arrays end up there).
long long HeapBytes() {
  const struct mallinfo2 info = mallinfo2();
  return static_cast<long long>(info.uordblks) + static_cast<long long>(info.hblkhd);
}

double Seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

// Plots `steps` samples shaped like a default run (the measured count rising
// towards 720 with noise, the references flat), time summed step by step as
// the engine does, letting the event loop repaint every `repaintEvery` steps.
void Plot(TMForm& form, long steps, long every, long repaintEvery, long long heapBase) {
  std::uint32_t noise = 12345;
  double time = 0.0;
  for (long step = 1; step <= steps; ++step) {
    time += 0.0001;
    noise = noise * 1664525u + 1013904223u;  // LCG, Numerical Recipes constants
    const double jitter = static_cast<double>(noise >> 24) - 128.0;
    const auto inside = static_cast<std::int32_t>(
        std::max(0.0, std::floor(720.0 * (1.0 - std::exp(-time / 2.0)) + jitter)));
    // Inner volume 1e-18 m^3 (inner rib 1e-6 m).
    form.PlotStep(inside, 720, inside / 1e-18, 7.2e20, time);
    if (step % repaintEvery == 0) QApplication::processEvents();
    if (step % every == 0 || step == steps) {
      const long long grown = HeapBytes() - heapBase;
      std::printf(
          "  step %7ld  points/curve %7d  heap +%10lld B  %5.1f B/point/curve  rss %7ld KiB  "
          "peak %7ld KiB\n",
          step, form.NChart->PointCount(1), grown, grown / (4.0 * step), StatusKiB("VmRSS"),
          StatusKiB("VmHWM"));
      std::fflush(stdout);
    }
  }
}

// Checks an export of `points` lines: CR LF after each, times ascending.
// Prints what is wrong and returns false.
bool CheckExport(const char* name, long points) {
  const std::string text = ReadFile(name);
  long lines = 0;
  double previous = -HUGE_VAL;
  std::size_t begin = 0;
  while (begin < text.size()) {
    const std::size_t end = text.find('\n', begin);
    if (end == std::string::npos || end == begin || text[end - 1] != '\r') {
      std::printf("%s: line %ld does not end in CR LF\n", name, lines + 1);
      return false;
    }
    const std::string line = text.substr(begin, end - 1 - begin);
    const std::size_t separator = line.find(" ; ");
    char* after = nullptr;
    const double time = std::strtod(line.c_str(), &after);
    if (separator == std::string::npos || after != line.c_str() + separator || !(time > previous)) {
      std::printf("%s: line %ld (\"%s\") has no time above the one before\n", name, lines + 1,
                  line.c_str());
      return false;
    }
    previous = time;
    ++lines;
    begin = end + 1;
  }
  if (lines != points) {
    std::printf("%s: %ld lines, expected %ld\n", name, lines, points);
    return false;
  }
  std::printf("  %s: %ld lines, %zu bytes, CR LF, ascending times, last \"%s\"\n", name, lines,
              text.size(), text.substr(text.rfind('\n', text.size() - 2) + 1).c_str());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  TApplication app(argc, argv);
  const long steps = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 200000;
  const long every = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 20000;
  if (steps <= 0 || every <= 0) {
    std::fprintf(stderr, "usage: chart_long_run [steps > 0] [report every > 0]\n");
    return 2;
  }
  // No message box on the offscreen platform: nobody could close it.
  SetErrorDisplay([](const QString& message) {
    std::fprintf(stderr, "error: %s\n", message.toLocal8Bit().constData());
  });
  constexpr long RepaintEvery = 2000;  // steps between repaints (100 s of a run at 50 ms)

  TMForm form;  // start-up defaults; the engine's molecules are allocated here
  form.show();
  QApplication::processEvents();
  long repaints = 0;  // of either chart, to show that the event loop drew the curves
  for (TChart* chart : {form.CChart, form.NChart})
    QObject::connect(chart, &QCustomPlot::afterReplot, [&repaints] { ++repaints; });
  std::printf("start-up: heap %lld B, rss %ld KiB\n", HeapBytes(), StatusKiB("VmRSS"));

  const long long heapBase = HeapBytes();
  std::printf("run 1: %ld steps, 4 points each, repaint every %ld steps\n", steps, RepaintEvery);
  auto start = std::chrono::steady_clock::now();
  Plot(form, steps, every, RepaintEvery, heapBase);
  std::printf("  plotted in %.2f s, %ld chart repaints\n",
              Seconds(std::chrono::steady_clock::now() - start), repaints);
  const long long heapAfterFirst = HeapBytes();

  bool good = true;
  for (int round = 0; round < 2; ++round) {
    start = std::chrono::steady_clock::now();
    form.SaveCButtonClick();
    const double cSeconds = Seconds(std::chrono::steady_clock::now() - start);
    start = std::chrono::steady_clock::now();
    form.SaveNButtonClick();
    const double nSeconds = Seconds(std::chrono::steady_clock::now() - start);
    std::printf("export %d: C1(t).txt %.1f ms, N1(t).txt %.1f ms\n", round + 1, cSeconds * 1e3,
                nSeconds * 1e3);
  }
  good = CheckExport("C1(t).txt", steps) && good;
  good = CheckExport("N1(t).txt", steps) && good;
  std::printf("after export: heap +%lld B over run 1's end\n", HeapBytes() - heapAfterFirst);

  // Apply empties the curves; the same run again must not need more memory.
  form.ApplyButtonClick();
  QApplication::processEvents();
  std::printf("after Apply: heap +%lld B over start-up, points/curve %d\n", HeapBytes() - heapBase,
              form.CChart->PointCount(1));
  std::printf("run 2: the same %ld steps again\n", steps);
  Plot(form, steps, every, RepaintEvery, heapBase);
  std::printf("run 2 ends %+lld B from run 1's end\n", HeapBytes() - heapAfterFirst);
  std::printf("peak rss %ld KiB\n", StatusKiB("VmHWM"));
  return good ? 0 : 1;
}
