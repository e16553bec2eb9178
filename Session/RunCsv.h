// The run CSV: a whole run ("Export run...", kelvane-run's --csv) that a
// spreadsheet opens and pandas reads with `pandas.read_csv(name, comment="#")`,
// and that Open and `kelvane-run --session` replay. Written and read here
// only. Plain C++.
//
//   # Kelvane 0.1 run export
//   # seeds: placement 5555555; x 5324575; y 5548235; z 5564875
//   # SIM_B0 External Cube Rib [m]: 1e-05          the setup the rows start from
//   ...
//   # species 1: SP_C Concentration [m-3]: 7.2e+20; SP_A ...; SP_D ...; molecules 719999
//   # replay: the actions from a fresh engine (the rows are the steps after the last apply)
//   # > apply SIM_B0 1e-05; SIM_B1 1e-06; SIM_Q 0.001; SIM_T 293.15; SIM_DT 0.0001
//   # > add species SP_C 7.2e+20; SP_A 1.5e-09; SP_D 1.43e-10
//   t [s],inside count,reference count,inside concentration [m^-3],total concentration
//   [m^-3],expected count 0.0001,0,719,0,7.2e+20,1.2e-05
//
// The "# > " lines are the engine's actions since it was made with those
// seeds (Actions.h), up to the last one taken; the steps after it are the
// rows. Header lines carry no commas, so that a spreadsheet keeps each in one
// cell. Numbers are the shortest texts that read back as the same doubles;
// the last column, the expected count by the diffusion equation, is empty
// where there is none. Files without "# > " lines (older ones) hold the setup
// alone, which starts again from a fresh engine.
#pragma once

#include <istream>
#include <string>
#include <vector>

#include "Session/Actions.h"
#include "Session/RunRecord.h"
#include "Statg/Statg.h"

class TEngineRun;
struct TRunLength;
class TVolume;
struct TSession;

// The header lines that describe the setup of `volume` (parameters, then
// each species with its molecules).
std::string RunCsvSetupLines(const TVolume& volume);

// The whole header, column names included: the version, `seeds`, the setup
// lines, and `actions` (trailing steps left out).
std::string RunCsvHeader(const std::string& setupLines, const TStreamStates& seeds,
                         const TActions& actions);
// The header of a run about to go on for `length` from `run` as the replay
// of `actions.Before` left it: the actions it records are those before and
// those of `actions.During` that the run reaches, so that the file replays
// the run it holds and no more.
std::string RunCsvHeader(const TEngineRun& run, const TRunActions& actions,
                         const TRunLength& length);
// The header of `run` as it stands: the setup its rows start from, its actions.
std::string RunCsvHeader(const TEngineRun& run);
// One row.
std::string RunCsvLine(const TRunSample& sample);
// Header and every row of `run`'s record.
std::string RunCsv(const TEngineRun& run);

// Whether `firstLine` opens a run CSV ("# Kelvane 0.1 run export").
bool IsRunCsvStart(const std::string& firstLine);

// The session a run CSV's header holds (setup, seeds, actions), read from `in`
// up to and including its column names, `first` being the file's first line
// already read, and the number of its column names' line in `columnsLine`.
// Throws TError "<name>:<line>: ..." for what is malformed.
TSession ParseRunCsvHeader(std::istream& in, std::string first, const std::string& name,
                           std::size_t* columnsLine = nullptr);

// A run CSV's measured curves, step by step.
struct TRunCurves {
  std::vector<double> Times;           // s
  std::vector<double> Counts;          // molecules inside the inner cube
  std::vector<double> Concentrations;  // m^-3
};
// The session and the curves of the run CSV `fileName`. Throws TError
// "<name>:<line>: ..." for what is no run CSV (or "Cannot read <name>: ...").
TSession ReadRunCsv(const std::string& fileName, TRunCurves& curves);
