#include "app/RunCommand.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "Diffunit/Diffunit.h"
#include "Session/Checks.h"
#include "Session/Conversions.h"
#include "Session/EngineRun.h"
#include "Session/Exports.h"
#include "Session/OutputFile.h"
#include "Session/Parameters.h"
#include "Session/RunCsv.h"
#include "Session/RunRecord.h"
#include "Session/Seeds.h"
#include "Session/SessionFile.h"

#ifndef KELVANE_VERSION
#define KELVANE_VERSION "unknown"
#endif

namespace {

// A bad command line. The message names the option; nothing has run and no
// output has been written.
class TBadInput : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The user stopped the run (Ctrl+C); the outputs keep what they held.
struct TStopped {};
const char* const StoppedMessage =
    "kelvane-run: interrupted; the output files keep what they held\n";

struct TSpeciesRequest {
  std::string Option;  // as given, for messages: "--species 7.2E20,1.5E-9,1.43E-10"
  TSpeciesValues Values;
  bool DiffusionFromRadius = false;  // --species-radius: Stokes-Einstein of the radius
  // From --session FILE: the lines of its values, for messages that name them.
  std::optional<std::array<std::size_t, SpeciesRowCount>> SessionLines;
};

struct TRunPlan {
  TSimulationValues Parameters;
  std::vector<TSpeciesRequest> Species;  // at least one
  // A run CSV's own actions and seeds, replayed as they are when no option
  // changes its setup; otherwise the setup above starts from a fresh engine.
  std::optional<TSession> Replayed;
  TRunLength Length;
  std::optional<int> Threads;
  std::optional<std::uint64_t> Seed;  // --seed: the replicate's seeds (Seeds.h)
  std::string SessionName;            // --session FILE
  std::string Csv;                    // empty or "-": standard output
  std::string Curves;                 // empty: none
  // What each simulation value's message names: its option when given, else
  // the line of --session FILE it came from, else its key (a default).
  std::array<std::string, SimulationRowCount> Labels;
  // The values that run but make no physical sense (Checks.h), said on
  // standard error before the run.
  std::vector<std::string> Notes;
};

// Option names in the order of SimulationRows.
constexpr const char* SimulationOptions[SimulationRowCount] = {
    "--outer-rib", "--inner-rib", "--viscosity", "--temperature", "--time-step"};

// A finding of the setup, as it names where its value came from.
std::string FindingMessage(const TRunPlan& plan, const TFinding& finding) {
  if (finding.Species == 0) return plan.Labels[finding.Row] + ": " + finding.What;
  const TSpeciesRequest& species = plan.Species[finding.Species - 1];
  if (species.SessionLines)
    return plan.SessionName + ":" + std::to_string((*species.SessionLines)[finding.Row]) + ": " +
           FindingText(finding);
  return species.Option + ": " + SpeciesRows[finding.Row].Key + ": " + finding.What;
}

// Refuses what the engine cannot run and keeps the notes of what it runs but
// makes no sense, each naming its option or its line of --session FILE.
void CheckSetup(TRunPlan& plan) {
  std::vector<TSpeciesValues> species;
  for (const TSpeciesRequest& request : plan.Species) species.push_back(request.Values);
  for (const TFinding& finding : SetupFindings(plan.Parameters, species, '.')) {
    // A coefficient from the radius is checked once it is derived.
    if (finding.Species > 0 && plan.Species[finding.Species - 1].DiffusionFromRadius &&
        SpeciesRows[finding.Row].Species == &TSpeciesValues::Diffusion)
      continue;
    if (finding.Refused) throw TBadInput(FindingMessage(plan, finding));
    plan.Notes.push_back(FindingMessage(plan, finding));
  }
}

// ---------------------------------------------------------------------------
// Reading the command line

// A number as the window's tables read it, with '.' as the decimal point.
double Number(const std::string& option, const std::string& text) {
  try {
    return TextToNumber(text, '.');
  } catch (const TError& error) {
    throw TBadInput(option + ": " + error.what());
  }
}

std::int64_t WholeNumber(const std::string& option, const std::string& text, std::int64_t lowest,
                         std::int64_t highest) {
  std::size_t used = 0;
  long long value = 0;
  try {
    value = std::stoll(text, &used, 10);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used == 0 || used != text.size() || text.front() == ' ' || value < lowest || value > highest)
    throw TBadInput(option + ": '" + text + "' is not a whole number from " +
                    std::to_string(lowest) + " to " + std::to_string(highest));
  return value;
}

std::vector<std::string> Fields(const std::string& text) {
  std::vector<std::string> fields(1);
  for (const char c : text) {
    if (c == ',')
      fields.emplace_back();
    else
      fields.back() += c;
  }
  return fields;
}

TSpeciesRequest Species(const std::string& option, const std::string& text, bool withDiffusion) {
  TSpeciesRequest species;
  species.Option = option + " " + text;
  species.DiffusionFromRadius = !withDiffusion;
  const std::vector<std::string> fields = Fields(text);
  if (fields.size() != (withDiffusion ? 3u : 2u))
    throw TBadInput(species.Option + ": give " + (withDiffusion ? "C,RADIUS,D" : "C,RADIUS") +
                    ", numbers separated by commas");
  TSpeciesValues& values = species.Values;
  values.Concentration = Number(species.Option, fields[0]);
  values.Radius = Number(species.Option, fields[1]);
  if (withDiffusion) values.Diffusion = Number(species.Option, fields[2]);
  return species;
}

// A default as the window's table shows it: "1E-5", "293.15".
std::string DefaultText(double value) { return NumberToText(value, '.'); }

const char* const FooterText = R"help(The species are run in the order given, across --species and
--species-radius. --until runs up to and including the step whose time is
SECONDS (to within half a step): with 0.0001 s steps, --until 0.0003 runs 3
steps, the last at 0.0003 s. --csv writes what "Export run..." writes;
--curves what the "C1(t)" and "N1(t)" buttons write. KELVANE_THREADS also
sets --threads. Folders named by --csv and --curves are made when missing.

--session takes the parameters and species of a session file (the window's
"Save session...") or of a run CSV (--csv, "Export run..."); options given
beside it override its values, --species and --species-radius its species.
A run CSV replays its run to the same bytes: its seeds and every action that
led to it (steps before an Apply, species changed while it ran); the steps
asked count from its first row. With options that change its setup, the
setup alone starts from a fresh engine, as a session file's does.

--seed N starts the four random streams from the seeds of replicate N
(splitmix64 of 4N + stream, made odd, in 1..2^31-1; the README has the
formula), so that N = 0, 1, 2, ... give independent runs of one setup, each
repeatable; the run CSV records them and --session replays them. Without
--seed the streams start from the fixed seeds (a run CSV's own, with
--session). --seed with a run CSV replays its actions from the new seeds.

Numbers are read as the window's tables read them, with '.' as the decimal
point ("1E-6", "7.2e20", "293.15"). --species-radius derives the diffusion
coefficient by Stokes-Einstein at the temperature and viscosity, rounded to
3 digits as the window's "Recalrualte Diffusion Coefficient" button shows it.

The run is the one the window makes with the same values: after it starts,
species 2 onwards are added with "+ Species", the parameters are typed and
applied with "Apply", each species whose values or volume differ from the
start's is typed and applied with "Apply Species", and the run goes on for
the steps asked. The outputs are then the same bytes as the window's exports.
Without --species the run has the window's default species:
%s.

Exit status: 0 done; 1 a step failed (the outputs hold the steps before it)
or an output could not be written; 2 bad input (nothing is run or written);
130 interrupted (the output files keep what they held).)help";

