#include "Session/Tables.h"

#include <algorithm>
#include <vector>

#include "Diffunit/Diffunit.h"
#include "Session/Checks.h"
#include "Session/Comparison.h"
#include "Session/Conversions.h"

namespace {

const std::string& SimulationText(const TSimulationTexts& texts, const char* key) {
  const TParameterRow* row = RowOfKey(SimulationRows, key);
  return texts[static_cast<std::size_t>(row - SimulationRows)];
}

}  // namespace

TSimulationValues ReadSimulationTable(const TSimulationTexts& texts, char separator) {
  TSimulationValues values;
  for (const char* key : {Key::SIM_DT, Key::SIM_T, Key::SIM_Q, Key::SIM_B1, Key::SIM_B0})
    values.*RowOfKey(SimulationRows, key)->Simulation =
        TextToNumber(SimulationText(texts, key), separator);
  // What the engine cannot run is refused in the words kelvane-run uses.
  RefuseFindings(SimulationFindings(values, separator));
  return values;
}

TSpeciesValues ReadSpeciesTable(const TSpeciesTexts& texts, char separator) {
  TSpeciesValues species;
  species.Radius = TextToNumber(texts.Radius, separator);
  species.Diffusion = TextToNumber(texts.Diffusion, separator);
  species.Concentration = TextToNumber(texts.Concentration, separator);
  return species;
}

TSpeciesTexts SpeciesTableTexts(const TSpeciesValues& species, char separator) {
  TSpeciesTexts texts;
  for (const TParameterRow& row : SpeciesRows)
    texts.*row.SpeciesText = NumberToText(species.*row.Species, separator);
  return texts;
}

TSession TablesSession(const TSimulationTexts& simulation, const TVolume& engine, int shown,
                       const TSpeciesTexts& shownTexts, char separator) {
  // Each text must read as a number here, as the handlers would read it.
  const auto canonical = [separator](const char* key, const std::string& text) {
    try {
      TextToNumber(text, separator);
    } catch (const TError& error) {
      throw TError(std::string(key) + ": " + error.what());
    }
    std::string dotted = text;
    if (separator != '.') std::replace(dotted.begin(), dotted.end(), separator, '.');
    return dotted;
  };
  TSimulationTexts texts;
  for (std::size_t i = 0; i < SimulationRowCount; ++i)
    texts[i] = canonical(SimulationRows[i].Key, simulation[i]);
  std::vector<TSpeciesTexts> species = SessionOf(engine).SpeciesTexts;
  if (shown >= 0 && static_cast<std::size_t>(shown) < species.size()) {
    TSpeciesTexts& one = species[static_cast<std::size_t>(shown)];
    for (const TParameterRow& row : SpeciesRows)
      one.*row.SpeciesText = canonical(row.Key, shownTexts.*row.SpeciesText);
  }
  return SessionFromTexts(texts, species);
}
