// Sessions: saving the tables as a session file, opening one (a setup from a
// fresh engine) or a run CSV (its run replayed) beside the run now, the recent sessions, and the
// file dialogs of sessions and compared runs, which open where the last one did.
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QSettings>
#include <QSignalBlocker>
#include <algorithm>

#include "Mainform/LongWork.h"
#include "Mainform/Mainform.h"
#include "Session/Captions.h"
#include "Session/Comparison.h"
#include "Session/Conversions.h"
#include "Session/EngineRun.h"
#include "Session/OutputFile.h"
#include "Session/Parameters.h"
#include "Session/Tables.h"

namespace {

constexpr int MostRecentSessions = 8;
const QString RecentSessionsKey = QStringLiteral("RecentSessions");
const QString SessionFilter =
    QStringLiteral("Sessions and run CSVs (*.kelvane *.toml *.csv);;All files (*)");

// A session's text ('.') with the user's separator.
QString Shown(const std::string& text) {
  std::string shown = text;
  if (DecimalSeparator != '.') std::replace(shown.begin(), shown.end(), '.', DecimalSeparator);
  return QString::fromStdString(shown);
}

QSettings Settings() { return QSettings(QStringLiteral("Kelvane"), QStringLiteral("Kelvane")); }

}  // namespace

// ---------------------------------------------------------------------------
// Sessions

TSession TMForm::TablesSession() const {
  int shown = -1;
  for (int i = 0; i < SpeciesList->count(); ++i)
    if (SpeciesList->item(i)->isSelected()) shown = i;
  TSpeciesTexts texts;
  for (const TParameterRow& row : SpeciesRows)
    texts.*row.SpeciesText = ValueListSpecies->Value(QString::fromLatin1(row.Key)).toStdString();
  return ::TablesSession(SimulationTexts(), Run->Volume(), shown, texts, DecimalSeparator);
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
  // The replay told of every step, those before its last Apply too: the
  // rows' bands are the last ones told.
  const std::size_t first = bands.size() - std::min(bands.size(), samples.size());
  for (std::size_t i = 0; i < samples.size(); ++i)
    PlotSample(samples[i], first + i < bands.size() ? bands[first + i] : std::nullopt);
  {
    QSignalBlocker quiet(SpeciesList);
    SpeciesList->clear();
    for (std::size_t i = 0; i < Run->Volume().Species.size(); ++i) {
      auto* item = new QListWidgetItem(QString::fromUtf8(Captions::SpeciesItem));
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
    ShowNote(QString::fromUtf8(Captions::SpeciesChangedWhileRunning));
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

void TMForm::ForgetSession(const QString& path) {
  QStringList recent = RecentSessions();
  recent.removeAll(path);
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
                // A file gone since is no recent session any more.
                if (!QFileInfo::exists(path)) ForgetSession(path);
                ShowCurrentException();
              }
            });
}

// ---------------------------------------------------------------------------
// Compared runs: a run CSV beside the run now, from the sessions' folder

void TMForm::CompareClick() {
  const QString folder = SessionFolder.isEmpty() ? QDir::currentPath() : SessionFolder;
  const QString fileName =
      QFileDialog::getOpenFileName(this, QStringLiteral("Compare with file"), folder,
                                   QStringLiteral("Run CSVs (*.csv);;All files (*)"));
  if (fileName.isEmpty()) return;
  SessionFolder = QFileInfo(fileName).absolutePath();
  CompareWithFile(fileName);
}