// The help's closing text, with the default species as the window shows it.
std::string Footer() {
  const TSpeciesValues species;
  const std::string values = DefaultText(species.Concentration) + ", " +
                             DefaultText(species.Radius) + ", " + DefaultText(species.Diffusion);
  std::string text = FooterText;
  return text.replace(text.find("%s"), 2, values);
}

struct TCommandLine {
  CLI::App App{"Runs Kelvane's diffusion simulation without a window.", "kelvane-run"};
  std::optional<std::string> OuterRib, InnerRib, Viscosity, Temperature, TimeStep;
  std::vector<std::string> SpeciesTexts, SpeciesRadiusTexts;
  std::optional<std::string> Steps, Until, Threads, Seed, Session;
  std::string Csv, Curves;
  CLI::Option* SpeciesOption = nullptr;
  CLI::Option* SpeciesRadiusOption = nullptr;

  TCommandLine() {
    App.set_version_flag("--version", "kelvane-run " KELVANE_VERSION);
    App.footer(Footer());
    const TSimulationValues defaults;
    const auto withDefault = [](const std::string& what, double value) {
      return what + " (default " + DefaultText(value) + ")";
    };
    App.add_option("--outer-rib", OuterRib, withDefault("External cube rib [m]", defaults.OuterRib))
        ->type_name("METRES");
    App.add_option("--inner-rib", InnerRib,
                   withDefault("Internal cube rib [m], < outer", defaults.InnerRib))
        ->type_name("METRES");
    App.add_option("--viscosity", Viscosity,
                   withDefault("Dynamic viscosity [Pa s]", defaults.Viscosity))
        ->type_name("PA_S");
    App.add_option("--temperature", Temperature,
                   withDefault("Temperature [K]", defaults.Temperature))
        ->type_name("KELVIN");
    App.add_option("--time-step", TimeStep,
                   withDefault("Simulation time step [s]", defaults.TimeStep))
        ->type_name("SECONDS");
    SpeciesOption =
        App.add_option("--species", SpeciesTexts, "Add a species: C [m^-3], radius [m], D [m^2/s]")
            ->type_name("C,RADIUS,D")
            ->expected(1)
            ->allow_extra_args(false)
            ->take_all();
    SpeciesRadiusOption = App.add_option("--species-radius", SpeciesRadiusTexts,
                                         "Add a species, D from its radius (see below)")
                              ->type_name("C,RADIUS")
                              ->expected(1)
                              ->allow_extra_args(false)
                              ->take_all();
    App.add_option("--steps", Steps, "Run N time steps")->type_name("N");
    App.add_option("--until", Until, "Run until the time reaches SECONDS")->type_name("SECONDS");
    App.add_option("--csv", Csv, "Write the run CSV to FILE (default: stdout)")->type_name("FILE");
    App.add_option("--curves", Curves, "Write C1(t).txt and N1(t).txt into DIR")->type_name("DIR");
    App.add_option("--threads", Threads, "Threads per step, 1 to 1024 (default: all cores)")
        ->type_name("N");
    App.add_option("--seed", Seed, "Seeds of replicate N (default: the fixed seeds)")
        ->type_name("N");
    App.add_option("--session", Session, "Start from a session file or a run CSV (see below)")
        ->type_name("FILE");
  }

