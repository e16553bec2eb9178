#include "Mainform/ErrorDisplay.h"

#include <QMessageBox>
#include <cstdio>
#include <exception>
#include <utility>

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
