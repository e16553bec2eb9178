// The main window: a fixed left column with the run/export tool bar, the
// simulation parameters and the species editor, and on the right the two
// charts. The window only adapts: it reads texts, converts them, calls the
// engine and hands plain numbers to the charts.
#pragma once

#include <QAction>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QString>
#include <QTimer>
#include <QToolButton>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "Diffunit/Diffunit.h"
#include "Mainform/ChartView.h"
#include "Mainform/CheckList.h"
#include "Mainform/ErrorDisplay.h"
#include "Mainform/KeptRuns.h"
#include "Mainform/ValueList.h"
#include "Session/EngineRun.h"
#include "Session/RunRecord.h"
#include "Session/SessionFile.h"
#include "Session/Tables.h"

// The user's decimal separator for the parameter tables and the tick labels.
// The entry point sets it once from SystemDecimalSeparator() before the
// window is built; '.' until then.
extern char DecimalSeparator;

// The system locale's decimal separator, or '.' where it could not stand in
// a number text (see UsableDecimalSeparator).
char SystemDecimalSeparator();

class TMoleculeView;
class TRunControl;

class TMForm : public QWidget {
  Q_OBJECT

 public:
  // The controls, created before the constructor body runs its start-up.
  QFrame* ChartPanel;     // right part, fills the client area beside Panel1
  TChart* CChart;         // concentration against time, docked to the top
  QCPGraph* LineSeries1;  // CChart curve 0 (red): total concentration
  QCPGraph* LineSeries2;  // CChart curve 1 (green): concentration inside
  TChart* NChart;         // molecule counts against time (log), the rest
  QCPGraph* Series1;      // NChart curve 0 (red): inner count at the concentration
  QCPGraph* Series2;      // NChart curve 1 (green): molecules inside
  QFrame* Panel1;         // left column, 217 px wide
  QFrame* ToolBar1;       // run and export buttons
  QToolButton* ApplyButton;
  QToolButton* PauseButton;
  QToolButton* SaveCButton;
  QToolButton* SaveNButton;
  TValueList* ValueListSimulation;
  QGroupBox* GroupBox1;  // "Species"
  TValueList* ValueListSpecies;
  QFrame* Panel2;  // the two Recalculate buttons
  QToolButton* SpeedButtonRecalcA;
  QToolButton* SpeedButtonRecalcD;
  QFrame* ToolBar2;  // species buttons
  QToolButton* AddSpeciesButton;
  QToolButton* RemoveSpeciesButton;
  QToolButton* ApplySpSpeedButton;
  TCheckList* SpeciesList;
  // Beside the designed controls, in the free space below the species group:
  // run speed, readout and the views that go beyond the curves.
  QFrame* RunPanel;
  QToolButton* ExportRunButton;     // "Export run...": the whole run as CSV
  QAction* BandAction;              // in the charts' menus: shows the expected band
  QAction* ExpectedAction;          // in the charts' menus: shows the expected filling curve
  QToolButton* MoleculeViewButton;  // "Molecules...": opens the molecule view
  // Sessions, in the run panel's second row.
  QToolButton* OpenSessionButton;  // "Open...", with the recent sessions beside it
  QToolButton* SaveSessionButton;  // "Save..."
  QAction* OpenSessionAction;
  QAction* SaveSessionAction;
  QMenu* RecentMenu;
  // The run control's and the kept runs' own controls, by the names the
  // window has always given them.
  QTimer* Timer;               // 50 ms, off at start: the only driver of the simulation
  QComboBox* SpeedBox;         // steps per tick: 1 (as designed), 10, 100, or flat out
  QLabel* Readout;             // over the count chart: time, speed, inside count and more
  QToolButton* KeepRunButton;  // "Keep run": the curves stay as a lighter overlay
  QAction* KeepRunAction;
  QAction* ClearKeptRunsAction;

  // The engine (and every engine Open makes) runs with `engineSettings`:
  // the program's from the environment; by default, the engine's defaults.
  explicit TMForm(QWidget* owner = nullptr);
  explicit TMForm(const TEngineSettings& engineSettings, QWidget* owner = nullptr);
  ~TMForm() override;

  // The engine, for reading its state (views, tests, benchmarks). Read it
  // only on the window's thread, and copy what must outlive the call: it
  // changes at every step.
  const TVolume& Engine() const { return Run->Volume(); }

 signals:
  // The engine's molecules or parameters changed: after steps, Apply and
  // every species change. Views that show the engine refresh on it.
  void EngineChanged();

 public slots:
  // Event handlers. A handler that fails throws TError; connected to their
  // controls they show the message and the window goes on.
  void FormResize();
  void ApplyButtonClick();
  void PauseButtonClick();
  void SaveCButtonClick();
  void SaveNButtonClick();
  void AddSpeciesButtonClick();
  void RemoveSpeciesButtonClick();
  void ApplySpSpeedButtonClick();
  void SpeciesListClick();
  void SpeedButtonRecalcDClick();
  void SpeedButtonRecalcAClick();
  // A tick, a slice of steps, a new speed: the run control's timers and
  // speed box ask it for these themselves; here they are for tests and
  // benchmarks, which drive the run without the event loop.
  void TimerTimer();
  void SliceTimerTimer();
  void SpeedBoxChange();
  // Run export and the views beyond the curves.
  void ExportRunButtonClick();
  void MoleculeViewButtonClick();
  // Sessions and kept runs.
  void OpenSessionClick();
  void SaveSessionClick();
  void KeepRunClick();
  void CompareClick();
  void ClearKeptRunsClick();

