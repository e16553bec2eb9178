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

TErrorDisplay& InstalledNoteDisplay() {
  static TErrorDisplay display;
  return display;
}

TErrorDisplay SetNoteDisplay(TErrorDisplay display) {
  return std::exchange(InstalledNoteDisplay(), std::move(display));
}

void ShowNote(const QString& message) {
  if (const TErrorDisplay& display = InstalledNoteDisplay()) {
    display(message);
  } else if (qApp) {
    QMessageBox::information(QApplication::activeWindow(),
                             QGuiApplication::applicationDisplayName(), message);
  }
}

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
