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

[[noreturn]] void Fail(const std::string& name, std::size_t line, const std::string& what) {
  throw TError(name + ":" + std::to_string(line) + ": " + what);
}

}  // namespace

TSession CheckedSession(const std::array<std::string, SimulationRowCount>& simulation,
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
  for (std::size_t i = 0; i < SimulationRowCount; ++i)
    check(SimulationRows[i].Key, simulation[i], lines.Simulation[i]);
  for (std::size_t s = 0; s < species.size(); ++s) {
    const std::string number = "species " + std::to_string(s + 1) + " ";
    for (std::size_t k = 0; k < SpeciesRowCount; ++k)
      check(number + SpeciesRows[k].Key, species[s].*SpeciesRows[k].SpeciesText,
            lines.Species[s][k]);
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

  std::array<std::string, SimulationRowCount> simulation;
  std::vector<TSpeciesTexts> species;
  TSourceLines lines;
  bool hasSimulation = false;
  for (const auto& [key, node] : root) {
    if (key == "format") continue;
    if (key == "simulation") {
      const toml::table* table = node.as_table();
      if (!table) Fail(name, LineOf(node), "simulation must be a table: [simulation]");
      hasSimulation = true;
      std::array<bool, SimulationRowCount> found{};
      for (const auto& [rowKey, value] : *table) {
        const TParameterRow* row = RowOfKey(SimulationRows, rowKey.str());
        if (!row) Fail(name, LineOf(value), "unknown key '" + std::string(rowKey.str()) + "'");
        const std::size_t index = static_cast<std::size_t>(row - SimulationRows);
        simulation[index] = TextOf(value, rowKey.str(), name);
        lines.Simulation[index] = LineOf(value);
        found[index] = true;
      }
      for (std::size_t i = 0; i < SimulationRowCount; ++i)
        if (!found[i])
          Fail(name, LineOf(node), "[simulation] has no " + std::string(SimulationRows[i].Key));
    } else if (key == "species") {
      const toml::array* list = node.as_array();
      if (!list || !list->is_array_of_tables())
        Fail(name, LineOf(node), "species must be tables: [[species]]");
      for (const toml::node& entry : *list) {
        const std::string number = "species " + std::to_string(species.size() + 1);
        TSpeciesTexts texts;
        std::array<std::size_t, SpeciesRowCount> where{};
        for (const auto& [rowKey, value] : *entry.as_table()) {
          const TParameterRow* row = RowOfKey(SpeciesRows, rowKey.str());
          if (!row) Fail(name, LineOf(value), "unknown key '" + std::string(rowKey.str()) + "'");
          texts.*row->SpeciesText = TextOf(value, rowKey.str(), name);
          where[static_cast<std::size_t>(row - SpeciesRows)] = LineOf(value);
        }
        for (std::size_t k = 0; k < SpeciesRowCount; ++k)
          if (where[k] == 0) Fail(name, LineOf(entry), number + " has no " + SpeciesRows[k].Key);
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
  if (text.find_first_not_of(" \t\r\n") == std::string::npos)
    Fail(name, 1, "the file is empty: no session in it");
  return ParseToml(text, name);
}

}  // namespace

TSession SessionFromTexts(const std::array<std::string, SimulationRowCount>& simulationTexts,
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
  for (std::size_t i = 0; i < SimulationRowCount; ++i)
    session.Simulation.*SimulationRows[i].Simulation =
        number(SimulationRows[i].Key, simulationTexts[i]);
  for (std::size_t s = 0; s < speciesTexts.size(); ++s) {
    const std::string prefix = "species " + std::to_string(s + 1) + " ";
    TSpeciesValues values;
    for (const TParameterRow& row : SpeciesRows)
      values.*row.Species = number(prefix + row.Key, speciesTexts[s].*row.SpeciesText);
    session.Species.push_back(values);
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
  for (std::size_t i = 0; i < SimulationRowCount; ++i)
    simulation.insert(SimulationRows[i].Key, session.SimulationTexts[i]);
  toml::array species;
  for (const TSpeciesTexts& texts : session.SpeciesTexts) {
    toml::table table;
    for (const TParameterRow& row : SpeciesRows) table.insert(row.Key, texts.*row.SpeciesText);
    species.push_back(std::move(table));
  }
  const toml::table root{{"format", SessionFormat},
                         {"simulation", std::move(simulation)},
                         {"species", std::move(species)}};
  std::ostringstream text;
  text << "# Kelvane session: the parameters and species as the window's tables show them\n"
       << root << "\n";
  return text.str();
}
