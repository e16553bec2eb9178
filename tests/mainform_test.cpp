#include "Mainform/Mainform.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QProgressDialog>
#include <QSettings>
#include <QTimer>
#include <QToolTip>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "Mainform/LongWork.h"
#include "Session/Exports.h"
#include "Session/Parameters.h"
#include "Session/RunCsv.h"
#include "Statg/Statg.h"
#ifdef KELVANE_CLI
#include "app/RunCommand.h"
#endif
#include "tests/qt_test_support.h"
#include "tests/test_support.h"

namespace {

// Runs the event loop until `condition` holds; false when it still does not
// after ten seconds (a generous bound for a loaded machine).
bool WaitUntil(const std::function<bool()>& condition) {
  QElapsedTimer clock;
  clock.start();
  while (!condition()) {
    if (clock.elapsed() > 10000) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

// Every test starts from the program's start: streams at their seeds, '.'
// as separator, in an empty working directory that also holds the settings
// (tests run side by side must not share a recent-sessions list), with the
// error display recording instead of opening message boxes.
class MainformTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DecimalSeparator = '.';
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QDir::currentPath());
    Previous = SetErrorDisplay([this](const QString& message) { Messages.push_back(message); });
  }
  void TearDown() override {
    Form.reset();
    SetErrorDisplay(Previous);
    DecimalSeparator = '.';
  }

  TMForm& MakeForm(const TEngineSettings& settings = TEngineSettings()) {
    Form = std::make_unique<TMForm>(settings);
    return *Form;
  }

  static QString Text(const TValueList* list, const char* key) {
    return list->Value(QString::fromLatin1(key));
  }
  static void SetText(TValueList* list, const char* key, const char* text) {
    list->SetValue(QString::fromLatin1(key), QString::fromUtf8(text));
  }
  // Makes the selected species small (7200 molecules) so that many steps are quick.
  static void ShrinkSelectedSpecies(TMForm& form) {
    SetText(form.ValueListSpecies, Key::SP_C, "7.2E18");
    form.ApplySpSpeedButtonClick();
  }

  std::vector<QString> Messages;
  std::unique_ptr<TMForm> Form;

 private:
  TErrorDisplay Previous;
  TWorkDir WorkDir;
};

// ---------------------------------------------------------------------------
// Parameter tables

TEST_F(MainformTest, TablesStartWithKeysCaptionsAndDefaults) {
  TMForm& form = MakeForm();
  struct Row {
    const char *key, *caption, *text;
  };
  const Row simulation[] = {{"SIM_B0", "External Cube Rib [m]", "1E-5"},
                            {"SIM_B1", "Internal Cube Rib [m]", "1E-6"},
                            {"SIM_Q", "Dynamic Viscosity [Pa/s]", "0.001"},
                            {"SIM_T", "Temperature [K]", "293.15"},
                            {"SIM_DT", "Simulation Time Step [s]", "0.0001"}};
  const Row species[] = {{"SP_C", "Concentration [m-3]", "7.2E20"},
                         {"SP_A", "Molecule Radius [m]", "1.5E-9"},
                         {"SP_D", "Diffusion Coefficient [m2/s]", "1.43E-10"}};
  const auto check = [](const TValueList* list, const auto& rows, const char* title, int width0,
                        int width1) {
    ASSERT_EQ(list->rowCount(), static_cast<int>(std::size(rows)));
    EXPECT_EQ(list->horizontalHeaderItem(0)->text(), QString::fromLatin1(title));
    EXPECT_EQ(list->horizontalHeaderItem(1)->text(), QStringLiteral("Value"));
    EXPECT_EQ(list->columnWidth(0), width0);
    EXPECT_EQ(list->columnWidth(1), width1);
    for (int row = 0; row < list->rowCount(); ++row) {
      EXPECT_EQ(list->Key(row), QString::fromLatin1(rows[row].key));
      EXPECT_EQ(list->item(row, 0)->text(), QString::fromLatin1(rows[row].caption));
      EXPECT_EQ(list->item(row, 1)->text(), QString::fromLatin1(rows[row].text));
      EXPECT_FALSE(list->item(row, 0)->flags() & Qt::ItemIsEditable);
      EXPECT_TRUE(list->item(row, 1)->flags() & Qt::ItemIsEditable);
    }
  };
  check(form.ValueListSimulation, simulation, "Simulation Parameters", 121, 88);
  check(form.ValueListSpecies, species, "Species Parameters", 121, 84);
}

TEST_F(MainformTest, CommaSeparatorShowsAndReadsCommas) {
  DecimalSeparator = ',';
  TMForm& form = MakeForm();
  const char* simulation[] = {"1E-5", "1E-6", "0,001", "293,15", "0,0001"};
  for (int row = 0; row < 5; ++row)
    EXPECT_EQ(form.ValueListSimulation->item(row, 1)->text(), QString::fromLatin1(simulation[row]));
  EXPECT_EQ(Text(form.ValueListSpecies, Key::SP_C), QStringLiteral("7,2E20"));
  EXPECT_EQ(Text(form.ValueListSpecies, Key::SP_A), QStringLiteral("1,5E-9"));
  EXPECT_EQ(Text(form.ValueListSpecies, Key::SP_D), QStringLiteral("1,43E-10"));
  // The constructor's Apply read the comma texts.
  EXPECT_EQ(form.Engine().Temperature, 293.15);
  EXPECT_EQ(form.Engine().TimeStep, 0.0001);
  form.SpeedButtonRecalcDClick();
  EXPECT_EQ(Text(form.ValueListSpecies, Key::SP_D), QStringLiteral("1,43E-10"));
  // A point is no separator here.
  SetText(form.ValueListSimulation, Key::SIM_T, "293.15");
  EXPECT_THROW(form.ApplyButtonClick(), TError);
}

TEST_F(MainformTest, BadTextsAreNamedInReadingOrder) {
  TMForm& form = MakeForm();
  // Apply reads SIM_DT, SIM_T, SIM_Q, SIM_B1, SIM_B0.
  SetText(form.ValueListSimulation, Key::SIM_B0, "b0?");
  SetText(form.ValueListSimulation, Key::SIM_Q, "");
  SetText(form.ValueListSimulation, Key::SIM_T, "293,15");
  form.ApplyButton->click();
  SetText(form.ValueListSimulation, Key::SIM_T, " 293.15 ");
  form.ApplyButton->click();
  SetText(form.ValueListSimulation, Key::SIM_Q, "1e-3");
  form.ApplyButton->click();
  ASSERT_EQ(Messages.size(), 3u);
  EXPECT_EQ(Messages[0], QStringLiteral("'293,15' is not a valid floating point value"));
  EXPECT_EQ(Messages[1], QStringLiteral("'' is not a valid floating point value"));
  EXPECT_EQ(Messages[2], QStringLiteral("'b0?' is not a valid floating point value"));
  // The table keeps the offending text for the user to correct.
  EXPECT_EQ(Text(form.ValueListSimulation, Key::SIM_B0), QStringLiteral("b0?"));
}

// Apply reads SIM_DT, SIM_T, SIM_Q, SIM_B1, SIM_B0 and "Apply Species" reads
// SP_A, SP_D, SP_C: with two neighbours in that order bad, the message names
// the first.
TEST_F(MainformTest, HandlersReadTheirTextsInAFixedOrder) {
  TMForm& form = MakeForm();
  struct TOrder {
    TValueList* list;
    std::vector<const char*> keys;
    QToolButton* button;
  };
  const TOrder orders[] = {
      {form.ValueListSimulation,
       {Key::SIM_DT, Key::SIM_T, Key::SIM_Q, Key::SIM_B1, Key::SIM_B0},
       form.ApplyButton},
      {form.ValueListSpecies, {Key::SP_A, Key::SP_D, Key::SP_C}, form.ApplySpSpeedButton},
  };
  for (const TOrder& order : orders) {
    for (std::size_t k = 0; k + 1 < order.keys.size(); ++k) {
      const QString first = Text(order.list, order.keys[k]);
      const QString second = Text(order.list, order.keys[k + 1]);
      SetText(order.list, order.keys[k], "first?");
      SetText(order.list, order.keys[k + 1], "second?");
      Messages.clear();
      order.button->click();
      ASSERT_EQ(Messages.size(), 1u) << order.keys[k];
      EXPECT_EQ(Messages[0], QStringLiteral("'first?' is not a valid floating point value"))
          << order.keys[k] << " before " << order.keys[k + 1];
      order.list->SetValue(QString::fromLatin1(order.keys[k]), first);
      order.list->SetValue(QString::fromLatin1(order.keys[k + 1]), second);
    }
  }
}

// ---------------------------------------------------------------------------
// Layout

