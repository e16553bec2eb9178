#include "Session/RunCsv.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <optional>

#include "Diffunit/Diffunit.h"
#include "Session/Conversions.h"
#include "Session/DoubleChars.h"
#include "Session/EngineRun.h"
#include "Session/Filling.h"
#include "Session/Parameters.h"
#include "Session/SessionFile.h"

#ifndef KELVANE_VERSION
#define KELVANE_VERSION "unknown"
#endif

namespace {

constexpr std::string_view CsvStart = "# Kelvane ";
constexpr std::string_view CsvEnd = " run export";
constexpr std::string_view SeedsStart = "seeds: ";
constexpr std::string_view ReplayLine =
    "# replay: the actions from a fresh engine (the rows are the steps after the last apply)";
constexpr std::string_view ActionStart = "> ";
// Written by older versions after a species changed mid-run; read still.
constexpr std::string_view ChangedLineStart = "# species changed while the run went on";
constexpr std::string_view Columns =
    "t [s],inside count,reference count,inside concentration [m^-3],"
    "total concentration [m^-3],expected count";
constexpr std::string_view ColumnsStart = "t [s],";

bool StartsWith(std::string_view text, std::string_view start) {
  return text.substr(0, start.size()) == start;
}

// "SIM_B0 External Cube Rib [m]: 1e-05"
std::string Parameter(const TParameterRow& row, double value) {
  return std::string(row.Key) + " " + row.Caption + ": " + ExactNumberText(value);
}

// The row of `rows` whose key starts `field` ("KEY Caption: value"), and the value's text.
template <std::size_t Count>
const TParameterRow* RowAndValue(std::string_view field, const TParameterRow (&rows)[Count],
                                 std::string& value) {
  const std::size_t space = field.find(' ');
  const std::size_t colon = field.rfind(": ");
  if (space == std::string_view::npos || colon == std::string_view::npos || colon < space)
    return nullptr;
  const std::string_view key = field.substr(0, space);
  value = std::string(field.substr(colon + 2));
  for (const TParameterRow& row : rows)
    if (key == row.Key && !value.empty()) return &row;
  return nullptr;
}

[[noreturn]] void Fail(const std::string& name, std::size_t line, const std::string& what) {
  throw TError(name + ":" + std::to_string(line) + ": " + what);
}

// "placement 5555555; x 5324575; y 5548235; z 5564875": four odd states.
bool ParseSeeds(std::string_view text, TStreamStates& seeds) {
  std::int32_t* const states[4] = {&seeds.Placement, &seeds.X, &seeds.Y, &seeds.Z};
  const std::string_view names[4] = {"placement ", "x ", "y ", "z "};
  for (int i = 0; i < 4; ++i) {
    if (!StartsWith(text, names[i])) return false;
    text.remove_prefix(names[i].size());
    const std::size_t end = std::min(text.find("; "), text.size());
    const auto result = std::from_chars(text.data(), text.data() + end, *states[i]);
    if (result.ec != std::errc() || result.ptr != text.data() + end || *states[i] <= 0 ||
        *states[i] % 2 == 0)
      return false;
    text = end < text.size() ? text.substr(end + 2) : std::string_view();
  }
  return text.empty();
}

}  // namespace

// ---------------------------------------------------------------------------
// Writing

std::string RunCsvSetupLines(const TVolume& volume) {
  const TSimulationValues simulation = SimulationValuesOf(volume);
  std::string text;
  for (const TParameterRow& row : SimulationRows)
    text += "# " + Parameter(row, simulation.*row.Simulation) + "\n";
  for (int i = 0; i < static_cast<int>(volume.Species.size()); ++i) {
    const TSpeciesValues species = SpeciesValuesOf(volume, i);
    text += "# species " + std::to_string(i + 1) + ": ";
    for (const TParameterRow& row : SpeciesRows)
      text += Parameter(row, species.*row.Species) + "; ";
    text +=
        "molecules " + std::to_string(volume.Species[static_cast<std::size_t>(i)].SlotCount) + "\n";
  }
  // Where the expected count column stops holding; the reader skips it.
  if (const std::optional<TCoarseSteps> coarse = CoarseSteps(volume))
    text += "# " + CoarseStepsText(*coarse, '.') + "\n";
  return text;
}

std::string RunCsvHeader(const std::string& setupLines, const TStreamStates& seeds,
                         const TActions& actions) {
  std::string text = "# Kelvane " KELVANE_VERSION " run export\n";
  text += "# seeds: placement " + std::to_string(seeds.Placement) + "; x " +
          std::to_string(seeds.X) + "; y " + std::to_string(seeds.Y) + "; z " +
          std::to_string(seeds.Z) + "\n";
  text += setupLines;
  text += std::string(ReplayLine) + "\n";
  for (const TAction& action : WithoutTrailingSteps(actions))
    text += "# " + std::string(ActionStart) + ActionText(action) + "\n";
  return text + std::string(Columns) + "\n";
}