  // Whether an option changes the setup of --session.
  bool ChangesSetup() const {
    return OuterRib || InnerRib || Viscosity || Temperature || TimeStep || !SpeciesTexts.empty() ||
           !SpeciesRadiusTexts.empty();
  }

  // The parameters and species of --session FILE, checked as the options
  // that would give them are; a run CSV's actions, replayed as they are.
  void TakeSession(TRunPlan& plan) const {
    TSession session;
    try {
      session = ReadSession(*Session);
    } catch (const TError& error) {
      throw TBadInput(std::string("--session: ") + error.what());
    }
    plan.SessionName = *Session;
    // The reader refused what the engine cannot run, at its line.
    if (!session.Actions.empty() && !ChangesSetup()) {
      plan.Replayed = session;
      plan.Notes = session.Notes;
      return;
    }
    plan.Parameters = session.Simulation;
    for (std::size_t i = 0; i < SimulationRowCount; ++i)
      plan.Labels[i] = *Session + ":" + std::to_string(session.Lines.Simulation[i]) + ": " +
                       SimulationRows[i].Key;
    for (std::size_t i = 0; i < session.Species.size(); ++i) {
      TSpeciesRequest species;
      species.Option = "--session " + *Session + ": species " + std::to_string(i + 1);
      species.Values = session.Species[i];
      species.SessionLines = session.Lines.Species[i];
      plan.Species.push_back(species);
    }
  }

  TRunPlan Plan() const {
    TRunPlan plan;
    for (std::size_t i = 0; i < SimulationRowCount; ++i) plan.Labels[i] = SimulationRows[i].Key;
    if (Session) TakeSession(plan);
    if (!plan.Replayed) TakeSetup(plan);
    if (Steps && Until) throw TBadInput("--steps and --until: give one of them, not both");
    if (Steps)
      plan.Length.Steps = WholeNumber("--steps", *Steps, 0, INT64_MAX);
    else if (Until) {
      plan.Length.Until = Number("--until", *Until);
      if (!(*plan.Length.Until >= 0.0)) throw TBadInput("--until: " + *Until + " is below 0");
      // Steps of no time never reach it: the run would never end.
      const double step =
          plan.Replayed ? plan.Replayed->Simulation.TimeStep : plan.Parameters.TimeStep;
      if (step == 0.0)
        throw TBadInput("--until: with a time step of 0 no time is ever reached; give --steps");
    } else
      throw TBadInput("--steps or --until is required: how long should the run go?");
    if (Threads) plan.Threads = static_cast<int>(WholeNumber("--threads", *Threads, 1, 1024));
    if (Seed) plan.Seed = static_cast<std::uint64_t>(WholeNumber("--seed", *Seed, 0, INT64_MAX));
    plan.Csv = Csv;
    plan.Curves = Curves;
    return plan;
  }

