// An engine together with what was done to it and what it measured: the
// actions since it was made (Actions.h) and the run record of the steps since
// the last Apply. The window, kelvane-run and the tests drive an engine
// through this one object, so that every run carries its own replay. Plain C++.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "Diffunit/Diffunit.h"
#include "Session/Actions.h"
#include "Session/RunRecord.h"
#include "Statg/Statg.h"

struct TSession;

class TEngineRun {
 public:
  // A fresh engine: no parameters, no species, streams at `seeds`.
  explicit TEngineRun(const TStreamStates& seeds = TStreamStates());
  // The engine's species point back into it: the object stays where it was made.
  TEngineRun(const TEngineRun&) = delete;
  TEngineRun& operator=(const TEngineRun&) = delete;

  TVolume& Volume() { return Engine; }
  const TVolume& Volume() const { return Engine; }
  const TActions& Actions() const { return Done; }
  const TRunRecord& Record() const { return Run; }
  TRunRecord& Record() { return Run; }
  // The seeds the engine's streams started from.
  const TStreamStates& Seeds() const { return StartSeeds; }

  // Does `action` (not Steps) and logs it; Apply restarts the record, a
  // species change restarts its averages. Throws what the engine throws
  // (TCancelled when the progress callback stopped a placement), changing
  // nothing.
  void Do(const TAction& action);

  // One step, logged and recorded; then `OnSample` hears of it. A step the
  // engine fails (TError) is logged all the same, since the engine has moved.
  void Step();
  // Told of every recorded step, with the band in force for it.
  std::function<void(const TRunSample&, const std::optional<TBand>&)> OnSample;

  // The header lines that describe the setup the record's rows start from
  // (Exports.h), kept from the record's first step on.
  const std::string& SetupLines() const { return RowsSetup; }

 private:
  void KeepSetupUntilFirstStep();

  TStreamStates StartSeeds;
  TVolume Engine;
  TActions Done;
  TRunRecord Run;
  std::string RowsSetup;
};

// Progress of long work, 0 to 1; false stops it.
using TReplayProgress = std::function<bool(double done)>;

// Gives a fresh `run` every action of `actions` (steps included), reporting
// the share done now and then; the placements report through the engine's
// own progress callback, which this sets for the time of the replay. Throws
// TError (the engine's, or TCancelled when `progress` said stop), with the
// index of the action it came from in `failed` (if given), after which `run`
// is half built and only fit to be thrown away.
void Replay(TEngineRun& run, const TActions& actions, const TReplayProgress& progress = {},
            std::size_t* failed = nullptr);

// What a refusal `what` of `action` says, for `run` as the replay left it:
// "species 2: <what>" for a species action, `what` alone for Apply.
std::string RefusalOf(const TEngineRun& run, const TAction& action, const std::string& what);

// How long a run goes: a number of steps, or until its clock reaches a time.
struct TRunLength {
  std::optional<std::int64_t> Steps;
  std::optional<double> Until;  // s: runs the steps whose time falls before Until less half a step
};

// Whether a run of `length` from its start at time 0, with time step
// `timeStep`, takes its step number `step` (counted from 1).
bool TakesStep(const TRunLength& length, double timeStep, std::int64_t step);

// Steps `run` on from the start of its rows for `length`, doing `during` (the
// actions taken while the run went on: RunStart onwards, without trailing
// steps) where they fall. Before each step `keepGoing` (if any) may stop the
// run. Returns the message of a failed step or action (empty: none); the
// steps before it stay recorded.
std::string RunFor(TEngineRun& run, const TRunLength& length, const TActions& during,
                   const std::function<bool()>& keepGoing = {});

// The actions of `during` that a run of `length` reaches, with the time step
// `timeStep` in force: those RunFor would do.
TActions ReachedActions(const TActions& during, const TRunLength& length, double timeStep);
