// The parameters a user sets in the window's two tables: the keys that
// address their rows, the captions shown for them, the default scenario the
// window starts with, and a species' three values as one whole. Plain C++,
// so that kelvane-run, the tests and the benchmarks start from the very
// numbers the window shows.
#pragma once

#include <iterator>
#include <string>
#include <string_view>

#include "Diffunit/Diffunit.h"

// Row keys. Handlers find a value by its key, never by its row.
namespace Key {
inline constexpr char SIM_B0[] = "SIM_B0";  // outer cube rib b0 [m]
inline constexpr char SIM_B1[] = "SIM_B1";  // inner cube rib b1 [m]
inline constexpr char SIM_Q[] = "SIM_Q";    // dynamic viscosity [Pa s]
inline constexpr char SIM_T[] = "SIM_T";    // temperature [K]
inline constexpr char SIM_DT[] = "SIM_DT";  // time step [s]
inline constexpr char SP_C[] = "SP_C";      // concentration [m^-3]
inline constexpr char SP_A[] = "SP_A";      // molecule radius [m]
inline constexpr char SP_D[] = "SP_D";      // diffusion coefficient [m^2/s]
}  // namespace Key

// The default scenario: 719,999 molecules of one species diffusing into a
// cube of 1e-18 m^3 inside a medium of 1e-15 m^3.
namespace Defaults {
inline constexpr double OuterRib = 1e-5;         // m
inline constexpr double InnerRib = 1e-6;         // m
inline constexpr double Viscosity = 0.001;       // Pa s (water)
inline constexpr double Temperature = 293.15;    // K
inline constexpr double TimeStep = 0.0001;       // s
inline constexpr double Concentration = 7.2e20;  // m^-3
inline constexpr double Radius = 1.5e-9;         // m
inline constexpr double Diffusion = 1.43e-10;    // m^2/s, Stokes-Einstein of Radius at 293.15 K
}  // namespace Defaults

// The five simulation parameters, as Apply hands them to the engine.
struct TSimulationValues {
  double OuterRib = Defaults::OuterRib;        // m
  double InnerRib = Defaults::InnerRib;        // m
  double Viscosity = Defaults::Viscosity;      // Pa s
  double Temperature = Defaults::Temperature;  // K
  double TimeStep = Defaults::TimeStep;        // s

  bool operator==(const TSimulationValues& other) const {
    return OuterRib == other.OuterRib && InnerRib == other.InnerRib &&
           Viscosity == other.Viscosity && Temperature == other.Temperature &&
           TimeStep == other.TimeStep;
  }
  bool operator!=(const TSimulationValues& other) const { return !(*this == other); }
};

// One species' values, passed whole so that no caller has to remember in
// which order the engine takes them.
struct TSpeciesValues {
  double Concentration = Defaults::Concentration;  // m^-3
  double Radius = Defaults::Radius;                // m
  double Diffusion = Defaults::Diffusion;          // m^2/s

  bool operator==(const TSpeciesValues& other) const {
    return Concentration == other.Concentration && Radius == other.Radius &&
           Diffusion == other.Diffusion;
  }
  bool operator!=(const TSpeciesValues& other) const { return !(*this == other); }
};

// One species' three texts as the species table shows them.
struct TSpeciesTexts {
  std::string Concentration;  // SP_C
  std::string Radius;         // SP_A
  std::string Diffusion;      // SP_D
};

// One table row: its key, the caption shown in its place, its first value,
// the short name a legend gives it, and the members it sets (of
// TSimulationValues in the simulation table; of TSpeciesValues and
// TSpeciesTexts in the species table; the others are null). Code that
// handles every value walks these rows, so a key is listed here only.
struct TParameterRow {
  const char* Key;
  const char* Caption;
  double Initial;
  const char* Symbol;
  double TSimulationValues::*Simulation;
  double TSpeciesValues::*Species;
  std::string TSpeciesTexts::*SpeciesText;
};

// The rows of the two tables, in display order. "Pa/s" is how the caption
// has always read.
inline constexpr TParameterRow SimulationRows[] = {
    {Key::SIM_B0, "External Cube Rib [m]", Defaults::OuterRib, "b0", &TSimulationValues::OuterRib,
     nullptr, nullptr},
    {Key::SIM_B1, "Internal Cube Rib [m]", Defaults::InnerRib, "b1", &TSimulationValues::InnerRib,
     nullptr, nullptr},
    {Key::SIM_Q, "Dynamic Viscosity [Pa/s]", Defaults::Viscosity, "\xCE\xB7",
     &TSimulationValues::Viscosity, nullptr, nullptr},
    {Key::SIM_T, "Temperature [K]", Defaults::Temperature, "T", &TSimulationValues::Temperature,
     nullptr, nullptr},
    {Key::SIM_DT, "Simulation Time Step [s]", Defaults::TimeStep, "dt",
     &TSimulationValues::TimeStep, nullptr, nullptr},
};
inline constexpr TParameterRow SpeciesRows[] = {
    {Key::SP_C, "Concentration [m-3]", Defaults::Concentration, "C", nullptr,
     &TSpeciesValues::Concentration, &TSpeciesTexts::Concentration},
    {Key::SP_A, "Molecule Radius [m]", Defaults::Radius, "a", nullptr, &TSpeciesValues::Radius,
     &TSpeciesTexts::Radius},
    {Key::SP_D, "Diffusion Coefficient [m2/s]", Defaults::Diffusion, "D", nullptr,
     &TSpeciesValues::Diffusion, &TSpeciesTexts::Diffusion},
};

inline constexpr std::size_t SimulationRowCount = std::size(SimulationRows);
inline constexpr std::size_t SpeciesRowCount = std::size(SpeciesRows);

// The row of `rows` with `key`, or null.
template <std::size_t Count>
const TParameterRow* RowOfKey(const TParameterRow (&rows)[Count], std::string_view key) {
  for (const TParameterRow& row : rows)
    if (key == row.Key) return &row;
  return nullptr;
}

// The simulation parameters on `volume`, as Apply sets them.
inline void SetParameters(TVolume& volume, const TSimulationValues& values) {
  volume.SetParameters(values.OuterRib, values.InnerRib, values.Viscosity, values.Temperature,
                       values.TimeStep);
}

// The parameters `volume` holds from its last SetParameters.
inline TSimulationValues SimulationValuesOf(const TVolume& volume) {
  return {volume.OuterRib, volume.InnerRib, volume.Viscosity, volume.Temperature, volume.TimeStep};
}

// The engine's species operations for a species given whole.
inline void AddSpecies(TVolume& volume, const TSpeciesValues& species) {
  volume.AddSpecies(species.Concentration, species.Diffusion, species.Radius);
}
inline void ReplaceSpecies(TVolume& volume, int index, const TSpeciesValues& species) {
  volume.ReplaceSpecies(index, species.Concentration, species.Diffusion, species.Radius);
}
// The values species `index` was last populated with.
inline TSpeciesValues SpeciesValuesOf(const TVolume& volume, int index) {
  return {volume.SpeciesConcentration(index), volume.SpeciesRadius(index),
          volume.SpeciesDiffusion(index)};
}

// The default simulation parameters on `volume`, as the window's start-up
// Apply sets them.
inline void SetDefaultParameters(TVolume& volume) { SetParameters(volume, TSimulationValues{}); }

// A species with the default values, as "+ Species" adds it.
inline void AddDefaultSpecies(TVolume& volume) { AddSpecies(volume, TSpeciesValues{}); }