  // The parameters and species of the options (over those of --session).
  void TakeSetup(TRunPlan& plan) const {
    const std::optional<std::string>* given[SimulationRowCount] = {&OuterRib, &InnerRib, &Viscosity,
                                                                   &Temperature, &TimeStep};
    for (std::size_t i = 0; i < SimulationRowCount; ++i) {
      if (!*given[i]) continue;
      plan.Parameters.*SimulationRows[i].Simulation = Number(SimulationOptions[i], **given[i]);
      plan.Labels[i] = SimulationOptions[i];
    }
    // Both options fill their lists in order; the order of the species is
    // the order in which they were given, across both.
    // Species given as options replace the session's.
    if (!SpeciesTexts.empty() || !SpeciesRadiusTexts.empty()) plan.Species.clear();
    std::size_t withDiffusion = 0, withoutDiffusion = 0;
    for (const CLI::Option* option : App.parse_order()) {
      if (option == SpeciesOption)
        plan.Species.push_back(Species("--species", SpeciesTexts.at(withDiffusion++), true));
      else if (option == SpeciesRadiusOption)
        plan.Species.push_back(
            Species("--species-radius", SpeciesRadiusTexts.at(withoutDiffusion++), false));
    }
    if (plan.Species.empty()) {  // the window's default species
      TSpeciesRequest species;
      species.Option = "the default species (give --species)";
      plan.Species.push_back(species);
    }
    CheckSetup(plan);
  }
};

// ---------------------------------------------------------------------------
// The progress bar

class TProgressBar {
 public:
  explicit TProgressBar(TConsole& console) : Console(console) {}
  ~TProgressBar() { Clear(); }

  // Redraws at most ten times a second.
  void Show(double share, const std::string& text) {
    if (!Console.ErrIsTerminal) return;
    const auto now = std::chrono::steady_clock::now();
    if (Shown && now - LastShown < std::chrono::milliseconds(100)) return;
    LastShown = now;
    Shown = true;
    const int width = 30;
    const int filled = static_cast<int>(std::clamp(share, 0.0, 1.0) * width);
    Console.Err << "\r\033[K[" << std::string(filled, '#') << std::string(width - filled, ' ')
                << "] " << static_cast<int>(std::clamp(share, 0.0, 1.0) * 100.0) << "% " << text
                << std::flush;
  }

  void Clear() {
    if (!Shown) return;
    Console.Err << "\r\033[K" << std::flush;
    Shown = false;
  }

 private:
  TConsole& Console;
  bool Shown = false;
  std::chrono::steady_clock::time_point LastShown;
};

bool StopRequested(const TConsole& console) { return console.Stop && *console.Stop != 0; }

// ---------------------------------------------------------------------------
// The engine, as the window leaves it

// The actions that make the run, each with what a refusal of it names
// (empty: the rib options, by the rib the engine names).
struct TReplayPlan {
  TStreamStates Seeds;
  TActions Actions;
  std::vector<std::string> Refused;
};

// An engine refusal of an action labelled `label`, as bad input.
[[noreturn]] void Refuse(const TRunPlan& plan, const std::string& label, const TError& error) {
  // The rib the engine names, as the plan names it: its option or its line.
  if (const auto* rib = dynamic_cast<const TRibError*>(&error); rib && label.empty())
    throw TBadInput(plan.Labels[rib->Rib == TRibError::TRib::Outer ? 0 : 1] + ": " +
                    std::string(error.what()));
  throw TBadInput((label.empty() ? std::string() : label + ": ") + error.what());
}

