#include "Mainform/Mainform.h"

#include <QFont>
#include <QIcon>
#include <QLocale>
#include <QResizeEvent>
#include <QSignalBlocker>
#include <algorithm>

#include "Mainform/DockLayout.h"
#include "Mainform/ErrorDisplay.h"
#include "Mainform/LongWork.h"
#include "Mainform/MoleculeView.h"
#include "Mainform/Widgets.h"
#include "Session/Conversions.h"
#include "Session/Exports.h"
#include "Session/OutputFile.h"
#include "Session/Parameters.h"

char DecimalSeparator = '.';
TMForm* MForm = nullptr;

char SystemDecimalSeparator() {
  return UsableDecimalSeparator(QLocale::system().decimalPoint().toStdString());
}

// ---------------------------------------------------------------------------
// The window

namespace {

// Molecules from which placing them runs as long work, with a progress bar
// should it take over half a second.
constexpr double LongPopulation = 2e6;

constexpr int LeftColumnWidth = 217;  // px, Panel1
constexpr int TimerInterval = 50;     // ms between simulation steps

// The number in the row `key`, converted with the user's separator; throws
// TError naming the text when it does not convert.
double ReadNumber(const TValueList* list, const char* key) {
  return TextToNumber(list->Value(QString::fromLatin1(key)).toStdString(), DecimalSeparator);
}

void WriteText(TValueList* list, const char* key, const std::string& text) {
  list->SetValue(QString::fromLatin1(key), QString::fromStdString(text));
}

// Appends the rows of a table, each with its initial text and its caption.
template <std::size_t Count>
void FillRows(TValueList* list, const TParameterRow (&rows)[Count]) {
  for (const TParameterRow& row : rows) {
    list->AppendRow(QString::fromLatin1(row.Key),
                    QString::fromStdString(NumberToText(row.Initial, DecimalSeparator)));
    list->SetKeyDesc(QString::fromLatin1(row.Key), QString::fromLatin1(row.Caption));
  }
}

// A species as the species table gives it, read in the order SP_A, SP_D,
// SP_C, so that a bad text is named in that order.
TSpeciesValues ReadSpecies(const TValueList* list) {
  TSpeciesValues species;
  species.Radius = ReadNumber(list, Key::SP_A);
  species.Diffusion = ReadNumber(list, Key::SP_D);
  species.Concentration = ReadNumber(list, Key::SP_C);
  return species;
}

// Writes a species into the species table, in the order SP_C, SP_A, SP_D.
void ShowSpecies(TValueList* list, const TSpeciesValues& species) {
  WriteText(list, Key::SP_C, NumberToText(species.Concentration, DecimalSeparator));
  WriteText(list, Key::SP_A, NumberToText(species.Radius, DecimalSeparator));
  WriteText(list, Key::SP_D, NumberToText(species.Diffusion, DecimalSeparator));
}

// Writes one of the measured curves to its file in the working directory.
void SaveCurve(const TRunRecord& record, TCurve curve) {
  WriteFileAtomically(CurveFileName(curve), CurveText(record.Samples(), curve));
}

TDockLayout* DockLayoutOf(QWidget* widget) { return static_cast<TDockLayout*>(widget->layout()); }

}  // namespace

// The button images live in this static library; its resources must be
// registered by hand (outside any namespace).
static void InitImages() { Q_INIT_RESOURCE(Mainform); }

TMForm::TMForm(QWidget* owner) : TMForm(TEngineSettings(), owner) {}

TMForm::TMForm(const TEngineSettings& engineSettings, QWidget* owner)
    : QWidget(owner), EngineSettings(engineSettings) {
  InitImages();
  BuildControls();
  ConnectHandlers();

  // Start-up: the engine, both tables, the simulation parameters, then the
  // first species. A species reads the ribs, volumes and time step in force
  // when it is populated, so Apply comes first.
  Run = std::make_unique<TEngineRun>();
  Run->Volume().SetSettings(EngineSettings);
  Run->OnSample = [this](const TRunSample& sample, const std::optional<TBand>& band) {
    PlotSample(sample, band);
  };
  FillRows(ValueListSimulation, SimulationRows);
  FillRows(ValueListSpecies, SpeciesRows);
  ApplyButtonClick();
  AddSpeciesButtonClick();
}

