// Entry point: the application object, the one window, the event loop.
// `kelvane FILE` opens the session file or run CSV FILE at start (Qt takes
// its own options from the command line first); the exit code is always 0.
#include <QTimer>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "Mainform/Mainform.h"

int main(int argc, char** argv) {
  TApplication application(argc, argv);
  try {
    DecimalSeparator = SystemDecimalSeparator();
    // KELVANE_THREADS and KELVANE_KERNEL, read once; what cannot be followed
    // is named on standard error.
    std::vector<std::string> messages;
    const TEngineSettings settings = SettingsFromEnvironment(messages);
    for (const std::string& message : messages) std::fprintf(stderr, "%s\n", message.c_str());
    auto form = std::make_unique<TMForm>(settings);
    MForm = form.get();
    form->show();
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() > 1)
      QTimer::singleShot(0, form.get(), [window = form.get(), file = arguments[1]] {
        try {
          window->OpenSession(file);
        } catch (...) {
          ShowCurrentException();  // the window stays as it started
        }
      });
    application.exec();
  } catch (...) {
    // An error while the window is being built ends the program after its
    // message.
    ShowCurrentException();
  }
  return 0;
}