// A run CSV's own actions, or the setup of the options as the window makes
// it from a fresh start (ActionsOf).
TReplayPlan ReplayPlanOf(const TRunPlan& plan) {
  TReplayPlan replay;
  if (plan.Replayed) {
    replay.Seeds = plan.Replayed->Seeds;
    replay.Actions = plan.Replayed->Actions;
    for (const TAction& action : replay.Actions)
      replay.Refused.push_back("--session " + plan.SessionName + ": '" + ActionText(action) + "'");
    return replay;
  }
  TSession setup;
  setup.Simulation = plan.Parameters;
  // "Apply Species" reads the coefficient the window's button shows, at the
  // temperature and viscosity applied.
  TVolume applied;
  try {
    SetParameters(applied, plan.Parameters);
  } catch (const TError& error) {
    Refuse(plan, "", error);
  }
  for (const TSpeciesRequest& request : plan.Species) {
    TSpeciesValues species = request.Values;
    try {
      if (request.DiffusionFromRadius)
        species.Diffusion = TextToNumber(StokesEinsteinText(applied, species.Radius, '.'), '.');
    } catch (const TError& error) {
      Refuse(plan, request.Option, error);
    }
    if (request.DiffusionFromRadius)
      for (const TFinding& finding : SpeciesFindings(species, setup.Species.size() + 1, '.'))
        if (SpeciesRows[finding.Row].Species == &TSpeciesValues::Diffusion && finding.Refused)
          throw TBadInput(request.Option + ": " + SpeciesRows[finding.Row].Key + ": " +
                          finding.What);
    setup.Species.push_back(species);
  }
  replay.Actions = ActionsOf(setup);
  std::size_t added = 0;
  for (const TAction& action : replay.Actions) {
    const std::size_t species = action.Kind == TAction::TKind::AddSpecies
                                    ? added++
                                    : static_cast<std::size_t>(action.Index);
    replay.Refused.push_back(action.Kind == TAction::TKind::Apply ? std::string()
                                                                  : plan.Species[species].Option);
  }
  return replay;
}

// ---------------------------------------------------------------------------
// The outputs

class TOutputs {
 public:
  TOutputs(const TRunPlan& plan, std::ostream& standardOutput) : Out(standardOutput) {
    if (!plan.Curves.empty()) {
      const std::filesystem::path folder(plan.Curves);
      MakeFolder("--curves", folder);
      Concentration = Open("--curves", (folder / CurveFileName(TCurve::Concentration)).string());
      Count = Open("--curves", (folder / CurveFileName(TCurve::Count)).string());
    }
    if (!plan.Csv.empty() && plan.Csv != "-") {
      MakeFolder("--csv", std::filesystem::path(plan.Csv).parent_path());
      Csv = Open("--csv", plan.Csv);
    }
  }

  void Start(const std::string& header) { Write(Csv.get(), header); }

  // The lines of one step, as the whole-run exports write it (a positive
  // time step: the steps come in the curves' order).
  void Add(const TRunSample& sample) {
    Write(Csv.get(), RunCsvLine(sample));
    if (Concentration) Concentration->Write(CurveLine(sample, TCurve::Concentration));
    if (Count) Count->Write(CurveLine(sample, TCurve::Count));
  }

  // Commits every file it can; throws the first failure's TError.
  void Commit() {
    std::optional<TError> failure;
    for (TOutputFile* file : {Csv.get(), Concentration.get(), Count.get()}) {
      if (!file) continue;
      try {
        file->Commit();
      } catch (const TError& error) {
        if (!failure) failure = error;
      }
    }
    Out.flush();
    if (failure) throw *failure;
    if (!Csv && !Out) throw TError("Cannot write the run to standard output");
  }

 private:
  // Sweeps name a folder per run; the folders are made as they are needed.
  static void MakeFolder(const std::string& option, const std::filesystem::path& folder) {
    std::error_code error;
    if (!folder.empty()) std::filesystem::create_directories(folder, error);
    if (error)
      throw TBadInput(option + ": Cannot make folder " + folder.string() + ": " + error.message());
  }

  static std::unique_ptr<TOutputFile> Open(const std::string& option, const std::string& name) {
    try {
      return std::make_unique<TOutputFile>(name);
    } catch (const TError& error) {
      throw TBadInput(option + ": " + error.what());
    }
  }

  void Write(TOutputFile* file, const std::string& text) {
    if (file)
      file->Write(text);
    else
      Out << text;
  }

  std::ostream& Out;
  std::unique_ptr<TOutputFile> Csv, Concentration, Count;
};

