// Replays: the actions taken on an engine written as text and read back, the
// window's setup recipe, and runs replayed from their run CSV on a fresh
// engine to the same bytes, whatever came before their rows.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "Session/Actions.h"
#include "Session/Comparison.h"
#include "Session/EngineRun.h"
#include "Session/RunCsv.h"
#include "Session/SessionFile.h"

namespace {

// A species of about 7,000 molecules at the default ribs: small enough to
// step many times in a test, large enough that molecules reach the inner cube.
const TSpeciesValues Small{7.2e18, 1.5e-9, 1.43e-10};

std::string ParseRefusal(const std::string& text) {
  try {
    ParseAction(text);
  } catch (const TError& error) {
    return error.what();
  }
  return "";
}

// The run CSV of `run` read back as a session, replayed on a fresh engine for
// as many rows as `run` has, and written again.
std::string Replayed(const TEngineRun& run) {
  const std::string csv = RunCsv(run);
  const TSession session = ParseSession(csv, "run.csv");
  const TActions actions = ActionsOf(session);
  const std::size_t start = RunStart(actions);
  TEngineRun again(session.Seeds);
  Replay(again, TActions(actions.begin(), actions.begin() + start));
  TRunLength length;
  length.Steps = static_cast<std::int64_t>(run.Record().Samples().size());
  EXPECT_EQ(
      RunFor(again, length, WithoutTrailingSteps(TActions(actions.begin() + start, actions.end()))),
      "");
  return RunCsv(again);
}

// A run started as the window starts, with the small species.
void Start(TEngineRun& run) {
  run.Do(TAction::Apply(TSimulationValues{}));
  run.Do(TAction::AddSpecies(Small));
}

void Steps(TEngineRun& run, int steps) {
  for (int i = 0; i < steps; ++i) run.Step();
}

}  // namespace

TEST(Actions, EveryKindReadsBackToTheSameBits) {
  TSimulationValues odd;
  odd.TimeStep = 0.000123456789;
  odd.InnerRib = 2.0000000000000004e-06;  // one bit above 2e-6
  const TAction actions[] = {
      TAction::Apply(odd),
      TAction::AddSpecies({7.2e20, 1.5e-9, 1.43e-10}),
      TAction::RemoveSpecies(2),
      TAction::ApplySpecies(0, {-1e300, 3e-9, 0.0}),
      TAction::StepsOf(123456789012),
  };
  for (const TAction& action : actions)
    EXPECT_EQ(ParseAction(ActionText(action)), action) << ActionText(action);
  EXPECT_EQ(ActionText(TAction::ApplySpecies(1, {7.2e20, 1.5e-9, 7.15e-11})),
            "apply species 2: SP_C 7.2e+20; SP_A 1.5e-09; SP_D 7.15e-11");
  EXPECT_EQ(ActionText(TAction::Apply(TSimulationValues{})),
            "apply SIM_B0 1e-05; SIM_B1 1e-06; SIM_Q 0.001; SIM_T 293.15; SIM_DT 0.0001");
  EXPECT_EQ(ActionText(TAction::RemoveSpecies(0)), "remove species 1");
  // Keys in any order.
  EXPECT_EQ(ParseAction("add species SP_D 1; SP_A 2; SP_C 3"),
            TAction::AddSpecies({3.0, 2.0, 1.0}));
}

TEST(Actions, MalformedLinesSayWhatIsWrong) {
  EXPECT_EQ(ParseRefusal("jump 3"),
            "not an action: 'jump 3' (apply, add species, remove species, apply species, steps)");
  EXPECT_EQ(ParseRefusal("steps 0"), "'0' is no number of steps (1, 2, ...)");
  EXPECT_EQ(ParseRefusal("steps 2x"), "'2x' is no number of steps (1, 2, ...)");
  EXPECT_EQ(ParseRefusal("remove species 0"), "'0' is no species number (1, 2, ...)");
  EXPECT_EQ(ParseRefusal("apply species 1 SP_C 1; SP_A 1; SP_D 1"),
            "expected 'apply species N: SP_C ...'");
  EXPECT_EQ(ParseRefusal("add species SP_C 1; SP_A 1"), "no SP_D");
  EXPECT_EQ(ParseRefusal("add species SP_C 1; SP_C 1; SP_A 1; SP_D 1"), "SP_C given twice");
  EXPECT_EQ(ParseRefusal("add species SP_C 1,5; SP_A 1; SP_D 1"), "SP_C: '1,5' is not a number");
  EXPECT_EQ(ParseRefusal("apply SIM_B0 1; SIM_X 2"), "not a KEY value pair: 'SIM_X 2'");
}

