// Entry point of kelvane-run.
#include <unistd.h>

#include <csignal>
#include <iostream>

#include "app/RunCommand.h"

namespace {

volatile std::sig_atomic_t StopRequested = 0;

void RequestStop(int) { StopRequested = 1; }

// Whether the progress bar has a terminal to redraw. Built for node
// (WebAssembly), the C library says yes for every standard stream, a file or
// a pipe too; there the bar stays off, as it does for files elsewhere.
bool StandardErrorIsTerminal() {
#ifdef __EMSCRIPTEN__
  return false;
#else
  return isatty(STDERR_FILENO) == 1;
#endif
}

}  // namespace

int main(int argc, char** argv) {
  std::signal(SIGINT, RequestStop);
  std::signal(SIGTERM, RequestStop);
  std::ios::sync_with_stdio(false);
  TConsole console{std::cout, std::cerr, StandardErrorIsTerminal(), &StopRequested};
  const int code = RunCommand(std::vector<std::string>(argv + 1, argv + argc), console);
  std::cout.flush();
  return code;
}
