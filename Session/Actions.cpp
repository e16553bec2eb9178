#include "Session/Actions.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>

#include "Diffunit/Diffunit.h"
#include "Session/Conversions.h"
#include "Session/SessionFile.h"

TAction TAction::Apply(const TSimulationValues& values) {
  TAction action;
  action.Kind = TKind::Apply;
  action.Simulation = values;
  return action;
}

TAction TAction::AddSpecies(const TSpeciesValues& values) {
  TAction action;
  action.Kind = TKind::AddSpecies;
  action.Species = values;
  return action;
}

TAction TAction::RemoveSpecies(int index) {
  TAction action;
  action.Kind = TKind::RemoveSpecies;
  action.Index = index;
  return action;
}

TAction TAction::ApplySpecies(int index, const TSpeciesValues& values) {
  TAction action;
  action.Kind = TKind::ApplySpecies;
  action.Index = index;
  action.Species = values;
  return action;
}

TAction TAction::StepsOf(std::int64_t steps) {
  TAction action;
  action.Kind = TKind::Steps;
  action.Steps = steps;
  return action;
}

bool TAction::operator==(const TAction& other) const {
  if (Kind != other.Kind) return false;
  switch (Kind) {
    case TKind::Apply:
      return Simulation == other.Simulation;
    case TKind::AddSpecies:
      return Species == other.Species;
    case TKind::RemoveSpecies:
      return Index == other.Index;
    case TKind::ApplySpecies:
      return Index == other.Index && Species == other.Species;
    case TKind::Steps:
      return Steps == other.Steps;
  }
  return false;
}

void Append(TActions& actions, const TAction& action) {
  if (action.Kind == TAction::TKind::Steps && !actions.empty() &&
      actions.back().Kind == TAction::TKind::Steps)
    actions.back().Steps += action.Steps;
  else
    actions.push_back(action);
}

void Perform(TVolume& volume, const TAction& action) {
  switch (action.Kind) {
    case TAction::TKind::Apply:
      SetParameters(volume, action.Simulation);
      return;
    case TAction::TKind::AddSpecies:
      AddSpecies(volume, action.Species);
      return;
    case TAction::TKind::RemoveSpecies:
      volume.RemoveSpecies(action.Index);
      return;
    case TAction::TKind::ApplySpecies:
      ReplaceSpecies(volume, action.Index, action.Species);
      return;
    case TAction::TKind::Steps:
      throw TError("Steps are run one at a time");
  }
}

// ---------------------------------------------------------------------------
// Text

namespace {

constexpr std::string_view ApplyWord = "apply ";
constexpr std::string_view AddSpeciesWords = "add species ";
constexpr std::string_view RemoveSpeciesWords = "remove species ";
constexpr std::string_view ApplySpeciesWords = "apply species ";
constexpr std::string_view StepsWord = "steps ";

bool StartsWith(std::string_view text, std::string_view start) {
  return text.substr(0, start.size()) == start;
}

// "KEY value; KEY value; ..." for every row of `rows`, from `values`.
template <class TValues, std::size_t Count>
std::string Fields(const TParameterRow (&rows)[Count], double TValues::*TParameterRow::*member,
                   const TValues& values) {
  std::string text;
  for (const TParameterRow& row : rows)
    text += (text.empty() ? "" : "; ") + std::string(row.Key) + " " +
            ExactNumberText(values.*(row.*member));
  return text;
}

// The values of "KEY value; ..." with every key of `rows` once, in any order.
template <class TValues, std::size_t Count>
TValues ParseFields(std::string_view text, const TParameterRow (&rows)[Count],
                    double TValues::*TParameterRow::*member) {
  TValues values;
  bool found[Count] = {};
  while (!text.empty()) {
    const std::size_t end = std::min(text.find("; "), text.size());
    const std::string_view field = text.substr(0, end);
    text = end < text.size() ? text.substr(end + 2) : std::string_view();
    const std::size_t space = field.find(' ');
    const std::string_view key = field.substr(0, space);
    const auto row = std::find_if(std::begin(rows), std::end(rows),
                                  [&](const TParameterRow& r) { return key == r.Key; });
    if (space == std::string_view::npos || row == std::end(rows))
      throw TError("not a KEY value pair: '" + std::string(field) + "'");
    const std::size_t index = static_cast<std::size_t>(row - std::begin(rows));
    if (found[index]) throw TError(std::string(row->Key) + " given twice");
    if (!ExactNumber(field.substr(space + 1), values.*(row->*member)) ||
        !std::isfinite(values.*(row->*member)))
      throw TError(std::string(row->Key) + ": '" + std::string(field.substr(space + 1)) +
                   "' is not a number");
    found[index] = true;
  }
  for (std::size_t i = 0; i < Count; ++i)
    if (!found[i]) throw TError("no " + std::string(rows[i].Key));
  return values;
}

// A species number from 1 to INT_MAX, as the window's list counts them.
int ParseSpeciesNumber(std::string_view text) {
  int number = 0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), number);
  if (result.ec != std::errc() || result.ptr != text.data() + text.size() || number < 1)
    throw TError("'" + std::string(text) + "' is no species number (1, 2, ...)");
  return number;
}

}  // namespace

