#include "app/RunCommand.h"

#include <CLI/CLI.hpp>

#ifndef KELVANE_VERSION
#define KELVANE_VERSION "unknown"
#endif

int RunCommand(const std::vector<std::string>& arguments, TConsole& console) {
  CLI::App app("Runs Kelvane's simulation without a window.", "kelvane-run");
  app.set_version_flag("--version", "kelvane-run " KELVANE_VERSION);
  std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::Success&) {
    console.Out << app.help();
    return RunSucceeded;
  } catch (const CLI::ParseError& error) {
    console.Err << "kelvane-run: " << error.what() << "\n";
    return BadInput;
  }
  return RunSucceeded;
}
