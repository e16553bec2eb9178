// The engine and the session library for the browser page (web/src): what
// the window's handlers do, without the window. The page's worker holds one
// TPageCore and calls it for every button; the page's own thread uses the
// free functions (the words of the controls, the charts' tick labels). The
// contract, as the page sees it, is web/src/core.d.ts.
//
// Every message is returned, never thrown into JavaScript: a handler that
// fails has changed nothing, as in the window.
#include <emscripten/bind.h>
#include <emscripten/emscripten.h>
#include <emscripten/val.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Diffunit/Diffunit.h"
#include "Session/Actions.h"
#include "Session/Captions.h"
#include "Session/Checks.h"
#include "Session/Comparison.h"
#include "Session/Conversions.h"
#include "Session/EngineRun.h"
#include "Session/Exports.h"
#include "Session/MoleculePicture.h"
#include "Session/Parameters.h"
#include "Session/RunCsv.h"
#include "Session/RunStatistics.h"
#include "Session/SessionFile.h"
#include "Session/Tables.h"

using emscripten::val;

namespace {

// The page writes numbers with a point, whatever the browser's language.
constexpr char Separator = '.';

// The values of one step the charts draw (web/src/protocol.ts: SampleWidth).
constexpr std::size_t SampleWidth = 11;

double WallSeconds() { return emscripten_get_now() / 1000.0; }

// The message of the exception in flight, as the window's message box shows it.
std::string CurrentMessage() {
  try {
    throw;
  } catch (const std::exception& error) {
    return error.what();
  } catch (...) {
    return "";
  }
}

std::vector<std::string> Strings(const val& array) {
  return emscripten::vecFromJSArray<std::string>(array);
}

val StringArray(const std::vector<std::string>& strings) {
  val array = val::array();
  for (const std::string& text : strings) array.call<void>("push", text);
  return array;
}

template <class TNumber>
val TypedArray(const char* type, const std::vector<TNumber>& numbers) {
  val array = val::global(type).new_(numbers.size());
  array.call<void>("set", val(emscripten::typed_memory_view(numbers.size(), numbers.data())));
  return array;
}

TSimulationTexts SimulationTexts(const val& texts) {
  const std::vector<std::string> strings = Strings(texts);
  TSimulationTexts simulation;
  for (std::size_t i = 0; i < simulation.size() && i < strings.size(); ++i)
    simulation[i] = strings[i];
  return simulation;
}

TSpeciesTexts SpeciesTexts(const val& texts) {
  const std::vector<std::string> strings = Strings(texts);
  TSpeciesTexts species;
  for (std::size_t i = 0; i < SpeciesRowCount && i < strings.size(); ++i)
    species.*SpeciesRows[i].SpeciesText = strings[i];
  return species;
}

val TextArray(const TSpeciesTexts& texts) {
  std::vector<std::string> strings;
  for (const TParameterRow& row : SpeciesRows) strings.push_back(texts.*row.SpeciesText);
  return StringArray(strings);
}

// A step's values as the charts draw them: the band and the expected count
// also per volume of the inner cube, for the concentration chart.
void AppendSample(std::vector<double>& out, const TRunSample& sample,
                  const std::optional<TBand>& band, double innerVolume) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double lower = band ? band->Lower() : nan;
  const double upper = band ? band->Upper() : nan;
  const double values[SampleWidth] = {sample.Time,
                                      sample.TotalConcentration,
                                      sample.InsideConcentration,
                                      static_cast<double>(sample.ReferenceCount),
                                      static_cast<double>(sample.InsideCount),
                                      lower,
                                      upper,
                                      sample.ExpectedCount,
                                      lower / innerVolume,
                                      upper / innerVolume,
                                      sample.ExpectedCount / innerVolume};
  out.insert(out.end(), std::begin(values), std::end(values));
}

val Reply(const std::string& error) {
  val reply = val::object();
  reply.set("error", error);
  return reply;
}

// A file the page handed over, as a file of the same name in the current
// folder of the module's own file system, so that messages name it as the
// user knows it; removed again when done.
class TPageFile {
 public:
  TPageFile(const std::string& name, const std::string& text)
      : Name(std::filesystem::path(name).filename().string()) {
    if (Name.empty() || Name == "." || Name == "..") Name = "file";
    std::ofstream(Name, std::ios::binary) << text;
  }
  ~TPageFile() {
    std::error_code ignored;
    std::filesystem::remove(Name, ignored);
  }
  const std::string& Path() const { return Name; }

 private:
  std::string Name;
};

std::string Grouped(std::int64_t count) {
  std::string digits = std::to_string(count < 0 ? -count : count);
  for (std::size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, ",");
  return count < 0 ? "-" + digits : digits;
}

}  // namespace

