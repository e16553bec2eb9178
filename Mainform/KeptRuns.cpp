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
      KeepAction(MakeAction(window, Caption(Controls::KeepRun), Keys(Controls::KeepRun),
                            Tip(Controls::KeepRun))),
      CompareAction(MakeAction(window, Caption(Controls::Compare), Keys(Controls::Compare),
                               Tip(Controls::Compare))),
      ClearAction(MakeAction(window, Caption(Controls::ClearKept), Keys(Controls::ClearKept),
                             Tip(Controls::ClearKept))),
      KeepButton(MakeButton(panel, Caption(Controls::KeepRun), {110, 25, 54, 22})),
      RunsButton(MakeButton(panel, Caption(Controls::Runs), {164, 25, 51, 22})),
      RunsMenu(new QMenu(window)),
      CountChart(countChart),
      ConcentrationChart(concentrationChart),
      Separator(separator),
      SetupNow(std::move(setupNow)) {
  AttachAction(KeepButton, KeepAction);
  RunsButton->setToolTip(Tip(Controls::Runs)
                             .arg(CompareAction->shortcut().toString(QKeySequence::NativeText),
                                  ClearAction->shortcut().toString(QKeySequence::NativeText)));
  RunsButton->setMenu(RunsMenu);
  RunsButton->setPopupMode(QToolButton::InstantPopup);
  connect(RunsMenu, &QMenu::aboutToShow, this, &TKeptRuns::FillRunsMenu);
  FillRunsMenu();
}

void TKeptRuns::Add(const TKeptRun& run) {
  Runs.Add(run);
  Draw(run);
}

void TKeptRuns::Draw(const TKeptRun& run) {
  const QString name = QString::fromStdString(run.Name);
  CountChart->AddOverlay(name, run.Times, run.Counts);
  ConcentrationChart->AddOverlay(name, run.Times, run.Concentrations);
  Relabel();
  FillRunsMenu();
}

void TKeptRuns::Keep(const std::vector<TRunSample>& samples) {
  Draw(Runs.Keep(samples, SetupNow()));
}

void TKeptRuns::CompareWithFile(const QString& fileName) {
  Add(ReadKeptRun(QFile::encodeName(fileName).toStdString()));
}

void TKeptRuns::Remove(int index) {
  if (index < 0 || index >= Count()) return;
  Runs.Remove(index);
  CountChart->RemoveOverlay(index);
  ConcentrationChart->RemoveOverlay(index);
  FillRunsMenu();
}

void TKeptRuns::Clear() {
  Runs.Clear();
  CountChart->ClearOverlays();
  ConcentrationChart->ClearOverlays();
  FillRunsMenu();
}

void TKeptRuns::Relabel() {
  if (Count() == 0) return;  // the setup now is not asked for in vain
  const std::vector<std::string> labels = Runs.Labels(SetupNow(), Separator);
  for (int i = 0; i < Count(); ++i) {
    const QString label = QString::fromStdString(labels[static_cast<std::size_t>(i)]);
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
  ClearAction->setEnabled(Count() > 0);
  RunsMenu->addAction(ClearAction);
}
