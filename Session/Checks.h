// What a setup's values may be, checked once for the window, kelvane-run and
// the session reader alike, so that the same values get the same words from
// every one of them. Plain C++.
//
// Two kinds. A refusal is a value the engine cannot run (a step of negative
// time would take the square root of a negative variance; a negative count
// of molecules cannot be placed): it is refused before anything changes. A
// note is a value the engine runs but that makes no physical sense (a time
// step of 0, an inner cube as large as the outer one, a viscosity of 0): the
// run goes on, and the program says so once.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "Session/Parameters.h"

struct TFinding {
  bool Refused = false;
  std::size_t Species = 0;  // 0: a simulation value; n: species n (from 1)
  std::size_t Row = 0;      // into SimulationRows, or SpeciesRows for a species
  std::string What;         // "-0.0001 is below 0: a step of negative time cannot be run"
};

// The key a finding is about: "SIM_DT", "species 2 SP_A".
std::string FindingKey(const TFinding& finding);
// "SIM_DT: -0.0001 is below 0: a step of negative time cannot be run".
std::string FindingText(const TFinding& finding);

// The findings of the simulation values, numbers shown with `separator`,
// refusals first.
std::vector<TFinding> SimulationFindings(const TSimulationValues& values, char separator);
// The findings of species `number` (from 1), refusals first.
std::vector<TFinding> SpeciesFindings(const TSpeciesValues& values, std::size_t number,
                                      char separator);
// Both, simulation first.
std::vector<TFinding> SetupFindings(const TSimulationValues& simulation,
                                    const std::vector<TSpeciesValues>& species, char separator);

// The first refusal of `findings`, or null.
const TFinding* FirstRefusal(const std::vector<TFinding>& findings);
// Throws TError with FindingText of the first refusal of `findings`, if any.
void RefuseFindings(const std::vector<TFinding>& findings);

// The notes of the engine's setup as it stands, one line each (empty: none),
// for the readout.
class TVolume;
std::string SetupNotes(const TVolume& volume, char separator);
