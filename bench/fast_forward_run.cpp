// The window running flat out against the bare engine, over the same steps.
//
//   QT_QPA_PLATFORM=offscreen build/bench/fast_forward_run
//
// Starts the real window (offscreen) with its defaults, sets the fastest
// speed, presses start, and pauses when the simulated time reaches 0.5 s
// (5,000 steps), then exports both curves into the working directory as the
// two buttons do. Then the bare engine takes the same 5,000 steps from the
// same seeds. Prints both wall times and their ratio; exits 0, or 1 when the
// window's files differ from the engine's own run.
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "Mainform/Mainform.h"
#include "Session/Exports.h"
#include "Session/Parameters.h"
#include "Session/RunRecord.h"
#include "Statg/Statg.h"
#include "tests/test_support.h"

namespace {

constexpr double RunSeconds = 0.5;  // simulated

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  TApplication application(argc, argv);
  const long steps = std::lround(RunSeconds / Defaults::TimeStep);

  double windowSeconds = 0.0;
  {
    TMForm form;
    form.show();
    form.SpeedBox->setCurrentIndex(form.SpeedBox->count() - 1);  // flat out
    form.PauseAtStep(steps);
    QElapsedTimer clock;
    QObject::connect(form.Timer, &QTimer::timeout, [] {});
    QTimer::singleShot(0, [&] {
      clock.start();
      form.PauseButton->click();
    });
    QObject::connect(&form, &TMForm::EngineChanged, [&] {
      if (!clock.isValid() || form.Timer->isActive()) return;
      windowSeconds = static_cast<double>(clock.nsecsElapsed()) * 1e-9;
      form.SaveCButton->click();
      form.SaveNButton->click();
      application.quit();
    });
    application.exec();
    std::printf("window, flat out: %ld steps to t = %g s in %.3f s wall time\n",
                static_cast<long>(form.Statistics().Steps()), form.Engine().Time, windowSeconds);
  }

  // The bare engine: the same start-up and steps from the same seeds.
  TVolume volume;
  TRunRecord record;
  SetDefaultParameters(volume);
  volume.SetStepCallback([&](std::int32_t insideCount, std::int32_t innerCountTotal,
                             double insideConcentration, double totalConcentration, double time) {
    record.Add(SampleOf(volume, insideCount, innerCountTotal, insideConcentration,
                        totalConcentration, time),
               std::nullopt);
  });
  AddDefaultSpecies(volume);
  QElapsedTimer clock;
  clock.start();
  for (long step = 0; step < steps; ++step) volume.Step();
  const double engineSeconds = static_cast<double>(clock.nsecsElapsed()) * 1e-9;
  std::printf("bare engine: %ld steps in %.3f s wall time\n", steps, engineSeconds);
  std::printf("window / engine: %.2f\n", windowSeconds / engineSeconds);

  bool same = true;
  for (const TCurve curve : {TCurve::Concentration, TCurve::Count})
    same = same && ReadFile(CurveFileName(curve)) == CurveText(record.Samples(), curve);
  std::printf("exported curves %s the engine's own run\n", same ? "match" : "DIFFER FROM");
  return same ? 0 : 1;
}
