// The window's handlers that change the engine (Apply, start and pause, the
// species buttons, a step) and what follows every change: the run record's
// statistics, the readout, the kept runs' legend and the views. Every change
// of the engine is an action of the run (TEngineRun::Do) made here, or a
// whole run replayed beside it in Sessions.cpp.
#include <QElapsedTimer>
#include <QLocale>
#include <QSignalBlocker>
#include <cmath>
#include <cstdio>
#include <string>

#include "Mainform/LongWork.h"
#include "Mainform/Mainform.h"
#include "Mainform/RunControl.h"
#include "Session/Captions.h"
#include "Session/Checks.h"
#include "Session/Conversions.h"
#include "Session/Parameters.h"
#include "Session/Tables.h"

namespace {

// Molecules from which placing them runs as long work, with a progress bar
// should it take over half a second.
constexpr double LongPopulation = 2e6;

std::string Text(const TValueList* list, const char* key) {
  return list->Value(QString::fromLatin1(key)).toStdString();
}

void WriteText(TValueList* list, const char* key, const std::string& text) {
  list->SetValue(QString::fromLatin1(key), QString::fromStdString(text));
}

TSpeciesTexts SpeciesTexts(const TValueList* list) {
  TSpeciesTexts texts;
  for (const TParameterRow& row : SpeciesRows) texts.*row.SpeciesText = Text(list, row.Key);
  return texts;
}

TSpeciesValues ReadSpecies(const TValueList* list) {
  return ReadSpeciesTable(SpeciesTexts(list), DecimalSeparator);
}

void ShowSpecies(TValueList* list, const TSpeciesValues& species) {
  const TSpeciesTexts texts = SpeciesTableTexts(species, DecimalSeparator);
  for (const TParameterRow& row : SpeciesRows) WriteText(list, row.Key, texts.*row.SpeciesText);
}

// The wall clock of the readout's speed, shared by all windows.
double WallSeconds() {
  static QElapsedTimer clock;
  if (!clock.isValid()) clock.start();
  return static_cast<double>(clock.nsecsElapsed()) * 1e-9;
}

}  // namespace

// ---------------------------------------------------------------------------
// Apply, start and pause, and the steps

void TMForm::ApplyButtonClick() {
  // Everything is converted before anything changes: a bad text (or
  // parameters the engine refuses) leaves the curves and the running
  // simulation as they were; what it runs but makes no sense shows in the
  // readout.
  const TSimulationValues values = ReadSimulationTable(SimulationTexts(), DecimalSeparator);
  Run->Do(TAction::Apply(values));
  CChart->ClearCurves();
  NChart->ClearCurves();
  AfterEngineChange();
}

void TMForm::PauseButtonClick() {
  RunControl->StartOrPause();
  const bool enabled = ApplyButton->isEnabled();
  for (QToolButton* button : {ApplyButton, AddSpeciesButton, RemoveSpeciesButton,
                              ApplySpSpeedButton, SpeedButtonRecalcD, SpeedButtonRecalcA})
    button->setEnabled(!enabled);
}

void TMForm::TimerTimer() { RunControl->Tick(); }

void TMForm::SliceTimerTimer() { RunControl->RunSlice(); }

void TMForm::SpeedBoxChange() { RunControl->SpeedChanged(); }

void TMForm::PauseAtStep(std::int64_t step) { RunControl->PauseAtStep(step); }

void TMForm::StepOnce() {
  try {
    Run->Step();
  } catch (...) {
    // A step that fails would fail again at every tick: stop the run, as a
    // pause would, so that its message is shown once.
    if (RunControl->Running()) PauseButtonClick();
    AfterEngineChange();
    throw;
  }
}

void TMForm::AfterEngineChange() {
  // Threads the system refused: the engine goes on on one, and the program
  // says so where it says its other start-up troubles.
  const std::string notice = Run->Volume().TakeNotice();
  if (!notice.empty()) std::fprintf(stderr, "%s\n", notice.c_str());
  TRunStatistics& statistics = Run->Record().Statistics();
  statistics.FollowEngine(Run->Volume(), WallSeconds(), DecimalSeparator);
  RunControl->ShowReadout(QString::fromStdString(statistics.ReadoutText(DecimalSeparator)));
  KeptRuns->Relabel();
  if (RunControl->Running() && RunControl->ReachedPauseStep(statistics.Steps())) PauseButtonClick();
  RunControl->RepaintCharts();
  emit EngineChanged();
}

void TMForm::SpeciesChanged() {
  // The run record's averages started again as the species changed.
  AfterEngineChange();
}

// ---------------------------------------------------------------------------
// Species editing

