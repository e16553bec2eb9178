// The two tables' texts read as Apply and the species buttons read them, and
// written as the tables show values. The window and the browser page read
// their tables here, so that a bad text gets the same message in both. Plain
// C++.
#pragma once

#include <array>
#include <string>

#include "Session/Parameters.h"
#include "Session/SessionFile.h"

class TVolume;

// The simulation table's texts, in display order (SimulationRows).
using TSimulationTexts = std::array<std::string, SimulationRowCount>;

// What Apply hands the engine: the texts read in the order SIM_DT, SIM_T,
// SIM_Q, SIM_B1, SIM_B0, so that the first bad text in that order is named.
// Throws TError for a text that is no number or a value the engine cannot
// run (Checks.h).
TSimulationValues ReadSimulationTable(const TSimulationTexts& texts, char separator);

// A species as its table gives it, read in the order SP_A, SP_D, SP_C.
// Throws TError for a text that is no number.
TSpeciesValues ReadSpeciesTable(const TSpeciesTexts& texts, char separator);

// What the species table shows for `species`.
TSpeciesTexts SpeciesTableTexts(const TSpeciesValues& species, char separator);

// The session of the tables as they stand: the simulation table's texts, and
// each species of `engine` as the engine holds it but for the one the species
// table shows (`shown`, -1: none), which is saved with the table's texts.
// Every text must read as a number (TError "SIM_DT: ..." otherwise); the
// session's texts have '.' for `separator`.
TSession TablesSession(const TSimulationTexts& simulation, const TVolume& engine, int shown,
                       const TSpeciesTexts& shownTexts, char separator);
