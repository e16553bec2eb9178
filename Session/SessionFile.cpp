#include "Session/SessionFile.h"

#include <toml++/toml.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "Diffunit/Diffunit.h"
#include "Session/Conversions.h"
#include "Session/RunCsv.h"

namespace {

// A session file is a few hundred bytes; anything this large is not one.
constexpr std::size_t LargestSessionFile = 1 << 20;

const char* const SpeciesKeys[3] = {Key::SP_C, Key::SP_A, Key::SP_D};

[[noreturn]] void Fail(const std::string& name, std::size_t line, const std::string& what) {
  throw TError(name + ":" + std::to_string(line) + ": " + what);
}

int SimulationIndex(std::string_view key) {
  for (std::size_t i = 0; i < 5; ++i)
    if (key == SimulationKey(i)) return static_cast<int>(i);
  return -1;
}

int SpeciesIndex(std::string_view key) {
  for (int i = 0; i < 3; ++i)
    if (key == SpeciesKeys[i]) return i;
  return -1;
}

std::string& SpeciesText(TSpeciesTexts& species, int index) {
  return index == 0 ? species.Concentration : index == 1 ? species.Radius : species.Diffusion;
}

}  // namespace

TSession CheckedSession(const std::array<std::string, 5>& simulation,
                        const std::vector<TSpeciesTexts>& species, const TSourceLines& lines,
                        const std::string& name, std::size_t endLine) {
  if (species.empty()) Fail(name, endLine, "no species");
  const auto check = [&](const std::string& what, const std::string& text, std::size_t line) {
    try {
      TextToNumber(text, '.');
    } catch (const TError& error) {
      Fail(name, line, what + ": " + error.what());
    }
  };
  for (std::size_t i = 0; i < 5; ++i) check(SimulationKey(i), simulation[i], lines.Simulation[i]);
  for (std::size_t s = 0; s < species.size(); ++s) {
    const std::string number = "species " + std::to_string(s + 1) + " ";
    check(number + Key::SP_C, species[s].Concentration, lines.Species[s][0]);
    check(number + Key::SP_A, species[s].Radius, lines.Species[s][1]);
    check(number + Key::SP_D, species[s].Diffusion, lines.Species[s][2]);
  }
  return SessionFromTexts(simulation, species);
}

namespace {

// ---------------------------------------------------------------------------
// Session files (TOML)

std::size_t LineOf(const toml::node& node) { return node.source().begin.line; }

std::string TextOf(const toml::node& node, std::string_view key, const std::string& name) {
  if (const auto* text = node.as_string()) return text->get();
  Fail(name, LineOf(node), std::string(key) + " must be a text in quotes, as '1E-5'");
}

TSession ParseToml(std::string_view text, const std::string& name) {
  toml::table root;
  try {
    root = toml::parse(text, std::string_view(name));
  } catch (const toml::parse_error& error) {
    Fail(name, error.source().begin.line, std::string(error.description()));
  }
  const toml::node* format = root.get("format");
  if (!format) Fail(name, 1, "no format version (format = " + std::to_string(SessionFormat) + ")");
  const auto* version = format->as_integer();
  if (!version || version->get() < 1)
    Fail(name, LineOf(*format), "the format version must be a whole number from 1");
  if (version->get() > SessionFormat)
    Fail(name, LineOf(*format),
         "format " + std::to_string(version->get()) +
             " comes from a newer Kelvane; this one reads " + std::to_string(SessionFormat));

  std::array<std::string, 5> simulation;
  std::vector<TSpeciesTexts> species;
  TSourceLines lines;
  bool hasSimulation = false;
  for (const auto& [key, node] : root) {
    if (key == "format") continue;
    if (key == "simulation") {
      const toml::table* table = node.as_table();
      if (!table) Fail(name, LineOf(node), "simulation must be a table: [simulation]");
      hasSimulation = true;
      std::array<bool, 5> found{};
      for (const auto& [rowKey, value] : *table) {
        const int index = SimulationIndex(rowKey.str());
        if (index < 0) Fail(name, LineOf(value), "unknown key '" + std::string(rowKey.str()) + "'");
        simulation[static_cast<std::size_t>(index)] = TextOf(value, rowKey.str(), name);
        lines.Simulation[static_cast<std::size_t>(index)] = LineOf(value);
        found[static_cast<std::size_t>(index)] = true;
      }
      for (std::size_t i = 0; i < 5; ++i)
        if (!found[i])
          Fail(name, LineOf(node), "[simulation] has no " + std::string(SimulationKey(i)));
    } else if (key == "species") {
      const toml::array* list = node.as_array();
      if (!list || !list->is_array_of_tables())
        Fail(name, LineOf(node), "species must be tables: [[species]]");
      for (const toml::node& entry : *list) {
        const std::string number = "species " + std::to_string(species.size() + 1);
        TSpeciesTexts texts;
        std::array<std::size_t, 3> where{};
        for (const auto& [rowKey, value] : *entry.as_table()) {
          const int index = SpeciesIndex(rowKey.str());
          if (index < 0)
            Fail(name, LineOf(value), "unknown key '" + std::string(rowKey.str()) + "'");
          SpeciesText(texts, index) = TextOf(value, rowKey.str(), name);
          where[static_cast<std::size_t>(index)] = LineOf(value);
        }
        for (int k = 0; k < 3; ++k)
          if (where[static_cast<std::size_t>(k)] == 0)
            Fail(name, LineOf(entry), number + " has no " + SpeciesKeys[k]);
        species.push_back(texts);
        lines.Species.push_back(where);
      }
    } else {
      Fail(name, LineOf(node), "unknown key '" + std::string(key.str()) + "'");
    }
  }
  if (!hasSimulation) Fail(name, 1, "no [simulation] table");
  const std::size_t lastLine =
      static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
  return CheckedSession(simulation, species, lines, name, lastLine);
}

// Tells a run CSV from a session file by its first line, and parses either.
TSession Parse(std::istream& in, const std::string& name) {
  std::string first;
  if (!std::getline(in, first) && in.bad())
    throw TError("Cannot read " + name + ": " + std::strerror(errno));
  // "# Kelvane 0.1 run export" (a session file's own comment says "session").
  if (IsRunCsvStart(first)) return ParseRunCsvHeader(in, first, name);
  if (first.rfind("t [s],", 0) == 0)
    Fail(name, 1, "a run CSV without its '#' header lines: it holds no setup");
  std::string text = first + (in.eof() ? "" : "\n");
  char buffer[4096];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    text.append(buffer, static_cast<std::size_t>(in.gcount()));
    if (text.size() > LargestSessionFile)
      Fail(name, 1,
           "larger than any session file (" + std::to_string(LargestSessionFile) +
               " bytes at most)");
  }
  if (in.bad()) throw TError("Cannot read " + name + ": " + std::strerror(errno));
  return ParseToml(text, name);
}

}  // namespace

