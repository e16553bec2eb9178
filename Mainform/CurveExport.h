// Writing the measured curves, and any other file the window exports.
#pragma once

#include <QString>
#include <string>

class TChart;

// The text of `curve` of `chart`: one line "x ; y" with CR LF per point, in
// stored order, numbers always with '.'.
std::string CurveText(const TChart& chart, int curve);

// Writes `bytes` to `fileName`, replacing what it held. Throws TError
// "Cannot write <file>: <reason>" on every failure, including a short write
// or a failed close.
void WriteExportFile(const QString& fileName, const std::string& bytes);
