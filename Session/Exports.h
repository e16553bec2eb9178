// What a run is written as: the measured curves in the files of the "C1(t)"
// and "N1(t)" buttons (and kelvane-run's --curves), and the CSV of a whole
// run ("Export run...", kelvane-run's --csv) that a spreadsheet opens and
// pandas reads with `pandas.read_csv(name, comment="#")`. Each is a function
// of the run record's samples. Plain C++.
#pragma once

#include <string>
#include <vector>

#include "Session/RunRecord.h"

class TVolume;

// The two measured curves and the files they are written to.
enum class TCurve {
  Concentration,  // "C1(t).txt": molecules inside / inner volume [m^-3] against time
  Count,          // "N1(t).txt": molecules inside against time
};
const char* CurveFileName(TCurve curve);

// One line of a curve file: "t ; value" and CR LF, numbers with 6
// significant digits and '.'.
std::string CurveLine(const TRunSample& sample, TCurve curve);

// A whole curve file: one line per step in ascending time, steps of equal
// time in the order they came (so a negative time step writes the latest
// step first). Empty for no steps.
std::string CurveText(const std::vector<TRunSample>& samples, TCurve curve);

// The run CSV's header lines ("# ...": the program's version, the seeds, the
// applied parameters and every species of `volume`) and column names; then
// one line per step, in the order of the steps. The last column is the
// expected count by the diffusion equation, empty where there is none. Numbers with '.', in the
// shortest text that reads back as the same double, in exponent form below
// 1e-4 and from 1e6 on.
// A run whose species changed while it ran says so in a header line: its
// last setup alone does not replay it.
std::string RunCsvHeader(const TVolume& volume, bool speciesChangedWhileRunning = false);
std::string RunCsvLine(const TRunSample& sample);
std::string RunCsv(const TVolume& volume, const TRunRecord& record);