TEST_F(MainformTest, ControlsAreNestedAndPlacedAsDesigned) {
  TMForm& form = MakeForm();
  EXPECT_EQ(form.windowTitle(), QStringLiteral("Kelvane"));
  EXPECT_EQ(form.size(), QSize(768, 442));
  struct Place {
    QWidget* control;
    QWidget* parent;
    QRect geometry;
  };
  const Place places[] = {
      {form.ChartPanel, &form, {217, 0, 551, 442}},
      {form.CChart, form.ChartPanel, {1, 1, 549, 220}},
      {form.NChart, form.ChartPanel, {1, 221, 549, 220}},
      {form.Panel1, &form, {0, 0, 217, 442}},
      {form.ToolBar1, form.Panel1, {1, 1, 215, 29}},
      {form.ApplyButton, form.ToolBar1, {0, 2, 42, 22}},
      {form.PauseButton, form.ToolBar1, {42, 2, 39, 22}},
      {form.SaveCButton, form.ToolBar1, {81, 2, 68, 22}},
      {form.SaveNButton, form.ToolBar1, {149, 2, 64, 22}},
      {form.ValueListSimulation, form.Panel1, {1, 30, 215, 117}},
      {form.GroupBox1, form.Panel1, {1, 147, 215, 227}},
      {form.SpeciesList, form.GroupBox1, {2, 15, 211, 53}},
      {form.ToolBar2, form.GroupBox1, {2, 68, 211, 29}},
      {form.AddSpeciesButton, form.ToolBar2, {0, 2, 65, 22}},
      {form.RemoveSpeciesButton, form.ToolBar2, {65, 2, 63, 22}},
      {form.ApplySpSpeedButton, form.ToolBar2, {128, 2, 81, 22}},
      {form.ValueListSpecies, form.GroupBox1, {2, 97, 211, 80}},
      {form.Panel2, form.GroupBox1, {2, 177, 211, 48}},
      {form.SpeedButtonRecalcD, form.Panel2, {2, 2, 207, 22}},
      {form.SpeedButtonRecalcA, form.Panel2, {2, 25, 207, 22}},
  };
  for (const Place& place : places) {
    EXPECT_EQ(place.control->parentWidget(), place.parent)
        << place.control->metaObject()->className();
    EXPECT_EQ(place.control->geometry(), place.geometry)
        << place.control->metaObject()->className();
  }
  EXPECT_EQ(form.GroupBox1->title(), QStringLiteral("Species"));
  EXPECT_EQ(form.LineSeries1, form.CChart->graph(0));
  EXPECT_EQ(form.LineSeries2, form.CChart->graph(1));
  EXPECT_EQ(form.Series1, form.NChart->graph(0));
  EXPECT_EQ(form.Series2, form.NChart->graph(1));

  struct Button {
    QToolButton* button;
    const char* caption;
    bool image;
  };
  const Button buttons[] = {{form.ApplyButton, "Apply", false},
                            {form.PauseButton, "", true},
                            {form.SaveCButton, "C1(t)", true},
                            {form.SaveNButton, "N1(t)", true},
                            {form.AddSpeciesButton, "+ Species", false},
                            {form.RemoveSpeciesButton, "- Species", false},
                            {form.ApplySpSpeedButton, "Apply Species", false},
                            {form.SpeedButtonRecalcD, "Recalrualte Diffusion Coefficient", false},
                            {form.SpeedButtonRecalcA, "Recalculate Molecule Radius", false}};
  for (const Button& b : buttons) {
    EXPECT_EQ(b.button->text(), QString::fromLatin1(b.caption));
    EXPECT_TRUE(b.button->autoRaise());
    EXPECT_EQ(b.button->focusPolicy(), Qt::NoFocus);
    EXPECT_TRUE(b.button->isEnabled());
    EXPECT_EQ(!b.button->icon().isNull(), b.image) << b.caption;
  }
  EXPECT_EQ(form.PauseButton->icon().availableSizes().value(0), QSize(16, 15));
  EXPECT_EQ(form.SaveCButton->icon().availableSizes().value(0), QSize(16, 16));
  EXPECT_EQ(form.Timer->interval(), 50);
  EXPECT_FALSE(form.Timer->isActive());
  EXPECT_EQ(form.SpeciesList->selectionMode(), QAbstractItemView::SingleSelection);
}

TEST_F(MainformTest, ResizingKeepsTheLeftColumnAndSplitsTheCharts) {
  TMForm& form = MakeForm();
  form.show();
  const auto leftColumnIntact = [&form](int height) {
    EXPECT_EQ(form.Panel1->geometry(), QRect(0, 0, 217, height));
    EXPECT_EQ(form.ToolBar1->geometry(), QRect(1, 1, 215, 29));
    EXPECT_EQ(form.ValueListSimulation->geometry(), QRect(1, 30, 215, 117));
    EXPECT_EQ(form.GroupBox1->geometry(), QRect(1, 147, 215, 227));
    EXPECT_EQ(form.SpeciesList->geometry(), QRect(2, 15, 211, 53));
    EXPECT_EQ(form.ToolBar2->geometry(), QRect(2, 68, 211, 29));
    EXPECT_EQ(form.ValueListSpecies->geometry(), QRect(2, 97, 211, 80));
    EXPECT_EQ(form.Panel2->geometry(), QRect(2, 177, 211, 48));
  };
  form.resize(1000, 700);
  leftColumnIntact(700);
  EXPECT_EQ(form.ChartPanel->geometry(), QRect(217, 0, 783, 700));
  EXPECT_EQ(form.CChart->geometry(), QRect(1, 1, 781, 349));
  EXPECT_EQ(form.NChart->geometry(), QRect(1, 350, 781, 349));

  // Below the design height the column is clipped, not squeezed.
  form.resize(700, 101);
  leftColumnIntact(101);
  EXPECT_EQ(form.ChartPanel->height(), 101);
  EXPECT_EQ(form.CChart->height(), 49);
  EXPECT_EQ(form.NChart->geometry(), QRect(1, 50, 481, 50));

  form.resize(768, 442);
  EXPECT_EQ(form.CChart->geometry(), QRect(1, 1, 549, 220));
  EXPECT_EQ(form.NChart->geometry(), QRect(1, 221, 549, 220));
}

// ---------------------------------------------------------------------------
// Species editing

TEST_F(MainformTest, AddedSpeciesStartWithTheDefaults) {
  TMForm& form = MakeForm();
  SetText(form.ValueListSpecies, Key::SP_C, "1E20");  // typed, then overwritten
  for (int k = 0; k < 3; ++k) form.AddSpeciesButton->click();
  ASSERT_EQ(form.SpeciesList->count(), 4);
  ASSERT_EQ(form.Engine().Species.size(), 4u);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(form.SpeciesList->item(i)->text(), QStringLiteral("Species 1"));
    EXPECT_EQ(form.SpeciesList->item(i)->checkState(), Qt::Checked);
    EXPECT_EQ(form.SpeciesList->item(i)->isSelected(), i == 3);
    EXPECT_EQ(form.Engine().SpeciesConcentration(i), 7.2e20);
    EXPECT_EQ(form.Engine().SpeciesRadius(i), 1.5e-9);
    EXPECT_EQ(form.Engine().SpeciesDiffusion(i), 1.43e-10);
  }
  EXPECT_EQ(Text(form.ValueListSpecies, Key::SP_C), QStringLiteral("7.2E20"));
  EXPECT_EQ(Text(form.ValueListSpecies, Key::SP_A), QStringLiteral("1.5E-9"));
  EXPECT_EQ(Text(form.ValueListSpecies, Key::SP_D), QStringLiteral("1.43E-10"));
  EXPECT_EQ(form.Engine().TotalConcentration, 4 * 7.2e20);
  EXPECT_TRUE(Messages.empty());
}

TEST_F(MainformTest, RemovingSpecies) {
  TMForm& form = MakeForm();
  // With one item, "- Species" does nothing at all.
  SetText(form.ValueListSpecies, Key::SP_C, "typed");
  form.RemoveSpeciesButton->click();
  EXPECT_EQ(form.SpeciesList->count(), 1);
  EXPECT_EQ(form.Engine().Species.size(), 1u);
  EXPECT_EQ(Text(form.ValueListSpecies, Key::SP_C), QStringLiteral("typed"));

  // Four species told apart by their concentrations; remove the third.
  const char* concentrations[] = {"1E18", "2E18", "3E18", "4E18"};
  for (int i = 0; i < 4; ++i) {
    if (i > 0) form.AddSpeciesButtonClick();
    SetText(form.ValueListSpecies, Key::SP_C, concentrations[i]);
    SetText(form.ValueListSpecies, Key::SP_A, "2E-9");
    form.ApplySpSpeedButtonClick();
  }
  form.SpeciesList->setCurrentRow(2);  // as a click would
  form.RemoveSpeciesButton->click();
  ASSERT_EQ(form.SpeciesList->count(), 3);
  ASSERT_EQ(form.Engine().Species.size(), 3u);
  EXPECT_EQ(form.Engine().SpeciesConcentration(0), 1e18);
  EXPECT_EQ(form.Engine().SpeciesConcentration(1), 2e18);
  EXPECT_EQ(form.Engine().SpeciesConcentration(2), 4e18);
  EXPECT_TRUE(form.SpeciesList->item(0)->isSelected());
  EXPECT_EQ(Text(form.ValueListSpecies, Key::SP_C), QStringLiteral("1E18"));
  EXPECT_EQ(Text(form.ValueListSpecies, Key::SP_A), QStringLiteral("2E-9"));
  EXPECT_EQ(form.Engine().TotalConcentration, 7e18);

  // Selecting an item shows the engine's values, not what was typed.
  SetText(form.ValueListSpecies, Key::SP_C, "9E18");
  form.SpeciesList->setCurrentRow(2);
  EXPECT_EQ(Text(form.ValueListSpecies, Key::SP_C), QStringLiteral("4E18"));
  emit form.SpeciesList->itemClicked(form.SpeciesList->item(2));
  EXPECT_EQ(Text(form.ValueListSpecies, Key::SP_C), QStringLiteral("4E18"));
  EXPECT_TRUE(Messages.empty());
}