TEST(Actions, SetupRecipeAndWhereTheRowsStart) {
  TSession defaults;
  defaults.Species = {TSpeciesValues{}};
  EXPECT_EQ(ActionsOf(defaults),
            (TActions{TAction::Apply(TSimulationValues{}), TAction::AddSpecies(TSpeciesValues{})}));

  TSession two = defaults;
  two.Simulation.TimeStep = 0.0002;
  two.Species.push_back(Small);
  EXPECT_EQ(ActionsOf(two), (TActions{
                                TAction::Apply(TSimulationValues{}),
                                TAction::AddSpecies(TSpeciesValues{}),
                                TAction::AddSpecies(TSpeciesValues{}),
                                TAction::Apply(two.Simulation),
                                TAction::ApplySpecies(0, TSpeciesValues{}),
                                TAction::ApplySpecies(1, Small),
                            }));

  const TActions log = {TAction::Apply(TSimulationValues{}),
                        TAction::AddSpecies(Small),
                        TAction::StepsOf(20),
                        TAction::Apply(two.Simulation),
                        TAction::ApplySpecies(0, Small),
                        TAction::StepsOf(7),
                        TAction::RemoveSpecies(0),
                        TAction::StepsOf(5)};
  EXPECT_EQ(RunStart(log), 5u);
  EXPECT_EQ(WithoutTrailingSteps(log).size(), 7u);
  EXPECT_EQ(RunStart({}), 0u);

  // Steps merge; the header leaves the trailing ones to the rows.
  TActions merged;
  Append(merged, TAction::StepsOf(2));
  Append(merged, TAction::StepsOf(3));
  EXPECT_EQ(merged, TActions{TAction::StepsOf(5)});
}

TEST(Actions, ARunReachesTheActionsTakenWithinItsLength) {
  const TActions during = {TAction::StepsOf(3), TAction::RemoveSpecies(1), TAction::StepsOf(2),
                           TAction::AddSpecies(Small)};
  TRunLength three, four, untilHalf, untilThreeSteps;
  three.Steps = 3;
  four.Steps = 4;
  untilHalf.Until = 0.00045;  // four steps of 0.0001 s: the fifth would end past it
  untilThreeSteps.Until = 0.0003;
  EXPECT_EQ(ReachedActions(during, three, 0.0001), (TActions{during[0], during[1]}));
  EXPECT_EQ(ReachedActions(during, four, 0.0001), (TActions{during[0], during[1]}));
  EXPECT_EQ(ReachedActions(during, untilHalf, 0.0001), (TActions{during[0], during[1]}));
  EXPECT_EQ(ReachedActions(during, untilThreeSteps, 0.0001), (TActions{during[0], during[1]}));
  TRunLength five;
  five.Steps = 5;
  EXPECT_EQ(ReachedActions(during, five, 0.0001), during);
  EXPECT_FALSE(TakesStep(untilThreeSteps, 0.0001, 4));
  EXPECT_TRUE(TakesStep(untilThreeSteps, 0.0001, 3));
}

// Each case used to replay from its last setup alone, which gave other
// curves from the first row on.
TEST(Replay, RunCsvReplaysWhateverCameBeforeItsRows) {
  TSimulationValues widerInner;
  widerInner.InnerRib = 3e-6;
  TSimulationValues otherStep;
  otherStep.TimeStep = 0.0002;

  TEngineRun applyTwice;
  Start(applyTwice);
  applyTwice.Do(TAction::Apply(otherStep));
  applyTwice.Do(TAction::Apply(otherStep));
  Steps(applyTwice, 10);
  EXPECT_EQ(Replayed(applyTwice), RunCsv(applyTwice));

  TEngineRun stepsBeforeApply;
  Start(stepsBeforeApply);
  Steps(stepsBeforeApply, 20);
  stepsBeforeApply.Do(TAction::Apply(TSimulationValues{}));
  Steps(stepsBeforeApply, 20);
  EXPECT_EQ(Replayed(stepsBeforeApply), RunCsv(stepsBeforeApply));

  // The molecules stay where the old ribs put them.
  TEngineRun newRibsKept;
  Start(newRibsKept);
  newRibsKept.Do(TAction::Apply(widerInner));
  Steps(newRibsKept, 10);
  EXPECT_EQ(Replayed(newRibsKept), RunCsv(newRibsKept));
  // The old shell reaches into the wider inner cube: 74 inside at once,
  // where molecules placed for the new ribs would start outside it.
  EXPECT_EQ(newRibsKept.Record().Samples().front().InsideCount, 74);

  TEngineRun speciesWhileRunning;
  Start(speciesWhileRunning);
  Steps(speciesWhileRunning, 5);
  speciesWhileRunning.Do(TAction::AddSpecies(Small));
  Steps(speciesWhileRunning, 5);
  speciesWhileRunning.Do(TAction::ApplySpecies(1, {3e18, 3e-9, 7.15e-11}));
  speciesWhileRunning.Do(TAction::RemoveSpecies(0));
  Steps(speciesWhileRunning, 5);
  const std::string csv = RunCsv(speciesWhileRunning);
  EXPECT_EQ(Replayed(speciesWhileRunning), csv);
  // The header's setup is the one the rows start from; the actions follow.
  EXPECT_NE(csv.find("# species 1: SP_C Concentration [m-3]: 7.2e+18;"), std::string::npos);
  EXPECT_EQ(csv.find("# species 2:"), std::string::npos);
  EXPECT_NE(csv.find("# > steps 5\n# > add species SP_C 7.2e+18; SP_A 1.5e-09; SP_D 1.43e-10\n"
                     "# > steps 5\n# > apply species 2: SP_C 3e+18; SP_A 3e-09; SP_D 7.15e-11\n"
                     "# > remove species 1\nt [s],"),
            std::string::npos);
}

