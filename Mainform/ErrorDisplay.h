// Error display. Every error that escapes a handler ends up here: by default
// a modal critical message box captioned with the application's title. Tests
// install their own display to observe the messages.
#pragma once

#include <QApplication>
#include <QString>
#include <functional>

using TErrorDisplay = std::function<void(const QString& message)>;
// Installs `display` (an empty one restores the message box) and returns the
// one it replaces.
TErrorDisplay SetErrorDisplay(TErrorDisplay display);
void ShowError(const QString& message);
// A note for the user that is no error (an information box, or what tests
// install with SetNoteDisplay).
TErrorDisplay SetNoteDisplay(TErrorDisplay display);
void ShowNote(const QString& message);

// Shows the exception being handled; call only inside a catch block. TError
// and other std::exception show their message, anything else an empty text.
void ShowCurrentException();

// A slot that runs object->*handler and shows any error it throws: the error
// stops that handler only, and the program goes on.
template <class TObject>
auto Guarded(TObject* object, void (TObject::*handler)()) {
  return [object, handler] {
    try {
      (object->*handler)();
    } catch (...) {
      ShowCurrentException();
    }
  };
}

// The application object: no exception ever crosses Qt's event loop. One that
// escapes an event handler is shown by the error display and the program
// goes on.
class TApplication : public QApplication {
 public:
  TApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
};
