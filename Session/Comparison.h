// Runs kept beside the current one, to compare with: a run the window kept,
// or one read back from a run CSV. Plain C++.
#pragma once

#include <string>
#include <vector>

#include "Session/RunRecord.h"
#include "Session/SessionFile.h"

class TEngineRun;
class TVolume;

struct TKeptRun {
  std::string Name;  // "kept 1", or the CSV's file name
  TSession Setup;
  // The measured curves, step by step.
  std::vector<double> Times;           // s
  std::vector<double> Counts;          // molecules inside the inner cube
  std::vector<double> Concentrations;  // m^-3
};

// The setup `volume` runs with, as a session (its texts as the tables show
// the values, with '.'), without actions.
TSession SessionOf(const TVolume& volume);

// The setup of `run`'s engine with its seeds and the actions that led to it
// (without the steps after the last one).
TSession SessionOf(const TEngineRun& run);

// What sets `kept` apart from `current`, for a legend: each value of `kept`
// that differs, as "dt 0.0002", "b1 2E-6", "D 7.15E-11" (species numbered
// when there are several: "D2 7.15E-11"), or "2 species"; "same setup" when
// the values and the actions that led to them (ActionsOf) are the same, and
// "other actions" when only the actions (or the seeds) differ. Numbers with
// `separator`.
std::string SetupDifference(const TSession& kept, const TSession& current, char separator);

// A run CSV's setup and measured curves, named by the file. Throws TError "<name>:<line>: ..."
// for what is no run CSV (or "Cannot read <name>: ...").
TKeptRun ReadKeptRun(const std::string& fileName);

// The runs kept beside the run now, at most Most, each named once: "kept 1",
// "kept 2", ... while any are kept (a run refused for lack of room takes no
// number), or by its file. The window and the page draw their curves; this
// says what they are called and how they differ from the run now.
class TKeptRunList {
 public:
  static constexpr int Most = 8;

  // The run's curves so far, with the setup it ran; throws TError when the
  // run has no steps yet or Most are kept.
  TKeptRun Keep(const std::vector<TRunSample>& samples, const TSession& setupNow);
  // A run read from a file; throws TError when Most are kept.
  void Add(const TKeptRun& run);
  void Remove(int index);  // an index outside the kept runs does nothing
  void Clear();
  int Count() const { return static_cast<int>(Runs.size()); }
  // Each kept run's legend entry against the setup now: "kept 1: D 7.15E-11".
  std::vector<std::string> Labels(const TSession& now, char separator) const;

 private:
  struct TKept {
    std::string Name;
    TSession Setup;
  };
  std::vector<TKept> Runs;
  int Made = 0;  // numbers the next kept run
};
