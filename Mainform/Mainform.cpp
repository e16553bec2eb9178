// The window built and wired: its controls and their layout, the keys and
// hints of its buttons, and which handler answers each control. The handlers
// live in EngineActions.cpp (what changes the engine), RunViews.cpp (the run
// on the charts and in files) and Sessions.cpp.
#include "Mainform/Mainform.h"

#include <QFont>
#include <QIcon>
#include <QKeySequence>
#include <QLocale>
#include <QResizeEvent>
#include <algorithm>

#include "Mainform/DockLayout.h"
#include "Mainform/ErrorDisplay.h"
#include "Mainform/RunControl.h"
#include "Mainform/Widgets.h"
#include "Session/Captions.h"
#include "Session/Comparison.h"
#include "Session/Conversions.h"
#include "Session/Parameters.h"

char DecimalSeparator = '.';
TMForm* MForm = nullptr;

char SystemDecimalSeparator() {
  return UsableDecimalSeparator(QLocale::system().decimalPoint().toStdString());
}

// ---------------------------------------------------------------------------
// The window

namespace {

constexpr int LeftColumnWidth = 217;  // px, Panel1

// Appends the rows of a table, each with its initial text and its caption.
template <std::size_t Count>
void FillRows(TValueList* list, const TParameterRow (&rows)[Count]) {
  for (const TParameterRow& row : rows) {
    list->AppendRow(QString::fromLatin1(row.Key),
                    QString::fromStdString(NumberToText(row.Initial, DecimalSeparator)));
    list->SetKeyDesc(QString::fromLatin1(row.Key), QString::fromLatin1(row.Caption));
  }
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
  setWindowTitle(QString::fromUtf8(Captions::Title));
  // The design font, 8 pt at 96 dpi; where it is missing, a sans serif of
  // similar width keeps the captions inside their columns.
  QFont font;
  font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Arial"),
                    QStringLiteral("Helvetica"), QStringLiteral("Nimbus Sans")});
  font.setPixelSize(11);
  setFont(font);

  // Docked panels, each with the size it keeps on its docked side; the
  // layouts place them. Right: the chart panel with the two charts (created
  // first: focus order). CChart's height follows the panel in FormResize.
  auto* formLayout = new TDockLayout(this);
  ChartPanel = MakePanel(this, TBevel::Raised);
  auto* chartLayout = new TDockLayout(ChartPanel);
  CChart = new TChart(ChartPanel, QString::fromUtf8(Captions::ConcentrationChart),
                      QString::fromUtf8(Captions::ConcentrationAxis), TChartScale::Linear,
                      DecimalSeparator);
  LineSeries1 = CChart->graph(0);
  LineSeries2 = CChart->graph(1);
  NChart = new TChart(ChartPanel, QString::fromUtf8(Captions::CountChart),
                      QString::fromUtf8(Captions::CountAxis), TChartScale::Logarithmic,
                      DecimalSeparator);
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
  ApplyButton = MakeButton(ToolBar1, Caption(Controls::Apply), {0, 2, 42, 22});
  PauseButton = MakeButton(ToolBar1, QString(), {42, 2, 39, 22});
  SetImage(PauseButton, QStringLiteral(":/images/pause.png"), {16, 15}, Qt::ToolButtonIconOnly);
  SaveCButton = MakeButton(ToolBar1, Caption(Controls::C1), {81, 2, 68, 22});
  SetImage(SaveCButton, QStringLiteral(":/images/save.png"), {16, 16},
           Qt::ToolButtonTextBesideIcon);
  SaveNButton = MakeButton(ToolBar1, Caption(Controls::N1), {149, 2, 64, 22});
  SetImage(SaveNButton, QStringLiteral(":/images/save.png"), {16, 16},
           Qt::ToolButtonTextBesideIcon);

  ValueListSimulation = new TValueList(Panel1, QString::fromUtf8(Captions::SimulationTable),
                                       QString::fromUtf8(Captions::ValueColumn), 121, 88);
  ValueListSimulation->resize(0, 117);

  GroupBox1 = new QGroupBox(QString::fromUtf8(Captions::SpeciesGroup), Panel1);
  GroupBox1->resize(0, 227);
  leftLayout->AddWidget(ToolBar1, TDock::Top);
  leftLayout->AddWidget(ValueListSimulation, TDock::Top);
  leftLayout->AddWidget(GroupBox1, TDock::Top);

  // Inside the group: the bottom-docked parts stack up from its lower edge,
  // and the species list takes what is left below the caption.
  GroupBox1->setAttribute(Qt::WA_LayoutOnEntireRect);
  auto* groupLayout = new TDockLayout(GroupBox1);
  groupLayout->setContentsMargins(2, 15, 2, 2);

  ValueListSpecies = new TValueList(GroupBox1, QString::fromUtf8(Captions::SpeciesTable),
                                    QString::fromUtf8(Captions::ValueColumn), 121, 84);
  ValueListSpecies->resize(0, 80);

  Panel2 = MakePanel(GroupBox1, TBevel::None);
  Panel2->resize(0, 48);
  SpeedButtonRecalcA = MakeButton(Panel2, Caption(Controls::RecalcRadius), {2, 25, 207, 22});
  SpeedButtonRecalcD = MakeButton(Panel2, Caption(Controls::RecalcDiffusion), {2, 2, 207, 22});

  ToolBar2 = MakePanel(GroupBox1, TBevel::None);
  ToolBar2->resize(0, 29);
  AddSpeciesButton = MakeButton(ToolBar2, Caption(Controls::AddSpecies), {0, 2, 65, 22});
  RemoveSpeciesButton = MakeButton(ToolBar2, Caption(Controls::RemoveSpecies), {65, 2, 63, 22});
  ApplySpSpeedButton = MakeButton(ToolBar2, Caption(Controls::ApplySpecies), {128, 2, 81, 22});

  SpeciesList = new TCheckList(GroupBox1);
  groupLayout->AddWidget(Panel2, TDock::Bottom);
  groupLayout->AddWidget(ValueListSpecies, TDock::Bottom);
  groupLayout->AddWidget(ToolBar2, TDock::Bottom);
  groupLayout->AddWidget(SpeciesList, TDock::Fill);

  RunPanel = MakePanel(Panel1, TBevel::None);
  RunPanel->resize(0, 66);
  leftLayout->AddWidget(RunPanel, TDock::Top);
  // The run control asks for each step; what follows a step is the window's.
  RunControl = new TRunControl(this, RunPanel, NChart, {CChart, NChart},
                               {[this] { StepOnce(); }, [this] { AfterEngineChange(); },
                                [this] { return Run->Record().Statistics().Steps(); }});
  Timer = RunControl->Timer;
  SpeedBox = RunControl->SpeedBox;
  Readout = RunControl->Readout;
  ExportRunButton = MakeButton(RunPanel, Caption(Controls::ExportRun), {60, 2, 79, 22});
  BuildChartActions();
  MoleculeViewButton = MakeButton(RunPanel, Caption(Controls::Molecules), {139, 2, 76, 22});
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
  connect(ExportRunButton, &QToolButton::clicked, this, guarded(&TMForm::ExportRunButtonClick));
  // A click, or a selection moved with the keyboard. The handlers that
  // select items themselves block the list's signals while they do.
  connect(SpeciesList, &TCheckList::Chosen, this, guarded(&TMForm::SpeciesListClick));
  connect(MoleculeViewButton, &QToolButton::clicked, this,
          guarded(&TMForm::MoleculeViewButtonClick));
  connect(OpenSessionAction, &QAction::triggered, this, guarded(&TMForm::OpenSessionClick));
  connect(SaveSessionAction, &QAction::triggered, this, guarded(&TMForm::SaveSessionClick));
  connect(RecentMenu, &QMenu::aboutToShow, this, &TMForm::FillRecentMenu);
  connect(KeepRunAction, &QAction::triggered, this, guarded(&TMForm::KeepRunClick));
  connect(KeptRuns->CompareAction, &QAction::triggered, this, guarded(&TMForm::CompareClick));
  connect(ClearKeptRunsAction, &QAction::triggered, this, guarded(&TMForm::ClearKeptRunsClick));
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

