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

TKeptRun TKeptRunList::Keep(const std::vector<TRunSample>& samples, const TSession& setupNow) {
  if (samples.empty()) throw TError("The run has no steps to keep yet");
  TKeptRun run;
  run.Times.reserve(samples.size());
  run.Counts.reserve(samples.size());
  run.Concentrations.reserve(samples.size());
  for (const TRunSample& sample : samples) {
    run.Times.push_back(sample.Time);
    run.Counts.push_back(sample.InsideCount);
    run.Concentrations.push_back(sample.InsideConcentration);
  }
  run.Name = "kept " + std::to_string(Made + 1);
  run.Setup = setupNow;
  Add(run);
  ++Made;
  return run;
}

void TKeptRunList::Add(const TKeptRun& run) {
  if (Count() >= Most)
    throw TError("The charts hold " + std::to_string(Most) +
                 " kept runs already: remove one (Runs) first");
  Runs.push_back({run.Name, run.Setup});
}

void TKeptRunList::Remove(int index) {
  if (index < 0 || index >= Count()) return;
  Runs.erase(Runs.begin() + index);
  if (Runs.empty()) Made = 0;  // with none left, the numbers start again
}

void TKeptRunList::Clear() {
  Runs.clear();
  Made = 0;
}

std::vector<std::string> TKeptRunList::Labels(const TSession& now, char separator) const {
  std::vector<std::string> labels;
  for (const TKept& kept : Runs)
    labels.push_back(kept.Name + ": " + SetupDifference(kept.Setup, now, separator));
  return labels;
}
