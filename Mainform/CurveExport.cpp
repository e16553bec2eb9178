#include "Mainform/CurveExport.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

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

// The file is opened first, so one that cannot be opened keeps its old content.
void WriteExportFile(const QString& fileName, const std::string& bytes) {
  const QByteArray name = fileName.toLocal8Bit();
  const auto failure = [&fileName](int error) {
    return TError("Cannot write " + fileName.toStdString() + ": " +
                  (error != 0 ? std::strerror(error) : "write failed"));
  };
  errno = 0;
  std::FILE* file = std::fopen(name.constData(), "wb");
  if (!file) throw failure(errno);
  errno = 0;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  int error = written ? 0 : errno;
  errno = 0;
  const bool closed = std::fclose(file) == 0;
  if (!written) throw failure(error);
  if (!closed) throw failure(errno);
}
