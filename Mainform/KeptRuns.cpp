#include "Mainform/KeptRuns.h"

#include <QFile>
#include <QKeySequence>
#include <string>
#include <utility>

#include "Diffunit/Diffunit.h"
#include "Mainform/ChartView.h"
#include "Mainform/Widgets.h"

TKeptRuns::TKeptRuns(QWidget* window, QWidget* panel, TChart* countChart,
                     TChart* concentrationChart, char separator, std::function<TSession()> setupNow)
    : QObject(window),
      KeepAction(MakeAction(window, QStringLiteral("Keep run"), QKeySequence(Qt::CTRL | Qt::Key_K),
                            QStringLiteral("Keep this run's curves on the charts to compare"))),
      CompareAction(MakeAction(window, QStringLiteral("Compare with file..."),
                               QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O),
                               QStringLiteral("Show a run CSV's curves beside this run"))),
      ClearAction(MakeAction(window, QStringLiteral("Clear kept runs"),
                             QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_K),
                             QStringLiteral("Remove every kept or compared run from the charts"))),
      KeepButton(MakeButton(panel, QStringLiteral("Keep run"), {110, 25, 54, 22})),
      RunsButton(MakeButton(panel, QStringLiteral("Runs"), {164, 25, 51, 22})),
      RunsMenu(new QMenu(window)),
      CountChart(countChart),
      ConcentrationChart(concentrationChart),
      Separator(separator),
      SetupNow(std::move(setupNow)) {
  AttachAction(KeepButton, KeepAction);
  RunsButton->setToolTip(
      QStringLiteral("Compare with a run CSV (%1), remove kept runs or all of them (%2); the "
                     "charts' legends name them")
          .arg(CompareAction->shortcut().toString(QKeySequence::NativeText),
               ClearAction->shortcut().toString(QKeySequence::NativeText)));
  RunsButton->setMenu(RunsMenu);
  RunsButton->setPopupMode(QToolButton::InstantPopup);
  connect(RunsMenu, &QMenu::aboutToShow, this, &TKeptRuns::FillRunsMenu);
  FillRunsMenu();
}

void TKeptRuns::Add(const TKeptRun& run) {
  if (Count() >= Most)
    throw TError("The charts hold " + std::to_string(Most) +
                 " kept runs already: remove one (Runs) first");
  const QString name = QString::fromStdString(run.Name);
  Runs.push_back({name, run.Setup});
  CountChart->AddOverlay(name, run.Times, run.Counts);
  ConcentrationChart->AddOverlay(name, run.Times, run.Concentrations);
  Relabel();
  FillRunsMenu();
}

void TKeptRuns::Keep(const std::vector<TRunSample>& samples) {
  if (samples.empty()) throw TError("The run has no steps to keep yet");
  TKeptRun run;
  run.Times.reserve(samples.size());
  run.Counts.reserve(samples.size());
  run.Concentrations.reserve(samples.size());
  for (const TRunSample& sample : samples) {
    run.Times.push_back(sample.Time);
    run.Counts.push_back(sample.InsideCount);
    run.Concentrations.push_back(sample.InsideConcentration);
  }
  // The legend never gives a number twice while runs are kept; a run
  // refused for lack of room takes none.
  run.Name = "kept " + std::to_string(Made + 1);
  run.Setup = SetupNow();
  Add(run);
  ++Made;
}

void TKeptRuns::CompareWithFile(const QString& fileName) {
  Add(ReadKeptRun(QFile::encodeName(fileName).toStdString()));
}

void TKeptRuns::Remove(int index) {
  if (index < 0 || index >= Count()) return;
  Runs.erase(Runs.begin() + index);
  if (Runs.empty()) Made = 0;  // with none left, the numbers start again
  CountChart->RemoveOverlay(index);
  ConcentrationChart->RemoveOverlay(index);
  FillRunsMenu();
}

void TKeptRuns::Clear() {
  Runs.clear();
  Made = 0;
  CountChart->ClearOverlays();
  ConcentrationChart->ClearOverlays();
  FillRunsMenu();
}

void TKeptRuns::Relabel() {
  if (Runs.empty()) return;  // the setup now is not asked for in vain
  const TSession now = SetupNow();
  for (int i = 0; i < Count(); ++i) {
    const TKept& kept = Runs[static_cast<std::size_t>(i)];
    const QString label = kept.Name + QStringLiteral(": ") +
                          QString::fromStdString(SetupDifference(kept.Setup, now, Separator));
    CountChart->SetOverlayLabel(i, label);
    ConcentrationChart->SetOverlayLabel(i, label);
  }
}

void TKeptRuns::FillRunsMenu() {
  RunsMenu->clear();
  RunsMenu->addAction(CompareAction);
  RunsMenu->addSeparator();
  for (int i = 0; i < Count(); ++i)
    connect(RunsMenu->addAction(QStringLiteral("Remove ") + CountChart->OverlayLabel(i)),
            &QAction::triggered, this, [this, i] { Remove(i); });
  ClearAction->setEnabled(!Runs.empty());
  RunsMenu->addAction(ClearAction);
}
