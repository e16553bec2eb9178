#include "Session/Comparison.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>

#include "Diffunit/Diffunit.h"
#include "Session/Conversions.h"

namespace {

// Short names of the simulation values, in the order of SimulationRows.
const char* const SimulationNames[5] = {"b0", "b1", "\xCE\xB7", "T", "dt"};

double Field(const TSimulationValues& values, std::size_t index) {
  const double fields[5] = {values.OuterRib, values.InnerRib, values.Viscosity, values.Temperature,
                            values.TimeStep};
  return fields[index];
}

// The numbers of one CSV row, or false when it is no row of numbers.
bool ParseRow(const std::string& line, std::vector<double>& numbers) {
  numbers.clear();
  const char* p = line.data();
  const char* const end = p + line.size() - (!line.empty() && line.back() == '\r' ? 1 : 0);
  while (p <= end) {
    const char* comma = std::find(p, end, ',');
    double value = std::numeric_limits<double>::quiet_NaN();  // an empty field
    if (comma != p) {
      const auto result = std::from_chars(p, comma, value);
      if (result.ec != std::errc() || result.ptr != comma) return false;
    }
    numbers.push_back(value);
    p = comma + 1;
  }
  return true;
}

}  // namespace

TSession SessionOf(const TVolume& volume) {
  const TSimulationValues simulation = SimulationValuesOf(volume);
  std::array<std::string, 5> texts;
  for (std::size_t i = 0; i < 5; ++i) texts[i] = NumberToText(Field(simulation, i), '.');
  std::vector<TSpeciesTexts> species;
  for (int i = 0; i < static_cast<int>(volume.Species.size()); ++i) {
    const TSpeciesValues values = SpeciesValuesOf(volume, i);
    species.push_back({NumberToText(values.Concentration, '.'), NumberToText(values.Radius, '.'),
                       NumberToText(values.Diffusion, '.')});
  }
  TSession session;
  session.SimulationTexts = texts;
  session.SpeciesTexts = species;
  session.Simulation = simulation;
  for (int i = 0; i < static_cast<int>(volume.Species.size()); ++i)
    session.Species.push_back(SpeciesValuesOf(volume, i));
  return session;
}

std::string SetupDifference(const TSession& kept, const TSession& current, char separator) {
  std::string text;
  const auto add = [&](const std::string& name, double value) {
    text += (text.empty() ? "" : ", ") + name + " " + NumberToText(value, separator);
  };
  for (std::size_t i = 0; i < 5; ++i)
    if (Field(kept.Simulation, i) != Field(current.Simulation, i))
      add(SimulationNames[i], Field(kept.Simulation, i));
  if (kept.Species.size() != current.Species.size()) {
    text += (text.empty() ? "" : ", ") + std::to_string(kept.Species.size()) + " species";
  } else {
    const bool numbered = kept.Species.size() > 1;
    for (std::size_t s = 0; s < kept.Species.size(); ++s) {
      const std::string number = numbered ? std::to_string(s + 1) : "";
      const TSpeciesValues& a = kept.Species[s];
      const TSpeciesValues& b = current.Species[s];
      if (a.Concentration != b.Concentration) add("C" + number, a.Concentration);
      if (a.Radius != b.Radius) add("a" + number, a.Radius);
      if (a.Diffusion != b.Diffusion) add("D" + number, a.Diffusion);
    }
  }
  return text.empty() ? "same setup" : text;
}

TKeptRun ReadRunCsv(const std::string& fileName) {
  TKeptRun run;
  run.Name = std::filesystem::path(fileName).filename().string();
  run.Setup = ReadSession(fileName);
  std::ifstream in(fileName, std::ios::binary);
  if (!in) throw TError("Cannot read " + fileName + ": " + std::strerror(errno));
  std::string line;
  std::size_t lineNumber = 0;
  bool columns = false;
  std::vector<double> numbers;
  while (std::getline(in, line)) {
    ++lineNumber;
    if (!columns) {
      columns = line.rfind("t [s],", 0) == 0;  // the header's end, as ReadSession found it
      continue;
    }
    if (line.empty() || line == "\r") continue;
    // t, inside count, reference count, inside concentration, total
    // concentration, and the expected count in newer files.
    if (!ParseRow(line, numbers) || numbers.size() < 5 || numbers.size() > 6 ||
        std::isnan(numbers[0]))
      throw TError(fileName + ":" + std::to_string(lineNumber) + ": not a row of the run");
    run.Times.push_back(numbers[0]);
    run.Counts.push_back(numbers[1]);
    run.Concentrations.push_back(numbers[3]);
  }
  if (in.bad()) throw TError("Cannot read " + fileName + ": " + std::strerror(errno));
  return run;
}
