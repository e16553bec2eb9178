// Writing the measured curves, and any other file the window exports.
#pragma once

#include <QString>
#include <string>

class TChart;

// The text of `curve` of `chart`: one line "x ; y" with CR LF per point, in
// stored order, numbers always with '.'.
std::string CurveText(const TChart& chart, int curve);

// Writes `bytes` to `fileName`, replacing what it held, all at once: on any
// failure (a full disk included) an existing file keeps what it held, and
// TError "Cannot write <file>: <reason>" says so.
void WriteExportFile(const QString& fileName, const std::string& bytes);