TMForm::~TMForm() {
  if (MForm == this) MForm = nullptr;
}

void TMForm::BuildControls() {
  setWindowTitle(QStringLiteral("Kelvane"));
  // The design font, 8 pt at 96 dpi; where it is missing, a sans serif of
  // similar width keeps the captions inside their columns.
  QFont font;
  font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Arial"),
                    QStringLiteral("Helvetica"), QStringLiteral("Nimbus Sans")});
  font.setPixelSize(11);
  setFont(font);

  Timer = new QTimer(this);
  Timer->setInterval(TimerInterval);

  // Docked panels, each with the size it keeps on its docked side; the
  // layouts place them. Right: the chart panel with the two charts (created
  // first: focus order). CChart's height follows the panel in FormResize.
  auto* formLayout = new TDockLayout(this);
  ChartPanel = MakePanel(this, TBevel::Raised);
  auto* chartLayout = new TDockLayout(ChartPanel);
  CChart = new TChart(ChartPanel, QStringLiteral("Concentration"), QStringLiteral("C(t)"),
                      TChartScale::Linear, DecimalSeparator);
  LineSeries1 = CChart->graph(0);
  LineSeries2 = CChart->graph(1);
  NChart = new TChart(ChartPanel, QStringLiteral("Number of Molecules"), QStringLiteral("N(t)"),
                      TChartScale::Logarithmic, DecimalSeparator);
  Series1 = NChart->graph(0);
  Series2 = NChart->graph(1);
  chartLayout->AddWidget(CChart, TDock::Top);
  chartLayout->AddWidget(NChart, TDock::Fill);

  // Left: a fixed column of run controls, parameters and the species editor.
  Panel1 = MakePanel(this, TBevel::Raised);
  Panel1->resize(LeftColumnWidth, 0);
  formLayout->AddWidget(Panel1, TDock::Left);
  formLayout->AddWidget(ChartPanel, TDock::Fill);
  auto* leftLayout = new TDockLayout(Panel1);

  ToolBar1 = MakePanel(Panel1, TBevel::None);
  ToolBar1->resize(0, 29);
  ApplyButton = MakeButton(ToolBar1, QStringLiteral("Apply"), {0, 2, 42, 22});
  PauseButton = MakeButton(ToolBar1, QString(), {42, 2, 39, 22});
  SetImage(PauseButton, QStringLiteral(":/images/pause.png"), {16, 15}, Qt::ToolButtonIconOnly);
  SaveCButton = MakeButton(ToolBar1, QStringLiteral("C1(t)"), {81, 2, 68, 22});
  SetImage(SaveCButton, QStringLiteral(":/images/save.png"), {16, 16},
           Qt::ToolButtonTextBesideIcon);
  SaveNButton = MakeButton(ToolBar1, QStringLiteral("N1(t)"), {149, 2, 64, 22});
  SetImage(SaveNButton, QStringLiteral(":/images/save.png"), {16, 16},
           Qt::ToolButtonTextBesideIcon);

  ValueListSimulation = new TValueList(Panel1, QStringLiteral("Simulation Parameters"),
                                       QStringLiteral("Value"), 121, 88);
  ValueListSimulation->resize(0, 117);

  GroupBox1 = new QGroupBox(QStringLiteral("Species"), Panel1);
  GroupBox1->resize(0, 227);
  leftLayout->AddWidget(ToolBar1, TDock::Top);
  leftLayout->AddWidget(ValueListSimulation, TDock::Top);
  leftLayout->AddWidget(GroupBox1, TDock::Top);

  // Inside the group: the bottom-docked parts stack up from its lower edge,
  // and the species list takes what is left below the caption.
  GroupBox1->setAttribute(Qt::WA_LayoutOnEntireRect);
  auto* groupLayout = new TDockLayout(GroupBox1);
  groupLayout->setContentsMargins(2, 15, 2, 2);

  ValueListSpecies = new TValueList(GroupBox1, QStringLiteral("Species Parameters"),
                                    QStringLiteral("Value"), 121, 84);
  ValueListSpecies->resize(0, 80);

  Panel2 = MakePanel(GroupBox1, TBevel::None);
  Panel2->resize(0, 48);
  SpeedButtonRecalcA =
      MakeButton(Panel2, QStringLiteral("Recalculate Molecule Radius"), {2, 25, 207, 22});
  // The caption has always been spelt this way; users and their notes know
  // the button by it. Do not correct it.
  SpeedButtonRecalcD =
      MakeButton(Panel2, QStringLiteral("Recalrualte Diffusion Coefficient"), {2, 2, 207, 22});

  ToolBar2 = MakePanel(GroupBox1, TBevel::None);
  ToolBar2->resize(0, 29);
  AddSpeciesButton = MakeButton(ToolBar2, QStringLiteral("+ Species"), {0, 2, 65, 22});
  RemoveSpeciesButton = MakeButton(ToolBar2, QStringLiteral("- Species"), {65, 2, 63, 22});
  ApplySpSpeedButton = MakeButton(ToolBar2, QStringLiteral("Apply Species"), {128, 2, 81, 22});

  SpeciesList = new TCheckList(GroupBox1);
  groupLayout->AddWidget(Panel2, TDock::Bottom);
  groupLayout->AddWidget(ValueListSpecies, TDock::Bottom);
  groupLayout->AddWidget(ToolBar2, TDock::Bottom);
  groupLayout->AddWidget(SpeciesList, TDock::Fill);

  RunPanel = MakePanel(Panel1, TBevel::None);
  RunPanel->resize(0, 66);
  leftLayout->AddWidget(RunPanel, TDock::Top);
  BuildRunPanel();
  MoleculeViewButton = MakeButton(RunPanel, QStringLiteral("Molecules..."), {139, 2, 76, 22});
  BuildSessionControls();

  // Design size of the client area; the window's frame is the system's. The
  // layouts place everything at once, shown or not.
  move(231, 134);
  resize(768, 442);
  for (QWidget* panel : std::initializer_list<QWidget*>{this, Panel1, GroupBox1})
    DockLayoutOf(panel)->ArrangeNow();
  FormResize();
}

