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
#include "Session/EngineRun.h"
#include "Session/RunCsv.h"

TSession SessionOf(const TVolume& volume) {
  TSession session;
  session.Simulation = SimulationValuesOf(volume);
  for (std::size_t i = 0; i < std::size(SimulationRows); ++i)
    session.SimulationTexts[i] =
        NumberToText(session.Simulation.*SimulationRows[i].Simulation, '.');
  for (int i = 0; i < static_cast<int>(volume.Species.size()); ++i) {
    const TSpeciesValues values = SpeciesValuesOf(volume, i);
    session.Species.push_back(values);
    TSpeciesTexts texts;
    for (const TParameterRow& row : SpeciesRows)
      texts.*row.SpeciesText = NumberToText(values.*row.Species, '.');
    session.SpeciesTexts.push_back(texts);
  }
  return session;
}

TSession SessionOf(const TEngineRun& run) {
  TSession session = SessionOf(run.Volume());
  session.Seeds = run.Seeds();
  session.Actions = WithoutTrailingSteps(run.Actions());
  return session;
}

std::string SetupDifference(const TSession& kept, const TSession& current, char separator) {
  std::string text;
  const auto add = [&](const std::string& name, double value) {
    text += (text.empty() ? "" : ", ") + name + " " + NumberToText(value, separator);
  };
  for (const TParameterRow& row : SimulationRows)
    if (kept.Simulation.*row.Simulation != current.Simulation.*row.Simulation)
      add(row.Symbol, kept.Simulation.*row.Simulation);
  if (kept.Species.size() != current.Species.size()) {
    text += (text.empty() ? "" : ", ") + std::to_string(kept.Species.size()) + " species";
  } else {
    const bool numbered = kept.Species.size() > 1;
    for (std::size_t s = 0; s < kept.Species.size(); ++s) {
      const std::string number = numbered ? std::to_string(s + 1) : "";
      for (const TParameterRow& row : SpeciesRows)
        if (kept.Species[s].*row.Species != current.Species[s].*row.Species)
          add(row.Symbol + number, kept.Species[s].*row.Species);
    }
  }
  // The same values reached another way (steps before an Apply, species
  // changed while running, other seeds) give other curves.
  if (text.empty() &&
      (WithoutTrailingSteps(ActionsOf(kept)) != WithoutTrailingSteps(ActionsOf(current)) ||
       kept.Seeds != current.Seeds))
    return "other actions";
  return text.empty() ? "same setup" : text;
}

TKeptRun ReadKeptRun(const std::string& fileName) {
  TKeptRun run;
  run.Name = std::filesystem::path(fileName).filename().string();
  TRunCurves curves;
  run.Setup = ReadRunCsv(fileName, curves);
  run.Times = std::move(curves.Times);
  run.Counts = std::move(curves.Counts);
  run.Concentrations = std::move(curves.Concentrations);
  return run;
}
