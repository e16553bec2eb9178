// The words of Kelvane's controls: each button's caption, its hint and its
// key, and the titles of the tables, charts and views. The window and the
// browser page both take them from here, so that a control reads the same
// wherever it is used. Plain C++.
#pragma once

#include <iterator>

// One control. `Action` names it for scripts and tests (the page's
// data-action); `Key` is written as Qt reads a key sequence ("Ctrl+Return"),
// empty for none; `Tip` is the hint without the key.
struct TControlText {
  const char* Action;
  const char* Caption;
  const char* Tip;
  const char* Key;
};

namespace Controls {
inline constexpr TControlText Apply{
    "apply", "Apply", "Apply the simulation parameters and start again at time 0", "Ctrl+Return"};
// The button shows a picture, not a caption.
inline constexpr TControlText StartPause{"start-pause", "", "Start or pause the run", "F5"};
inline constexpr TControlText C1{"c1", "C1(t)", "Write the concentration inside to C1(t).txt",
                                 "Ctrl+1"};
inline constexpr TControlText N1{"n1", "N1(t)", "Write the molecules inside to N1(t).txt",
                                 "Ctrl+2"};
inline constexpr TControlText ExportRun{
    "export-run", "Export run...",
    "Every step since Apply, with the parameters and species, as one CSV file", "Ctrl+E"};
inline constexpr TControlText Molecules{"molecules", "Molecules...", "Open the molecule view",
                                        "Ctrl+M"};
inline constexpr TControlText Open{"open", "Open...", "Open a session file or a run CSV", "Ctrl+O"};
inline constexpr TControlText Save{"save", "Save...",
                                   "Save the parameters and species as a session", "Ctrl+S"};
inline constexpr TControlText KeepRun{"keep-run", "Keep run",
                                      "Keep this run's curves on the charts to compare", "Ctrl+K"};
// Its hint names the keys of the two actions in its menu.
inline constexpr TControlText Runs{"runs", "Runs",
                                   "Compare with a run CSV (%1), remove kept runs or all of them "
                                   "(%2); the charts' legends name them",
                                   ""};
inline constexpr TControlText Compare{"compare", "Compare with file...",
                                      "Show a run CSV's curves beside this run", "Ctrl+Shift+O"};
inline constexpr TControlText ClearKept{"clear-kept", "Clear kept runs",
                                        "Remove every kept or compared run from the charts",
                                        "Ctrl+Shift+K"};
// The species buttons have no keys: Ctrl with + and - zoom, and the tables
// take the keys while a value is typed.
inline constexpr TControlText AddSpecies{
    "add-species", "+ Species", "Add a species with the default values, placed in the ribs applied",
    ""};
inline constexpr TControlText RemoveSpecies{"remove-species", "- Species",
                                            "Remove the selected species", ""};
inline constexpr TControlText ApplySpecies{
    "apply-species", "Apply Species",
    "Place the selected species anew with the values in the table below", ""};
// The caption has always been spelt this way; users and their notes know the
// button by it. Do not correct it.
inline constexpr TControlText RecalcDiffusion{
    "recalc-d", "Recalrualte Diffusion Coefficient",
    "The diffusion coefficient of the radius by Stokes-Einstein, at the temperature and "
    "viscosity applied",
    ""};
inline constexpr TControlText RecalcRadius{
    "recalc-radius", "Recalculate Molecule Radius",
    "The radius of the diffusion coefficient by Stokes-Einstein, at the temperature and "
    "viscosity applied",
    ""};
}  // namespace Controls

inline constexpr TControlText AllControls[] = {Controls::Apply,        Controls::StartPause,
                                               Controls::C1,           Controls::N1,
                                               Controls::ExportRun,    Controls::Molecules,
                                               Controls::Open,         Controls::Save,
                                               Controls::KeepRun,      Controls::Runs,
                                               Controls::Compare,      Controls::ClearKept,
                                               Controls::AddSpecies,   Controls::RemoveSpecies,
                                               Controls::ApplySpecies, Controls::RecalcDiffusion,
                                               Controls::RecalcRadius};

namespace Captions {
inline constexpr char Title[] = "Kelvane";
inline constexpr char SimulationTable[] = "Simulation Parameters";
inline constexpr char SpeciesTable[] = "Species Parameters";
inline constexpr char ValueColumn[] = "Value";
inline constexpr char SpeciesGroup[] = "Species";
// Every item of the species list reads so, whatever its number.
inline constexpr char SpeciesItem[] = "Species 1";

// The run speeds, in the order of the speed box, and what they mean.
inline constexpr const char* Speeds[] = {"\u00d71", "\u00d710", "\u00d7100", "Max"};
inline constexpr char SpeedTip[] =
    "Run speed: \u00d71 takes one step every 50 ms, \u00d710 and \u00d7100 that many per 50 ms, "
    "Max as many as the machine can. Every step is plotted and exported alike.";
inline constexpr char ReadoutTip[] =
    "t: simulated time; mean: of the inside count over the last 100 steps since the species last "
    "changed; ref \u00b1: the count the inner cube holds at the concentrations, and twice the "
    "spread of the count expected at equilibrium (the shaded band); in band at: when the mean "
    "first entered that band; expected: the count the diffusion equation gives (the dashed "
    "curve) and what it tends to; filled: when the expected curve, and the mean of the run, "
    "reach 63.2 % of that";

inline constexpr char ConcentrationChart[] = "Concentration";
inline constexpr char ConcentrationAxis[] = "C(t)";
inline constexpr char CountChart[] = "Number of Molecules";
inline constexpr char CountAxis[] = "N(t)";
inline constexpr char BandToggle[] = "Expected band (ref \u00b1 2\u03c3)";
inline constexpr char ExpectedToggle[] = "Expected curve (diffusion equation)";
inline constexpr char SaveImage[] = "Save image...";
inline constexpr char CopyImage[] = "Copy image";
// The run now in a legend beside kept runs.
inline constexpr char ThisRun[] = "this run";

inline constexpr char SessionFileName[] = "session.kelvane";
inline constexpr char RunFileName[] = "run.csv";
inline constexpr char MoleculeViewTitle[] = "Kelvane - Molecules";
// Before the colour of each species, under the molecule view's counts.
inline constexpr char MoleculeLegend[] = "Species:";

inline constexpr char SpeciesChangedWhileRunning[] =
    "The species of this run changed while it ran: its last setup starts again from time 0.";
}  // namespace Captions
