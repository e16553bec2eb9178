// kelvane-run: a whole run from the command line, as the window would do it
// with the same values, with its outputs written as the window writes them.
#pragma once

#include <csignal>
#include <ostream>
#include <string>
#include <vector>

// Exit codes.
inline constexpr int RunSucceeded = 0;
inline constexpr int RunFailed = 1;  // the engine failed midway, or an output could not be written
inline constexpr int BadInput = 2;   // nothing run, no output written
inline constexpr int Interrupted = 130;

// Where the command writes, and what it may ask of its terminal.
struct TConsole {
  std::ostream& Out;
  std::ostream& Err;
  bool ErrIsTerminal = false;  // draw a progress bar on Err
  // Set (by a signal handler) to stop the run; the outputs then keep what they held.
  const volatile std::sig_atomic_t* Stop = nullptr;
};

// Runs the command with `arguments` (without the program's name); returns the exit code.
int RunCommand(const std::vector<std::string>& arguments, TConsole& console);
