// Sessions and kept runs: saving the tables as a session file, opening one
// (or a run CSV) as a user would type it, keeping runs as overlays to
// compare with, and the keys and hints of the window's buttons.
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeySequence>
#include <QSettings>
#include <QSignalBlocker>
#include <algorithm>

#include "Mainform/LongWork.h"
#include "Mainform/Mainform.h"
#include "Mainform/Widgets.h"
#include "Session/Comparison.h"
#include "Session/Conversions.h"
#include "Session/EngineRun.h"
#include "Session/OutputFile.h"
#include "Session/Parameters.h"

namespace {

constexpr int MostRecentSessions = 8;
const QString RecentSessionsKey = QStringLiteral("RecentSessions");
const QString SessionFilter =
    QStringLiteral("Sessions and run CSVs (*.kelvane *.toml *.csv);;All files (*)");

// A table's text with '.' for the user's separator, and back.
std::string Canonical(const QString& text) {
  std::string canonical = text.toStdString();
  if (DecimalSeparator != '.')
    std::replace(canonical.begin(), canonical.end(), DecimalSeparator, '.');
  return canonical;
}

QString Shown(const std::string& text) {
  std::string shown = text;
  if (DecimalSeparator != '.') std::replace(shown.begin(), shown.end(), '.', DecimalSeparator);
  return QString::fromStdString(shown);
}

// `button` does `action`: its caption stays, the action's tooltip (with the
// shortcut) shows.
void Attach(QToolButton* button, QAction* action) {
  const QString caption = button->text();
  button->setDefaultAction(action);
  button->setText(caption);
}

// "hint (Ctrl+K)": a tooltip that names the keys.
QString HintWithKeys(const QString& hint, const QKeySequence& keys) {
  return hint + QStringLiteral(" (") + keys.toString(QKeySequence::NativeText) +
         QStringLiteral(")");
}

// An action of the window with `keys`, its tooltip naming them.
QAction* MakeAction(QWidget* window, const QString& text, const QKeySequence& keys,
                    const QString& hint) {
  auto* action = new QAction(text, window);
  action->setShortcut(keys);
  action->setShortcutContext(Qt::WindowShortcut);
  action->setToolTip(HintWithKeys(hint, keys));
  window->addAction(action);
  return action;
}

// Gives a button of the designed tool bars a shortcut and says it in its tooltip.
void SetButtonShortcut(QToolButton* button, const QKeySequence& keys, const QString& hint) {
  button->setShortcut(keys);
  button->setToolTip(HintWithKeys(hint, keys));
}

QSettings Settings() { return QSettings(QStringLiteral("Kelvane"), QStringLiteral("Kelvane")); }

}  // namespace

// ---------------------------------------------------------------------------
// Controls, keys and hints

void TMForm::BuildSessionControls() {
  OpenSessionAction = MakeAction(this, QStringLiteral("Open session..."), QKeySequence::Open,
                                 QStringLiteral("Open a session file or a run CSV"));
  SaveSessionAction = MakeAction(this, QStringLiteral("Save session..."), QKeySequence::Save,
                                 QStringLiteral("Save the parameters and species as a session"));
  KeepRunAction = MakeAction(this, QStringLiteral("Keep run"), QKeySequence(Qt::CTRL | Qt::Key_K),
                             QStringLiteral("Keep this run's curves on the charts to compare"));
  CompareAction = MakeAction(this, QStringLiteral("Compare with file..."),
                             QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O),
                             QStringLiteral("Show a run CSV's curves beside this run"));
  ClearKeptRunsAction = MakeAction(
      this, QStringLiteral("Clear kept runs"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_K),
      QStringLiteral("Remove every kept or compared run from the charts"));
  const auto guarded = [this](void (TMForm::*handler)()) { return Guarded(this, handler); };
  connect(OpenSessionAction, &QAction::triggered, this, guarded(&TMForm::OpenSessionClick));
  connect(SaveSessionAction, &QAction::triggered, this, guarded(&TMForm::SaveSessionClick));
  connect(KeepRunAction, &QAction::triggered, this, guarded(&TMForm::KeepRunClick));
  connect(CompareAction, &QAction::triggered, this, guarded(&TMForm::CompareClick));
  connect(ClearKeptRunsAction, &QAction::triggered, this, guarded(&TMForm::ClearKeptRunsClick));

  // The second row of the run panel, beside the run controls above it.
  OpenSessionButton = MakeButton(RunPanel, QStringLiteral("Open..."), {2, 25, 62, 22});
  Attach(OpenSessionButton, OpenSessionAction);
  RecentMenu = new QMenu(this);
  OpenSessionButton->setMenu(RecentMenu);
  OpenSessionButton->setPopupMode(QToolButton::MenuButtonPopup);
  connect(RecentMenu, &QMenu::aboutToShow, this, &TMForm::FillRecentMenu);
  SaveSessionButton = MakeButton(RunPanel, QStringLiteral("Save..."), {64, 25, 46, 22});
  Attach(SaveSessionButton, SaveSessionAction);
  KeepRunButton = MakeButton(RunPanel, QStringLiteral("Keep run"), {110, 25, 54, 22});
  Attach(KeepRunButton, KeepRunAction);
  RunsButton = MakeButton(RunPanel, QStringLiteral("Runs"), {164, 25, 51, 22});
  RunsButton->setToolTip(
      QStringLiteral("Compare with a run CSV, remove kept runs (the charts' legends name them)"));
  RunsMenu = new QMenu(this);
  RunsButton->setMenu(RunsMenu);
  RunsButton->setPopupMode(QToolButton::InstantPopup);
  connect(RunsMenu, &QMenu::aboutToShow, this, &TMForm::FillRunsMenu);
  FillRunsMenu();
  SetShortcuts();
}