TEST(Replay, TwoEnginesInOneProcessKeepTheirOwnStreams) {
  TEngineRun alone;
  Start(alone);
  Steps(alone, 8);
  TEngineRun first, second;
  Start(first);
  Start(second);
  for (int i = 0; i < 8; ++i) {
    first.Step();
    second.Step();
  }
  EXPECT_EQ(RunCsv(first), RunCsv(alone));
  EXPECT_EQ(RunCsv(second), RunCsv(alone));
  EXPECT_EQ(first.Volume().Streams, alone.Volume().Streams);
}

TEST(Replay, ProgressCoversStepsAndCancelStops) {
  TEngineRun run;
  Start(run);
  Steps(run, 300);
  const TActions actions = run.Actions();
  TEngineRun replayed;
  std::vector<double> shares;
  Replay(replayed, actions, [&](double share) {
    shares.push_back(share);
    return true;
  });
  ASSERT_GE(shares.size(), 5u);
  EXPECT_TRUE(std::is_sorted(shares.begin(), shares.end()));
  EXPECT_EQ(shares.back(), 1.0);
  EXPECT_EQ(replayed.Volume().Streams, run.Volume().Streams);

  TEngineRun cancelled;
  std::size_t failed = 99;
  EXPECT_THROW(Replay(
                   cancelled, actions, [](double share) { return share < 0.5; }, &failed),
               TCancelled);
  EXPECT_EQ(failed, 2u);  // within the steps
}

TEST(Replay, LegendTellsRunsReachedByOtherActions) {
  TEngineRun plain, stepped;
  Start(plain);
  Start(stepped);
  Steps(stepped, 3);
  stepped.Do(TAction::Apply(TSimulationValues{}));
  TSession a = ParseSession(RunCsv(plain), "a.csv");
  TSession b = ParseSession(RunCsv(stepped), "b.csv");
  EXPECT_EQ(SetupDifference(a, b, '.'), "other actions");
  EXPECT_EQ(SetupDifference(a, a, '.'), "same setup");
  // A session file starts fresh by the window's recipe (the default species
  // first, then Apply Species), which places the molecules otherwise than
  // adding the species at once did.
  const TSession file = ParseSession(SessionFileText(a), "a.kelvane");
  EXPECT_EQ(SetupDifference(file, a, '.'), "other actions");
  TEngineRun recipe;
  Replay(recipe, ActionsOf(file));
  EXPECT_EQ(SetupDifference(file, ParseSession(RunCsv(recipe), "r.csv"), '.'), "same setup");
}

TEST(Replay, HeaderSeedsAndActionsAreChecked) {
  TEngineRun run;
  Start(run);
  const std::string csv = RunCsv(run);
  const auto refusal = [&](const std::string& from, const std::string& to) {
    std::string text = csv;
    text.replace(text.find(from), from.size(), to);
    try {
      ParseSession(text, "run.csv");
    } catch (const TError& error) {
      return std::string(error.what());
    }
    return std::string();
  };
  EXPECT_EQ(refusal("z 5564875", "z 5564876"),
            "run.csv:2: expected seeds: placement N; x N; y N; z N (odd numbers above 0)");
  EXPECT_EQ(refusal("# > add species", "# > add specie"),
            "run.csv:11: not an action: 'add specie SP_C 7.2e+18; SP_A 1.5e-09; SP_D 1.43e-10' "
            "(apply, add species, remove species, apply species, steps)");
  TStreamStates other;
  other.X = 7;
  TEngineRun seeded(other);
  Start(seeded);
  EXPECT_EQ(ParseSession(RunCsv(seeded), "run.csv").Seeds, other);
}