TEST_F(MainformTest, RecalculateUsesTheAppliedTemperatureAndViscosity) {
  TMForm& form = MakeForm();
  form.SpeedButtonRecalcD->click();
  EXPECT_EQ(Text(form.ValueListSpecies, Key::SP_D), QStringLiteral("1.43E-10"));
  form.SpeedButtonRecalcA->click();
  EXPECT_EQ(Text(form.ValueListSpecies, Key::SP_A), QStringLiteral("1.50E-9"));

  SetText(form.ValueListSimulation, Key::SIM_T, "586.3");  // not applied
  form.SpeedButtonRecalcD->click();
  EXPECT_EQ(Text(form.ValueListSpecies, Key::SP_D), QStringLiteral("1.43E-10"));
  form.ApplyButton->click();
  form.SpeedButtonRecalcD->click();
  EXPECT_EQ(Text(form.ValueListSpecies, Key::SP_D), QStringLiteral("2.86E-10"));
  // The engine's species learn nothing until "Apply Species".
  EXPECT_EQ(form.Engine().SpeciesDiffusion(0), 1.43e-10);

  // A zero radius: the division error, and the target row keeps its text.
  SetText(form.ValueListSpecies, Key::SP_A, "0");
  form.SpeedButtonRecalcD->click();
  ASSERT_EQ(Messages.size(), 1u);
  EXPECT_EQ(Messages[0], QString::fromLatin1(FloatDivideByZeroMessage));
  EXPECT_EQ(Text(form.ValueListSpecies, Key::SP_D), QStringLiteral("2.86E-10"));
}

TEST_F(MainformTest, RejectedSpeciesChangeNothing) {
  TMForm& form = MakeForm();
  ShrinkSelectedSpecies(form);
  // A bad text stops "Apply Species" before the engine is called.
  SetText(form.ValueListSpecies, Key::SP_D, "fast");
  form.ApplySpSpeedButton->click();
  ASSERT_EQ(Messages.size(), 1u);
  EXPECT_EQ(Messages[0], QStringLiteral("'fast' is not a valid floating point value"));
  EXPECT_EQ(form.Engine().SpeciesConcentration(0), 7.2e18);

  // A species the engine refuses (7.2e20 m^-3 in a 1 m^3 shell does not fit
  // a count) leaves no list item without its engine species.
  SetText(form.ValueListSimulation, Key::SIM_B0, "1");
  form.ApplyButton->click();
  form.AddSpeciesButton->click();
  ASSERT_EQ(Messages.size(), 2u);
  EXPECT_EQ(form.SpeciesList->count(), 1);
  EXPECT_EQ(form.Engine().Species.size(), 1u);
  EXPECT_TRUE(form.SpeciesList->item(0)->isSelected());
  // The table shows that species again, not the refused defaults, so that
  // "Apply Species" next does not overwrite it with them (it did).
  EXPECT_EQ(Text(form.ValueListSpecies, Key::SP_C), QStringLiteral("7.2E18"));
  form.ApplySpSpeedButton->click();
  EXPECT_EQ(form.Engine().SpeciesConcentration(0), 7.2e18);
}

// Placing millions of molecules can be cancelled from its progress bar: the
// engine, the list and the tables stay as they were, with no message.
TEST_F(MainformTest, CancelledPlacementChangesNothing) {
  struct TQuickBar {
    TQuickBar() { SetLongWorkQuietTime(0); }
    ~TQuickBar() { SetLongWorkQuietTime(500); }
  } quickBar;
  // One thread places 2.4 million molecules in about 0.1 s, reporting every
  // half million: time for the bar to be cancelled at its first showing.
  TEngineSettings oneThread;
  oneThread.Threads = 1;
  TMForm& form = MakeForm(oneThread);
  SetText(form.ValueListSimulation, Key::SIM_B0, "1.5E-5");
  form.ApplyButton->click();  // the default species now places 2.43 million
  QTimer canceller;
  QObject::connect(&canceller, &QTimer::timeout, [&] {
    for (QProgressDialog* bar : form.findChildren<QProgressDialog*>())
      if (bar->isVisible()) bar->cancel();
  });
  canceller.start(1);

  // A loaded machine may finish the placement before the cancel lands: that
  // change is undone and tried again.
  const auto cancelled = [&](const std::function<void()>& change, bool added) {
    for (int attempt = 0; attempt < 5; ++attempt) {
      const TStreamStates streams = form.Engine().Streams;
      const double diffusion = form.Engine().SpeciesDiffusion(0);
      change();
      if (form.Engine().Species.size() == 1u && form.Engine().Streams == streams &&
          form.Engine().SpeciesDiffusion(0) == diffusion)
        return true;
      if (added) form.RemoveSpeciesButton->click();
    }
    return false;
  };
  ASSERT_TRUE(cancelled([&] { form.AddSpeciesButton->click(); }, true));
  EXPECT_EQ(form.SpeciesList->count(), 1);
  EXPECT_TRUE(form.SpeciesList->item(0)->isSelected());
  EXPECT_EQ(Text(form.ValueListSpecies, Key::SP_C), QStringLiteral("7.2E20"));

  SetText(form.ValueListSpecies, Key::SP_D, "1E-10");
  ASSERT_TRUE(cancelled([&] { form.ApplySpSpeedButton->click(); }, false));
  EXPECT_EQ(Text(form.ValueListSpecies, Key::SP_D), QStringLiteral("1E-10"));
  EXPECT_EQ(form.Engine().TotalConcentration, Defaults::Concentration);
  EXPECT_TRUE(Messages.empty());
}

// Mouse and keyboard on the species list, as the user works them: one item
// stays selected whatever the modifiers, and every action shows the chosen
// species once.
TEST_F(MainformTest, SpeciesListKeepsOneSelectionAndAnswersEachActionOnce) {
  TMForm& form = MakeForm();
  form.show();
  form.AddSpeciesButtonClick();
  form.AddSpeciesButtonClick();
  TCheckList* list = form.SpeciesList;
  int chosen = 0;
  QObject::connect(list, &TCheckList::Chosen, [&chosen] { ++chosen; });
  const auto press = [list](QPoint at, Qt::KeyboardModifiers modifiers) {
    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
      QMouseEvent event(type, at, list->viewport()->mapToGlobal(at), Qt::LeftButton,
                        type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton,
                        modifiers);
      QApplication::sendEvent(list->viewport(), &event);
    }
  };
  const auto click = [&](int row, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    press(list->visualItemRect(list->item(row)).center(), modifiers);
  };
  const auto key = [list](int code, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QKeyEvent event(QEvent::KeyPress, code, modifiers);
    QApplication::sendEvent(list, &event);
  };
  const auto selectedRow = [list] {
    const QList<QListWidgetItem*> items = list->selectedItems();
    return items.size() == 1 ? list->row(items.first()) : -1;
  };
  struct TAction {
    const char* what;
    std::function<void()> act;
    int row;      // selected after it
    int answers;  // times the species was shown
  };
  const TAction actions[] = {
      {"click another item", [&] { click(0); }, 0, 1},
      {"click the selected item", [&] { click(0); }, 0, 1},
      {"Ctrl+click the selected item", [&] { click(0, Qt::ControlModifier); }, 0, 1},
      {"Ctrl+click another item", [&] { click(1, Qt::ControlModifier); }, 1, 1},
      {"Ctrl+Space", [&] { key(Qt::Key_Space, Qt::ControlModifier); }, 1, 0},
      {"click below the items",
       [&] {
         press({5, list->viewport()->height() - 2}, {});
       },
       1, 0},
      {"Down", [&] { key(Qt::Key_Down); }, 2, 1},
  };
  for (const TAction& action : actions) {
    chosen = 0;
    action.act();
    EXPECT_EQ(selectedRow(), action.row) << action.what;
    EXPECT_EQ(chosen, action.answers) << action.what;
  }
}

// ---------------------------------------------------------------------------
// Run control and plotting

TEST_F(MainformTest, StartPauseTogglesTheTimerAndSixButtons) {
  TMForm& form = MakeForm();
  QToolButton* editing[] = {form.ApplyButton,         form.AddSpeciesButton,
                            form.RemoveSpeciesButton, form.ApplySpSpeedButton,
                            form.SpeedButtonRecalcD,  form.SpeedButtonRecalcA};
  form.PauseButton->click();
  EXPECT_TRUE(form.Timer->isActive());
  for (QToolButton* button : editing) EXPECT_FALSE(button->isEnabled());
  for (QWidget* always : std::initializer_list<QWidget*>{form.PauseButton, form.SaveCButton,
                                                         form.SaveNButton, form.ValueListSimulation,
                                                         form.ValueListSpecies, form.SpeciesList})
    EXPECT_TRUE(always->isEnabled());
  form.PauseButton->click();
  EXPECT_FALSE(form.Timer->isActive());
  for (QToolButton* button : editing) EXPECT_TRUE(button->isEnabled());
  EXPECT_EQ(form.CChart->PointCount(0), 0);  // no tick was let through
}

