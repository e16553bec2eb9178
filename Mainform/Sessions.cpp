// Sessions: saving the tables as a session file, opening one (or a run CSV)
// as a user would type it, the recent sessions, and the file dialogs of
// sessions and compared runs, which open where the last one did.
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QSettings>
#include <QSignalBlocker>
#include <algorithm>

#include "Mainform/Mainform.h"
#include "Session/Comparison.h"
#include "Session/Conversions.h"
#include "Session/OutputFile.h"
#include "Session/Parameters.h"
#include "Statg/Statg.h"

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

QSettings Settings() { return QSettings(QStringLiteral("Kelvane"), QStringLiteral("Kelvane")); }

}  // namespace

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
  std::array<std::string, 5> simulation;
  for (std::size_t i = 0; i < 5; ++i) simulation[i] = text(ValueListSimulation, SimulationKey(i));
  // The species not shown as the table would show them: the engine's values.
  std::vector<TSpeciesTexts> species = SessionOf(*Volume).SpeciesTexts;
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

void TMForm::ResetToStart() {
  if (Timer->isActive()) PauseButtonClick();
  TStreamStates().Restore();
  Volume = std::make_unique<TVolume>();
  for (const TParameterRow& row : SimulationRows)
    ValueListSimulation->SetValue(
        QString::fromLatin1(row.Key),
        QString::fromStdString(NumberToText(row.Initial, DecimalSeparator)));
  {
    QSignalBlocker quiet(SpeciesList);
    SpeciesList->clear();
  }
  ApplyButtonClick();
  AddSpeciesButtonClick();
}

void TMForm::OpenSession(const QString& fileName) {
  const std::string name = QFile::encodeName(fileName).toStdString();
  const TSession session = ReadSession(name);
  try {
    CheckSession(session);
  } catch (const TError& error) {
    throw TError(name + ": " + error.what());
  }
  ResetToStart();
  for (std::size_t i = 1; i < session.Species.size(); ++i) AddSpeciesButtonClick();
  for (std::size_t i = 0; i < 5; ++i)
    ValueListSimulation->SetValue(QString::fromLatin1(SimulationKey(i)),
                                  Shown(session.SimulationTexts[i]));
  ApplyButtonClick();
  // The start placed every species with the default values in the default
  // volume: those that differ in either are typed and applied again.
  const bool applied = session.Simulation != TSimulationValues{};
  for (std::size_t i = 0; i < session.Species.size(); ++i) {
    {
      QSignalBlocker quiet(SpeciesList);
      SpeciesList->setCurrentRow(static_cast<int>(i));
    }
    const TSpeciesTexts& texts = session.SpeciesTexts[i];
    ValueListSpecies->SetValue(QString::fromLatin1(Key::SP_C), Shown(texts.Concentration));
    ValueListSpecies->SetValue(QString::fromLatin1(Key::SP_A), Shown(texts.Radius));
    ValueListSpecies->SetValue(QString::fromLatin1(Key::SP_D), Shown(texts.Diffusion));
    if (applied || session.Species[i] != TSpeciesValues{}) ApplySpSpeedButtonClick();
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