void TMForm::ConnectHandlers() {
  // Errors stop the handler and are shown; the window goes on.
  const auto guarded = [this](void (TMForm::*handler)()) { return Guarded(this, handler); };
  connect(ApplyButton, &QToolButton::clicked, this, guarded(&TMForm::ApplyButtonClick));
  connect(PauseButton, &QToolButton::clicked, this, guarded(&TMForm::PauseButtonClick));
  connect(Timer, &QTimer::timeout, this, guarded(&TMForm::TimerTimer));
  connect(SaveCButton, &QToolButton::clicked, this, guarded(&TMForm::SaveCButtonClick));
  connect(SaveNButton, &QToolButton::clicked, this, guarded(&TMForm::SaveNButtonClick));
  connect(AddSpeciesButton, &QToolButton::clicked, this, guarded(&TMForm::AddSpeciesButtonClick));
  connect(RemoveSpeciesButton, &QToolButton::clicked, this,
          guarded(&TMForm::RemoveSpeciesButtonClick));
  connect(ApplySpSpeedButton, &QToolButton::clicked, this,
          guarded(&TMForm::ApplySpSpeedButtonClick));
  connect(SpeedButtonRecalcD, &QToolButton::clicked, this,
          guarded(&TMForm::SpeedButtonRecalcDClick));
  connect(SpeedButtonRecalcA, &QToolButton::clicked, this,
          guarded(&TMForm::SpeedButtonRecalcAClick));
  connect(SpeedBox, &QComboBox::currentIndexChanged, this, guarded(&TMForm::SpeedBoxChange));
  connect(SliceTimer, &QTimer::timeout, this, guarded(&TMForm::SliceTimerTimer));
  connect(ExportRunButton, &QToolButton::clicked, this, guarded(&TMForm::ExportRunButtonClick));
  // A click, or a selection moved with the keyboard. The handlers that
  // select items themselves block the list's signals while they do.
  connect(SpeciesList, &TCheckList::Chosen, this, guarded(&TMForm::SpeciesListClick));
  connect(MoleculeViewButton, &QToolButton::clicked, this,
          guarded(&TMForm::MoleculeViewButtonClick));
}

void TMForm::resizeEvent(QResizeEvent* event) {
  // The layout has already placed Panel1 and ChartPanel for the new size.
  QWidget::resizeEvent(event);
  FormResize();
}

void TMForm::FormResize() {
  // The concentration chart gets the upper half of the panel less one pixel;
  // NChart, docked below it, takes the rest.
  CChart->resize(CChart->width(), std::max(0, ChartPanel->height() / 2 - 1));
  DockLayoutOf(ChartPanel)->ArrangeNow();
}

