#include "Mainform/RunExport.h"

#include <charconv>

#include "Diffunit/Diffunit.h"
#include "Mainform/Parameters.h"
#include "Statg/Statg.h"

#ifndef KELVANE_VERSION
#define KELVANE_VERSION "unknown"
#endif

namespace {

// The shortest text that reads back as the same double, always with '.'.
std::string Exact(double x) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, x);
  return std::string(buffer, result.ptr);
}

std::string Caption(const char* key) {
  for (const TParameterRow& row : SimulationRows)
    if (std::string(row.Key) == key) return row.Caption;
  for (const TParameterRow& row : SpeciesRows)
    if (std::string(row.Key) == key) return row.Caption;
  return key;
}

// "# SIM_B0 External Cube Rib [m]: 1e-05"
std::string Parameter(const char* key, double value) {
  return std::string(key) + " " + Caption(key) + ": " + Exact(value);
}

}  // namespace

std::string RunCsvHeader(const TVolume& volume) {
  // Header lines carry no commas, so that a spreadsheet keeps each in one cell.
  std::string text = "# Kelvane " KELVANE_VERSION " run export\n";
  text += "# seeds: placement " + std::to_string(PlacementSeed) + "; x " +
          std::to_string(StepSeedX) + "; y " + std::to_string(StepSeedY) + "; z " +
          std::to_string(StepSeedZ) + "\n";
  text += "# " + Parameter(Key::SIM_B0, volume.OuterRib) + "\n";
  text += "# " + Parameter(Key::SIM_B1, volume.InnerRib) + "\n";
  text += "# " + Parameter(Key::SIM_Q, volume.Viscosity) + "\n";
  text += "# " + Parameter(Key::SIM_T, volume.Temperature) + "\n";
  text += "# " + Parameter(Key::SIM_DT, volume.TimeStep) + "\n";
  for (std::size_t i = 0; i < volume.Species.size(); ++i) {
    const TSpecies& species = volume.Species[i];
    text += "# species " + std::to_string(i + 1) + ": " +
            Parameter(Key::SP_C, species.Concentration) + "; " +
            Parameter(Key::SP_A, species.Radius) + "; " + Parameter(Key::SP_D, species.Diffusion) +
            "; molecules " + std::to_string(species.SlotCount) + "\n";
  }
  text +=
      "t [s],inside count,reference count,inside concentration [m^-3],"
      "total concentration [m^-3]\n";
  return text;
}

std::string RunCsvLine(const TRunRow& row) {
  return Exact(row.Time) + "," + Exact(row.InsideCount) + "," + Exact(row.ReferenceCount) + "," +
         Exact(row.InsideConcentration) + "," + Exact(row.TotalConcentration) + "\n";
}

std::string RunCsv(const TVolume& volume, const std::vector<TRunRow>& rows) {
  std::string text = RunCsvHeader(volume);
  for (const TRunRow& row : rows) text += RunCsvLine(row);
  return text;
}