void TMForm::SetShortcuts() {
  SetButtonShortcut(ApplyButton, QKeySequence(Qt::CTRL | Qt::Key_Return),
                    QStringLiteral("Apply the simulation parameters and start again at time 0"));
  SetButtonShortcut(PauseButton, QKeySequence(Qt::Key_F5),
                    QStringLiteral("Start or pause the run"));
  SetButtonShortcut(SaveCButton, QKeySequence(Qt::CTRL | Qt::Key_1),
                    QStringLiteral("Write the concentration inside to C1(t).txt"));
  SetButtonShortcut(SaveNButton, QKeySequence(Qt::CTRL | Qt::Key_2),
                    QStringLiteral("Write the molecules inside to N1(t).txt"));
  SetButtonShortcut(ExportRunButton, QKeySequence(Qt::CTRL | Qt::Key_E),
                    QStringLiteral("Every step since Apply, with the parameters and species, as "
                                   "one CSV file"));
  SetButtonShortcut(MoleculeViewButton, QKeySequence(Qt::CTRL | Qt::Key_M),
                    QStringLiteral("Open the molecule view"));
}

// ---------------------------------------------------------------------------
// Sessions

TSession TMForm::TablesSession() const {
  // Each text must read as a number here, as the handlers would read it.
  const auto text = [](const TValueList* list, const char* key) {
    const QString shown = list->Value(QString::fromLatin1(key));
    try {
      TextToNumber(shown.toStdString(), DecimalSeparator);
    } catch (const TError& error) {
      throw TError(std::string(key) + ": " + error.what());
    }
    return Canonical(shown);
  };
  std::array<std::string, SimulationRowCount> simulation;
  for (std::size_t i = 0; i < SimulationRowCount; ++i)
    simulation[i] = text(ValueListSimulation, SimulationRows[i].Key);
  // The species not shown as the table would show them: the engine's values.
  std::vector<TSpeciesTexts> species = SessionOf(Run->Volume()).SpeciesTexts;
  for (int i = 0; i < SpeciesList->count(); ++i)
    if (SpeciesList->item(i)->isSelected())
      species[static_cast<std::size_t>(i)] = {text(ValueListSpecies, Key::SP_C),
                                              text(ValueListSpecies, Key::SP_A),
                                              text(ValueListSpecies, Key::SP_D)};
  return SessionFromTexts(simulation, species);
}

void TMForm::SaveSession(const QString& fileName) {
  const TSession session = TablesSession();
  WriteFileAtomically(QFile::encodeName(fileName).toStdString(), SessionFileText(session));
  RememberSession(fileName);
}

std::unique_ptr<TEngineRun> TMForm::Replayed(const TSession& session, const std::string& name,
                                             std::vector<std::optional<TBand>>& bands) {
  const TActions actions = WithoutTrailingSteps(ActionsOf(session));
  auto run = std::make_unique<TEngineRun>(session.Seeds);
  run->Volume().SetSettings(EngineSettings);
  run->OnSample = [&bands](const TRunSample&, const std::optional<TBand>& band) {
    bands.push_back(band);
  };
  std::size_t failed = 0;
  try {
    const bool done = RunLongWork(
        this,
        QStringLiteral("Opening %1...").arg(QFileInfo(QFile::decodeName(name.c_str())).fileName()),
        [&](const TWorkProgress& progress) { Replay(*run, actions, progress, &failed); });
    if (!done) return nullptr;
  } catch (const TError& error) {
    throw TError(name + ": " + RefusalOf(*run, actions[failed], error.what()));
  }
  return run;
}

