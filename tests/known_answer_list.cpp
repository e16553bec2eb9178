#include "tests/known_answer_list.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "Diffunit/Diffunit.h"
#include "Diffunit/Kernels.h"
#include "Session/Conversions.h"
#include "Session/Filling.h"
#include "Session/Parameters.h"
#include "Session/SessionFile.h"
#include "Statg/Statg.h"

namespace {

// A field of the list that is not what its record needs.
struct TBadField {
  std::string What;
};

// Numbers are read with strtod in the C locale (this code never sets
// another), which takes decimal and hex texts alike and rounds correctly.
// The sign is taken apart: not every C library keeps it on "-nan".
double Number(const std::string& field) {
  if (field.size() > 1 && field[0] == '-') return -Number(field.substr(1));
  char* end = nullptr;
  const double value = std::strtod(field.c_str(), &end);
  if (field.empty() || *end != '\0') throw TBadField{"'" + field + "' is not a number"};
  return value;
}

std::int32_t Whole(const std::string& field) {
  const double value = Number(field);
  if (value != static_cast<double>(static_cast<std::int32_t>(value)))
    throw TBadField{"'" + field + "' is not a 32-bit whole number"};
  return static_cast<std::int32_t>(value);
}

char Separator(const std::string& field) {
  if (field != "." && field != ",") throw TBadField{"'" + field + "' is not '.' or ','"};
  return field[0];
}

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

std::string Hex(double x) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%a", x);
  return buffer;
}

// One engine run of the list: what its records say, checked at "end".
struct TKnownRun {
  std::string Name;
  double OuterRib = 0, InnerRib = 0, TimeStep = 0;
  int Steps = 0;
  std::int32_t InnerCount = 0, ShellCount = 0;
  TMolCoord FirstPlaced{}, FirstAfterSteps{};
  TStreamStates AfterPlacing{}, AfterSteps{};
  struct TReportLine {
    int Step;
    std::int32_t Inside, InnerTotal;
    double Concentration, TotalConcentration, Time;
  };
  std::vector<TReportLine> Reports;
};

TMolCoord Coordinates(const std::vector<std::string>& f, std::size_t at) {
  return {Number(f[at]), Number(f[at + 1]), Number(f[at + 2])};
}

TStreamStates States(const std::vector<std::string>& f, std::size_t at) {
  return {Whole(f[at]), Whole(f[at + 1]), Whole(f[at + 2]), Whole(f[at + 3])};
}

bool SameCoordinates(const TMolCoord& a, const TMolCoord& b) {
  return SameBits(a.x, b.x) && SameBits(a.y, b.y) && SameBits(a.z, b.z);
}

// Runs `known` with every kernel this CPU runs, on 1 and 3 threads; appends
// one text per difference to `failures`.
void CheckRun(const TKnownRun& known, std::vector<std::string>& failures) {
  for (const TKernel& kernel : Kernels) {
    if (!kernel.Supported()) continue;
    for (int threads : {1, 3}) {
      const std::string where =
          known.Name + " (" + kernel.Name + ", " + std::to_string(threads) + " threads): ";
      TVolume volume;
      TEngineSettings settings;
      settings.Kernel = &kernel;
      settings.Threads = threads;
      volume.SetSettings(settings);
      struct TSeen {
        std::int32_t Inside, InnerTotal;
        double Concentration, TotalConcentration, Time;
      };
      std::vector<TSeen> seen;
      volume.SetStepCallback(
          [&seen](std::int32_t n, std::int32_t total, double c, double ctotal, double t) {
            seen.push_back({n, total, c, ctotal, t});
          });
      volume.SetParameters(known.OuterRib, known.InnerRib, Defaults::Viscosity,
                           Defaults::Temperature, known.TimeStep);
      AddDefaultSpecies(volume);
      const TSpecies& species = volume.Species[0];
      if (species.InnerCount != known.InnerCount || species.ShellCount != known.ShellCount)
        failures.push_back(where + "counts " + std::to_string(species.InnerCount) + " and " +
                           std::to_string(species.ShellCount));
      if (!SameCoordinates(species.Molecules[0], known.FirstPlaced))
        failures.push_back(where + "slot 0 placed elsewhere");
      if (!(volume.Streams == known.AfterPlacing))
        failures.push_back(where + "other stream states after placing");
      for (int step = 0; step < known.Steps; ++step) volume.Step();
      if (seen.size() != static_cast<std::size_t>(known.Steps)) {
        failures.push_back(where + std::to_string(seen.size()) + " reports");
        continue;
      }
      for (const TKnownRun::TReportLine& line : known.Reports) {
        if (line.Step < 1 || line.Step > known.Steps) {
          failures.push_back(where + "no step " + std::to_string(line.Step));
          continue;
        }
        const TSeen& s = seen[static_cast<std::size_t>(line.Step - 1)];
        if (s.Inside != line.Inside || s.InnerTotal != line.InnerTotal ||
            !SameBits(s.Concentration, line.Concentration) ||
            !SameBits(s.TotalConcentration, line.TotalConcentration) ||
            !SameBits(s.Time, line.Time))
          failures.push_back(where + "step " + std::to_string(line.Step) + " reported " +
                             std::to_string(s.Inside) + " " + std::to_string(s.InnerTotal) + " " +
                             Hex(s.Concentration) + " " + Hex(s.TotalConcentration) + " " +
                             Hex(s.Time));
      }
      if (!SameCoordinates(species.Molecules[0], known.FirstAfterSteps))
        failures.push_back(where + "slot 0 elsewhere after the steps");
      if (!(volume.Streams == known.AfterSteps))
        failures.push_back(where + "other stream states after the steps");
    }
  }
}

