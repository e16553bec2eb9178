// Sessions: a setup a user can save, reopen, send to a colleague and run
// headless. A session holds the five simulation texts and each species' three
// texts as the window's tables show them (with '.' as the decimal point), and
// the numbers they read as. Plain C++.
//
// The session file is TOML, read and written with toml++:
//
//   # Kelvane session
//   format = 1
//
//   [simulation]
//   SIM_B0 = '1E-5'            # the table keys; every value a text in quotes
//   SIM_B1 = '1E-6'
//   SIM_DT = '0.0001'
//   SIM_Q = '0.001'
//   SIM_T = '293.15'
//
//   [[species]]                # one table per species, in the list's order
//   SP_A = '1.5E-9'
//   SP_C = '7.2E20'
//   SP_D = '1.43E-10'
//
// A run CSV (RunCsv.h) is a session too: its "#" header lines hold every
// applied value exactly, the seeds, and the actions that replay its run.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "Session/Actions.h"
#include "Session/Parameters.h"
#include "Statg/Statg.h"

// The session file format this program writes, and the newest it reads.
inline constexpr int SessionFormat = 1;

// Where each text of a session was read, for messages about its number.
struct TSourceLines {
  std::array<std::size_t, SimulationRowCount> Simulation{};
  std::vector<std::array<std::size_t, SpeciesRowCount>> Species;
};

struct TSession {
  // In the order of SimulationRows: SIM_B0, SIM_B1, SIM_Q, SIM_T, SIM_DT.
  std::array<std::string, SimulationRowCount> SimulationTexts;
  std::vector<TSpeciesTexts> SpeciesTexts;  // at least one
  // The numbers the texts read as (TextToNumber with '.').
  TSimulationValues Simulation;
  std::vector<TSpeciesValues> Species;
  // From a run CSV: the seeds of its streams, and the actions since a fresh
  // engine that replay it (none in a session file or an older run CSV: the
  // setup starts from a fresh engine, see ActionsOf).
  TStreamStates Seeds;
  TActions Actions;
  // From an older run CSV of a window run whose species changed while it
  // ran: the setup is the last one, and a replay starts it at time 0.
  bool SpeciesChangedWhileRunning = false;
  // Read from a file: the values that run but make no physical sense
  // (Checks.h), each as "<name>:<line>: SIM_DT: 0 is not above 0: ...".
  std::vector<std::string> Notes;
  // Where each text was read, for messages that name its line.
  TSourceLines Lines;
};

// The session of texts read from the file `name`, or TError at the line of
// the first text that is no number or that the engine cannot run (Checks.h:
// "<name>:<line>: SIM_DT: -0.0001 is below 0: ..."; "no species" at
// `endLine`), with the notes of the values that run but make no sense.
TSession CheckedSession(const std::array<std::string, SimulationRowCount>& simulation,
                        const std::vector<TSpeciesTexts>& species, const TSourceLines& lines,
                        const std::string& name, std::size_t endLine);

// A session from texts with '.' as the decimal point. Throws TError naming the
// first text that is no number ("SIM_DT: 'x' is not a valid floating point
// value") or "no species" for an empty list.
TSession SessionFromTexts(const std::array<std::string, SimulationRowCount>& simulationTexts,
                          const std::vector<TSpeciesTexts>& speciesTexts);

// Reads a session file or a run CSV, told apart by the CSV's first line.
// Anything unreadable, truncated or malformed (a text that is no number, a
// missing or unknown key, a newer format, a CSV without its header) throws
// one TError "<name>:<line>: <what is wrong>".
TSession ReadSession(const std::string& fileName);
// The same for `text`, read from a file named `name`.
TSession ParseSession(std::string_view text, const std::string& name);

// The session file's text, with the format version.
std::string SessionFileText(const TSession& session);
