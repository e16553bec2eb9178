// What was done to an engine since it was made: the actions a user takes in
// the window (Apply, "+ Species", "- Species", "Apply Species") and the steps
// run between them. An engine made from the same seeds and given the same
// actions holds the same molecules and streams, bit for bit, so a list of
// actions replays a run whatever came before it. Plain C++.
//
// As text, one action a line (the run CSV's "# > " lines, Exports.h):
//
//   apply SIM_B0 1e-05; SIM_B1 1e-06; SIM_Q 0.001; SIM_T 293.15; SIM_DT 0.0001
//   add species SP_C 7.2e+20; SP_A 1.5e-09; SP_D 1.43e-10
//   steps 20
//   apply species 2: SP_C 7.2e+20; SP_A 1.5e-09; SP_D 7.15e-11
//   remove species 1
//
// Species are numbered from 1, as the window's list shows them; numbers are
// the shortest texts that read back as the same doubles.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "Session/Parameters.h"

struct TSession;

struct TAction {
  enum class TKind { Apply, AddSpecies, RemoveSpecies, ApplySpecies, Steps };
  TKind Kind = TKind::Steps;
  TSimulationValues Simulation;  // Apply
  TSpeciesValues Species;        // AddSpecies, ApplySpecies
  int Index = 0;                 // RemoveSpecies, ApplySpecies: 0 for the first species
  std::int64_t Steps = 0;        // Steps: how many, at least 1

  static TAction Apply(const TSimulationValues& values);
  static TAction AddSpecies(const TSpeciesValues& values);
  static TAction RemoveSpecies(int index);
  static TAction ApplySpecies(int index, const TSpeciesValues& values);
  static TAction StepsOf(std::int64_t steps);

  bool operator==(const TAction& other) const;
  bool operator!=(const TAction& other) const { return !(*this == other); }
};

using TActions = std::vector<TAction>;

// Appends `action`, adding steps to steps just before them.
void Append(TActions& actions, const TAction& action);

// Does `action` to `volume` (a whole Steps action is refused: steps are run
// one at a time by their caller). Throws what the engine throws, changing
// nothing.
void Perform(TVolume& volume, const TAction& action);

// One action as a line of text (without "# > " and the line end), and back.
// ParseAction throws TError saying what is wrong with the line.
std::string ActionText(const TAction& action);
TAction ParseAction(std::string_view text);

// The actions that set a fresh engine up as `session` says, as a user would in
// the window after start-up: Apply with the defaults and one default species
// (the start), "+ Species" for species 2 onwards (placed in the start's
// volume), Apply with the session's values where they differ from the
// defaults, then "Apply Species" for each species that the start did not
// already place as asked. A session that holds actions of its own (a run
// CSV) gives those.
TActions ActionsOf(const TSession& session);

// The parameters and species that `actions` leave an engine with (the
// defaults and no species where they give none). Throws TError for an action
// on a species that is not there by then.
struct TSetupValues {
  TSimulationValues Simulation;
  std::vector<TSpeciesValues> Species;
};
TSetupValues SetupAfter(const TActions& actions);

// Where the rows of a run start: after the last Apply and the actions that
// follow it before its first step. The actions from there on are those taken
// while the run went on.
std::size_t RunStart(const TActions& actions);

// `actions` without the steps at their end: the steps after the last action
// are the run's own rows, which a replay runs for as long as it is asked to.
TActions WithoutTrailingSteps(TActions actions);

// The actions of a run split where its rows start (RunStart): `Before` set a
// fresh engine up and are replayed whole; `During` (without trailing steps)
// were taken while the run went on, and RunFor does them where they fall.
struct TRunActions {
  TActions Before;
  TActions During;
};
TRunActions SplitAtRunStart(const TActions& actions);
