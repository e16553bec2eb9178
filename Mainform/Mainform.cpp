#include "Mainform/Mainform.h"

#include <QFont>
#include <QHeaderView>
#include <QIcon>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPalette>
#include <QResizeEvent>
#include <QSignalBlocker>
#include <QStyledItemDelegate>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <utility>

#include "Mainform/Conversions.h"
#include "Mainform/Parameters.h"

char DecimalSeparator = '.';
TMForm* MForm = nullptr;

char SystemDecimalSeparator() {
  const QString point = QLocale::system().decimalPoint();
  if (point.size() != 1) return '.';
  const char16_t code = point.at(0).unicode();
  // Printable ASCII punctuation only: a letter, digit, sign or blank would
  // make number texts ambiguous.
  if (code < 0x21 || code > 0x7E) return '.';
  const char separator = static_cast<char>(code);
  if ((separator >= '0' && separator <= '9') || (separator >= 'A' && separator <= 'Z') ||
      (separator >= 'a' && separator <= 'z') || separator == '+' || separator == '-')
    return '.';
  return separator;
}

// ---------------------------------------------------------------------------
// Error display

namespace {

TErrorDisplay& InstalledErrorDisplay() {
  static TErrorDisplay display;
  return display;
}

void MessageBoxDisplay(const QString& message) {
  if (!qApp) {
    std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
    return;
  }
  QMessageBox::critical(QApplication::activeWindow(), QGuiApplication::applicationDisplayName(),
                        message);
}

}  // namespace

TErrorDisplay SetErrorDisplay(TErrorDisplay display) {
  return std::exchange(InstalledErrorDisplay(), std::move(display));
}

void ShowError(const QString& message) {
  const TErrorDisplay& display = InstalledErrorDisplay();
  if (display)
    display(message);
  else
    MessageBoxDisplay(message);
}

void ShowCurrentException() {
  try {
    throw;
  } catch (const std::exception& error) {
    ShowError(QString::fromUtf8(error.what()));
  } catch (...) {
    ShowError(QString());
  }
}

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    ShowCurrentException();
    return false;
  }
}

// ---------------------------------------------------------------------------
// Key/value grid

namespace {

constexpr int GridRowHeight = 18;  // px, title row and value rows

// Hands every keystroke to the table at once, so that a handler reads the
// text on screen even while its cell is still being edited.
class TValueDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                        const QModelIndex& index) const override {
    QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
    if (auto* line = qobject_cast<QLineEdit*>(editor)) {
      auto* self = const_cast<TValueDelegate*>(this);
      connect(line, &QLineEdit::textEdited, self, [self, line] { emit self->commitData(line); });
    }
    return editor;
  }
};

}  // namespace

TValueList::TValueList(QWidget* parent, const QString& keyTitle, const QString& valueTitle,
                       int keyWidth, int valueWidth)
    : QTableWidget(0, 2, parent) {
  setHorizontalHeaderLabels({keyTitle, valueTitle});
  verticalHeader()->hide();
  verticalHeader()->setMinimumSectionSize(1);
  verticalHeader()->setDefaultSectionSize(GridRowHeight);
  QHeaderView* header = horizontalHeader();
  header->setMinimumSectionSize(1);
  header->setFixedHeight(GridRowHeight);
  header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  header->setHighlightSections(false);
  header->setSectionResizeMode(QHeaderView::Interactive);
  header->resizeSection(0, keyWidth);
  header->resizeSection(1, valueWidth);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSelectionBehavior(QAbstractItemView::SelectItems);
  // The value editor opens as soon as a value cell becomes current.
  setEditTriggers(QAbstractItemView::AllEditTriggers);
  setItemDelegateForColumn(1, new TValueDelegate(this));
  setWordWrap(false);
  setCornerButtonEnabled(false);
  QPalette colours = palette();
  colours.setColor(QPalette::Base, colours.color(QPalette::Button));
  setPalette(colours);
}

void TValueList::AppendRow(const QString& key, const QString& value) {
  const int row = rowCount();
  insertRow(row);
  auto* keyItem = new QTableWidgetItem(key);
  keyItem->setData(Qt::UserRole, key);
  keyItem->setFlags(Qt::ItemIsEnabled);  // fixed: neither selected nor edited
  setItem(row, 0, keyItem);
  auto* valueItem = new QTableWidgetItem(value);
  valueItem->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable);
  setItem(row, 1, valueItem);
}

int TValueList::FindRow(const QString& key) const {
  for (int row = 0; row < rowCount(); ++row)
    if (Key(row) == key) return row;
  return -1;
}

QString TValueList::Key(int row) const {
  const QTableWidgetItem* keyItem = item(row, 0);
  return keyItem ? keyItem->data(Qt::UserRole).toString() : QString();
}

