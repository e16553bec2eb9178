#include "Session/Exports.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <numeric>

#include "Diffunit/Diffunit.h"
#include "Session/Conversions.h"
#include "Session/Parameters.h"
#include "Statg/Statg.h"

#ifndef KELVANE_VERSION
#define KELVANE_VERSION "unknown"
#endif

const char* CurveFileName(TCurve curve) {
  return curve == TCurve::Concentration ? "C1(t).txt" : "N1(t).txt";
}

std::string CurveLine(const TRunSample& sample, TCurve curve) {
  return ExportLine(sample.Time, curve == TCurve::Concentration
                                     ? sample.InsideConcentration
                                     : static_cast<double>(sample.InsideCount));
}

std::string CurveText(const std::vector<TRunSample>& samples, TCurve curve) {
  // The steps' times only ever rise (or, with a negative time step, fall):
  // the common case needs no sorting.
  const auto earlier = [](const TRunSample& a, const TRunSample& b) { return a.Time < b.Time; };
  std::string text;
  text.reserve(samples.size() * 24);
  if (std::is_sorted(samples.begin(), samples.end(), earlier)) {
    for (const TRunSample& sample : samples) text += CurveLine(sample, curve);
    return text;
  }
  std::vector<std::size_t> order(samples.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return earlier(samples[a], samples[b]); });
  for (const std::size_t i : order) text += CurveLine(samples[i], curve);
  return text;
}

namespace {

// The shortest text that reads back as the same double, always with '.':
// "0.0001", "719", "7.2e+20", "2.9629629629629626e+17".
std::string Exact(double x) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, x, std::chars_format::general);
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

std::string RunCsvHeader(const TVolume& volume, bool speciesChangedWhileRunning) {
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
  if (speciesChangedWhileRunning)
    text +=
        "# species changed while the run went on: the species above are the last ones; "
        "opened as a session they start again at time 0\n";
  text +=
      "t [s],inside count,reference count,inside concentration [m^-3],"
      "total concentration [m^-3],expected count\n";
  return text;
}

std::string RunCsvLine(const TRunSample& sample) {
  // No expected count (Filling.h says when) leaves the field empty, which
  // pandas reads as NaN.
  const std::string expected =
      std::isnan(sample.ExpectedCount) ? std::string() : Exact(sample.ExpectedCount);
  return Exact(sample.Time) + "," + std::to_string(sample.InsideCount) + "," +
         std::to_string(sample.ReferenceCount) + "," + Exact(sample.InsideConcentration) + "," +
         Exact(sample.TotalConcentration) + "," + expected + "\n";
}

std::string RunCsv(const TVolume& volume, const TRunRecord& record) {
  std::string text = RunCsvHeader(volume, record.SpeciesChangedWhileRunning());
  for (const TRunSample& sample : record.Samples()) text += RunCsvLine(sample);
  return text;
}