void TMForm::BuildChartActions() {
  // The band can be hidden from either chart's right-click menu.
  BandAction = new QAction(QString::fromUtf8(Captions::BandToggle), this);
  BandAction->setCheckable(true);
  BandAction->setChecked(true);
  connect(BandAction, &QAction::toggled, this, &TMForm::ShowBand);
  // Kept runs are named in one legend, at the lower right of the
  // concentration chart, where its curves do not go once the cube fills.
  CChart->ShowLegend();
  CChart->AddMenuAction(BandAction);
  NChart->AddMenuAction(BandAction);
  ExpectedAction = new QAction(QString::fromUtf8(Captions::ExpectedToggle), this);
  ExpectedAction->setCheckable(true);
  ExpectedAction->setChecked(true);
  connect(ExpectedAction, &QAction::toggled, this, &TMForm::ShowExpected);
  CChart->AddMenuAction(ExpectedAction);
  NChart->AddMenuAction(ExpectedAction);
}

void TMForm::BuildSessionControls() {
  OpenSessionAction = MakeAction(this, QStringLiteral("Open session..."), Keys(Controls::Open),
                                 Tip(Controls::Open));
  SaveSessionAction = MakeAction(this, QStringLiteral("Save session..."), Keys(Controls::Save),
                                 Tip(Controls::Save));

  // The second row of the run panel, beside the run controls above it.
  OpenSessionButton = MakeButton(RunPanel, Caption(Controls::Open), {2, 25, 62, 22});
  AttachAction(OpenSessionButton, OpenSessionAction);
  RecentMenu = new QMenu(this);
  OpenSessionButton->setMenu(RecentMenu);
  OpenSessionButton->setPopupMode(QToolButton::MenuButtonPopup);
  SaveSessionButton = MakeButton(RunPanel, Caption(Controls::Save), {64, 25, 46, 22});
  AttachAction(SaveSessionButton, SaveSessionAction);
  KeptRuns = new TKeptRuns(this, RunPanel, NChart, CChart, DecimalSeparator,
                           [this] { return SessionOf(*Run); });
  KeepRunButton = KeptRuns->KeepButton;
  KeepRunAction = KeptRuns->KeepAction;
  ClearKeptRunsAction = KeptRuns->ClearAction;
  SetShortcuts();
}

void TMForm::SetShortcuts() {
  for (const auto& [button, control] : {std::pair{ApplyButton, Controls::Apply},
                                        {PauseButton, Controls::StartPause},
                                        {SaveCButton, Controls::C1},
                                        {SaveNButton, Controls::N1},
                                        {ExportRunButton, Controls::ExportRun},
                                        {MoleculeViewButton, Controls::Molecules}})
    SetButtonShortcut(button, Keys(control), Tip(control));
  for (const auto& [button, control] : {std::pair{AddSpeciesButton, Controls::AddSpecies},
                                        {RemoveSpeciesButton, Controls::RemoveSpecies},
                                        {ApplySpSpeedButton, Controls::ApplySpecies},
                                        {SpeedButtonRecalcD, Controls::RecalcDiffusion},
                                        {SpeedButtonRecalcA, Controls::RecalcRadius}})
    button->setToolTip(Tip(control));
}
