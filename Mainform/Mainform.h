// The main window: a fixed left column with the run/export tool bar, the
// simulation parameters and the species editor, and on the right the two
// charts. The window only adapts: it reads texts, converts them, calls the
// engine and hands plain numbers to the charts.
#pragma once

#include <QApplication>
#include <QFrame>
#include <QGroupBox>
#include <QListWidget>
#include <QString>
#include <QTableWidget>
#include <QTimer>
#include <QToolButton>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "Diffunit/Diffunit.h"
#include "Mainform/ChartView.h"

// The user's decimal separator for the parameter tables and the tick labels.
// The entry point sets it once from SystemDecimalSeparator() before the
// window is built; '.' until then.
extern char DecimalSeparator;

// The system locale's decimal separator, or '.' when the locale gives none or
// something that cannot stand in a number text (not one ASCII punctuation
// character other than a sign).
char SystemDecimalSeparator();

// Error display. Every error that escapes a handler ends up here: by default
// a modal critical message box captioned with the application's title.
// Tests install their own display to observe the messages.
using TErrorDisplay = std::function<void(const QString& message)>;
// Installs `display` (an empty one restores the message box) and returns the
// one it replaces.
TErrorDisplay SetErrorDisplay(TErrorDisplay display);
void ShowError(const QString& message);
// Shows the exception being handled; call only inside a catch block. TError
// and other std::exception show their message, anything else an empty text.
void ShowCurrentException();

// The application object: no exception ever crosses Qt's event loop. One that
// escapes an event handler is shown by the error display and the program
// goes on.
class TApplication : public QApplication {
 public:
  TApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
};

// A two-column key/value grid. The key column is read-only and shows each
// row's caption (its key description) in place of the key; the value column
// is edited in place. Handlers address rows by key only, never by position.
// Typed text reaches the table at every keystroke, so a handler run from a
// tool button (which takes no focus) reads what is on screen.
class TValueList : public QTableWidget {
 public:
  TValueList(QWidget* parent, const QString& keyTitle, const QString& valueTitle, int keyWidth,
             int valueWidth);

  // Adds a row (key, value) at the end; its caption is the key until set.
  void AppendRow(const QString& key, const QString& value);
  // Sets the caption drawn for the row of `key`; nothing when there is none.
  void SetKeyDesc(const QString& key, const QString& caption);
  // The value text of `key`, or an empty text when no row has that key.
  QString Value(const QString& key) const;
  // Replaces the value text of `key`; appends (key, text) when no row has it.
  void SetValue(const QString& key, const QString& text);

  // The row of `key`, or -1.
  int FindRow(const QString& key) const;
  QString Key(int row) const;
  QString KeyDesc(int row) const;
};

class TMForm : public QWidget {
  Q_OBJECT

 public:
  // The controls, created before the constructor body runs its start-up.
  QTimer* Timer;          // 50 ms, off at start: the only driver of the simulation
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
  QListWidget* SpeciesList;

  explicit TMForm(QWidget* owner = nullptr);
  ~TMForm() override;

  // The engine, for reading its state (tests, benchmarks).
  const TVolume& Engine() const { return *Volume; }

 public slots:
  // Event handlers. A handler that fails throws TError; connected to their
  // controls they show the message and the window goes on.
  void FormResize();
  void ApplyButtonClick();
  void PauseButtonClick();
  void TimerTimer();
  void SaveCButtonClick();
  void SaveNButtonClick();
  void AddSpeciesButtonClick();
  void RemoveSpeciesButtonClick();
  void ApplySpSpeedButtonClick();
  void SpeciesListClick();
  void SpeedButtonRecalcDClick();
  void SpeedButtonRecalcAClick();

 public:
  // The engine's step report: one point on each of the four curves.
  void PlotStep(std::int32_t insideCount, std::int32_t innerCountTotal, double insideConcentration,
                double totalConcentration, double time);

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  std::unique_ptr<TVolume> Volume;  // the program's one engine

  void BuildControls();
  void ConnectHandlers();
  // Lays the docked panels out in the client area: Panel1 left, ChartPanel
  // the rest. Their contents have fixed sizes, except the charts.
  void ArrangeControls();
  // CChart docked to the top of ChartPanel at its own height, NChart below.
  void ArrangeCharts();
};

// The main window of the program, set by the entry point.
extern TMForm* MForm;
