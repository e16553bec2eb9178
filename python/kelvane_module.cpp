// _kelvane: the engine and the session library for Python. The package
// kelvane (kelvane/__init__.py) wraps it with the Session and Species classes,
// the checks of the user's values, pandas and tqdm. Every byte it writes comes
// from the functions kelvane-run writes with, so that the same values and
// seeds give the same files.
//
// The steps run with the GIL released. Every tenth of a second the run takes
// the GIL back to let Python handle signals (Ctrl+C) and report progress; an
// exception there stops the run after the step in hand, and the steps done
// stay in the record.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "Diffunit/Diffunit.h"
#include "Session/Actions.h"
#include "Session/Conversions.h"
#include "Session/EngineRun.h"
#include "Session/Exports.h"
#include "Session/Filling.h"
#include "Session/OutputFile.h"
#include "Session/Parameters.h"
#include "Session/RunCsv.h"
#include "Session/Seeds.h"
#include "Session/SessionFile.h"

namespace py = pybind11;

namespace {

using TSimulationTuple = std::tuple<double, double, double, double, double>;
using TSpeciesTuple = std::tuple<double, double, double>;
using TSeedsTuple = std::tuple<std::int32_t, std::int32_t, std::int32_t, std::int32_t>;

TSimulationValues SimulationOf(const TSimulationTuple& t) {
  return {std::get<0>(t), std::get<1>(t), std::get<2>(t), std::get<3>(t), std::get<4>(t)};
}
TSimulationTuple TupleOf(const TSimulationValues& v) {
  return {v.OuterRib, v.InnerRib, v.Viscosity, v.Temperature, v.TimeStep};
}
TSpeciesValues SpeciesOf(const TSpeciesTuple& t) {
  return {std::get<0>(t), std::get<1>(t), std::get<2>(t)};
}
TSpeciesTuple TupleOf(const TSpeciesValues& v) { return {v.Concentration, v.Radius, v.Diffusion}; }
TStreamStates SeedsOf(const TSeedsTuple& t) {
  TStreamStates seeds;
  seeds.Placement = std::get<0>(t);
  seeds.X = std::get<1>(t);
  seeds.Y = std::get<2>(t);
  seeds.Z = std::get<3>(t);
  return seeds;
}
TSeedsTuple TupleOf(const TStreamStates& s) { return {s.Placement, s.X, s.Y, s.Z}; }

// The actions that make a run: a run CSV's own (as text lines) when given,
// otherwise the setup as the window makes it from a fresh start.
TActions ActionsFor(const TSimulationTuple& simulation, const std::vector<TSpeciesTuple>& species,
                    const std::vector<std::string>& actionTexts) {
  TSession session;
  session.Simulation = SimulationOf(simulation);
  for (const TSpeciesTuple& one : species) session.Species.push_back(SpeciesOf(one));
  try {
    for (const std::string& text : actionTexts) session.Actions.push_back(ParseAction(text));
  } catch (const TError& error) {
    throw py::value_error(std::string("actions: ") + error.what());
  }
  return ActionsOf(session);
}

// Takes the GIL every tenth of a second to let Python run its signal handlers
// and the progress callback; an exception there is left set for the caller,
// which raises it once the engine has stopped.
class TPythonTicks {
 public:
  explicit TPythonTicks(py::object progress) : Progress(std::move(progress)) {}

  // Called without the GIL; false once Python wants the work stopped.
  bool KeepGoing(double done) {
    if (Stopped) return false;
    const auto now = std::chrono::steady_clock::now();
    if (now - Last < std::chrono::milliseconds(100)) return true;
    Last = now;
    py::gil_scoped_acquire gil;
    if (PyErr_CheckSignals() != 0) {
      Stopped = true;
      return false;
    }
    if (!Progress.is_none()) {
      try {
        Progress(done);
      } catch (py::error_already_set& error) {
        error.restore();
        Stopped = true;
        return false;
      }
    }
    return true;
  }

  // With the GIL: raises what stopped the work, if anything did.
  static void RaisePending() {
    if (PyErr_Occurred()) throw py::error_already_set();
  }

