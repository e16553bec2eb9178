// Runs kept beside the run now, to compare with: the run's curves as they
// were when kept, or a run CSV's. Each lies over both charts as a lighter
// curve, and the legend says what sets it apart from the run now
// ("kept 1: D 7.15E-11"). The "Keep run" button and the "Runs" menu (compare
// with a file, remove one, clear them all) live here; what they act on comes
// from the window.
#pragma once

#include <QAction>
#include <QMenu>
#include <QObject>
#include <QString>
#include <QToolButton>
#include <functional>
#include <vector>

#include "Session/Comparison.h"
#include "Session/RunRecord.h"
#include "Session/SessionFile.h"

class TChart;

class TKeptRuns : public QObject {
  Q_OBJECT

 public:
  static constexpr int Most = TKeptRunList::Most;

  // The buttons go into `panel` and the actions' keys work in `window`, which
  // owns this. `setupNow` is what the run now runs with: the kept runs'
  // legend says how theirs differs, with numbers in `separator`.
  TKeptRuns(QWidget* window, QWidget* panel, TChart* countChart, TChart* concentrationChart,
            char separator, std::function<TSession()> setupNow);

  QAction* const KeepAction;     // Ctrl+K
  QAction* const CompareAction;  // Ctrl+Shift+O, in the Runs menu
  QAction* const ClearAction;    // Ctrl+Shift+K, in the Runs menu
  QToolButton* const KeepButton;
  QToolButton* const RunsButton;
  QMenu* const RunsMenu;

  // The run's curves so far; throws TError when it has no steps yet.
  void Keep(const std::vector<TRunSample>& samples);
  // A run CSV's curves; throws TError naming the file when it cannot be read.
  void CompareWithFile(const QString& fileName);
  // Throws TError when Most are kept already.
  void Add(const TKeptRun& run);
  void Remove(int index);  // an index outside the kept runs does nothing
  void Clear();
  int Count() const { return Runs.Count(); }
  // The legend entries, against the run now: after every change of the
  // engine.
  void Relabel();

 private:
  void FillRunsMenu();
  // Lays `run` over both charts, with the legend and the menu brought up to date.
  void Draw(const TKeptRun& run);

  TChart* CountChart;
  TChart* ConcentrationChart;
  char Separator;
  std::function<TSession()> SetupNow;
  TKeptRunList Runs;
};