QString TValueList::KeyDesc(int row) const {
  const QTableWidgetItem* keyItem = item(row, 0);
  return keyItem ? keyItem->text() : QString();
}

void TValueList::SetKeyDesc(const QString& key, const QString& caption) {
  const int row = FindRow(key);
  if (row >= 0) item(row, 0)->setText(caption);
}

QString TValueList::Value(const QString& key) const {
  const int row = FindRow(key);
  return row >= 0 ? item(row, 1)->text() : QString();
}

void TValueList::SetValue(const QString& key, const QString& text) {
  const int row = FindRow(key);
  if (row >= 0)
    item(row, 1)->setText(text);
  else
    AppendRow(key, text);
}

// ---------------------------------------------------------------------------
// The window

namespace {

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
struct TSpeciesValues {
  double Radius;
  double Diffusion;
  double Concentration;
};

TSpeciesValues ReadSpecies(const TValueList* list) {
  const double radius = ReadNumber(list, Key::SP_A);
  const double diffusion = ReadNumber(list, Key::SP_D);
  const double concentration = ReadNumber(list, Key::SP_C);
  return {radius, diffusion, concentration};
}

// Writes a species into the species table, in the order SP_C, SP_A, SP_D.
void ShowSpecies(TValueList* list, double concentration, double radius, double diffusion) {
  WriteText(list, Key::SP_C, NumberToText(concentration, DecimalSeparator));
  WriteText(list, Key::SP_A, NumberToText(radius, DecimalSeparator));
  WriteText(list, Key::SP_D, NumberToText(diffusion, DecimalSeparator));
}

QFrame* MakePanel(QWidget* parent, bool bevel) {
  auto* panel = new QFrame(parent);
  if (bevel) {
    panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    panel->setLineWidth(1);
  } else {
    panel->setFrameStyle(QFrame::NoFrame);
  }
  return panel;
}

// A flat tool-bar button: raised edge only under the mouse, never focused.
QToolButton* MakeButton(QWidget* parent, const QString& caption, const QRect& geometry) {
  auto* button = new QToolButton(parent);
  button->setAutoRaise(true);
  button->setFocusPolicy(Qt::NoFocus);
  button->setText(caption);
  button->setToolButtonStyle(Qt::ToolButtonTextOnly);
  button->setGeometry(geometry);
  return button;
}

void SetImage(QToolButton* button, const QString& resource, const QSize& size,
              Qt::ToolButtonStyle style) {
  button->setIcon(QIcon(resource));
  button->setIconSize(size);
  button->setToolButtonStyle(style);
}

// Writes curve 1 (the measured one) of `chart` to `fileName`: one line
// "x ; y" with CR LF per point, numbers always with '.'. The file is opened
// first, so one that cannot be opened keeps its old content; every failure,
// including a short write or a failed close, is an error naming the file.
void ExportCurve(const TChart& chart, const char* fileName) {
  std::string text;
  for (int i = 0; i < chart.PointCount(1); ++i) {
    const double y = chart.PointY(1, i);
    const double x = chart.PointX(1, i);
    text += ExportNumberText(x);
    text += " ; ";
    text += ExportNumberText(y);
    text += "\r\n";
  }
  const auto failure = [fileName](int error) {
    return TError(std::string("Cannot write ") + fileName + ": " +
                  (error != 0 ? std::strerror(error) : "write failed"));
  };
  errno = 0;
  std::FILE* file = std::fopen(fileName, "wb");
  if (!file) throw failure(errno);
  errno = 0;
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  int error = written ? 0 : errno;
  errno = 0;
  const bool closed = std::fclose(file) == 0;
  if (!written) throw failure(error);
  if (!closed) throw failure(errno);
}

}  // namespace

// The button images live in this static library; its resources must be
// registered by hand (outside any namespace).
static void InitImages() { Q_INIT_RESOURCE(Mainform); }