 private:
  py::object Progress;
  std::chrono::steady_clock::time_point Last = std::chrono::steady_clock::now();
  bool Stopped = false;
};

// An engine refusal of the action `failed` of `actions`, as ValueError: a rib
// by its parameter's name, a species by its number.
[[noreturn]] void Refuse(const TEngineRun& run, const TActions& actions, std::size_t failed,
                         const TError& error) {
  if (const auto* rib = dynamic_cast<const TRibError*>(&error))
    throw py::value_error((rib->Rib == TRibError::TRib::Outer ? "outer_rib: " : "inner_rib: ") +
                          std::string(error.what()));
  if (failed < actions.size()) throw py::value_error(RefusalOf(run, actions[failed], error.what()));
  throw py::value_error(error.what());
}

// Replays `actions` on `run` with the GIL released; Ctrl+C stops it.
void ReplayWithoutGil(TEngineRun& run, const TActions& actions, TPythonTicks& ticks) {
  std::size_t failed = actions.size();
  std::optional<TError> refusal;
  {
    py::gil_scoped_release release;
    try {
      Replay(
          run, actions, [&](double done) { return ticks.KeepGoing(done); }, &failed);
    } catch (const TError& error) {
      refusal = error;
    }
  }
  TPythonTicks::RaisePending();
  if (refusal) Refuse(run, actions, failed, *refusal);
}

TEngineSettings Settings(std::optional<int> threads) {
  std::vector<std::string> messages;
  TEngineSettings settings = SettingsFromEnvironment(messages);
  if (!messages.empty()) {
    const py::object warn = py::module_::import("warnings").attr("warn");
    for (const std::string& message : messages) warn(message);
  }
  if (threads) settings.Threads = *threads;
  return settings;
}

// One run: the engine set up by the actions before its rows, then stepped for
// its length. The record keeps every step (40 bytes each).
class TPythonRun {
 public:
  TPythonRun(const TSimulationTuple& simulation, const std::vector<TSpeciesTuple>& species,
             const TSeedsTuple& seeds, const std::vector<std::string>& actions,
             std::optional<std::int64_t> steps, std::optional<double> until,
             std::optional<int> threads)
      : Run(SeedsOf(seeds)), Split(SplitAtRunStart(ActionsFor(simulation, species, actions))) {
    Length.Steps = steps;
    Length.Until = until;
    Run.Volume().SetSettings(Settings(threads));
  }

  // Sets the engine up (placing the molecules); `progress(share)` now and then.
  void Prepare(py::object progress) {
    if (Prepared) throw py::value_error("the run is set up already");
    TPythonTicks ticks(std::move(progress));
    ReplayWithoutGil(Run, Split.Before, ticks);
    Header = RunCsvHeader(Run, Split, Length);
    Prepared = true;
  }

  // The steps asked, as kelvane-run counts them.
  double TotalSteps() const {
    if (Length.Steps) return static_cast<double>(*Length.Steps);
    return std::ceil(*Length.Until / Run.Volume().TimeStep - 0.5);
  }

  // Steps the run; `progress(steps done)` now and then. Raises what Python
  // raised meanwhile (KeyboardInterrupt) once the step in hand is done; the
  // steps done stay. Returns the message of a failed step (empty: none).
  std::string Go(py::object progress) {
    if (!Prepared) throw py::value_error("the run is not set up");
    if (Ran) throw py::value_error("the run has run already");
    Ran = true;
    TPythonTicks ticks(std::move(progress));
    std::int64_t done = 0;
    Run.OnSample = [&](const TRunSample&, const std::optional<TBand>&) { ++done; };
    {
      py::gil_scoped_release release;
      Failure = RunFor(Run, Length, Split.During,
                       [&] { return ticks.KeepGoing(static_cast<double>(done)); });
    }
    Run.OnSample = nullptr;
    TPythonTicks::RaisePending();
    return Failure;
  }

