// Helpers shared by the window tests.
#pragma once

#include <QString>
#include <ostream>

// Test failures show a QString as its text rather than its bytes.
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}