TEST_F(MainformTest, FirstTickPlotsOnePointPerCurve) {
  TMForm& form = MakeForm();
  for (int curve = 0; curve < 2; ++curve) {
    EXPECT_EQ(form.CChart->PointCount(curve), 0);
    EXPECT_EQ(form.NChart->PointCount(curve), 0);
  }
  form.TimerTimer();
  const TVolume& engine = form.Engine();
  for (TChart* chart : {form.CChart, form.NChart})
    for (int curve = 0; curve < 2; ++curve) {
      ASSERT_EQ(chart->PointCount(curve), 1);
      EXPECT_EQ(chart->PointX(curve, 0), 0.0001);
    }
  EXPECT_EQ(form.CChart->PointY(0, 0), 7.2e20);
  EXPECT_EQ(form.NChart->PointY(0, 0), engine.Species[0].InnerCount);
  EXPECT_GT(engine.Species[0].InnerCount, 700);
  EXPECT_EQ(form.NChart->PointY(1, 0), engine.Species[0].InsideCount);
  EXPECT_EQ(form.CChart->PointY(1, 0), engine.Species[0].InsideCount / engine.InnerVolume);
}

TEST_F(MainformTest, ApplyEmptiesTheCurvesAndRestartsTime) {
  TMForm& form = MakeForm();
  ShrinkSelectedSpecies(form);
  for (int k = 0; k < 3; ++k) form.TimerTimer();
  EXPECT_EQ(form.NChart->PointCount(1), 3);
  EXPECT_EQ(form.NChart->PointX(1, 2), 0.0001 + 0.0001 + 0.0001);
  SetText(form.ValueListSimulation, Key::SIM_DT, "0.0002");
  form.ApplyButton->click();
  for (TChart* chart : {form.CChart, form.NChart})
    for (int curve = 0; curve < 2; ++curve) EXPECT_EQ(chart->PointCount(curve), 0);
  form.TimerTimer();
  EXPECT_EQ(form.CChart->PointX(0, 0), 0.0002);
}

TEST_F(MainformTest, FailedApplyKeepsCurvesAndTheRunningSimulation) {
  TMForm& form = MakeForm();
  ShrinkSelectedSpecies(form);
  form.TimerTimer();
  form.TimerTimer();
  // Fixed: a bad SIM_Q used to empty the charts while the old simulation ran on.
  SetText(form.ValueListSimulation, Key::SIM_DT, "0.001");
  SetText(form.ValueListSimulation, Key::SIM_Q, "water");
  form.ApplyButton->click();
  ASSERT_EQ(Messages.size(), 1u);
  EXPECT_EQ(Messages[0], QStringLiteral("'water' is not a valid floating point value"));
  for (TChart* chart : {form.CChart, form.NChart})
    for (int curve = 0; curve < 2; ++curve) EXPECT_EQ(chart->PointCount(curve), 2);
  EXPECT_EQ(form.Engine().TimeStep, 0.0001);
  form.TimerTimer();
  EXPECT_EQ(form.CChart->PointX(0, 2), 0.0001 + 0.0001 + 0.0001);

  // Parameters the engine refuses (an outer volume beyond a double) too.
  SetText(form.ValueListSimulation, Key::SIM_Q, "0.001");
  SetText(form.ValueListSimulation, Key::SIM_B0, "1E200");
  form.ApplyButton->click();
  ASSERT_EQ(Messages.size(), 2u);
  EXPECT_EQ(Messages[1],
            QStringLiteral("Floating point overflow: the cube of the external cube rib 1e+200 m "
                           "is beyond the range of a double"));
  EXPECT_EQ(form.CChart->PointCount(0), 3);
  EXPECT_EQ(form.Engine().OuterRib, 1e-5);
}

TEST_F(MainformTest, FailedStepStopsTheRunWithOneMessage) {
  TMForm& form = MakeForm();
  ShrinkSelectedSpecies(form);
  SetText(form.ValueListSimulation, Key::SIM_B1, "0");  // no inner volume to divide by
  form.ApplyButton->click();
  ASSERT_TRUE(Messages.empty());
  form.PauseButton->click();
  ASSERT_TRUE(form.Timer->isActive());
  ASSERT_TRUE(WaitUntil([&] { return !form.Timer->isActive(); }));
  ASSERT_EQ(Messages.size(), 1u);
  EXPECT_EQ(Messages[0], QString::fromLatin1(FloatInvalidMessage));  // 0 inside / 0 m^3
  EXPECT_FALSE(form.Timer->isActive());
  for (QToolButton* button :
       {form.ApplyButton, form.AddSpeciesButton, form.RemoveSpeciesButton, form.ApplySpSpeedButton,
        form.SpeedButtonRecalcD, form.SpeedButtonRecalcA})
    EXPECT_TRUE(button->isEnabled());
  // The user can correct the rib and run again.
  SetText(form.ValueListSimulation, Key::SIM_B1, "1E-6");
  form.ApplyButton->click();
  form.PauseButton->click();
  ASSERT_TRUE(WaitUntil([&] { return form.CChart->PointCount(1) > 0; }));
  form.PauseButton->click();
  EXPECT_EQ(Messages.size(), 1u);
  EXPECT_GT(form.CChart->PointCount(1), 0);
}

// ---------------------------------------------------------------------------
// Curve export

TEST_F(MainformTest, ExportWritesOneLinePerPoint) {
  TMForm& form = MakeForm();
  form.SaveCButton->click();
  form.SaveNButton->click();
  EXPECT_EQ(ReadFile("C1(t).txt"), "");
  EXPECT_EQ(ReadFile("N1(t).txt"), "");

  form.PlotStep(720, 720, 7.2e20, 7.2e20, 0.0001);
  form.PlotStep(719, 720, 7.19e20, 7.2e20, 0.0002);
  form.SaveNButton->click();
  EXPECT_EQ(ReadFile("N1(t).txt"), "0.0001 ; 720\r\n0.0002 ; 719\r\n");
  EXPECT_EQ(ReadFile("N1(t).txt").size(), 28u);

  form.ApplyButtonClick();
  const double t3 = 0.0001 + 0.0001 + 0.0001;
  form.PlotStep(1234567, 0, 7.2e20, 0.0, t3);
  form.PlotStep(1000005, 0, -6.95e20, 0.0, 1234567.0);
  form.PlotStep(1000015, 0, 1.5e-9, 0.0, 1e300);
  form.SaveCButton->click();
  form.SaveNButton->click();
  EXPECT_EQ(ReadFile("C1(t).txt"),
            "0.0003 ; 7.2e+20\r\n1.23457e+06 ; -6.95e+20\r\n1e+300 ; 1.5e-09\r\n");
  EXPECT_EQ(ReadFile("N1(t).txt"),
            "0.0003 ; 1.23457e+06\r\n1.23457e+06 ; 1e+06\r\n1e+300 ; 1.00002e+06\r\n");
  EXPECT_TRUE(Messages.empty());
}

TEST_F(MainformTest, ExportIgnoresTheCommaLocaleAndReplacesOldFiles) {
  DecimalSeparator = ',';
  TMForm& form = MakeForm();
  WriteFile("C1(t).txt", std::string(1000, 'x'));
  form.PlotStep(3, 720, 2.5e18, 7.2e20, 0.0001);
  form.SaveCButton->click();
  EXPECT_EQ(ReadFile("C1(t).txt"), "0.0001 ; 2.5e+18\r\n");
  form.ApplyButtonClick();
  form.SaveCButton->click();
  EXPECT_EQ(ReadFile("C1(t).txt"), "");
}

// ---------------------------------------------------------------------------
// Errors and reproducibility

// The four curves, point by point, as raw bits.
std::vector<double> Curves(const TMForm& form) {
  std::vector<double> all;
  for (const TChart* chart : {form.CChart, form.NChart})
    for (int curve = 0; curve < 2; ++curve)
      for (int i = 0; i < chart->PointCount(curve); ++i) {
        all.push_back(chart->PointX(curve, i));
        all.push_back(chart->PointY(curve, i));
      }
  return all;
}