  // The record's columns: time, inside count, reference count, inside and
  // total concentration, expected count (NaN: none).
  py::tuple Columns() const {
    const std::vector<TRunSample>& samples = Run.Record().Samples();
    const auto n = static_cast<py::ssize_t>(samples.size());
    py::array_t<double> time(n), insideConcentration(n), totalConcentration(n), expected(n);
    py::array_t<std::int32_t> inside(n), reference(n);
    auto t = time.mutable_unchecked<1>();
    auto ic = insideConcentration.mutable_unchecked<1>();
    auto tc = totalConcentration.mutable_unchecked<1>();
    auto e = expected.mutable_unchecked<1>();
    auto i = inside.mutable_unchecked<1>();
    auto r = reference.mutable_unchecked<1>();
    for (py::ssize_t k = 0; k < n; ++k) {
      const TRunSample& s = samples[static_cast<std::size_t>(k)];
      t(k) = s.Time;
      i(k) = s.InsideCount;
      r(k) = s.ReferenceCount;
      ic(k) = s.InsideConcentration;
      tc(k) = s.TotalConcentration;
      e(k) = s.ExpectedCount;
    }
    return py::make_tuple(time, inside, reference, insideConcentration, totalConcentration,
                          expected);
  }

  // The run CSV of kelvane-run --csv: the header written before the run, and
  // a row per step done.
  py::bytes CsvBytes() const {
    std::string text = Header;
    for (const TRunSample& sample : Run.Record().Samples()) text += RunCsvLine(sample);
    return py::bytes(text);
  }

  // A curve file of kelvane-run --curves: a line per step, in the run's order.
  py::bytes CurveBytes(const std::string& which) const {
    const TCurve curve = which == "count" ? TCurve::Count : TCurve::Concentration;
    std::string text;
    for (const TRunSample& sample : Run.Record().Samples()) text += CurveLine(sample, curve);
    return py::bytes(text);
  }

  TSeedsTuple Seeds() const { return TupleOf(Run.Seeds()); }
  std::string FailureText() const { return Failure; }
  std::optional<double> FillingTime() const {
    return Run.Record().Statistics().MeasuredFillingTime();
  }
  std::optional<double> EquilibrationTime() const {
    return Run.Record().Statistics().EquilibrationTime();
  }
  std::optional<double> ExpectedLimit() const {
    const TFillingExpectation& filling = Run.Record().Statistics().Filling();
    if (!filling.Count) return std::nullopt;
    return filling.Limit;
  }
  // When the expected count reaches FillingShare of its limit, from the
  // start of the rows [s].
  std::optional<double> ExpectedFillingTime() const {
    return Run.Record().Statistics().Filling().FillingTime;
  }
  std::vector<std::string> ActionTexts() const {
    std::vector<std::string> texts;
    for (const TAction& action : WithoutTrailingSteps(Run.Actions()))
      texts.push_back(ActionText(action));
    return texts;
  }

 private:
  TEngineRun Run;
  TRunActions Split;
  TRunLength Length;
  std::string Header;
  std::string Failure;
  bool Prepared = false;
  bool Ran = false;
};

// The expected count after each of `steps` (whole or fractional) from the
// start of the rows of the run these values make.
py::array_t<double> ExpectedCounts(const TSimulationTuple& simulation,
                                   const std::vector<TSpeciesTuple>& species,
                                   const TSeedsTuple& seeds,
                                   const std::vector<std::string>& actions,
                                   const std::vector<double>& steps) {
  TEngineRun run(SeedsOf(seeds));
  run.Volume().SetSettings(Settings(std::nullopt));
  TPythonTicks ticks{py::none()};
  ReplayWithoutGil(run, SplitAtRunStart(ActionsFor(simulation, species, actions)).Before, ticks);
  py::array_t<double> counts(static_cast<py::ssize_t>(steps.size()));
  auto c = counts.mutable_unchecked<1>();
  for (std::size_t k = 0; k < steps.size(); ++k) {
    const std::optional<double> count = ExpectedCountAfter(run.Volume(), steps[k]);
    c(static_cast<py::ssize_t>(k)) = count ? *count : std::nan("");
  }
  return counts;
}

py::dict ReadSessionFile(const std::string& path) {
  TSession session;
  try {
    session = ReadSession(path);
  } catch (const TError& error) {
    throw py::value_error(error.what());
  }
  std::vector<TSpeciesTuple> species;
  for (const TSpeciesValues& one : session.Species) species.push_back(TupleOf(one));
  std::vector<std::string> actions;
  for (const TAction& action : session.Actions) actions.push_back(ActionText(action));
  py::dict result;
  result["simulation"] = TupleOf(session.Simulation);
  result["species"] = species;
  result["seeds"] = TupleOf(session.Seeds);
  result["actions"] = actions;
  return result;
}

// The text a table would show for `x`: the window's own when it reads back
// as the same double, otherwise the shortest exact one.
std::string TableText(double x) {
  const std::string shown = NumberToText(x, '.');
  try {
    if (TextToNumber(shown, '.') == x) return shown;
  } catch (const TError&) {
  }
  return ExactNumberText(x);
}

void WriteSessionFile(const std::string& path, const TSimulationTuple& simulation,
                      const std::vector<TSpeciesTuple>& species) {
  const TSimulationValues values = SimulationOf(simulation);
  std::array<std::string, SimulationRowCount> simulationTexts;
  for (std::size_t i = 0; i < SimulationRowCount; ++i)
    simulationTexts[i] = TableText(values.*SimulationRows[i].Simulation);
  std::vector<TSpeciesTexts> speciesTexts;
  for (const TSpeciesTuple& one : species) {
    const TSpeciesValues v = SpeciesOf(one);
    TSpeciesTexts texts;
    for (const TParameterRow& row : SpeciesRows) texts.*row.SpeciesText = TableText(v.*row.Species);
    speciesTexts.push_back(texts);
  }
  std::string text;
  try {
    text = SessionFileText(SessionFromTexts(simulationTexts, speciesTexts));
  } catch (const TError& error) {
    throw py::value_error(error.what());
  }
  try {
    WriteFileAtomically(path, text);
  } catch (const TError& error) {
    throw py::value_error(error.what());
  }
}

// The diffusion coefficient the window's Recalculate button shows for
// `radius`, read back from its three digits.
double StokesEinstein(double radius, double temperature, double viscosity) {
  TVolume volume;
  try {
    SetParameters(volume, {Defaults::OuterRib, Defaults::InnerRib, viscosity, temperature,
                           Defaults::TimeStep});
    return TextToNumber(StokesEinsteinText(volume, radius, '.'), '.');
  } catch (const TError& error) {
    throw py::value_error(error.what());
  }
}

}  // namespace

