#include "Mainform/CurveExport.h"

#include <QFileInfo>
#include <QSaveFile>

#include "Diffunit/Diffunit.h"
#include "Mainform/ChartView.h"
#include "Mainform/Conversions.h"

std::string CurveText(const TChart& chart, int curve) {
  std::string text;
  for (int i = 0; i < chart.PointCount(curve); ++i) {
    const double y = chart.PointY(curve, i);
    const double x = chart.PointX(curve, i);
    text += ExportLine(x, y);
  }
  return text;
}

namespace {

// Why `file` cannot be written. QSaveFile words the two cases it checks
// itself as sentences of its own; the system's words read better after
// "Cannot write <file>:".
QString Reason(const QFileInfo& target, const QSaveFile& file) {
  if (target.isDir()) return QStringLiteral("Is a directory");
  if (target.exists() && !target.isWritable()) return QStringLiteral("Permission denied");
  return file.errorString();
}

// Writes all of `bytes`. A disk that fills up first takes part of a write
// and then refuses the rest; only that second write reports why. Unbuffered,
// so that nothing is left to write, unchecked, when the file is committed.
bool WriteAll(QSaveFile& file, const std::string& bytes) {
  const char* data = bytes.data();
  qint64 left = static_cast<qint64>(bytes.size());
  while (left > 0) {
    const qint64 written = file.write(data, left);
    if (written <= 0) return false;
    data += written;
    left -= written;
  }
  return true;
}

}  // namespace

// The bytes go to a new file beside the old one, which replaces it only once
// everything is written: a full disk or any other failure leaves the old
// file as it was.
void WriteExportFile(const QString& fileName, const std::string& bytes) {
  const QFileInfo target(fileName);
  QSaveFile file(fileName);
  if (file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) && WriteAll(file, bytes) &&
      file.commit())
    return;
  std::string message =
      "Cannot write " + fileName.toStdString() + ": " + Reason(target, file).toStdString();
  if (target.isFile()) message += " (" + fileName.toStdString() + " keeps what it held)";
  throw TError(message);
}