void TMForm::AddSpeciesButtonClick() {
  QSignalBlocker quiet(SpeciesList);
  const QList<QListWidgetItem*> selected = SpeciesList->selectedItems();
  const int previousRow = selected.isEmpty() ? -1 : SpeciesList->row(selected.first());

  auto* item = new QListWidgetItem(QString::fromUtf8(Captions::SpeciesItem));
  item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
  item->setSizeHint(QSize(0, 13));
  SpeciesList->addItem(item);
  const int last = SpeciesList->count() - 1;
  SpeciesList->item(last)->setCheckState(Qt::Checked);
  SpeciesList->setCurrentRow(last);

  ShowSpecies(ValueListSpecies, TSpeciesValues{});
  // When the engine refuses the species (it does not fit the current
  // volumes) or the user cancels it, the list must keep one item per engine
  // species, and the table shows the species selected again, not the
  // defaults written above.
  const auto takeBack = [&] {
    delete SpeciesList->takeItem(last);
    if (previousRow >= 0) {
      SpeciesList->setCurrentRow(previousRow);
      SpeciesListClick();
    }
  };
  bool added = false;
  try {
    const TSpeciesValues species = ReadSpecies(ValueListSpecies);
    RefuseFindings(
        SpeciesFindings(species, static_cast<std::size_t>(SpeciesList->count()), DecimalSeparator));
    added = ChangeSpecies(species.Concentration, [&] { Run->Do(TAction::AddSpecies(species)); });
  } catch (...) {
    takeBack();
    throw;
  }
  if (!added) {
    takeBack();
    AfterEngineChange();
    return;
  }
  SpeciesChanged();
}

void TMForm::RemoveSpeciesButtonClick() {
  if (SpeciesList->count() < 2) return;  // at least one species always remains
  {
    QSignalBlocker quiet(SpeciesList);
    for (int index = 0; index < SpeciesList->count(); ++index) {
      if (SpeciesList->item(index)->isSelected()) {
        Run->Do(TAction::RemoveSpecies(index));
        delete SpeciesList->takeItem(index);
      }
    }
    SpeciesList->setCurrentRow(0);
  }
  SpeciesChanged();
  SpeciesListClick();
}

void TMForm::ApplySpSpeedButtonClick() {
  bool replaced = false;
  for (int index = 0; index < SpeciesList->count(); ++index) {
    if (!SpeciesList->item(index)->isSelected()) continue;
    const TSpeciesValues species = ReadSpecies(ValueListSpecies);
    RefuseFindings(SpeciesFindings(species, static_cast<std::size_t>(index) + 1, DecimalSeparator));
    replaced = ChangeSpecies(species.Concentration,
                             [&] { Run->Do(TAction::ApplySpecies(index, species)); }) ||
               replaced;
  }
  if (replaced)
    SpeciesChanged();
  else
    AfterEngineChange();
}

bool TMForm::ChangeSpecies(double concentration, const std::function<void()>& change) {
  // About the molecules the change places; a few million take long enough
  // (a second or more) to want a progress bar and to keep the window painted.
  const double molecules = std::fabs(concentration * Run->Volume().OuterVolume);
  if (!(molecules > LongPopulation)) {
    change();
    return true;
  }
  const QString count = QLocale().toString(static_cast<qlonglong>(molecules));
  return RunLongWork(this, QStringLiteral("Placing %1 molecules...").arg(count),
                     [&](const TWorkProgress& progress) {
                       // The engine reports from this worker thread; Cancel
                       // answers false, and the engine then changes nothing.
                       struct TReportsEnd {
                         TVolume& Engine;
                         ~TReportsEnd() { Engine.SetProgressCallback({}); }
                       } reportsEnd{Run->Volume()};
                       Run->Volume().SetProgressCallback(progress);
                       change();
                     });
}

void TMForm::SpeciesListClick() {
  // Shows what the engine holds, not what was last typed.
  for (int index = 0; index < SpeciesList->count(); ++index) {
    if (!SpeciesList->item(index)->isSelected()) continue;
    ShowSpecies(ValueListSpecies, SpeciesValuesOf(Run->Volume(), index));
  }
}

void TMForm::SpeedButtonRecalcDClick() {
  // Uses the temperature and viscosity applied last, not the table's texts.
  const double radius = TextToNumber(Text(ValueListSpecies, Key::SP_A), DecimalSeparator);
  WriteText(ValueListSpecies, Key::SP_D,
            StokesEinsteinText(Run->Volume(), radius, DecimalSeparator));
}

void TMForm::SpeedButtonRecalcAClick() {
  const double diffusion = TextToNumber(Text(ValueListSpecies, Key::SP_D), DecimalSeparator);
  WriteText(ValueListSpecies, Key::SP_A,
            StokesEinsteinText(Run->Volume(), diffusion, DecimalSeparator));
}

TSimulationTexts TMForm::SimulationTexts() const {
  TSimulationTexts texts;
  for (std::size_t i = 0; i < SimulationRowCount; ++i)
    texts[i] = Text(ValueListSimulation, SimulationRows[i].Key);
  return texts;
}