TMForm::TMForm(QWidget* owner) : QWidget(owner) {
  InitImages();
  BuildControls();
  ConnectHandlers();

  // Start-up: the engine, both tables, the simulation parameters, then the
  // first species. A species reads the ribs, volumes and time step in force
  // when it is populated, so Apply comes first.
  Volume = std::make_unique<TVolume>();
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

  // Right: the chart panel with the two charts (created first: focus order).
  ChartPanel = MakePanel(this, true);
  ChartPanel->setGeometry(217, 0, 551, 442);
  CChart = new TChart(ChartPanel, QStringLiteral("Concentration"), QStringLiteral("C(t)"),
                      TChartScale::Linear, DecimalSeparator);
  CChart->setGeometry(1, 1, 549, 195);
  LineSeries1 = CChart->graph(0);
  LineSeries2 = CChart->graph(1);
  NChart = new TChart(ChartPanel, QStringLiteral("Number of Molecules"), QStringLiteral("N(t)"),
                      TChartScale::Logarithmic, DecimalSeparator);
  NChart->setGeometry(1, 196, 549, 245);
  Series1 = NChart->graph(0);
  Series2 = NChart->graph(1);

  // Left: a fixed column of run controls, parameters and the species editor.
  Panel1 = MakePanel(this, true);
  Panel1->setGeometry(0, 0, LeftColumnWidth, 442);

  ToolBar1 = MakePanel(Panel1, false);
  ToolBar1->setGeometry(1, 1, 215, 29);
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
  ValueListSimulation->setGeometry(1, 30, 215, 117);

  GroupBox1 = new QGroupBox(QStringLiteral("Species"), Panel1);
  GroupBox1->setGeometry(1, 147, 215, 227);

  ValueListSpecies = new TValueList(GroupBox1, QStringLiteral("Species Parameters"),
                                    QStringLiteral("Value"), 121, 84);
  ValueListSpecies->setGeometry(2, 97, 211, 80);

  Panel2 = MakePanel(GroupBox1, false);
  Panel2->setGeometry(2, 177, 211, 48);
  SpeedButtonRecalcA =
      MakeButton(Panel2, QStringLiteral("Recalculate Molecule Radius"), {2, 25, 207, 22});
  SpeedButtonRecalcD =
      MakeButton(Panel2, QStringLiteral("Recalrualte Diffusion Coefficient"), {2, 2, 207, 22});

  ToolBar2 = MakePanel(GroupBox1, false);
  ToolBar2->setGeometry(2, 68, 211, 29);
  AddSpeciesButton = MakeButton(ToolBar2, QStringLiteral("+ Species"), {0, 2, 65, 22});
  RemoveSpeciesButton = MakeButton(ToolBar2, QStringLiteral("- Species"), {65, 2, 63, 22});
  ApplySpSpeedButton = MakeButton(ToolBar2, QStringLiteral("Apply Species"), {128, 2, 81, 22});

  SpeciesList = new QListWidget(GroupBox1);
  SpeciesList->setGeometry(2, 15, 211, 53);
  SpeciesList->setSelectionMode(QAbstractItemView::SingleSelection);
  SpeciesList->setUniformItemSizes(true);

  // Design size of the client area; the window's frame is the system's.
  move(231, 134);
  resize(768, 442);
  ArrangeControls();
  FormResize();
}

void TMForm::ConnectHandlers() {
  // Errors stop the handler and are shown; the window goes on.
  const auto guarded = [this](void (TMForm::*handler)()) {
    return [this, handler] {
      try {
        (this->*handler)();
      } catch (...) {
        ShowCurrentException();
      }
    };
  };
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
  // A click, or a selection moved with the keyboard. The handlers that
  // select items themselves block these signals while they do.
  connect(SpeciesList, &QListWidget::itemClicked, this, guarded(&TMForm::SpeciesListClick));
  connect(SpeciesList, &QListWidget::itemSelectionChanged, this,
          guarded(&TMForm::SpeciesListClick));
}

void TMForm::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  ArrangeControls();
  FormResize();
}

void TMForm::ArrangeControls() {
  // Panel1 is docked left at its fixed width; everything inside it has a
  // fixed height, so only its own height follows the window. ChartPanel
  // takes the rest of the client area.
  Panel1->setGeometry(0, 0, LeftColumnWidth, height());
  ChartPanel->setGeometry(LeftColumnWidth, 0, std::max(0, width() - LeftColumnWidth), height());
  // The charts inside follow in FormResize, which runs right after.
}

void TMForm::ArrangeCharts() {
  // Inside the panel's 1-px bevel: CChart docked to the top at its own
  // height, NChart fills what is left below it.
  const QRect inside = ChartPanel->contentsRect();
  const int upper = CChart->height();
  CChart->setGeometry(inside.left(), inside.top(), inside.width(), upper);
  NChart->setGeometry(inside.left(), inside.top() + upper, inside.width(),
                      std::max(0, inside.height() - upper));
}

void TMForm::FormResize() {
  // The concentration chart gets the upper half of the panel less one pixel.
  CChart->resize(CChart->width(), std::max(0, ChartPanel->height() / 2 - 1));
  ArrangeCharts();
}

// ---------------------------------------------------------------------------
// Run control and live plotting