TEST_F(MainformTest, SameActionsGiveTheSameCurvesBitForBit) {
  const auto session = [this]() {
    TMForm& form = MakeForm();
    ShrinkSelectedSpecies(form);
    for (int k = 0; k < 5; ++k) form.TimerTimer();
    form.AddSpeciesButtonClick();
    SetText(form.ValueListSpecies, Key::SP_C, "3E18");
    SetText(form.ValueListSpecies, Key::SP_D, "5E-10");
    form.ApplySpSpeedButtonClick();
    for (int k = 0; k < 5; ++k) form.TimerTimer();
    form.SpeciesList->setCurrentRow(0);
    form.RemoveSpeciesButtonClick();
    SetText(form.ValueListSimulation, Key::SIM_B1, "3E-6");
    form.ApplyButtonClick();
    for (int k = 0; k < 10; ++k) form.TimerTimer();
    std::vector<double> curves = Curves(form);
    Form.reset();
    return curves;
  };
  const std::vector<double> first = session();
  const std::vector<double> second = session();
  ASSERT_EQ(first.size(), 4u * 2u * 10u);
  ASSERT_EQ(second.size(), first.size());
  EXPECT_EQ(std::memcmp(first.data(), second.data(), first.size() * sizeof(double)), 0);
  EXPECT_TRUE(Messages.empty());
}

}  // namespace

// ---------------------------------------------------------------------------
// Run speed

// Every speed plots and exports every step: after the same steps the curves,
// both files and the run's CSV are byte for byte those of the designed speed,
// also when the speed changes while the run goes.
TEST_F(MainformTest, EverySpeedGivesTheSameCurvesAndFiles) {
  constexpr int Steps = 24;
  struct TRun {
    const char* what;
    std::vector<int> speeds;  // speed box entries, changed in turn while running
  };
  const TRun runs[] = {
      {"x1", {0}}, {"x10", {1}}, {"x100", {2}}, {"max", {3}}, {"changed", {1, 3, 0, 2}}};
  std::vector<std::string> first;
  for (const TRun& run : runs) {
    TMForm& form = MakeForm();
    ShrinkSelectedSpecies(form);
    form.PauseAtStep(Steps);
    form.SpeedBox->setCurrentIndex(run.speeds[0]);
    form.PauseButton->click();
    for (std::size_t k = 1; k < run.speeds.size(); ++k) {
      const std::int64_t at = static_cast<std::int64_t>(k * Steps / run.speeds.size());
      ASSERT_TRUE(WaitUntil([&] { return form.Statistics().Steps() >= at; })) << run.what;
      form.SpeedBox->setCurrentIndex(run.speeds[k]);
    }
    ASSERT_TRUE(WaitUntil([&] { return !form.Timer->isActive(); })) << run.what;
    EXPECT_EQ(form.Statistics().Steps(), Steps) << run.what;
    form.SaveCButton->click();
    form.SaveNButton->click();
    form.ExportRun(QStringLiteral("run.csv"));
    const std::vector<double> curves = Curves(form);
    const std::vector<std::string> result = {
        ReadFile("C1(t).txt"), ReadFile("N1(t).txt"), ReadFile("run.csv"),
        std::string(reinterpret_cast<const char*>(curves.data()), curves.size() * sizeof(double))};
    if (first.empty())
      first = result;
    else
      EXPECT_EQ(result, first) << run.what;
  }
  EXPECT_EQ(std::count(first[1].begin(), first[1].end(), '\n'), Steps);
  EXPECT_TRUE(Messages.empty());
}

#ifdef KELVANE_CLI
// kelvane-run's run is the window's: the same values typed and applied, the
// same steps, the same bytes in all three exports. So is the session saved
// from the typed tables, opened in a new window or given to kelvane-run.
TEST_F(MainformTest, TheCommandLineRunIsTheWindowsRun) {
  struct TTypedSession {
    std::vector<std::pair<const char*, const char*>> parameters;  // typed, then Apply
    std::vector<std::vector<const char*>> species;  // C, radius and D, or C and radius
    std::vector<std::string> arguments;
  };
  const TTypedSession sessions[] = {
      {{{Key::SIM_B0, "1.2E-5"},
        {Key::SIM_B1, "1.5E-6"},
        {Key::SIM_T, "310"},
        {Key::SIM_DT, "2E-4"}},
       {{"3E19", "1E-9", "2E-10"}, {"5E19", "2E-9"}},
       {"--outer-rib", "1.2E-5", "--inner-rib", "1.5E-6", "--temperature", "310", "--time-step",
        "2E-4", "--species", "3E19,1E-9,2E-10", "--species-radius", "5E19,2E-9"}},
      // The start's volume and species 1 as it starts: only species 2 is applied.
      {{},
       {{"7.2E20", "1.5E-9"}, {"1E19", "1E-9", "3E-10"}},
       {"--species-radius", "7.2E20,1.5E-9", "--species", "1E19,1E-9,3E-10"}},
      // No species: the default one, applied again in the new volume.
      {{{Key::SIM_B1, "2E-6"}}, {}, {"--inner-rib", "2E-6"}},
  };
  // 12 steps of `form` flat out, then its three exports into the working folder.
  const auto runAndExport = [&](TMForm& form) {
    form.SpeedBox->setCurrentIndex(3);
    form.PauseAtStep(12);
    form.PauseButton->click();
    ASSERT_TRUE(WaitUntil([&] { return !form.Timer->isActive(); }));
    form.SaveCButton->click();
    form.SaveNButton->click();
    form.ExportRun(QStringLiteral("run.csv"));
    ASSERT_TRUE(Messages.empty()) << Messages[0].toStdString();
  };
  const auto sameExports = [](const std::string& folder) {
    for (const char* name : {"C1(t).txt", "N1(t).txt", "run.csv"})
      EXPECT_EQ(ReadFile((folder + "/" + name).c_str()), ReadFile(name)) << folder << name;
  };
  const auto command = [](std::vector<std::string> arguments, const std::string& folder) {
    for (const std::string& argument :
         {std::string("--steps"), std::string("12"), std::string("--curves"), folder,
          std::string("--csv"), folder + "/run.csv"})
      arguments.push_back(argument);
    std::ostringstream out, err;
    TConsole console{out, err};
    ASSERT_EQ(RunCommand(arguments, console), RunSucceeded) << err.str();
  };
  for (const TTypedSession& session : sessions) {
    TMForm& form = MakeForm();
    for (std::size_t i = 1; i < session.species.size(); ++i) form.AddSpeciesButtonClick();
    for (const auto& [key, text] : session.parameters) SetText(form.ValueListSimulation, key, text);
    if (!session.parameters.empty()) form.ApplyButtonClick();
    if (session.species.empty()) form.ApplySpSpeedButtonClick();
    for (std::size_t i = 0; i < session.species.size(); ++i) {
      const std::vector<const char*>& values = session.species[i];
      form.SpeciesList->setCurrentRow(static_cast<int>(i));
      if (session.parameters.empty() && i == 0) continue;  // placed as the window starts
      SetText(form.ValueListSpecies, Key::SP_C, values[0]);
      SetText(form.ValueListSpecies, Key::SP_A, values[1]);
      if (values.size() == 3)
        SetText(form.ValueListSpecies, Key::SP_D, values[2]);
      else
        form.SpeedButtonRecalcDClick();
      form.ApplySpSpeedButtonClick();
    }
    form.SaveSession(QStringLiteral("typed.kelvane"));
    runAndExport(form);
    command(session.arguments, "cli");
    sameExports("cli");
    const std::string counts = ReadFile("N1(t).txt");
    EXPECT_EQ(std::count(counts.begin(), counts.end(), '\n'), 12);

    // The saved session: in kelvane-run, and opened in a new window.
    command({"--session", "typed.kelvane"}, "session");
    sameExports("session");
    std::filesystem::rename("run.csv", "typed.csv");
    MakeForm().OpenSession(QStringLiteral("typed.kelvane"));
    runAndExport(*Form);
    EXPECT_EQ(ReadFile("run.csv"), ReadFile("typed.csv"));
  }
}

// The window and kelvane-run judge a session alike: what the engine cannot
// run is refused in the same words, what makes no sense runs to the same
// bytes with the same note (in the readout; on standard error).
TEST_F(MainformTest, TheWindowAndTheCommandLineJudgeASessionAlike) {
  const struct {
    const char* name;
    std::string text;
    const char* note;
  } odd[] = {
      {"still.kelvane", SessionWith("1E-6", "0"),
       "SIM_DT: 0 is not above 0: the molecules never move and the time stands still"},
      {"full.kelvane", SessionWith("1E-5", "0.0001"),
       "SIM_B1: 1E-5 is not below the outer rib 1E-5: no medium is left between the cubes"},
  };
  for (const auto& o : odd) {
    WriteFile(o.name, o.text);
    TMForm& form = MakeForm();
    form.OpenSession(QString::fromLatin1(o.name));
    for (int step = 0; step < 3; ++step) form.TimerTimer();
    form.ExportRun(QStringLiteral("run.csv"));
    ASSERT_TRUE(Messages.empty()) << Messages[0].toStdString();
    EXPECT_TRUE(form.Readout->text().endsWith(QString::fromLatin1("\n") + o.note))
        << form.Readout->text().toStdString();
    std::ostringstream out, err;
    TConsole console{out, err};
    ASSERT_EQ(RunCommand({"--session", o.name, "--steps", "3", "--csv", "cli.csv"}, console),
              RunSucceeded);
    EXPECT_NE(err.str().find(o.note), std::string::npos) << err.str();
    EXPECT_EQ(ReadFile("cli.csv"), ReadFile("run.csv")) << o.name;
  }

  const char* const refusal = "SIM_DT: -0.0001 is below 0: a step of negative time cannot be run";
  WriteFile("back.kelvane", SessionWith("1E-6", "-0.0001"));
  TMForm& form = MakeForm();
  try {
    form.OpenSession(QStringLiteral("back.kelvane"));
    ADD_FAILURE() << "opened";
  } catch (const TError& error) {
    EXPECT_EQ(std::string(error.what()), std::string("back.kelvane:6: ") + refusal);
  }
  std::ostringstream out, err;
  TConsole console{out, err};
  EXPECT_EQ(RunCommand({"--session", "back.kelvane", "--steps", "3"}, console), BadInput);
  EXPECT_EQ(err.str(), std::string("kelvane-run: --session: back.kelvane:6: ") + refusal + "\n");
  // Typed and applied: refused, and the engine keeps its step.
  SetText(form.ValueListSimulation, Key::SIM_DT, "-0.0001");
  form.ApplyButton->click();
  ASSERT_EQ(Messages.size(), 1u);
  EXPECT_EQ(Messages[0].toStdString(), refusal);
  EXPECT_EQ(form.Engine().TimeStep, 0.0001);
}
#endif  // KELVANE_CLI