// ---------------------------------------------------------------------------
// The run

// "1200 of 5000"; any size (--until may ask for more steps than a count holds).
std::string Share(double done, double total) {
  char text[96];
  std::snprintf(text, sizeof text, "%.0f of %.0f", done, total);
  return text;
}

int Run(const TRunPlan& plan, TConsole& console) {
  TReplayPlan replay = ReplayPlanOf(plan);
  if (plan.Seed) replay.Seeds = ReplicateSeeds(*plan.Seed);
  // KELVANE_THREADS and KELVANE_KERNEL, read once; --threads comes before
  // KELVANE_THREADS.
  std::vector<std::string> messages;
  TEngineSettings settings = SettingsFromEnvironment(messages);
  for (const std::string& message : messages) console.Err << message << "\n";
  for (const std::string& note : plan.Notes) console.Err << "kelvane-run: note: " << note << "\n";
  if (plan.Threads) settings.Threads = *plan.Threads;
  TEngineRun run(replay.Seeds);
  TVolume& volume = run.Volume();
  volume.SetSettings(settings);
  TProgressBar bar(console);
  // The engine's notices (threads the system refused) between bar lines.
  const auto sayNotice = [&] {
    const std::string notice = volume.TakeNotice();
    if (notice.empty()) return;
    bar.Clear();
    console.Err << notice << "\n";
  };
  // The run's rows start after the actions that come before its first step.
  const TRunActions split = SplitAtRunStart(replay.Actions);
  std::size_t failed = 0;
  try {
    Replay(
        run, split.Before,
        [&](double done) {
          bar.Show(done, "replaying the actions before the run");
          return !StopRequested(console);
        },
        &failed);
  } catch (const TCancelled&) {
    throw TStopped{};
  } catch (const TError& error) {
    Refuse(plan, replay.Refused[failed], error);
  }
  bar.Clear();
  sayNotice();

  TOutputs outputs(plan, console.Out);
  outputs.Start(RunCsvHeader(run, split, plan.Length));
  // --until: the steps whose time falls before the limit less half a step,
  // so that 0.5 s of 0.0001 s steps is 5000 steps whatever the rounding.
  const double total = plan.Length.Steps ? static_cast<double>(*plan.Length.Steps)
                                         : std::ceil(*plan.Length.Until / volume.TimeStep - 0.5);
  std::int64_t done = 0;
  run.OnSample = [&](const TRunSample& sample, const std::optional<TBand>&) {
    outputs.Add(sample);
    ++done;
    sayNotice();
    bar.Show(total > 0 ? static_cast<double>(done) / total : 1.0,
             "step " + Share(static_cast<double>(done), total) +
                 ", t = " + ExportNumberText(volume.Time) + " s");
  };
  const std::string failure =
      RunFor(run, plan.Length, split.During, [&] { return !StopRequested(console); });
  if (StopRequested(console)) throw TStopped{};
  bar.Clear();
  try {
    outputs.Commit();
  } catch (const TError& error) {
    console.Err << "kelvane-run: " << error.what() << "\n";
    return RunFailed;
  }
  if (!failure.empty()) {
    console.Err << "kelvane-run: step " << done + 1 << " failed: " << failure
                << " (the outputs hold the " << done << (done == 1 ? " step" : " steps")
                << " before it)\n";
    return RunFailed;
  }
  return RunSucceeded;
}

}  // namespace

int RunCommand(const std::vector<std::string>& arguments, TConsole& console) {
  TCommandLine commandLine;
  try {
    std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
    commandLine.App.parse(reversed);
  } catch (const CLI::CallForVersion& version) {
    console.Out << version.what() << "\n";
    return RunSucceeded;
  } catch (const CLI::CallForHelp&) {
    console.Out << commandLine.App.help();
    return RunSucceeded;
  } catch (const CLI::ParseError& error) {
    console.Err << "kelvane-run: " << error.what() << " (see --help)\n";
    return BadInput;
  }
  try {
    return Run(commandLine.Plan(), console);
  } catch (const TStopped&) {
    console.Err << StoppedMessage;
    return Interrupted;
  } catch (const std::runtime_error& error) {
    // A refusal, or the engine's TCancelled when a placement was stopped.
    if (StopRequested(console)) {
      console.Err << StoppedMessage;
      return Interrupted;
    }
    console.Err << "kelvane-run: " << error.what() << "\n";
    return BadInput;
  }
}