// ---------------------------------------------------------------------------
// Run control and live plotting

void TMForm::ApplyButtonClick() {
  // Everything is converted before anything changes: a bad text (or
  // parameters the engine refuses) leaves the curves and the running
  // simulation as they were. The message names the first bad text in this
  // order.
  TSimulationValues values;
  values.TimeStep = ReadNumber(ValueListSimulation, Key::SIM_DT);
  values.Temperature = ReadNumber(ValueListSimulation, Key::SIM_T);
  values.Viscosity = ReadNumber(ValueListSimulation, Key::SIM_Q);
  values.InnerRib = ReadNumber(ValueListSimulation, Key::SIM_B1);
  values.OuterRib = ReadNumber(ValueListSimulation, Key::SIM_B0);
  Run->Do(TAction::Apply(values));
  CChart->ClearCurves();
  NChart->ClearCurves();
  AfterEngineChange();
}

void TMForm::PauseButtonClick() {
  PendingSteps = 0;
  if (Timer->isActive())
    Timer->stop();
  else
    Timer->start();
  SpeedBoxChange();  // flat out starts at once, not with the first tick
  const bool enabled = ApplyButton->isEnabled();
  for (QToolButton* button : {ApplyButton, AddSpeciesButton, RemoveSpeciesButton,
                              ApplySpSpeedButton, SpeedButtonRecalcD, SpeedButtonRecalcA})
    button->setEnabled(!enabled);
}

void TMForm::PlotStep(std::int32_t insideCount, std::int32_t innerCountTotal,
                      double insideConcentration, double totalConcentration, double time) {
  const TVolume& volume = Run->Volume();
  const TRunSample sample =
      SampleOf(volume, insideCount, innerCountTotal, insideConcentration, totalConcentration, time);
  const std::optional<TBand> band = ExpectedBand(volume);
  Run->Record().Add(sample, band);
  PlotSample(sample, band);
}

void TMForm::PlotSample(const TRunSample& sample, const std::optional<TBand>& band) {
  const double time = sample.Time;
  CChart->AppendPoint(0, time, sample.TotalConcentration);
  CChart->AppendPoint(1, time, sample.InsideConcentration);
  NChart->AppendPoint(0, time, static_cast<double>(sample.ReferenceCount));
  NChart->AppendPoint(1, time, static_cast<double>(sample.InsideCount));
  ExtendBand(time, band);
  NChart->AppendExpected(time, sample.ExpectedCount);
  CChart->AppendExpected(time, sample.ExpectedCount / Run->Volume().InnerVolume);
}

// ---------------------------------------------------------------------------
// Curve export: the measured curves of the run record.

void TMForm::SaveCButtonClick() { SaveCurve(Run->Record(), TCurve::Concentration); }

void TMForm::SaveNButtonClick() { SaveCurve(Run->Record(), TCurve::Count); }

// ---------------------------------------------------------------------------
// Species editing

void TMForm::AddSpeciesButtonClick() {
  QSignalBlocker quiet(SpeciesList);
  const QList<QListWidgetItem*> selected = SpeciesList->selectedItems();
  const int previousRow = selected.isEmpty() ? -1 : SpeciesList->row(selected.first());

  auto* item = new QListWidgetItem(QStringLiteral("Species 1"));
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
  const double radius = ReadNumber(ValueListSpecies, Key::SP_A);
  WriteText(ValueListSpecies, Key::SP_D,
            StokesEinsteinText(Run->Volume(), radius, DecimalSeparator));
}

void TMForm::SpeedButtonRecalcAClick() {
  const double diffusion = ReadNumber(ValueListSpecies, Key::SP_D);
  WriteText(ValueListSpecies, Key::SP_A,
            StokesEinsteinText(Run->Volume(), diffusion, DecimalSeparator));
}

// ---------------------------------------------------------------------------
// Views beyond the curves

void TMForm::MoleculeViewButtonClick() {
  if (!MoleculeView) {
    MoleculeView = new TMoleculeView(this);
    connect(this, &TMForm::EngineChanged, MoleculeView,
            [this] { MoleculeView->Refresh(Engine()); });
  }
  MoleculeView->Open(Engine());
}