std::string RunCsvHeader(const TEngineRun& run) {
  const bool started = !run.Record().Samples().empty();
  return RunCsvHeader(started ? run.SetupLines() : RunCsvSetupLines(run.Volume()), run.Seeds(),
                      run.Actions());
}

std::string RunCsvHeader(const TEngineRun& run, const TRunActions& actions,
                         const TRunLength& length) {
  TActions written = actions.Before;
  for (const TAction& action : ReachedActions(actions.During, length, run.Volume().TimeStep))
    written.push_back(action);
  return RunCsvHeader(RunCsvSetupLines(run.Volume()), run.Seeds(), written);
}

std::string RunCsvLine(const TRunSample& sample) {
  // No expected count (Filling.h says when) leaves the field empty, which
  // pandas reads as NaN.
  const std::string expected =
      std::isnan(sample.ExpectedCount) ? std::string() : ExactNumberText(sample.ExpectedCount);
  return ExactNumberText(sample.Time) + "," + std::to_string(sample.InsideCount) + "," +
         std::to_string(sample.ReferenceCount) + "," + ExactNumberText(sample.InsideConcentration) +
         "," + ExactNumberText(sample.TotalConcentration) + "," + expected + "\n";
}

std::string RunCsv(const TEngineRun& run) {
  std::string text = RunCsvHeader(run);
  for (const TRunSample& sample : run.Record().Samples()) text += RunCsvLine(sample);
  return text;
}

// ---------------------------------------------------------------------------
// Reading

bool IsRunCsvStart(const std::string& firstLine) {
  std::string_view line(firstLine);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return StartsWith(line, CsvStart) && line.size() >= CsvStart.size() + CsvEnd.size() &&
         line.substr(line.size() - CsvEnd.size()) == CsvEnd;
}