// A run CSV replays its run whatever came before its rows: kelvane-run and
// Open give the same bytes. Each case used to replay from its last setup
// alone, which differed from the first row on.
TEST_F(MainformTest, EveryWindowRunReplaysFromItsCsv) {
  const auto steps = [](TMForm& form, int count) {
    for (int step = 0; step < count; ++step) form.TimerTimer();
  };
  // kelvane-run --session run.csv --steps N: its CSV.
  const auto replayed = [](const char* count) {
    std::ostringstream out, err;
    TConsole console{out, err};
    EXPECT_EQ(RunCommand({"--session", "run.csv", "--steps", count}, console), RunSucceeded)
        << err.str();
    return out.str();
  };

  // At the defaults: Apply twice, then 20 steps.
  TMForm& twice = MakeForm();
  twice.ApplyButtonClick();
  twice.ApplyButtonClick();
  steps(twice, 20);
  twice.ExportRun(QStringLiteral("run.csv"));
  EXPECT_EQ(replayed("20"), ReadFile("run.csv"));

  // 20 steps, Apply, 20 steps: the replay runs the first 20 before its rows;
  // a longer replay begins with the same rows.
  TMForm& before = MakeForm();
  steps(before, 20);
  before.ApplyButtonClick();
  steps(before, 20);
  before.ExportRun(QStringLiteral("run.csv"));
  const std::string run = ReadFile("run.csv");
  EXPECT_EQ(replayed("20"), run);
  EXPECT_EQ(replayed("40").substr(0, run.size()), run);
  EXPECT_NE(run.find("# > steps 20\n# > apply "), std::string::npos);

  // New ribs applied without Apply Species: the molecules stay where the old
  // ribs put them: each coordinate lies within 3e-6 m with odds 2/9, so
  // about (2/9)^3 of 719,999, 8,016 at the first step, start in the wider
  // inner cube (a fresh placement in the new ribs starts near 0).
  TMForm& ribs = MakeForm();
  SetText(ribs.ValueListSimulation, Key::SIM_B1, "3E-6");
  ribs.ApplyButtonClick();
  steps(ribs, 3);
  ribs.ExportRun(QStringLiteral("run.csv"));
  EXPECT_EQ(replayed("3"), ReadFile("run.csv"));
  EXPECT_EQ(ribs.Record().Samples()[0].InsideCount, 8016);

  // Species added, re-applied and removed while paused mid-run, several in a row.
  TMForm& species = MakeForm();
  ShrinkSelectedSpecies(species);
  steps(species, 3);
  species.AddSpeciesButtonClick();
  steps(species, 2);
  SetText(species.ValueListSpecies, Key::SP_C, "3E18");
  SetText(species.ValueListSpecies, Key::SP_D, "7.15E-11");
  species.ApplySpSpeedButtonClick();
  species.SpeciesList->setCurrentRow(0);
  species.RemoveSpeciesButtonClick();
  steps(species, 2);
  species.ExportRun(QStringLiteral("run.csv"));
  EXPECT_EQ(replayed("7"), ReadFile("run.csv"));
  steps(species, 4);
  species.ExportRun(QStringLiteral("on.csv"));
  const TActions actions = WithoutTrailingSteps(species.Actions());
  // Opened in a new window (the last one goes): where the last action left
  // the run, then on.
  TMForm& opened = MakeForm();
  opened.OpenSession(QStringLiteral("run.csv"));
  EXPECT_EQ(opened.Record().Samples().size(), 5u);
  EXPECT_EQ(opened.SpeciesList->count(), 1);
  EXPECT_EQ(opened.Actions(), actions);
  steps(opened, 6);
  opened.ExportRun(QStringLiteral("reopened.csv"));
  EXPECT_EQ(ReadFile("reopened.csv"), ReadFile("on.csv"));
  EXPECT_TRUE(Messages.empty());
}

// An opened run draws the band of its own rows. Its replay tells of the
// steps before its last Apply too, in another inner cube here, and their band
// used to stand over the rows.
TEST_F(MainformTest, AnOpenedRunDrawsTheBandOfItsRows) {
  // The count chart's band bounds (its graphs after the two curves) at each point.
  const auto band = [](const TMForm& form) {
    std::vector<double> bounds;
    for (int graph : {2, 3})
      for (const QCPGraphData& point : *form.NChart->graph(graph)->data())
        bounds.push_back(point.value);
    return bounds;
  };
  TMForm& form = MakeForm();
  ShrinkSelectedSpecies(form);
  for (int step = 0; step < 2; ++step) form.TimerTimer();
  SetText(form.ValueListSimulation, Key::SIM_B1, "2E-6");
  form.ApplyButtonClick();
  for (int step = 0; step < 3; ++step) form.TimerTimer();
  form.ApplySpSpeedButtonClick();  // the rows stay: Open replays up to here
  form.ExportRun(QStringLiteral("wider.csv"));
  const std::vector<double> drawn = band(form);
  // 7.2E18 m^-3 in the wider cube: 57.6 molecules expected, about 2 x 7.6 either side.
  ASSERT_FALSE(drawn.empty());
  EXPECT_NEAR(drawn.front(), 57.6 - 2 * std::sqrt(57.6 * (1 - 0.008)), 1e-9);

  TMForm& opened = MakeForm();
  opened.OpenSession(QStringLiteral("wider.csv"));
  EXPECT_EQ(opened.Record().Samples().size(), 3u);
  EXPECT_EQ(band(opened), drawn);
}

// Paused by hand in a fast run, the charts used to keep holding their
// repaints, so that a kept or compared run showed only at the next step.
TEST_F(MainformTest, KeptRunsShowAtOnceWhenPausedInAFastRun) {
  TMForm& form = MakeForm();
  ShrinkSelectedSpecies(form);
  form.SpeedBox->setCurrentIndex(3);  // flat out
  form.PauseButton->click();
  ASSERT_TRUE(WaitUntil([&] { return form.Statistics().Steps() >= 20; }));
  form.PauseButton->click();
  ASSERT_FALSE(form.Timer->isActive());
  QApplication::processEvents();
  int replots = 0;
  QObject::connect(form.NChart, &QCustomPlot::afterReplot, [&] { ++replots; });
  form.KeepRunAction->trigger();
  QApplication::processEvents();
  EXPECT_GE(replots, 1);
  // The legend stands above the plot, clear of every curve it names (it
  // used to lie over the plot's lower right corner).
  ASSERT_TRUE(form.CChart->legend->visible());
  EXPECT_FALSE(form.CChart->legend->outerRect().intersects(form.CChart->axisRect()->outerRect()));
  EXPECT_LT(form.CChart->legend->outerRect().bottom(), form.CChart->axisRect()->rect().top());
  replots = 0;
  form.ClearKeptRunsAction->trigger();
  QApplication::processEvents();
  EXPECT_GE(replots, 1);
  EXPECT_EQ(form.NChart->OverlayCount(), 0);
}

