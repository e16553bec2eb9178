#include "Session/EngineRun.h"

#include "Session/Filling.h"
#include "Session/RunCsv.h"

TEngineRun::TEngineRun(const TStreamStates& seeds) : StartSeeds(seeds), Engine(seeds) {
  Engine.SetStepCallback([this](std::int32_t insideCount, std::int32_t innerCountTotal,
                                double insideConcentration, double totalConcentration,
                                double time) {
    const TRunSample sample = SampleOf(Engine, insideCount, innerCountTotal, insideConcentration,
                                       totalConcentration, time);
    const std::optional<TBand> band = ExpectedBand(Engine);
    Run.Add(sample, band);
    if (OnSample) OnSample(sample, band);
  });
}

void TEngineRun::Do(const TAction& action) {
  Perform(Engine, action);
  Append(Done, action);
  if (action.Kind == TAction::TKind::Apply)
    Run.Restart(Expectation(Engine));
  else
    Run.SpeciesChanged(Expectation(Engine));
}

void TEngineRun::Step() {
  if (Run.Samples().empty()) RowsSetup = RunCsvSetupLines(Engine);
  Append(Done, TAction::StepsOf(1));
  Engine.Step();
}

void Replay(TEngineRun& run, const TActions& actions, const TReplayProgress& progress,
            std::size_t* failed) {
  // The share done counts a placed molecule and a moved one alike.
  double total = 0.0, done = 0.0;
  for (const TAction& action : actions)
    total += action.Kind == TAction::TKind::Steps ? static_cast<double>(action.Steps) : 1.0;
  const auto report = [&](double share) {
    if (progress && !progress(total > 0.0 ? (done + share) / total : 1.0)) throw TCancelled();
  };
  struct TReportsEnd {
    TVolume& Engine;
    ~TReportsEnd() { Engine.SetProgressCallback({}); }
  } reportsEnd{run.Volume()};
  if (progress)
    run.Volume().SetProgressCallback(
        [&](double share) { return progress(total > 0.0 ? (done + share) / total : 1.0); });
  for (std::size_t index = 0; index < actions.size(); ++index) {
    const TAction& action = actions[index];
    if (failed) *failed = index;
    if (action.Kind != TAction::TKind::Steps) {
      run.Do(action);
      done += 1.0;
      continue;
    }
    for (std::int64_t i = 0; i < action.Steps; ++i, done += 1.0) {
      // Every 64 steps: a few milliseconds at the defaults.
      if ((i & 63) == 0) report(0.0);
      try {
        run.Step();
      } catch (const TError&) {
        // The run being replayed met the same failure and went on.
      }
    }
  }
  report(0.0);
}

std::string RefusalOf(const TEngineRun& run, const TAction& action, const std::string& what) {
  // A species that could not be added is the one after those there are.
  const std::size_t number = action.Kind == TAction::TKind::AddSpecies
                                 ? run.Volume().Species.size() + 1
                                 : static_cast<std::size_t>(action.Index) + 1;
  if (action.Kind == TAction::TKind::Apply || action.Kind == TAction::TKind::Steps) return what;
  return "species " + std::to_string(number) + ": " + what;
}

namespace {

// The clock of a run from its start at time 0, as TVolume::Step advances it.
struct TRunClock {
  const TRunLength& Length;
  double TimeStep;
  double Time = 0.0;

  // Whether the step after `taken` steps, with the clock at Time, is taken.
  bool Takes(std::int64_t taken) const {
    return Length.Steps ? taken < *Length.Steps : Time + TimeStep / 2.0 < *Length.Until;
  }
};

}  // namespace

bool TakesStep(const TRunLength& length, double timeStep, std::int64_t step) {
  TRunClock clock{length, timeStep};
  if (length.Steps) return step <= *length.Steps;
  for (std::int64_t taken = 0; taken + 1 < step; ++taken) {
    if (!clock.Takes(taken)) return false;
    clock.Time = CheckedResult(timeStep + clock.Time);
  }
  return clock.Takes(step - 1);
}

TActions ReachedActions(const TActions& during, const TRunLength& length, double timeStep) {
  TActions reached;
  // One clock walked through the steps, as Step advances it.
  TRunClock clock{length, timeStep};
  std::int64_t taken = 0;
  for (const TAction& action : during) {
    if (action.Kind == TAction::TKind::Steps) {
      for (std::int64_t i = 0; i < action.Steps; ++i, ++taken) {
        if (!clock.Takes(taken)) return WithoutTrailingSteps(reached);
        clock.Time = CheckedResult(timeStep + clock.Time);
      }
    }
    reached.push_back(action);
  }
  return WithoutTrailingSteps(reached);
}

std::string RunFor(TEngineRun& run, const TRunLength& length, const TActions& during,
                   const std::function<bool()>& keepGoing) {
  TVolume& volume = run.Volume();
  TRunClock clock{length, volume.TimeStep};
  std::int64_t taken = 0;
  // Steps while the run takes them; false at the run's end.
  const auto step = [&](std::int64_t steps) {
    for (std::int64_t i = 0; i < steps; ++i, ++taken) {
      clock.Time = volume.Time;
      if (!clock.Takes(taken) || (keepGoing && !keepGoing())) return false;
      run.Step();
    }
    return true;
  };
  try {
    for (const TAction& action : during) {
      if (action.Kind == TAction::TKind::Steps) {
        if (!step(action.Steps)) return {};
      } else {
        run.Do(action);
      }
    }
    while (step(1)) {
    }
  } catch (const TError& error) {
    return error.what();
  }
  return {};
}