void TMForm::UseRun(std::unique_ptr<TEngineRun> run,
                    const std::vector<std::optional<TBand>>& bands) {
  if (Timer->isActive()) PauseButtonClick();
  Run = std::move(run);
  Run->OnSample = [this](const TRunSample& sample, const std::optional<TBand>& band) {
    PlotSample(sample, band);
  };
  CChart->ClearCurves();
  NChart->ClearCurves();
  const std::vector<TRunSample>& samples = Run->Record().Samples();
  for (std::size_t i = 0; i < samples.size(); ++i)
    PlotSample(samples[i], i < bands.size() ? bands[i] : std::nullopt);
  {
    QSignalBlocker quiet(SpeciesList);
    SpeciesList->clear();
    for (std::size_t i = 0; i < Run->Volume().Species.size(); ++i) {
      auto* item = new QListWidgetItem(QStringLiteral("Species 1"));
      item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
      item->setSizeHint(QSize(0, 13));
      item->setCheckState(Qt::Checked);
      SpeciesList->addItem(item);
    }
    SpeciesList->setCurrentRow(SpeciesList->count() - 1);
  }
  AfterEngineChange();
}

void TMForm::OpenSession(const QString& fileName) {
  const std::string name = QFile::encodeName(fileName).toStdString();
  const TSession session = ReadSession(name);
  // Built beside the run now, which stays as it is until the new one is whole.
  std::vector<std::optional<TBand>> bands;
  std::unique_ptr<TEngineRun> run = Replayed(session, name, bands);
  if (!run) return;
  UseRun(std::move(run), bands);
  for (std::size_t i = 0; i < SimulationRowCount; ++i)
    ValueListSimulation->SetValue(QString::fromLatin1(SimulationRows[i].Key),
                                  Shown(session.SimulationTexts[i]));
  // The species table shows the last species: as the file gives its texts
  // when it is a setup, as the engine holds it after a replay of actions.
  if (session.Actions.empty() && SpeciesList->count() > 0) {
    const TSpeciesTexts& texts = session.SpeciesTexts.back();
    ValueListSpecies->SetValue(QString::fromLatin1(Key::SP_C), Shown(texts.Concentration));
    ValueListSpecies->SetValue(QString::fromLatin1(Key::SP_A), Shown(texts.Radius));
    ValueListSpecies->SetValue(QString::fromLatin1(Key::SP_D), Shown(texts.Diffusion));
  } else {
    SpeciesListClick();
  }
  RememberSession(fileName);
  if (session.SpeciesChangedWhileRunning)
    ShowNote(
        QStringLiteral("The species of this run changed while it ran: its last setup "
                       "starts again from time 0."));
}

void TMForm::OpenSessionClick() {
  const QString folder = SessionFolder.isEmpty() ? QDir::currentPath() : SessionFolder;
  const QString fileName =
      QFileDialog::getOpenFileName(this, QStringLiteral("Open session"), folder, SessionFilter);
  if (fileName.isEmpty()) return;
  SessionFolder = QFileInfo(fileName).absolutePath();
  OpenSession(fileName);
}

void TMForm::SaveSessionClick() {
  const QString folder = SessionFolder.isEmpty() ? QDir::currentPath() : SessionFolder;
  QFileDialog dialog(this, QStringLiteral("Save session"), folder,
                     QStringLiteral("Sessions (*.kelvane);;All files (*)"));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setDefaultSuffix(QStringLiteral("kelvane"));
  dialog.selectFile(QStringLiteral("session.kelvane"));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  const QString fileName = dialog.selectedFiles().first();
  SessionFolder = QFileInfo(fileName).absolutePath();
  SaveSession(fileName);
}

QStringList TMForm::RecentSessions() const {
  return Settings().value(RecentSessionsKey).toStringList();
}

void TMForm::RememberSession(const QString& fileName) {
  QStringList recent = RecentSessions();
  const QString path = QFileInfo(fileName).absoluteFilePath();
  recent.removeAll(path);
  recent.prepend(path);
  while (recent.size() > MostRecentSessions) recent.removeLast();
  QSettings settings = Settings();
  settings.setValue(RecentSessionsKey, recent);
}