const char* SimulationKey(std::size_t index) { return SimulationRows[index].Key; }

TSession SessionFromTexts(const std::array<std::string, 5>& simulationTexts,
                          const std::vector<TSpeciesTexts>& speciesTexts) {
  if (speciesTexts.empty()) throw TError("no species");
  const auto number = [](const std::string& prefix, const std::string& text) {
    try {
      return TextToNumber(text, '.');
    } catch (const TError& error) {
      throw TError(prefix + ": " + error.what());
    }
  };
  TSession session;
  session.SimulationTexts = simulationTexts;
  session.SpeciesTexts = speciesTexts;
  double* const values[5] = {&session.Simulation.OuterRib, &session.Simulation.InnerRib,
                             &session.Simulation.Viscosity, &session.Simulation.Temperature,
                             &session.Simulation.TimeStep};
  for (std::size_t i = 0; i < 5; ++i) *values[i] = number(SimulationKey(i), simulationTexts[i]);
  for (std::size_t s = 0; s < speciesTexts.size(); ++s) {
    const std::string prefix = "species " + std::to_string(s + 1) + " ";
    const TSpeciesTexts& texts = speciesTexts[s];
    session.Species.push_back({number(prefix + Key::SP_C, texts.Concentration),
                               number(prefix + Key::SP_A, texts.Radius),
                               number(prefix + Key::SP_D, texts.Diffusion)});
  }
  return session;
}

TSession ParseSession(std::string_view text, const std::string& name) {
  std::istringstream in{std::string(text)};
  return Parse(in, name);
}

TSession ReadSession(const std::string& fileName) {
  std::ifstream in(fileName, std::ios::binary);
  if (!in) throw TError("Cannot read " + fileName + ": " + std::strerror(errno));
  return Parse(in, fileName);
}

std::string SessionFileText(const TSession& session) {
  toml::table simulation;
  for (std::size_t i = 0; i < 5; ++i)
    simulation.insert(SimulationKey(i), session.SimulationTexts[i]);
  toml::array species;
  for (const TSpeciesTexts& texts : session.SpeciesTexts)
    species.push_back(toml::table{
        {Key::SP_C, texts.Concentration}, {Key::SP_A, texts.Radius}, {Key::SP_D, texts.Diffusion}});
  const toml::table root{{"format", SessionFormat},
                         {"simulation", std::move(simulation)},
                         {"species", std::move(species)}};
  std::ostringstream text;
  text << "# Kelvane session: the parameters and species as the window's tables show them\n"
       << root << "\n";
  return text.str();
}