TSession ParseRunCsvHeader(std::istream& in, std::string first, const std::string& name,
                           std::size_t* columnsLine) {
  std::array<std::string, SimulationRowCount> simulation;
  std::array<bool, SimulationRowCount> found{};
  std::vector<TSpeciesTexts> species;
  TSourceLines lines;
  TStreamStates seeds;
  TActions actions;
  bool changed = false;
  std::size_t lineNumber = 1;
  std::string line = std::move(first);
  for (;; ++lineNumber) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!StartsWith(line, "#")) break;
    const std::string_view body =
        std::string_view(line).substr(std::min<std::size_t>(2, line.size()));
    if (StartsWith(line, ChangedLineStart)) {
      changed = true;
    } else if (StartsWith(body, ActionStart)) {
      try {
        actions.push_back(ParseAction(body.substr(ActionStart.size())));
      } catch (const TError& error) {
        Fail(name, lineNumber, error.what());
      }
    } else if (StartsWith(body, SeedsStart)) {
      if (!ParseSeeds(body.substr(SeedsStart.size()), seeds))
        Fail(name, lineNumber, "expected seeds: placement N; x N; y N; z N (odd numbers above 0)");
    } else if (StartsWith(body, "SIM_")) {
      std::string value;
      const TParameterRow* row = RowAndValue(body, SimulationRows, value);
      if (!row) Fail(name, lineNumber, "not a parameter line: " + line);
      const std::size_t index = static_cast<std::size_t>(row - SimulationRows);
      simulation[index] = value;
      lines.Simulation[index] = lineNumber;
      found[index] = true;
    } else if (StartsWith(body, "species ")) {
      const std::string number = "species " + std::to_string(species.size() + 1) + ": ";
      if (!StartsWith(body, number)) Fail(name, lineNumber, "expected " + number + "...");
      TSpeciesTexts texts;
      std::array<bool, SpeciesRowCount> has{};
      std::string_view rest = body.substr(number.size());
      while (!rest.empty()) {
        const std::size_t end = std::min(rest.find("; "), rest.size());
        const std::string_view field = rest.substr(0, end);
        rest = end < rest.size() ? rest.substr(end + 2) : std::string_view();
        if (StartsWith(field, "molecules ")) continue;
        std::string value;
        const TParameterRow* row = RowAndValue(field, SpeciesRows, value);
        if (!row) Fail(name, lineNumber, "not a species value: " + std::string(field));
        texts.*row->SpeciesText = value;
        has[static_cast<std::size_t>(row - SpeciesRows)] = true;
      }
      for (std::size_t k = 0; k < SpeciesRowCount; ++k)
        if (!has[k])
          Fail(name, lineNumber,
               "species " + std::to_string(species.size() + 1) + " has no " + SpeciesRows[k].Key);
      species.push_back(texts);
      lines.Species.push_back({lineNumber, lineNumber, lineNumber});
    }
    if (!std::getline(in, line)) {
      if (in.bad())
        Fail(name, lineNumber, std::string("cannot be read on: ") + std::strerror(errno));
      Fail(name, lineNumber, "the file ends within its header: no column names");
    }
  }
  if (!StartsWith(line, ColumnsStart))
    Fail(name, lineNumber, "expected the column names after the header");
  for (std::size_t i = 0; i < SimulationRowCount; ++i)
    if (!found[i])
      Fail(name, lineNumber, "the header has no " + std::string(SimulationRows[i].Key));
  if (!actions.empty()) {
    // The lines above give the setup the rows start from; the session is the
    // setup the actions end with, as Open shows it and a legend compares it.
    TSetupValues after;
    try {
      after = SetupAfter(actions);
    } catch (const TError& error) {
      Fail(name, lineNumber, error.what());
    }
    for (std::size_t i = 0; i < SimulationRowCount; ++i)
      simulation[i] = ExactNumberText(after.Simulation.*SimulationRows[i].Simulation);
    species.clear();
    for (const TSpeciesValues& values : after.Species) {
      TSpeciesTexts texts;
      for (const TParameterRow& row : SpeciesRows)
        texts.*row.SpeciesText = ExactNumberText(values.*row.Species);
      species.push_back(texts);
    }
    lines.Species.assign(species.size(), {lineNumber, lineNumber, lineNumber});
  }
  TSession session = CheckedSession(simulation, species, lines, name, lineNumber);
  // The values as the tables write them, to the last bit: shown on Open and
  // saved as a session, they do not mix "1e-05" with "1E-5".
  for (std::size_t i = 0; i < SimulationRowCount; ++i)
    session.SimulationTexts[i] = ExactTableText(session.Simulation.*SimulationRows[i].Simulation);
  for (std::size_t s = 0; s < session.Species.size(); ++s)
    for (const TParameterRow& row : SpeciesRows)
      session.SpeciesTexts[s].*row.SpeciesText = ExactTableText(session.Species[s].*row.Species);
  if (columnsLine) *columnsLine = lineNumber;
  session.SpeciesChangedWhileRunning = changed;
  session.Seeds = seeds;
  session.Actions = std::move(actions);
  return session;
}

namespace {

// The numbers of one CSV row, or false when it is no row of numbers.
bool ParseRow(const std::string& line, std::vector<double>& numbers) {
  numbers.clear();
  const char* p = line.data();
  const char* const end = p + line.size() - (!line.empty() && line.back() == '\r' ? 1 : 0);
  while (p <= end) {
    const char* comma = std::find(p, end, ',');
    double value = std::numeric_limits<double>::quiet_NaN();  // an empty field
    if (comma != p) {
      const auto result = DoubleChars::FromChars(p, comma, value);
      if (result.ec != std::errc() || result.ptr != comma) return false;
    }
    numbers.push_back(value);
    p = comma + 1;
  }
  return true;
}

}  // namespace

TSession ReadRunCsv(const std::string& fileName, TRunCurves& curves) {
  std::ifstream in(fileName, std::ios::binary);
  if (!in) throw TError("Cannot read " + fileName + ": " + std::strerror(errno));
  std::string line;
  if (!std::getline(in, line) && in.bad())
    throw TError("Cannot read " + fileName + ": " + std::strerror(errno));
  if (!IsRunCsvStart(line)) Fail(fileName, 1, "not a run CSV: no '# Kelvane ... run export' line");
  std::size_t lineNumber = 0;
  TSession session = ParseRunCsvHeader(in, line, fileName, &lineNumber);
  std::vector<double> numbers;
  while (std::getline(in, line)) {
    ++lineNumber;
    if (line.empty() || line == "\r") continue;
    // t, inside count, reference count, inside concentration, total
    // concentration, and the expected count in newer files.
    if (!ParseRow(line, numbers) || numbers.size() < 5 || numbers.size() > 6 ||
        std::isnan(numbers[0]))
      Fail(fileName, lineNumber, "not a row of the run");
    curves.Times.push_back(numbers[0]);
    curves.Counts.push_back(numbers[1]);
    curves.Concentrations.push_back(numbers[3]);
  }
  if (in.bad()) throw TError("Cannot read " + fileName + ": " + std::strerror(errno));
  return session;
}