// A text result against the list's.
void Expect(const std::string& got, const std::string& expected, std::vector<std::string>& out) {
  if (got != expected) out.push_back("gave '" + got + "', not '" + expected + "'");
}

void ExpectNumber(double got, double expected, std::vector<std::string>& out) {
  if (!SameBits(got, expected)) out.push_back("read " + Hex(got) + ", not " + Hex(expected));
}

}  // namespace

TKnownAnswerResult CheckKnownAnswers(const std::string& path) {
  TKnownAnswerResult result;
  std::ifstream in(path);
  if (!in) {
    result.Failures.push_back(path + ": cannot be read");
    return result;
  }
  TKnownRun run;
  bool inRun = false;
  std::string text;
  for (int lineNumber = 1; std::getline(in, text); ++lineNumber) {
    if (const std::size_t hash = text.find('#'); hash != std::string::npos) text.erase(hash);
    std::istringstream fields(text);
    std::vector<std::string> f;
    for (std::string field; fields >> field;) f.push_back(field);
    if (f.empty()) continue;
    const std::string& kind = f[0];
    std::vector<std::string> failures;
    const auto needs = [&](std::size_t count) {
      if (f.size() != count)
        throw TBadField{kind + " takes " + std::to_string(count - 1) + " fields, not " +
                        std::to_string(f.size() - 1)};
    };
    try {
      if (kind == "run") {
        needs(6);
        run = TKnownRun{};
        run.Name = f[1];
        run.OuterRib = Number(f[2]);
        run.InnerRib = Number(f[3]);
        run.TimeStep = Number(f[4]);
        run.Steps = Whole(f[5]);
        inRun = true;
        continue;  // counted at its "end"
      } else if (inRun && kind == "placed") {
        needs(10);
        run.InnerCount = Whole(f[1]);
        run.ShellCount = Whole(f[2]);
        run.FirstPlaced = Coordinates(f, 3);
        run.AfterPlacing = States(f, 6);
        continue;
      } else if (inRun && kind == "report") {
        needs(7);
        run.Reports.push_back(
            {Whole(f[1]), Whole(f[2]), Whole(f[3]), Number(f[4]), Number(f[5]), Number(f[6])});
        continue;
      } else if (inRun && kind == "after") {
        needs(8);
        run.FirstAfterSteps = Coordinates(f, 1);
        run.AfterSteps = States(f, 4);
        continue;
      } else if (inRun && kind == "end") {
        needs(1);
        inRun = false;
        CheckRun(run, failures);
      } else if (inRun) {
        throw TBadField{kind + " inside a run"};
      } else if (kind == "count" || kind == "refused") {
        needs(kind == "count" ? 6 : 4);
        TVolume volume;
        volume.SetParameters(Number(f[1]), Number(f[2]), Defaults::Viscosity, Defaults::Temperature,
                             Defaults::TimeStep);
        try {
          volume.AddSpecies(Number(f[3]), Defaults::Diffusion, Defaults::Radius);
          if (kind == "refused")
            failures.push_back("accepted");
          else if (volume.Species[0].InnerCount != Whole(f[4]) ||
                   volume.Species[0].ShellCount != Whole(f[5]) ||
                   volume.TotalInnerCount != Whole(f[4]))
            failures.push_back("counts " + std::to_string(volume.Species[0].InnerCount) + " and " +
                               std::to_string(volume.Species[0].ShellCount));
        } catch (const TError& error) {
          if (kind == "count") failures.push_back(std::string("refused: ") + error.what());
        }
      } else if (kind == "expected-count") {
        // Through exp and erf of the C library: equal to 12 digits, not to
        // the bit, as C libraries differ in the last bits of those.
        needs(3);
        TVolume volume;
        SetDefaultParameters(volume);
        AddDefaultSpecies(volume);
        volume.Species[0].StepsTaken = Whole(f[1]);
        const std::optional<double> count = ExpectedCount(volume);
        const double expected = Number(f[2]);
        if (!count)
          failures.push_back("no expected count");
        else if (!(std::fabs(*count - expected) <= 1e-12 * std::fabs(expected)))
          failures.push_back("expected " + Hex(*count));
      } else if (kind == "session") {
        needs(10);
        const std::string folder = path.substr(0, path.find_last_of('/') + 1);
        const std::string file = folder + f[1];
        const TSession session = ReadSession(file);
        const TSimulationValues& sim = session.Simulation;
        const double read[] = {sim.OuterRib, sim.InnerRib, sim.Viscosity, sim.Temperature,
                               sim.TimeStep};
        for (int k = 0; k < 5; ++k) ExpectNumber(read[k], Number(f[2 + k]), failures);
        if (session.Species.size() != static_cast<std::size_t>(Whole(f[7])))
          failures.push_back(std::to_string(session.Species.size()) + " species");
        else
          ExpectNumber(session.Species.back().Concentration, Number(f[8]), failures);
        // Written again, the session is the file's bytes.
        std::ifstream bytes(file, std::ios::binary);
        const std::string fileText((std::istreambuf_iterator<char>(bytes)),
                                   std::istreambuf_iterator<char>());
        if (SessionFileText(session) != fileText) failures.push_back("written again, other bytes");
        if (Whole(f[9]) != static_cast<std::int32_t>(fileText.size()))
          failures.push_back(std::to_string(fileText.size()) + " bytes");
      } else if (kind == "number-text") {
        needs(4);
        Expect(NumberToText(Number(f[1]), Separator(f[2])), f[3], failures);
      } else if (kind == "exponent-text") {
        needs(4);
        Expect(NumberToExponentText(Number(f[1]), Separator(f[2])), f[3], failures);
      } else if (kind == "tick-text") {
        needs(4);
        Expect(TickLabelText(Number(f[1]), Separator(f[2])), f[3], failures);
      } else if (kind == "export-text") {
        needs(3);
        Expect(ExportNumberText(Number(f[1])), f[2], failures);
      } else if (kind == "exact-text") {
        needs(3);
        Expect(ExactNumberText(Number(f[1])), f[2], failures);
      } else if (kind == "text-number") {
        needs(4);
        ExpectNumber(TextToNumber(f[1], Separator(f[2])), Number(f[3]), failures);
      } else if (kind == "exact-number") {
        needs(3);
        double value = 0;
        if (!ExactNumber(f[1], value))
          failures.push_back("refused");
        else
          ExpectNumber(value, Number(f[2]), failures);
      } else {
        throw TBadField{"no record '" + kind + "'"};
      }
    } catch (const TBadField& bad) {
      failures.push_back(bad.What);
    } catch (const std::exception& error) {
      failures.push_back(std::string("threw: ") + error.what());
    }
    for (const std::string& failure : failures)
      result.Failures.push_back("line " + std::to_string(lineNumber) + ": " + text + ": " +
                                failure);
    if (failures.empty()) ++result.Passed;
  }
  if (inRun) result.Failures.push_back(path + ": a run without its end");
  if (result.Passed + result.Failures.size() == 0) result.Failures.push_back(path + ": no record");
  return result;
}
