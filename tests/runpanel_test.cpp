// The run panel's own objects apart from the window: the run control paces
// steps it does not take itself, and the kept runs fill the charts and the
// Runs menu. Runs on Qt's offscreen platform.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFrame>
#include <cstdint>
#include <string>
#include <vector>

#include "Diffunit/Diffunit.h"
#include "Mainform/ChartView.h"
#include "Mainform/KeptRuns.h"
#include "Mainform/RunControl.h"
#include "tests/qt_test_support.h"

namespace {

// Runs the event loop until `done` holds (false after a generous while).
template <class TCondition>
bool Await(const TCondition& done) {
  QElapsedTimer clock;
  clock.start();
  while (!done() && clock.elapsed() < 20000) QApplication::processEvents();
  return done();
}

// A run control whose steps only count, and which pauses at the step asked
// as the window does.
struct TCountedRun {
  QWidget Window;
  TChart* Chart = new TChart(&Window, "N", "N(t)", TChartScale::Logarithmic, '.');
  std::int64_t Steps = 0;
  TRunControl* Control =
      new TRunControl(&Window, new QFrame(&Window), Chart, {Chart},
                      {[this] { ++Steps; },
                       [this] {
                         if (Control->Running() && Control->ReachedPauseStep(Steps))
                           Control->StartOrPause();
                       },
                       [this] { return Steps; }});

  // Ticks come from the test only, so that no count depends on the
  // machine's speed.
  TCountedRun() { Control->Timer->setInterval(1 << 30); }

  void SetSpeed(int entry) { Control->SpeedBox->setCurrentIndex(entry); }
  bool SliceDone() const { return !Control->SliceTimer->isActive(); }
};

std::vector<TRunSample> Samples(int count) {
  std::vector<TRunSample> samples;
  for (int k = 1; k <= count; ++k) samples.push_back({k * 1e-4, k, 720, k * 1e15, 7.2e20, 0.0});
  return samples;
}

TSession SetupWithTimeStep(const std::string& timeStep) {
  return SessionFromTexts({"1E-5", "2E-6", "1E-3", "300", timeStep}, {{"1E20", "1E-9", "2E-10"}});
}

}  // namespace

// Each tick takes the steps of its speed; ticks that come while steps are
// queued add at most two ticks' worth; flat out stops at the step asked.
TEST(RunControl, TakesEachSpeedsStepsAndStopsAtTheStepAsked) {
  TCountedRun run;
  run.Control->StartOrPause();
  run.SetSpeed(2);  // x100
  run.Control->Tick();
  ASSERT_TRUE(Await([&] { return run.SliceDone(); }));
  EXPECT_EQ(run.Steps, 100);

  // Three ticks at x10 while the run holds: 20 queued, not 30.
  run.SetSpeed(1);
  run.Control->Timer->stop();
  for (int k = 0; k < 3; ++k) run.Control->Tick();
  EXPECT_EQ(run.Steps, 100);
  run.Control->Timer->start();
  run.Control->RunSlice();
  ASSERT_TRUE(Await([&] { return run.SliceDone(); }));
  EXPECT_EQ(run.Steps, 120);

  run.Control->PauseAtStep(1000);
  run.SetSpeed(3);  // flat out: no tick needed
  ASSERT_TRUE(Await([&] { return !run.Control->Running(); }));
  EXPECT_EQ(run.Steps, 1000);
  EXPECT_TRUE(run.SliceDone());
}

// Kept runs lie on both charts, are named against the setup now, never reuse
// a number, and the Runs menu removes the one chosen.
TEST(KeptRuns, FillTheChartsAndTheRunsMenu) {
  QWidget window;
  auto* counts = new TChart(&window, "N", "N(t)", TChartScale::Logarithmic, '.');
  auto* concentrations = new TChart(&window, "C", "C(t)", TChartScale::Linear, '.');
  TSession now = SetupWithTimeStep("1E-4");
  int asked = 0;
  TKeptRuns kept(&window, new QFrame(&window), counts, concentrations, '.', [&] {
    ++asked;
    return now;
  });
  const auto menu = [&] {
    QStringList texts;
    emit kept.RunsMenu->aboutToShow();  // as when it opens
    for (const QAction* action : kept.RunsMenu->actions()) texts << action->text();
    return texts;
  };
  kept.Relabel();
  EXPECT_EQ(asked, 0);  // nothing kept: the setup is not worked out
  EXPECT_TRUE(kept.RunsButton->toolTip().contains(QStringLiteral("Ctrl+Shift+O")));
  EXPECT_TRUE(kept.RunsButton->toolTip().contains(QStringLiteral("Ctrl+Shift+K")));
  EXPECT_THROW(kept.Keep({}), TError);
  EXPECT_FALSE(kept.ClearAction->isEnabled());

  kept.Keep(Samples(3));
  now = SetupWithTimeStep("2E-4");
  kept.Relabel();
  EXPECT_EQ(counts->OverlayLabel(0), QStringLiteral("kept 1: dt 0.0001"));
  EXPECT_EQ(menu(), (QStringList{"Compare with file...", "", "Remove kept 1: dt 0.0001",
                                 "Clear kept runs"}));
  EXPECT_TRUE(kept.ClearAction->isEnabled());

  while (kept.Count() < TKeptRuns::Most) kept.Keep(Samples(2));
  EXPECT_THROW(kept.Keep(Samples(2)), TError);  // "kept 9" refused
  kept.RunsMenu->actions()[2 + 1]->trigger();   // "Remove kept 2: same setup"
  EXPECT_EQ(kept.Count(), TKeptRuns::Most - 1);
  EXPECT_EQ(concentrations->OverlayLabel(1), QStringLiteral("kept 3: same setup"));
  kept.Keep(Samples(2));
  // The refused one took no number.
  EXPECT_EQ(counts->OverlayLabel(TKeptRuns::Most - 1), QStringLiteral("kept 9: same setup"));

  // With all cleared the numbers start again ("kept 11" with 3 in the list
  // used to follow).
  kept.Clear();
  EXPECT_EQ(menu(), (QStringList{"Compare with file...", "", "Clear kept runs"}));
  EXPECT_FALSE(kept.ClearAction->isEnabled());
  kept.Keep(Samples(2));
  EXPECT_EQ(counts->OverlayLabel(0), QStringLiteral("kept 1: same setup"));
  kept.Remove(0);
  kept.Keep(Samples(2));
  EXPECT_EQ(counts->OverlayLabel(0), QStringLiteral("kept 1: same setup"));
}