void TMForm::ApplyButtonClick() {
  // Everything is converted before anything changes: a bad text (or
  // parameters the engine refuses) leaves the curves and the running
  // simulation as they were. The message names the first bad text in this
  // order.
  const double timeStep = ReadNumber(ValueListSimulation, Key::SIM_DT);
  const double temperature = ReadNumber(ValueListSimulation, Key::SIM_T);
  const double viscosity = ReadNumber(ValueListSimulation, Key::SIM_Q);
  const double innerRib = ReadNumber(ValueListSimulation, Key::SIM_B1);
  const double outerRib = ReadNumber(ValueListSimulation, Key::SIM_B0);
  Volume->SetParameters(outerRib, innerRib, viscosity, temperature, timeStep);
  CChart->ClearCurves();
  NChart->ClearCurves();
  Volume->SetStepCallback([this](std::int32_t insideCount, std::int32_t innerCountTotal,
                                 double insideConcentration, double totalConcentration,
                                 double time) {
    PlotStep(insideCount, innerCountTotal, insideConcentration, totalConcentration, time);
  });
}

void TMForm::PauseButtonClick() {
  if (Timer->isActive())
    Timer->stop();
  else
    Timer->start();
  const bool enabled = ApplyButton->isEnabled();
  for (QToolButton* button : {ApplyButton, AddSpeciesButton, RemoveSpeciesButton,
                              ApplySpSpeedButton, SpeedButtonRecalcD, SpeedButtonRecalcA})
    button->setEnabled(!enabled);
}

void TMForm::TimerTimer() {
  try {
    Volume->Step();
  } catch (...) {
    // A step that fails would fail again at every tick: stop the run, as a
    // pause would, so that its message is shown once.
    if (Timer->isActive()) PauseButtonClick();
    throw;
  }
}

void TMForm::PlotStep(std::int32_t insideCount, std::int32_t innerCountTotal,
                      double insideConcentration, double totalConcentration, double time) {
  CChart->AppendPoint(0, time, totalConcentration);
  CChart->AppendPoint(1, time, insideConcentration);
  NChart->AppendPoint(0, time, static_cast<double>(innerCountTotal));
  NChart->AppendPoint(1, time, static_cast<double>(insideCount));
}

// ---------------------------------------------------------------------------
// Curve export

void TMForm::SaveCButtonClick() { ExportCurve(*CChart, "C1(t).txt"); }

void TMForm::SaveNButtonClick() { ExportCurve(*NChart, "N1(t).txt"); }

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

  ShowSpecies(ValueListSpecies, Defaults::Concentration, Defaults::Radius, Defaults::Diffusion);
  try {
    const TSpeciesValues species = ReadSpecies(ValueListSpecies);
    Volume->AddSpecies(species.Concentration, species.Diffusion, species.Radius);
  } catch (...) {
    // The engine refused the species (it does not fit the current volumes):
    // the list must keep one item per engine species.
    delete SpeciesList->takeItem(last);
    if (previousRow >= 0)
      SpeciesList->setCurrentRow(previousRow);
    else
      SpeciesList->clearSelection();
    throw;
  }
}

void TMForm::RemoveSpeciesButtonClick() {
  if (SpeciesList->count() < 2) return;  // at least one species always remains
  {
    QSignalBlocker quiet(SpeciesList);
    for (int index = 0; index < SpeciesList->count(); ++index) {
      if (SpeciesList->item(index)->isSelected()) {
        Volume->RemoveSpecies(index);
        delete SpeciesList->takeItem(index);
      }
    }
    SpeciesList->setCurrentRow(0);
  }
  SpeciesListClick();
}

void TMForm::ApplySpSpeedButtonClick() {
  for (int index = 0; index < SpeciesList->count(); ++index) {
    if (!SpeciesList->item(index)->isSelected()) continue;
    const TSpeciesValues species = ReadSpecies(ValueListSpecies);
    Volume->ReplaceSpecies(index, species.Concentration, species.Diffusion, species.Radius);
  }
}

void TMForm::SpeciesListClick() {
  // Shows what the engine holds, not what was last typed.
  for (int index = 0; index < SpeciesList->count(); ++index) {
    if (!SpeciesList->item(index)->isSelected()) continue;
    ShowSpecies(ValueListSpecies, Volume->SpeciesConcentration(index), Volume->SpeciesRadius(index),
                Volume->SpeciesDiffusion(index));
  }
}

void TMForm::SpeedButtonRecalcDClick() {
  // Uses the temperature and viscosity applied last, not the table's texts.
  const double radius = ReadNumber(ValueListSpecies, Key::SP_A);
  const double diffusion = Volume->StokesEinstein(radius);
  WriteText(ValueListSpecies, Key::SP_D, NumberToExponentText(diffusion, DecimalSeparator));
}

void TMForm::SpeedButtonRecalcAClick() {
  const double diffusion = ReadNumber(ValueListSpecies, Key::SP_D);
  const double radius = Volume->StokesEinstein(diffusion);
  WriteText(ValueListSpecies, Key::SP_A, NumberToExponentText(radius, DecimalSeparator));
}