// Opening is all or nothing: two species that fit alone but overflow
// together (their total concentration) used to fail half-way, after the
// window's engine had been replaced. Now the window keeps everything, down to
// its streams and molecules, and runs on as an untouched one does.
TEST_F(MainformTest, AFailedOpenChangesNothing) {
  const auto prepare = [&](TMForm& form) {
    ShrinkSelectedSpecies(form);
    for (int step = 0; step < 3; ++step) form.TimerTimer();
    form.KeepRun();
  };
  TMForm& untouched = MakeForm();
  prepare(untouched);
  for (int step = 0; step < 4; ++step) untouched.TimerTimer();
  untouched.ExportRun(QStringLiteral("untouched.csv"));

  WriteFile("overflow.kelvane",
            "format = 1\n[simulation]\nSIM_B0 = '1E-200'\nSIM_B1 = '1E-201'\nSIM_Q = '0.001'\n"
            "SIM_T = '293.15'\nSIM_DT = '0.0001'\n[[species]]\nSP_C = '1E308'\nSP_A = '1.5E-9'\n"
            "SP_D = '1.43E-10'\n[[species]]\nSP_C = '1E308'\nSP_A = '1.5E-9'\n"
            "SP_D = '1.43E-10'\n");
  TMForm& tried = MakeForm();
  prepare(tried);
  SetText(tried.ValueListSimulation, Key::SIM_DT, "5E-4");  // typed, not applied
  const TStreamStates streams = tried.Engine().Streams;
  try {
    tried.OpenSession(QStringLiteral("overflow.kelvane"));
    ADD_FAILURE();
  } catch (const TError& error) {
    EXPECT_STREQ(error.what(), "overflow.kelvane: species 2: Floating point overflow");
  }
  EXPECT_EQ(tried.Engine().Streams, streams);
  EXPECT_EQ(Text(tried.ValueListSimulation, Key::SIM_DT), QStringLiteral("5E-4"));
  EXPECT_EQ(Text(tried.ValueListSpecies, Key::SP_C), QStringLiteral("7.2E18"));
  EXPECT_EQ(tried.SpeciesList->count(), 1);
  EXPECT_EQ(tried.KeptRunCount(), 1);
  EXPECT_EQ(tried.NChart->PointCount(1), 3);

  // Replaying many steps shows a bar; Cancel leaves the window as it was.
  {
    struct TQuickBar {
      TQuickBar() { SetLongWorkQuietTime(0); }
      ~TQuickBar() { SetLongWorkQuietTime(500); }
    } quickBar;
    QTimer canceller;
    QObject::connect(&canceller, &QTimer::timeout, [&] {
      for (QProgressDialog* bar : tried.findChildren<QProgressDialog*>())
        if (bar->isVisible()) bar->cancel();
    });
    canceller.start(1);
    std::string longRun = ReadFile("untouched.csv");
    // 200,000 steps of the small species (some seconds), then Apply.
    longRun.insert(longRun.find("t [s],"),
                   "# > steps 200000\n# > apply SIM_B0 1e-05; SIM_B1 1e-06; SIM_Q 0.001; "
                   "SIM_T 293.15; SIM_DT 0.0001\n");
    WriteFile("long.csv", longRun);
    tried.OpenSession(QStringLiteral("long.csv"));
  }
  EXPECT_EQ(tried.Engine().Streams, streams);
  EXPECT_EQ(tried.NChart->PointCount(1), 3);
  EXPECT_TRUE(Messages.empty());

  for (int step = 0; step < 4; ++step) tried.TimerTimer();
  tried.ExportRun(QStringLiteral("tried.csv"));
  EXPECT_EQ(ReadFile("tried.csv"), ReadFile("untouched.csv"));
}

// Apply while paused at full speed does what it does at the designed speed:
// empty curves, time from zero, a readout that starts again.
TEST_F(MainformTest, ApplyAfterAFastRunStartsAfresh) {
  TMForm& form = MakeForm();
  ShrinkSelectedSpecies(form);
  form.SpeedBox->setCurrentIndex(3);
  form.PauseAtStep(30);
  form.PauseButton->click();
  ASSERT_TRUE(WaitUntil([&] { return !form.Timer->isActive(); }));
  form.ApplyButton->click();
  EXPECT_EQ(form.NChart->PointCount(1), 0);
  EXPECT_EQ(form.Statistics().Steps(), 0);
  EXPECT_TRUE(form.Readout->text().startsWith(QStringLiteral("t 0 s, step 0\n")))
      << form.Readout->text().toStdString();
  form.PauseAtStep(2);
  form.PauseButton->click();
  ASSERT_TRUE(WaitUntil([&] { return !form.Timer->isActive(); }));
  ASSERT_EQ(form.NChart->PointCount(1), 2);
  EXPECT_EQ(form.NChart->PointX(1, 0), 0.0001);
  EXPECT_FALSE(form.Readout->text().contains(QStringLiteral("nan"), Qt::CaseInsensitive));
  // No molecules: nothing to expect, and the readout says so instead of NaN.
  SetText(form.ValueListSpecies, Key::SP_C, "0");
  form.ApplySpSpeedButton->click();
  form.TimerTimer();
  EXPECT_TRUE(form.Readout->text().endsWith(
      QStringLiteral("no reference to compare with\nexpected 0 (no molecules)")))
      << form.Readout->text().toStdString();
  EXPECT_TRUE(Messages.empty());
}

// The band and the expected curve can each be hidden from either chart's
// menu, and hide on both.
TEST_F(MainformTest, BandAndExpectedCurveHideFromEitherChartsMenu) {
  TMForm& form = MakeForm();
  const struct {
    QAction* action;
    bool (TChart::*visible)() const;
  } overlays[] = {{form.BandAction, &TChart::BandVisible},
                  {form.ExpectedAction, &TChart::ExpectedVisible}};
  for (const auto& overlay : overlays) {
    for (TChart* chart : {form.CChart, form.NChart}) {
      ASSERT_TRUE(chart->ContextMenu()->actions().contains(overlay.action));
      EXPECT_TRUE((chart->*overlay.visible)());
    }
    overlay.action->trigger();
    EXPECT_FALSE((form.CChart->*overlay.visible)());
    EXPECT_FALSE((form.NChart->*overlay.visible)());
  }
  form.ShowBand(true);
  EXPECT_TRUE(form.BandAction->isChecked());
  EXPECT_TRUE(form.NChart->BandVisible());
  EXPECT_FALSE(form.NChart->ExpectedVisible());
}

// The expected count is drawn at every step and kept in the run record; the
// readout shows all its lines inside the count chart at the first size, and
// starts its averages again when the species change.
TEST_F(MainformTest, ExpectedCurveAndReadoutFollowTheRun) {
  TMForm& form = MakeForm();
  form.show();
  for (int step = 0; step < 3; ++step) form.TimerTimer();
  ASSERT_EQ(form.NChart->ExpectedPointCount(), 3);
  EXPECT_EQ(form.CChart->ExpectedPointCount(), 3);
  EXPECT_NEAR(form.Record().Samples()[2].ExpectedCount, 1.5760336799639100,
              1e-12);  // the series: 1.57603367996391
  const QStringList lines = form.Readout->text().split(QLatin1Char('\n'));
  ASSERT_EQ(lines.size(), 5) << form.Readout->text().toStdString();
  EXPECT_TRUE(lines[3].startsWith(QStringLiteral("expected 1.576 of 720")))
      << lines[3].toStdString();
  QCoreApplication::processEvents();
  EXPECT_TRUE(form.NChart->rect().contains(form.Readout->geometry()));
  // Clicks pass through the readout to the chart; its tooltip still shows.
  QHelpEvent hover(QEvent::ToolTip, form.Readout->geometry().center(),
                   form.NChart->mapToGlobal(form.Readout->geometry().center()));
  QCoreApplication::sendEvent(form.NChart, &hover);
  EXPECT_TRUE(QToolTip::isVisible());
  EXPECT_EQ(QToolTip::text(), form.Readout->toolTip());
  for (const QString& line : lines)
    EXPECT_LE(form.Readout->fontMetrics().horizontalAdvance(line),
              form.Readout->contentsRect().width());

  // Apply Species: the mean forgets the counts before, and the expected
  // curve starts again from the new placement.
  form.ApplySpSpeedButton->click();
  form.TimerTimer();
  EXPECT_EQ(form.Statistics().RecentMean(), form.Record().Samples().back().InsideCount);
  EXPECT_NEAR(form.Record().Samples().back().ExpectedCount, 0.30330782312774329, 1e-12);
  EXPECT_TRUE(Messages.empty());
}

// ---------------------------------------------------------------------------
// Sessions and kept runs

namespace {

const char* const TwoSpecies =
    "format = 1\n[simulation]\nSIM_B0 = '1E-5'\nSIM_B1 = '2E-6'\nSIM_Q = '0.001'\n"
    "SIM_T = '293.15'\nSIM_DT = '0.0001'\n[[species]]\nSP_C = '7.2E20'\nSP_A = '1.5E-9'\n"
    "SP_D = '1.43E-10'\n[[species]]\nSP_C = '1E20'\nSP_A = '3E-9'\nSP_D = '7.15E-11'\n";

}  // namespace