class TPageCore {
 public:
  // As the window starts: the default parameters applied, then one species.
  TPageCore() {
    UseRun(NewRun(TStreamStates()));
    TSimulationTexts defaults;
    for (std::size_t i = 0; i < SimulationRowCount; ++i)
      defaults[i] = NumberToText(SimulationRows[i].Initial, Separator);
    apply(StringArrayOf(defaults));
    addSpecies(val::array(), -1);
  }

  int speciesCount() const { return static_cast<int>(Run->Volume().Species.size()); }

  std::string apply(const val& texts) {
    try {
      Run->Do(TAction::Apply(ReadSimulationTable(SimulationTexts(texts), Separator)));
    } catch (...) {
      return CurrentMessage();
    }
    Pending.clear();
    AfterChange();
    return "";
  }

  // "+ Species" adds a species with the default values, whatever the table
  // holds; the page then shows what the engine holds for the selected item.
  std::string addSpecies(const val&, int) {
    const TSpeciesValues species;
    try {
      RefuseFindings(SpeciesFindings(species, Run->Volume().Species.size() + 1, Separator));
      Run->Do(TAction::AddSpecies(species));
    } catch (...) {
      return CurrentMessage();
    }
    AfterChange();
    return "";
  }

  std::string removeSpecies(int selected) {
    if (speciesCount() < 2 || selected < 0 || selected >= speciesCount()) return "";
    try {
      Run->Do(TAction::RemoveSpecies(selected));
    } catch (...) {
      return CurrentMessage();
    }
    AfterChange();
    return "";
  }

  std::string applySpecies(const val& texts, int selected) {
    if (selected < 0 || selected >= speciesCount()) {
      AfterChange();
      return "";
    }
    try {
      const TSpeciesValues species = ReadSpeciesTable(SpeciesTexts(texts), Separator);
      RefuseFindings(SpeciesFindings(species, static_cast<std::size_t>(selected) + 1, Separator));
      Run->Do(TAction::ApplySpecies(selected, species));
    } catch (...) {
      return CurrentMessage();
    }
    AfterChange();
    return "";
  }

  val speciesTexts(int index) const {
    if (index < 0 || index >= speciesCount()) return val::array();
    return TextArray(SpeciesTableTexts(SpeciesValuesOf(Run->Volume(), index), Separator));
  }

  // The Recalculate buttons use the temperature and viscosity applied last.
  val recalcDiffusion(const std::string& radius) const { return StokesEinstein(radius); }
  val recalcRadius(const std::string& diffusion) const { return StokesEinstein(diffusion); }

  val step(int count, double budgetMs) {
    const double start = emscripten_get_now();
    double longest = 0.0;
    std::string error;
    for (int taken = 0; count < 0 || taken < count; ++taken) {
      const double now = emscripten_get_now();
      if (taken > 0 && now - start + longest >= budgetMs) break;
      try {
        Run->Step();
      } catch (...) {
        // A step that fails would fail again at every tick: the page pauses.
        error = CurrentMessage();
        break;
      }
      longest = std::max(longest, emscripten_get_now() - now);
    }
    AfterChange();
    val reply = Reply(error);
    reply.set("samples", TypedArray("Float64Array", Pending));
    Pending.clear();
    return reply;
  }

  // A read only: the steps per second are marked where the engine changes
  // (AfterChange), so a refused value or a question leaves the readout as it
  // was.
  std::string readout() const { return Run->Record().Statistics().ReadoutText(Separator); }

  std::string curveText(const std::string& which) const {
    return CurveText(Run->Record().Samples(),
                     which == "c1" ? TCurve::Concentration : TCurve::Count);
  }

  std::string runCsv() const { return RunCsv(*Run); }

  val sessionText(const val& simulation, const val& species, int selected) const {
    val reply = Reply("");
    try {
      reply.set("text", SessionFileText(TablesSession(SimulationTexts(simulation), Run->Volume(),
                                                      selected, SpeciesTexts(species), Separator)));
    } catch (...) {
      reply.set("error", CurrentMessage());
      reply.set("text", std::string());
    }
    return reply;
  }