std::string ActionText(const TAction& action) {
  const std::string number = std::to_string(action.Index + 1);
  switch (action.Kind) {
    case TAction::TKind::Apply:
      return std::string(ApplyWord) +
             Fields(SimulationRows, &TParameterRow::Simulation, action.Simulation);
    case TAction::TKind::AddSpecies:
      return std::string(AddSpeciesWords) +
             Fields(SpeciesRows, &TParameterRow::Species, action.Species);
    case TAction::TKind::RemoveSpecies:
      return std::string(RemoveSpeciesWords) + number;
    case TAction::TKind::ApplySpecies:
      return std::string(ApplySpeciesWords) + number + ": " +
             Fields(SpeciesRows, &TParameterRow::Species, action.Species);
    case TAction::TKind::Steps:
      return std::string(StepsWord) + std::to_string(action.Steps);
  }
  return {};
}

TAction ParseAction(std::string_view text) {
  if (StartsWith(text, ApplySpeciesWords)) {
    text.remove_prefix(ApplySpeciesWords.size());
    const std::size_t colon = text.find(": ");
    if (colon == std::string_view::npos) throw TError("expected 'apply species N: SP_C ...'");
    const int number = ParseSpeciesNumber(text.substr(0, colon));
    return TAction::ApplySpecies(
        number - 1, ParseFields(text.substr(colon + 2), SpeciesRows, &TParameterRow::Species));
  }
  if (StartsWith(text, ApplyWord))
    return TAction::Apply(
        ParseFields(text.substr(ApplyWord.size()), SimulationRows, &TParameterRow::Simulation));
  if (StartsWith(text, AddSpeciesWords))
    return TAction::AddSpecies(
        ParseFields(text.substr(AddSpeciesWords.size()), SpeciesRows, &TParameterRow::Species));
  if (StartsWith(text, RemoveSpeciesWords))
    return TAction::RemoveSpecies(ParseSpeciesNumber(text.substr(RemoveSpeciesWords.size())) - 1);
  if (StartsWith(text, StepsWord)) {
    const std::string_view count = text.substr(StepsWord.size());
    std::int64_t steps = 0;
    const auto result = std::from_chars(count.data(), count.data() + count.size(), steps);
    if (result.ec != std::errc() || result.ptr != count.data() + count.size() || steps < 1)
      throw TError("'" + std::string(count) + "' is no number of steps (1, 2, ...)");
    return TAction::StepsOf(steps);
  }
  throw TError("not an action: '" + std::string(text) +
               "' (apply, add species, remove species, apply species, steps)");
}

// ---------------------------------------------------------------------------
// Replays

TActions ActionsOf(const TSession& session) {
  if (!session.Actions.empty()) return session.Actions;
  TActions actions = {TAction::Apply(TSimulationValues{}), TAction::AddSpecies(TSpeciesValues{})};
  for (std::size_t i = 1; i < session.Species.size(); ++i)
    actions.push_back(TAction::AddSpecies(TSpeciesValues{}));
  const bool applied = session.Simulation != TSimulationValues{};
  if (applied) actions.push_back(TAction::Apply(session.Simulation));
  for (std::size_t i = 0; i < session.Species.size(); ++i)
    if (applied || session.Species[i] != TSpeciesValues{})
      actions.push_back(TAction::ApplySpecies(static_cast<int>(i), session.Species[i]));
  return actions;
}

TSetupValues SetupAfter(const TActions& actions) {
  TSetupValues setup;
  for (const TAction& action : actions) {
    const auto species = [&] {
      if (action.Index < 0 || static_cast<std::size_t>(action.Index) >= setup.Species.size())
        throw TError("'" + ActionText(action) + "': there is no species " +
                     std::to_string(action.Index + 1) + " by then");
      return setup.Species.begin() + action.Index;
    };
    switch (action.Kind) {
      case TAction::TKind::Apply:
        setup.Simulation = action.Simulation;
        break;
      case TAction::TKind::AddSpecies:
        setup.Species.push_back(action.Species);
        break;
      case TAction::TKind::RemoveSpecies:
        setup.Species.erase(species());
        break;
      case TAction::TKind::ApplySpecies:
        *species() = action.Species;
        break;
      case TAction::TKind::Steps:
        break;
    }
  }
  return setup;
}

std::size_t RunStart(const TActions& actions) {
  std::size_t start = 0;
  for (std::size_t i = 0; i < actions.size(); ++i)
    if (actions[i].Kind == TAction::TKind::Apply) start = i + 1;
  while (start < actions.size() && actions[start].Kind != TAction::TKind::Steps) ++start;
  return start;
}

TActions WithoutTrailingSteps(TActions actions) {
  while (!actions.empty() && actions.back().Kind == TAction::TKind::Steps) actions.pop_back();
  return actions;
}

TRunActions SplitAtRunStart(const TActions& actions) {
  const auto start = actions.begin() + static_cast<std::ptrdiff_t>(RunStart(actions));
  return {TActions(actions.begin(), start), WithoutTrailingSteps(TActions(start, actions.end()))};
}