void TMForm::FillRecentMenu() {
  RecentMenu->clear();
  const QStringList recent = RecentSessions();
  if (recent.isEmpty())
    RecentMenu->addAction(QStringLiteral("No recent sessions"))->setEnabled(false);
  for (const QString& path : recent)
    connect(RecentMenu->addAction(QFileInfo(path).fileName() + QStringLiteral("  (") +
                                  QFileInfo(path).absolutePath() + QStringLiteral(")")),
            &QAction::triggered, this, [this, path] {
              try {
                OpenSession(path);
              } catch (...) {
                ShowCurrentException();
              }
            });
}

// ---------------------------------------------------------------------------
// Kept runs

void TMForm::AddKeptRun(const QString& name, const TSession& setup,
                        const std::vector<double>& times, const std::vector<double>& counts,
                        const std::vector<double>& concentrations) {
  if (KeptRunCount() >= MostKeptRuns)
    throw TError("The charts hold " + std::to_string(MostKeptRuns) +
                 " kept runs already: remove one (Runs) first");
  KeptRuns.push_back({name, setup});
  NChart->AddOverlay(name, times, counts);
  CChart->AddOverlay(name, times, concentrations);
  RelabelKeptRuns();
  FillRunsMenu();
}

void TMForm::KeepRun() {
  const std::vector<TRunSample>& samples = Run->Record().Samples();
  if (samples.empty()) throw TError("The run has no steps to keep yet");
  std::vector<double> times, counts, concentrations;
  times.reserve(samples.size());
  counts.reserve(samples.size());
  concentrations.reserve(samples.size());
  for (const TRunSample& sample : samples) {
    times.push_back(sample.Time);
    counts.push_back(sample.InsideCount);
    concentrations.push_back(sample.InsideConcentration);
  }
  AddKeptRun(QStringLiteral("kept %1").arg(++KeptRunsMade), SessionOf(*Run), times, counts,
             concentrations);
}

void TMForm::CompareWithFile(const QString& fileName) {
  const TKeptRun run = ReadKeptRun(QFile::encodeName(fileName).toStdString());
  AddKeptRun(QString::fromStdString(run.Name), run.Setup, run.Times, run.Counts,
             run.Concentrations);
}

void TMForm::RemoveKeptRun(int index) {
  if (index < 0 || index >= KeptRunCount()) return;
  KeptRuns.erase(KeptRuns.begin() + index);
  NChart->RemoveOverlay(index);
  CChart->RemoveOverlay(index);
  FillRunsMenu();
}

void TMForm::ClearKeptRuns() {
  KeptRuns.clear();
  NChart->ClearOverlays();
  CChart->ClearOverlays();
  FillRunsMenu();
}

void TMForm::RelabelKeptRuns() {
  if (KeptRuns.empty()) return;
  const TSession now = SessionOf(*Run);
  for (int i = 0; i < KeptRunCount(); ++i) {
    const TKept& kept = KeptRuns[static_cast<std::size_t>(i)];
    const QString label =
        kept.Name + QStringLiteral(": ") +
        QString::fromStdString(SetupDifference(kept.Setup, now, DecimalSeparator));
    NChart->SetOverlayLabel(i, label);
    CChart->SetOverlayLabel(i, label);
  }
}

void TMForm::KeepRunClick() { KeepRun(); }

void TMForm::CompareClick() {
  const QString folder = SessionFolder.isEmpty() ? QDir::currentPath() : SessionFolder;
  const QString fileName =
      QFileDialog::getOpenFileName(this, QStringLiteral("Compare with file"), folder,
                                   QStringLiteral("Run CSVs (*.csv);;All files (*)"));
  if (fileName.isEmpty()) return;
  SessionFolder = QFileInfo(fileName).absolutePath();
  CompareWithFile(fileName);
}

void TMForm::ClearKeptRunsClick() { ClearKeptRuns(); }

void TMForm::FillRunsMenu() {
  RunsMenu->clear();
  RunsMenu->addAction(CompareAction);
  RunsMenu->addSeparator();
  for (int i = 0; i < KeptRunCount(); ++i)
    connect(RunsMenu->addAction(QStringLiteral("Remove ") + NChart->OverlayLabel(i)),
            &QAction::triggered, this, [this, i] { RemoveKeptRun(i); });
  ClearKeptRunsAction->setEnabled(!KeptRuns.empty());
  RunsMenu->addAction(ClearKeptRunsAction);
}