  // Opens a session file or a run CSV: its run is built beside the one now,
  // which stays as it is unless every action of the file succeeds.
  val open(const std::string& name, const std::string& text) {
    TSession session;
    std::unique_ptr<TEngineRun> run;
    std::vector<std::pair<TRunSample, std::optional<TBand>>> reported;
    try {
      session = ParseSession(text, name);
      const TActions actions = WithoutTrailingSteps(ActionsOf(session));
      run = NewRun(session.Seeds);
      run->OnSample = [&reported](const TRunSample& sample, const std::optional<TBand>& band) {
        reported.emplace_back(sample, band);
      };
      std::size_t failed = 0;
      try {
        Replay(*run, actions, {}, &failed);
      } catch (const TError& error) {
        throw TError(name + ": " + RefusalOf(*run, actions[failed], error.what()));
      }
    } catch (...) {
      return Reply(CurrentMessage());
    }
    UseRun(std::move(run));
    // The run's rows are the steps since its last Apply: the last ones told.
    const std::size_t rows = Run->Record().Samples().size();
    std::vector<double> samples;
    for (std::size_t i = reported.size() - std::min(rows, reported.size()); i < reported.size();
         ++i)
      AppendSample(samples, reported[i].first, reported[i].second, Run->Volume().InnerVolume);
    AfterChange();

    val reply = Reply("");
    reply.set("note",
              session.SpeciesChangedWhileRunning ? Captions::SpeciesChangedWhileRunning : "");
    reply.set("simulation", StringArrayOf(session.SimulationTexts));
    // The species table shows the last species: as the file gives its texts
    // when it is a setup, as the engine holds it after a replay of actions.
    const int count = speciesCount();
    reply.set("species", session.Actions.empty() && count > 0
                             ? TextArray(session.SpeciesTexts.back())
                             : speciesTexts(count - 1));
    reply.set("speciesCount", count);
    reply.set("samples", TypedArray("Float64Array", samples));
    return reply;
  }

  val keepRun() {
    try {
      return KeptReply(Kept.Keep(Run->Record().Samples(), SessionOf(*Run)));
    } catch (...) {
      return Reply(CurrentMessage());
    }
  }

  val compareWith(const std::string& name, const std::string& text) {
    try {
      const TPageFile file(name, text);
      const TKeptRun run = ReadKeptRun(file.Path());
      Kept.Add(run);
      return KeptReply(run);
    } catch (...) {
      return Reply(CurrentMessage());
    }
  }

  void removeKept(int index) { Kept.Remove(index); }
  void clearKept() { Kept.Clear(); }

  val keptLabels() const {
    if (Kept.Count() == 0) return val::array();
    return StringArray(Kept.Labels(SessionOf(*Run), Separator));
  }

  val moleculePicture() const {
    const TMoleculePicture picture = TakeMoleculePicture(Run->Volume());
    const auto coordinates = [](const std::vector<TViewPoint>& points) {
      std::vector<float> uv;
      uv.reserve(2 * points.size());
      for (const TViewPoint& p : points) {
        uv.push_back(p.U);
        uv.push_back(p.V);
      }
      return TypedArray("Float32Array", uv);
    };
    val species = val::array();
    for (const std::vector<TViewPoint>& points : picture.Species)
      species.call<void>("push", coordinates(points));
    val reply = val::object();
    reply.set("drawable", picture.Drawable);
    reply.set("lines", StringArray(MoleculePictureLines(picture, Grouped)));
    reply.set("species", species);
    reply.set("wall", coordinates(picture.Wall));
    reply.set("innerRib", picture.Drawable ? picture.InnerRib / picture.OuterRib : 0.0);
    return reply;
  }

 private:
  std::unique_ptr<TEngineRun> NewRun(const TStreamStates& seeds) const {
    auto run = std::make_unique<TEngineRun>(seeds);
    // WebAssembly runs on one thread, to the same bits as any other count.
    TEngineSettings settings;
    settings.Threads = 1;
    run->Volume().SetSettings(settings);
    return run;
  }

  void UseRun(std::unique_ptr<TEngineRun> run) {
    Run = std::move(run);
    Pending.clear();
    Run->OnSample = [this](const TRunSample& sample, const std::optional<TBand>& band) {
      AppendSample(Pending, sample, band, Run->Volume().InnerVolume);
    };
  }

  // What follows every change of the engine, as in the window: the
  // statistics brought up to date for the readout.
  void AfterChange() {
    Run->Record().Statistics().FollowEngine(Run->Volume(), WallSeconds(), Separator);
  }

  val StokesEinstein(const std::string& text) const {
    val reply = Reply("");
    try {
      reply.set("text",
                StokesEinsteinText(Run->Volume(), TextToNumber(text, Separator), Separator));
    } catch (...) {
      reply.set("error", CurrentMessage());
      reply.set("text", std::string());
    }
    return reply;
  }

  static val KeptReply(const TKeptRun& run) {
    val reply = Reply("");
    reply.set("times", TypedArray("Float64Array", run.Times));
    reply.set("counts", TypedArray("Float64Array", run.Counts));
    reply.set("concentrations", TypedArray("Float64Array", run.Concentrations));
    return reply;
  }

