#include "Session/Checks.h"

#include <algorithm>

#include "Diffunit/Diffunit.h"
#include "Session/Conversions.h"

namespace {

std::size_t RowIndex(const char* key) {
  return static_cast<std::size_t>(RowOfKey(SimulationRows, key) - SimulationRows);
}
std::size_t SpeciesRowIndex(const char* key) {
  return static_cast<std::size_t>(RowOfKey(SpeciesRows, key) - SpeciesRows);
}

// Refusals go first, so that the first finding a caller refuses is the one
// it names, whatever order the values were checked in.
std::vector<TFinding> RefusalsFirst(std::vector<TFinding> findings) {
  std::stable_partition(findings.begin(), findings.end(),
                        [](const TFinding& finding) { return finding.Refused; });
  return findings;
}

}  // namespace

std::string FindingKey(const TFinding& finding) {
  if (finding.Species == 0) return SimulationRows[finding.Row].Key;
  return "species " + std::to_string(finding.Species) + " " + SpeciesRows[finding.Row].Key;
}

std::string FindingText(const TFinding& finding) {
  return FindingKey(finding) + ": " + finding.What;
}

std::vector<TFinding> SimulationFindings(const TSimulationValues& values, char separator) {
  std::vector<TFinding> findings;
  const auto text = [&](double value) { return NumberToText(value, separator); };
  const auto add = [&](bool refused, const char* key, const std::string& what) {
    findings.push_back({refused, 0, RowIndex(key), what});
  };
  const double b0 = values.OuterRib, b1 = values.InnerRib;
  // A negative rib gives a negative volume and with it a negative count of
  // molecules, which the engine refuses to place.
  if (b0 < 0.0)
    add(true, Key::SIM_B0, text(b0) + " is below 0: a cube of negative rib cannot be filled");
  else if (b0 == 0.0)
    add(false, Key::SIM_B0, "0 is not above 0: the outer cube has no volume");
  if (b1 < 0.0)
    add(true, Key::SIM_B1, text(b1) + " is below 0: a cube of negative rib cannot be filled");
  else if (b1 == 0.0)
    add(false, Key::SIM_B1, "0 is not above 0: the inner cube has no volume");
  // Above the outer rib the medium's volume is negative, and so would be the
  // molecules placed in it; equal to it the medium is empty, which the
  // engine runs without a molecule to move.
  if (b0 >= 0.0 && b1 > b0)
    add(true, Key::SIM_B1,
        text(b1) + " is above the outer rib " + text(b0) +
            ": the medium between the cubes would have a negative volume");
  else if (b0 > 0.0 && b1 == b0)
    add(false, Key::SIM_B1,
        text(b1) + " is not below the outer rib " + text(b0) +
            ": no medium is left between the cubes");
  // Viscosity and temperature only serve the Stokes-Einstein buttons; the
  // walk itself never reads them.
  if (!(values.Viscosity > 0.0))
    add(false, Key::SIM_Q,
        text(values.Viscosity) + " is not above 0: no medium has such a viscosity");
  if (!(values.Temperature > 0.0))
    add(false, Key::SIM_T,
        text(values.Temperature) + " is not above 0 K: no medium has such a temperature");
  // The step's variance is 2 D dt: a negative dt takes the square root of a
  // negative as soon as a species is placed with it.
  if (values.TimeStep < 0.0)
    add(true, Key::SIM_DT,
        text(values.TimeStep) + " is below 0: a step of negative time cannot be run");
  else if (values.TimeStep == 0.0)
    add(false, Key::SIM_DT, "0 is not above 0: the molecules never move and the time stands still");
  return RefusalsFirst(findings);
}

std::vector<TFinding> SpeciesFindings(const TSpeciesValues& values, std::size_t number,
                                      char separator) {
  std::vector<TFinding> findings;
  const auto text = [&](double value) { return NumberToText(value, separator); };
  const auto add = [&](bool refused, const char* key, const std::string& what) {
    findings.push_back({refused, number, SpeciesRowIndex(key), what});
  };
  if (values.Concentration < 0.0)
    add(true, Key::SP_C,
        text(values.Concentration) + " is below 0: a negative count of molecules cannot be placed");
  if (!(values.Radius > 0.0))
    add(false, Key::SP_A, text(values.Radius) + " is not above 0: a molecule has a size");
  // A negative coefficient gives a negative variance 2 D dt.
  if (values.Diffusion < 0.0)
    add(true, Key::SP_D,
        text(values.Diffusion) + " is below 0: a negative spread cannot be walked");
  else if (values.Diffusion == 0.0 && values.Concentration > 0.0)
    add(false, Key::SP_D, "0 is not above 0: the molecules of this species never move");
  return RefusalsFirst(findings);
}

std::vector<TFinding> SetupFindings(const TSimulationValues& simulation,
                                    const std::vector<TSpeciesValues>& species, char separator) {
  std::vector<TFinding> findings = SimulationFindings(simulation, separator);
  for (std::size_t i = 0; i < species.size(); ++i) {
    const std::vector<TFinding> more = SpeciesFindings(species[i], i + 1, separator);
    findings.insert(findings.end(), more.begin(), more.end());
  }
  return RefusalsFirst(findings);
}

const TFinding* FirstRefusal(const std::vector<TFinding>& findings) {
  for (const TFinding& finding : findings)
    if (finding.Refused) return &finding;
  return nullptr;
}

void RefuseFindings(const std::vector<TFinding>& findings) {
  if (const TFinding* refusal = FirstRefusal(findings)) throw TError(FindingText(*refusal));
}

std::string SetupNotes(const TVolume& volume, char separator) {
  std::vector<TSpeciesValues> species;
  for (int i = 0; i < static_cast<int>(volume.Species.size()); ++i)
    species.push_back(SpeciesValuesOf(volume, i));
  std::string text;
  for (const TFinding& finding : SetupFindings(SimulationValuesOf(volume), species, separator))
    if (!finding.Refused) text += (text.empty() ? "" : "\n") + FindingText(finding);
  return text;
}