PYBIND11_MODULE(_kelvane, m) {
  m.doc() = "Kelvane's engine and session library (see the kelvane package)";
  m.attr("default_simulation") = TupleOf(TSimulationValues{});
  m.attr("default_species") = TupleOf(TSpeciesValues{});
  m.attr("fixed_seeds") = TupleOf(TStreamStates{});
  m.attr("filling_share") = FillingShare;
  m.def("read_session", &ReadSessionFile, py::arg("path"));
  m.def("write_session", &WriteSessionFile, py::arg("path"), py::arg("simulation"),
        py::arg("species"));
  m.def("stokes_einstein", &StokesEinstein, py::arg("radius"), py::arg("temperature"),
        py::arg("viscosity"));
  m.def(
      "replicate_seeds", [](std::uint64_t n) { return TupleOf(ReplicateSeeds(n)); },
      py::arg("replicate"));
  m.def("expected_counts", &ExpectedCounts, py::arg("simulation"), py::arg("species"),
        py::arg("seeds"), py::arg("actions"), py::arg("steps"));
  py::class_<TPythonRun>(m, "Run")
      .def(py::init<const TSimulationTuple&, const std::vector<TSpeciesTuple>&, const TSeedsTuple&,
                    const std::vector<std::string>&, std::optional<std::int64_t>,
                    std::optional<double>, std::optional<int>>(),
           py::arg("simulation"), py::arg("species"), py::arg("seeds"), py::arg("actions"),
           py::arg("steps"), py::arg("until"), py::arg("threads"))
      .def("prepare", &TPythonRun::Prepare, py::arg("progress"))
      .def("total_steps", &TPythonRun::TotalSteps)
      .def("go", &TPythonRun::Go, py::arg("progress"))
      .def("columns", &TPythonRun::Columns)
      .def("csv_bytes", &TPythonRun::CsvBytes)
      .def("curve_bytes", &TPythonRun::CurveBytes, py::arg("which"))
      .def("seeds", &TPythonRun::Seeds)
      .def("failure", &TPythonRun::FailureText)
      .def("filling_time", &TPythonRun::FillingTime)
      .def("equilibration_time", &TPythonRun::EquilibrationTime)
      .def("expected_limit", &TPythonRun::ExpectedLimit)
      .def("expected_filling_time", &TPythonRun::ExpectedFillingTime)
      .def("actions", &TPythonRun::ActionTexts);
}
