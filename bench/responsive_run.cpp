// How the window answers while it runs flat out: how soon a click on the
// start/pause button acts, and how often the charts repaint.
//
//   QT_QPA_PLATFORM=offscreen build/bench/responsive_run [seconds]
//
// For the default species and for one of 10^7 molecules: runs flat out for
// the given time (default 5 s) while another thread clicks start/pause every
// 200 to 400 ms (posted mouse events, as the window system would deliver
// them), and prints the delay from each click that pauses the run to its
// effect (median and largest) and the charts' repaints per second while
// running.
#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "Mainform/Mainform.h"
#include "Session/Parameters.h"
#include "bench/median.h"

namespace {

// Counts the paints of one widget.
class TPaintCounter : public QObject {
 public:
  int Paints = 0;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++Paints;
    return QObject::eventFilter(watched, event);
  }
};

void Measure(const char* what, const char* concentration, double seconds) {
  TMForm form;
  form.show();
  form.ValueListSpecies->SetValue(Key::SP_C, concentration);
  form.ApplySpSpeedButtonClick();
  form.SpeedBox->setCurrentIndex(form.SpeedBox->count() - 1);
  TPaintCounter paints;
  form.CChart->installEventFilter(&paints);

  QElapsedTimer clock;
  clock.start();
  std::mutex lock;
  std::vector<qint64> posted;  // ns on `clock` at which each click was sent
  std::vector<double> delays;  // ms from a click that paused the run to its handler
  double runningSeconds = 0.0;
  int runningPaints = 0;
  qint64 runningSince = -1;
  QObject::connect(form.PauseButton, &QToolButton::clicked, [&] {
    const qint64 now = clock.nsecsElapsed();
    std::lock_guard<std::mutex> guard(lock);
    if (!posted.empty()) {
      if (!form.Timer->isActive())
        delays.push_back(static_cast<double>(now - posted.front()) * 1e-6);
      posted.erase(posted.begin());
    }
    if (form.Timer->isActive()) {  // just started
      runningSince = now;
      paints.Paints = 0;
    } else if (runningSince >= 0) {
      runningSeconds += static_cast<double>(now - runningSince) * 1e-9;
      runningPaints += paints.Paints;
    }
  });

  // The events are made here: making one on another thread would give it
  // parts owned by that thread.
  const QPoint centre = form.PauseButton->rect().center();
  std::vector<QMouseEvent*> events;
  for (int k = 0; k < 2 * static_cast<int>(seconds * 5 + 2); ++k) {
    const QEvent::Type type = k % 2 ? QEvent::MouseButtonRelease : QEvent::MouseButtonPress;
    events.push_back(new QMouseEvent(type, centre, form.PauseButton->mapToGlobal(centre),
                                     Qt::LeftButton, k % 2 ? Qt::NoButton : Qt::LeftButton,
                                     Qt::NoModifier));
  }
  std::atomic<bool> done{false};
  std::thread clicker([&] {
    std::mt19937 random(7);
    std::uniform_int_distribution<int> wait(200, 400);
    std::size_t next = 0;
    while (!done && next + 1 < events.size()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(wait(random)));
      if (done) break;
      {
        std::lock_guard<std::mutex> guard(lock);
        posted.push_back(clock.nsecsElapsed());
      }
      QCoreApplication::postEvent(form.PauseButton, events[next++]);
      QCoreApplication::postEvent(form.PauseButton, events[next++]);
    }
    while (next < events.size()) delete events[next++];  // never posted
  });
  while (clock.elapsed() < static_cast<qint64>(seconds * 1000))
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  done = true;
  clicker.join();
  if (form.Timer->isActive()) form.PauseButton->click();

  const double median = delays.empty() ? 0.0 : Median(delays);
  const double largest = delays.empty() ? 0.0 : *std::max_element(delays.begin(), delays.end());
  std::printf(
      "%s (%d molecules): %zu pausing clicks, delay median %.1f ms, largest %.1f ms; "
      "%ld steps; %.1f chart repaints per second while running\n",
      what, form.Engine().Species[0].SlotCount, delays.size(), median, largest,
      static_cast<long>(form.Statistics().Steps()),
      runningSeconds > 0 ? runningPaints / runningSeconds : 0.0);
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  TApplication application(argc, argv);
  const double seconds = argc > 1 ? std::atof(argv[1]) : 5.0;
  Measure("defaults", "7.2E20", seconds);
  Measure("large species", "1E22", seconds);
  return 0;
}
