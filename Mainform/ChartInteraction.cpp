// The chart's zoom and pan, its right-click menu, and its picture saved or
// copied. QCustomPlot zooms and pans; the chart notes when the user moved
// the ranges, so that new points leave them where the user put them.
#include <QAction>
#include <QBuffer>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QWheelEvent>
#include <string>

#include "Diffunit/Diffunit.h"
#include "Mainform/ChartView.h"
#include "Mainform/ErrorDisplay.h"
#include "Session/Captions.h"
#include "Session/OutputFile.h"

namespace {

// Where the image dialog opens: the folder of the last image saved in this
// session, at first the working directory, where the curves are exported.
QString& ImageFolder() {
  static QString folder = QDir::currentPath();
  return folder;
}

const QString PngFilter = QStringLiteral("PNG image (*.png)");
const QString PdfFilter = QStringLiteral("PDF document (*.pdf)");

}  // namespace

void TChart::SetUpInteractions() {
  // QCustomPlot zooms and pans; the second axes follow the first, as they
  // do in FitRanges. On a logarithmic axis it zooms and pans by factors and
  // keeps the range positive.
  setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
  QCPAxisRect* area = axisRect();
  area->setRangeDrag(Qt::Horizontal | Qt::Vertical);
  area->setRangeZoom(Qt::Horizontal | Qt::Vertical);
  area->setRangeDragAxes({xAxis, xAxis2}, {yAxis, yAxis2});
  area->setRangeZoomAxes({xAxis, xAxis2}, {yAxis, yAxis2});

  Menu = new QMenu(this);
  const auto guarded = [this](void (TChart::*handler)()) { return Guarded(this, handler); };
  connect(Menu->addAction(QString::fromUtf8(Captions::SaveImage)), &QAction::triggered, this,
          guarded(&TChart::SaveImageAs));
  connect(Menu->addAction(QString::fromUtf8(Captions::CopyImage)), &QAction::triggered, this,
          guarded(&TChart::CopyImage));
}

void TChart::AddMenuAction(QAction* action) {
  if (Menu->actions().size() == 2) Menu->addSeparator();  // the window's own actions apart
  Menu->addAction(action);
}

void TChart::NoteUserRanges(const QCPRange& x, const QCPRange& y) {
  if (xAxis->range() != x || yAxis->range() != y) UserRanges = true;
}

void TChart::wheelEvent(QWheelEvent* event) {
  const QCPRange x = xAxis->range();
  const QCPRange y = yAxis->range();
  QCustomPlot::wheelEvent(event);
  NoteUserRanges(x, y);
}

void TChart::mouseMoveEvent(QMouseEvent* event) {
  const QCPRange x = xAxis->range();
  const QCPRange y = yAxis->range();
  QCustomPlot::mouseMoveEvent(event);
  NoteUserRanges(x, y);
}

void TChart::mouseDoubleClickEvent(QMouseEvent* event) {
  QCustomPlot::mouseDoubleClickEvent(event);
  if (event->button() != Qt::LeftButton) return;
  UserRanges = false;
  FitRanges();
  replot(rpQueuedReplot);
}

void TChart::contextMenuEvent(QContextMenuEvent* event) {
  Menu->popup(event->globalPos());
  event->accept();
}

void TChart::SaveImageAs() {
  QFileDialog dialog(this, QStringLiteral("Save image"), ImageFolder(),
                     PngFilter + QStringLiteral(";;") + PdfFilter);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setDefaultSuffix(QStringLiteral("png"));
  connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& filter) {
    dialog.setDefaultSuffix(filter == PdfFilter ? QStringLiteral("pdf") : QStringLiteral("png"));
  });
  dialog.selectFile(yAxis->label() + QStringLiteral(".png"));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  const QString fileName = dialog.selectedFiles().first();
  ImageFolder() = QFileInfo(fileName).absolutePath();
  SaveImage(fileName);
}

void TChart::SaveImage(const QString& fileName) {
  // Made in memory first, then written as the curve exports are: all at
  // once, an old file kept on failure, and a message with the reason.
  QByteArray bytes;
  if (QFileInfo(fileName).suffix().compare(QStringLiteral("pdf"), Qt::CaseInsensitive) == 0) {
    // QCustomPlot writes its PDF only to a named file: a private one first.
    QTemporaryDir folder;
    const QString draft = folder.filePath(QStringLiteral("chart.pdf"));
    QFile file(draft);
    if (!folder.isValid() ||
        !savePdf(draft, width(), height(), QCP::epAllowCosmetic, QStringLiteral("Kelvane"),
                 yAxis->label()) ||
        !file.open(QIODevice::ReadOnly))
      throw TError("Cannot write " + fileName.toStdString() + ": the PDF could not be made in " +
                   QDir::tempPath().toStdString());
    bytes = file.readAll();
  } else {
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!toPixmap(width(), height()).save(&buffer, "PNG"))
      throw TError("Cannot write " + fileName.toStdString() + ": the image could not be made");
  }
  WriteFileAtomically(QFile::encodeName(fileName).toStdString(),
                      std::string(bytes.constData(), static_cast<std::size_t>(bytes.size())));
}

void TChart::CopyImage() { QGuiApplication::clipboard()->setPixmap(toPixmap(width(), height())); }