 public:
  // The engine's step report: one sample in the run record, one point on
  // each of the four curves, the band.
  void PlotStep(std::int32_t insideCount, std::int32_t innerCountTotal, double insideConcentration,
                double totalConcentration, double time);

  // The run pauses by itself once `step` steps have been taken since the last
  // Apply (0: never). For measuring and comparing runs.
  void PauseAtStep(std::int64_t step);
  // Writes the whole run since the last Apply as CSV (see Session/Exports.h).
  void ExportRun(const QString& fileName);
  // Shows or hides the expected-fluctuation band on both charts.
  void ShowBand(bool visible);  // and checks BandAction to match
  // Opens a session file or a run CSV as a user would set it up by hand: the
  // start state, "+ Species" for species 2 on, the parameters typed and
  // applied, then each species typed and applied where it differs from the
  // start's. A file that cannot be read or set up changes nothing and throws
  // TError naming it. `kelvane FILE` opens FILE at start.
  void OpenSession(const QString& fileName);
  // Writes the tables' texts, and those of the species not shown, as a
  // session file. Throws TError naming a text that is no number.
  void SaveSession(const QString& fileName);
  // The session the tables show now.
  TSession TablesSession() const;
  // The simulation table's texts as typed.
  TSimulationTexts SimulationTexts() const;
  // Runs kept beside this one: the run's curves so far, or a run CSV's.
  // At most MostKeptRuns; their legend says what sets each apart from the
  // run now.
  static constexpr int MostKeptRuns = TKeptRuns::Most;
  void KeepRun();
  void CompareWithFile(const QString& fileName);
  void RemoveKeptRun(int index);
  void ClearKeptRuns();
  int KeptRunCount() const;
  // The sessions opened or saved last, newest first (at most 8), kept
  // between runs of the program.
  QStringList RecentSessions() const;
  // Shows or hides the expected filling curve on both charts.
  void ShowExpected(bool visible);  // and checks ExpectedAction to match
  // Every step since the last Apply, and the readout's statistics.
  const TRunRecord& Record() const { return Run->Record(); }
  const TRunStatistics& Statistics() const { return Run->Record().Statistics(); }
  // What was done to the engine since it was made, in order.
  const TActions& Actions() const { return Run->Actions(); }

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  // The program's one engine, what was done to it and its record since the
  // last Apply. Every change of the engine goes through it.
  std::unique_ptr<TEngineRun> Run;
  TEngineSettings EngineSettings;  // of the engine, and of every engine Open makes
  QString RunExportFolder;         // where "Export run..." last wrote, for this session
  // Made when first opened: a window of its own.
  TMoleculeView* MoleculeView = nullptr;
  QString SessionFolder;    // where the session dialogs opened last, for this session
  TRunControl* RunControl;  // the pace of the run and its readout
  TKeptRuns* KeptRuns;      // runs kept beside this one

  void BuildControls();
  void BuildChartActions();
  void BuildSessionControls();
  // Shortcuts shown in the tooltips of the run and export buttons.
  void SetShortcuts();
  // Puts `run` in place of the run now, with the species list and curves
  // to match (`bands`: the band in force at each of its samples).
  void UseRun(std::unique_ptr<TEngineRun> run, const std::vector<std::optional<TBand>>& bands);
  // Replays `session` on a fresh engine beside the run now, as long work;
  // null when cancelled. Throws TError naming `name` and what failed.
  std::unique_ptr<TEngineRun> Replayed(const TSession& session, const std::string& name,
                                       std::vector<std::optional<TBand>>& bands);
  // Draws one recorded step on the charts.
  void PlotSample(const TRunSample& sample, const std::optional<TBand>& band);
  void RememberSession(const QString& fileName);
  void ForgetSession(const QString& path);
  void FillRecentMenu();
  void ConnectHandlers();
  // One engine step; a failure pauses the run before it propagates.
  void StepOnce();
  // After steps, Apply and species changes: the readout, the kept runs'
  // legend, the views (through EngineChanged), and the pause at the step
  // set by PauseAtStep.
  void AfterEngineChange();
  // After species changes: the readout's averages and filling times start
  // again from here; then as AfterEngineChange.
  void SpeciesChanged();
  // Runs a change of the engine's species that places molecules of
  // `concentration` [m^-3]: at once when they are few, else as long work the
  // user can follow and cancel. False when cancelled (nothing changed).
  bool ChangeSpecies(double concentration, const std::function<void()>& change);
  // The expected band on both charts from `time` on (none: a gap).
  void ExtendBand(double time, const std::optional<TBand>& band);
};

// The main window of the program, set by the entry point.
extern TMForm* MForm;
