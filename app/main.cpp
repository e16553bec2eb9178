// Entry point: the application object, the one window, the event loop.
// The command line is ignored (Qt may take its own options from it) and the
// exit code is always 0.
#include <memory>

#include "Mainform/Mainform.h"

int main(int argc, char** argv) {
  TApplication application(argc, argv);
  try {
    DecimalSeparator = SystemDecimalSeparator();
    auto form = std::make_unique<TMForm>();
    MForm = form.get();
    form->show();
    application.exec();
  } catch (...) {
    // An error while the window is being built ends the program after its
    // message.
    ShowCurrentException();
  }
  return 0;
}
