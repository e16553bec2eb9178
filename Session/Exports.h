// The measured curves in the files of the "C1(t)" and "N1(t)" buttons (and
// kelvane-run's --curves), as functions of the run record's samples. The run
// CSV of a whole run is RunCsv.h's. Plain C++.
#pragma once

#include <string>
#include <vector>

#include "Session/RunRecord.h"

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