// A hand-written session opens to its texts and its known curve; a file
// that cannot be read, or set up, is named and changes nothing.
TEST_F(MainformTest, OpeningASessionSetsUpTheWindowAndABadOneChangesNothing) {
  DecimalSeparator = ',';
  WriteFile("two.kelvane", TwoSpecies);
  TMForm& form = MakeForm();
  form.OpenSession(QStringLiteral("two.kelvane"));
  EXPECT_EQ(Text(form.ValueListSimulation, Key::SIM_T), QStringLiteral("293,15"));
  EXPECT_EQ(Text(form.ValueListSimulation, Key::SIM_B1), QStringLiteral("2E-6"));
  ASSERT_EQ(form.SpeciesList->count(), 2);
  EXPECT_EQ(Text(form.ValueListSpecies, Key::SP_D), QStringLiteral("7,15E-11"));
  for (int step = 0; step < 3; ++step) form.TimerTimer();
  form.SaveNButton->click();
  // 5759 + 799 molecules in the wider cube; the first three counts.
  EXPECT_EQ(form.Record().Samples()[0].ReferenceCount, 6558);
  EXPECT_EQ(ReadFile("N1(t).txt"), "0.0001 ; 0\r\n0.0002 ; 1\r\n0.0003 ; 2\r\n");

  const std::string two = TwoSpecies;
  const struct {
    const char* name;
    std::string text;
    const char* message;
  } bad[] = {
      {"newer.kelvane", "format = 2\n", "newer.kelvane:1: format 2 comes from a newer Kelvane"},
      {"gap.kelvane", two.substr(0, two.rfind("SP_D")), "gap.kelvane:12: species 2 has no SP_D"},
      {"huge.kelvane", std::string(two).replace(two.find("7.2E20"), 6, "7.2E30"),
       "huge.kelvane: species 1: The number of molecules in the inner cube is too large"},
      {"missing.kelvane", "", "Cannot read missing.kelvane"},
  };
  for (const auto& b : bad) {
    if (*b.text.c_str()) WriteFile(b.name, b.text);
    Messages.clear();
    try {
      form.OpenSession(QString::fromLatin1(b.name));
      ADD_FAILURE() << b.name;
    } catch (const TError& error) {
      EXPECT_EQ(std::string(error.what()).rfind(b.message, 0), 0u) << error.what();
    }
    EXPECT_EQ(form.SpeciesList->count(), 2);
    EXPECT_EQ(form.Record().Samples().size(), 3u);
  }

  // A window run whose species changed while it ran opens where its last
  // action left it (its three rows before the change on the charts), and
  // runs on to the curves of the run it came from. It used to start its last
  // setup again at time 0.
  form.ApplySpSpeedButtonClick();
  form.TimerTimer();
  form.ExportRun(QStringLiteral("changed.csv"));
  form.TimerTimer();
  form.ExportRun(QStringLiteral("original.csv"));
  form.OpenSession(QStringLiteral("changed.csv"));
  EXPECT_EQ(form.Record().Samples().size(), 3u);
  EXPECT_EQ(form.NChart->PointCount(1), 3);
  form.TimerTimer();
  form.TimerTimer();
  form.ExportRun(QStringLiteral("reopened.csv"));
  EXPECT_EQ(ReadFile("reopened.csv"), ReadFile("original.csv"));

  // A run CSV of an older version without its actions says that its last
  // setup starts again from time 0.
  std::string older;
  std::istringstream lines(ReadFile("changed.csv"));
  for (std::string line; std::getline(lines, line);)
    if (line.rfind("# > ", 0) != 0 && line.rfind("# replay", 0) != 0) older += line + "\n";
  older.insert(older.find("t [s]"), "# species changed while the run went on\n");
  WriteFile("older.csv", older);
  std::vector<QString> notes;
  const TErrorDisplay previous =
      SetNoteDisplay([&](const QString& note) { notes.push_back(note); });
  form.OpenSession(QStringLiteral("older.csv"));
  SetNoteDisplay(previous);
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_TRUE(notes[0].contains(QStringLiteral("starts again from time 0")));
  EXPECT_TRUE(form.Record().Samples().empty());
  EXPECT_EQ(form.RecentSessions().first(),
            QFileInfo(QStringLiteral("older.csv")).absoluteFilePath());
}

// Kept and compared runs lie over both charts, say in their legend what sets
// them apart from the run now, and never reach the curve files.
TEST_F(MainformTest, KeptRunsOverlayTheChartsAndLeaveTheExports) {
  TMForm& form = MakeForm();
  ShrinkSelectedSpecies(form);
  for (int step = 0; step < 5; ++step) form.TimerTimer();
  form.KeepRunButton->click();
  ASSERT_EQ(form.NChart->OverlayCount(), 1);
  EXPECT_EQ(form.CChart->OverlayLabel(0), QStringLiteral("kept 1: same setup"));
  EXPECT_TRUE(form.CChart->legend->visible());
  SetText(form.ValueListSpecies, Key::SP_D, "2E-10");
  form.ApplySpSpeedButtonClick();
  EXPECT_EQ(form.NChart->OverlayLabel(0), QStringLiteral("kept 1: D 1.43E-10"));
  form.ExportRun(QStringLiteral("run.csv"));
  form.CompareWithFile(QStringLiteral("run.csv"));
  EXPECT_EQ(form.CChart->OverlayLabel(1), QStringLiteral("run.csv: same setup"));
  form.SaveCButton->click();
  const std::string concentrations = ReadFile("C1(t).txt");
  EXPECT_EQ(concentrations, CurveText(form.Record().Samples(), TCurve::Concentration));
  EXPECT_EQ(std::count(concentrations.begin(), concentrations.end(), '\n'), 5);

  // The automatic ranges take in a compared run that went further.
  WriteFile("long.csv", RunCsvHeader(RunCsvSetupLines(form.Engine()), TStreamStates(), {}) +
                            "2.5,700,719,7e20,7.2e20,719\n");
  form.CompareWithFile(QStringLiteral("long.csv"));
  EXPECT_GE(form.CChart->xAxis->range().upper, 2.5);
  EXPECT_GE(form.CChart->yAxis->range().upper, 7e20);
  while (form.KeptRunCount() < TMForm::MostKeptRuns) form.KeepRun();
  form.KeepRunAction->trigger();
  ASSERT_EQ(Messages.size(), 1u);
  EXPECT_TRUE(Messages[0].startsWith(QStringLiteral("The charts hold 8 kept runs already")));
  form.RemoveKeptRun(0);
  EXPECT_EQ(form.CChart->OverlayLabel(0), QStringLiteral("run.csv: same setup"));
  form.ClearKeptRunsAction->trigger();
  EXPECT_EQ(form.CChart->OverlayCount(), 0);
  EXPECT_EQ(form.NChart->OverlayCount(), 0);
  EXPECT_FALSE(form.CChart->legend->visible());
}

// The recent sessions (8, newest first) outlive the window; the buttons say
// their keys; a caption cut short by its column shows in full as a tooltip.
TEST_F(MainformTest, RecentSessionsKeysAndHints) {
  TMForm& form = MakeForm();
  for (int i = 0; i < 9; ++i) form.SaveSession(QStringLiteral("s%1.kelvane").arg(i));
  const QStringList recent = MakeForm().RecentSessions();
  ASSERT_EQ(recent.size(), 8);
  EXPECT_TRUE(recent.first().endsWith(QStringLiteral("/s8.kelvane")));
  EXPECT_TRUE(recent.last().endsWith(QStringLiteral("/s1.kelvane")));

  const TMForm& window = *Form;
  for (const QToolButton* button :
       {window.ApplyButton, window.PauseButton, window.SaveCButton, window.SaveNButton,
        window.ExportRunButton, window.OpenSessionButton, window.SaveSessionButton,
        window.KeepRunButton}) {
    const QKeySequence keys =
        button->defaultAction() ? button->defaultAction()->shortcut() : button->shortcut();
    EXPECT_FALSE(keys.isEmpty()) << button->text().toStdString();
    EXPECT_TRUE(button->toolTip().contains(keys.toString(QKeySequence::NativeText)))
        << button->toolTip().toStdString();
  }
  EXPECT_EQ(window.OpenSessionAction->shortcut(), QKeySequence(QKeySequence::Open));
  // A recent session gone since is named, and leaves the list.
  const std::string gone = recent.first().toStdString();
  std::filesystem::remove(gone);
  emit Form->RecentMenu->aboutToShow();
  Messages.clear();
  Form->RecentMenu->actions().first()->trigger();
  ASSERT_EQ(Messages.size(), 1u);
  EXPECT_TRUE(Messages[0].startsWith(QStringLiteral("Cannot read "))) << Messages[0].toStdString();
  EXPECT_EQ(Form->RecentSessions().size(), recent.size() - 1);
  EXPECT_FALSE(Form->RecentSessions().contains(recent.first()));
  for (const QToolButton* button :
       {window.AddSpeciesButton, window.RemoveSpeciesButton, window.ApplySpSpeedButton,
        window.SpeedButtonRecalcD, window.SpeedButtonRecalcA})
    EXPECT_FALSE(button->toolTip().isEmpty()) << button->text().toStdString();

  // A caption cut short by its column shows in full as a tooltip, one that
  // fits shows none. The column is made narrow and wide here, so that the
  // machine's fonts decide nothing (they used to, at the designed width).
  TValueList* table = Form->ValueListSimulation;
  const int designed = table->columnWidth(0);
  table->setColumnWidth(0, 12);
  EXPECT_EQ(table->item(0, 0)->toolTip(), QStringLiteral("External Cube Rib [m]"));
  EXPECT_EQ(table->item(3, 0)->toolTip(), QStringLiteral("Temperature [K]"));
  EXPECT_EQ(table->horizontalHeaderItem(0)->toolTip(), QStringLiteral("Simulation Parameters"));
  table->setColumnWidth(0, 4000);
  EXPECT_EQ(table->item(0, 0)->toolTip(), QString());
  EXPECT_EQ(table->horizontalHeaderItem(0)->toolTip(), QString());
  table->setColumnWidth(0, designed);
}