  template <std::size_t Count>
  static val StringArrayOf(const std::array<std::string, Count>& texts) {
    return StringArray(std::vector<std::string>(texts.begin(), texts.end()));
  }

  std::unique_ptr<TEngineRun> Run;
  std::vector<double> Pending;  // the samples of the steps not yet handed over
  TKeptRunList Kept;
};

namespace {

template <std::size_t Count>
val Rows(const TParameterRow (&rows)[Count]) {
  val array = val::array();
  for (const TParameterRow& row : rows) {
    val one = val::object();
    one.set("key", std::string(row.Key));
    one.set("caption", std::string(row.Caption));
    one.set("initial", NumberToText(row.Initial, Separator));
    array.call<void>("push", one);
  }
  return array;
}

val Table(const char* title) {
  val table = val::object();
  table.set("title", std::string(title));
  table.set("value", std::string(Captions::ValueColumn));
  return table;
}

val Titled(const char* title, const char* axis) {
  val chart = val::object();
  chart.set("title", std::string(title));
  chart.set("axis", std::string(axis));
  return chart;
}

val UiTexts() {
  val texts = val::object();
  texts.set("title", std::string(Captions::Title));
  texts.set("simulationTable", Table(Captions::SimulationTable));
  texts.set("speciesTable", Table(Captions::SpeciesTable));
  texts.set("speciesGroup", std::string(Captions::SpeciesGroup));
  texts.set("speciesItem", std::string(Captions::SpeciesItem));
  texts.set("simulationRows", Rows(SimulationRows));
  texts.set("speciesRows", Rows(SpeciesRows));
  val controls = val::object();
  for (const TControlText& control : AllControls) {
    val one = val::object();
    one.set("caption", std::string(control.Caption));
    one.set("tip", std::string(control.Tip));
    one.set("key", std::string(control.Key));
    controls.set(control.Action, one);
  }
  texts.set("controls", controls);
  texts.set("speeds", StringArray({std::begin(Captions::Speeds), std::end(Captions::Speeds)}));
  texts.set("speedTip", std::string(Captions::SpeedTip));
  texts.set("readoutTip", std::string(Captions::ReadoutTip));
  val charts = val::object();
  charts.set("concentration", Titled(Captions::ConcentrationChart, Captions::ConcentrationAxis));
  charts.set("count", Titled(Captions::CountChart, Captions::CountAxis));
  charts.set("time", std::string());
  charts.set("band", std::string(Captions::BandToggle));
  charts.set("expected", std::string(Captions::ExpectedToggle));
  charts.set("saveImage", std::string(Captions::SaveImage));
  charts.set("thisRun", std::string(Captions::ThisRun));
  texts.set("charts", charts);
  val files = val::object();
  files.set("c1", std::string(CurveFileName(TCurve::Concentration)));
  files.set("n1", std::string(CurveFileName(TCurve::Count)));
  files.set("run", std::string(Captions::RunFileName));
  files.set("session", std::string(Captions::SessionFileName));
  texts.set("files", files);
  val view = val::object();
  view.set("title", std::string(Captions::MoleculeViewTitle));
  view.set("legend", std::string(Captions::MoleculeLegend));
  texts.set("moleculeView", view);
  return texts;
}

std::string TickLabel(double x) { return TickLabelText(x, Separator); }

}  // namespace

EMSCRIPTEN_BINDINGS(kelvane_core) {
  emscripten::function("uiTexts", &UiTexts);
  emscripten::function("tickLabel", &TickLabel);
  emscripten::class_<TPageCore>("PageCore")
      .constructor<>()
      .function("speciesCount", &TPageCore::speciesCount)
      .function("apply", &TPageCore::apply)
      .function("addSpecies", &TPageCore::addSpecies)
      .function("removeSpecies", &TPageCore::removeSpecies)
      .function("applySpecies", &TPageCore::applySpecies)
      .function("speciesTexts", &TPageCore::speciesTexts)
      .function("recalcDiffusion", &TPageCore::recalcDiffusion)
      .function("recalcRadius", &TPageCore::recalcRadius)
      .function("step", &TPageCore::step)
      .function("readout", &TPageCore::readout)
      .function("curveText", &TPageCore::curveText)
      .function("runCsv", &TPageCore::runCsv)
      .function("sessionText", &TPageCore::sessionText)
      .function("open", &TPageCore::open)
      .function("keepRun", &TPageCore::keepRun)
      .function("compareWith", &TPageCore::compareWith)
      .function("removeKept", &TPageCore::removeKept)
      .function("clearKept", &TPageCore::clearKept)
      .function("keptLabels", &TPageCore::keptLabels)
      .function("moleculePicture", &TPageCore::moleculePicture);
}
