#include "Mainform/LongWork.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProgressDialog>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

namespace {

// Work shorter than this shows nothing.
qint64 QuietMilliseconds = 500;
// How often the window's events are looked at while the work goes on.
constexpr auto PollInterval = std::chrono::milliseconds(10);

}  // namespace

void SetLongWorkQuietTime(int milliseconds) { QuietMilliseconds = std::max(0, milliseconds); }

bool RunLongWork(QWidget* parent, const QString& label,
                 const std::function<void(const TWorkProgress& progress)>& work) {
  std::atomic<double> done{-1.0};  // below 0: nothing reported yet
  std::atomic<bool> cancelled{false};
  std::exception_ptr failure;
  std::mutex lock;
  std::condition_variable finishedSignal;
  bool finished = false;

  std::thread worker([&] {
    try {
      work([&](double share) {
        done = share;
        return !cancelled;
      });
    } catch (...) {
      failure = std::current_exception();
    }
    std::lock_guard<std::mutex> guard(lock);
    finished = true;
    finishedSignal.notify_one();
  });

  QProgressDialog bar(label, QStringLiteral("Cancel"), 0, 0, parent);
  bar.setWindowModality(Qt::WindowModal);
  bar.setAutoClose(false);
  bar.setAutoReset(false);
  bar.setMinimumDuration(0);
  bar.hide();
  QElapsedTimer clock;
  clock.start();
  for (;;) {
    {
      std::unique_lock<std::mutex> guard(lock);
      if (finishedSignal.wait_for(guard, PollInterval, [&] { return finished; })) break;
    }
    if (!bar.isVisible() && clock.elapsed() >= QuietMilliseconds) bar.show();
    if (bar.isVisible()) {
      const double share = done;
      if (share >= 0.0) {
        bar.setMaximum(1000);
        bar.setValue(static_cast<int>(share * 1000.0));
      }
      if (bar.wasCanceled()) cancelled = true;
    }
    // Paints and timers go on; clicks and keys wait until the bar, modal,
    // takes them (or the work has ended).
    QCoreApplication::processEvents(bar.isVisible() ? QEventLoop::AllEvents
                                                    : QEventLoop::ExcludeUserInputEvents);
  }
  worker.join();
  if (failure) {
    if (cancelled) return false;
    std::rethrow_exception(failure);
  }
  return true;
}
