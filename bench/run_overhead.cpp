// kelvane-run against the bare engine over the same steps at the defaults:
// what the command adds (parsing, the window's session, writing the CSV and
// both curves as it goes) to the steps themselves. The two alternate in one
// process so that a busy machine slows both alike, each first in turn.
//
//   build/bench/run_overhead [steps (10000)] [rounds (3)]
//
// Prints each round's wall times and their ratio, then the medians. Not a
// test: it asserts nothing. Peak memory: /usr/bin/time -v on kelvane-run.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "Diffunit/Diffunit.h"
#include "Session/Parameters.h"
#include "Statg/Statg.h"
#include "app/RunCommand.h"
#include "bench/median.h"

namespace {

double Seconds(const std::chrono::steady_clock::time_point& start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double BareEngine(long steps) {
  const auto start = std::chrono::steady_clock::now();
  TVolume volume;
  SetDefaultParameters(volume);
  AddDefaultSpecies(volume);
  for (long step = 0; step < steps; ++step) volume.Step();
  return Seconds(start);
}

double Command(long steps, const std::string& folder) {
  const auto start = std::chrono::steady_clock::now();
  std::ostringstream out, err;
  TConsole console{out, err};
  const int code = RunCommand(
      {"--steps", std::to_string(steps), "--csv", folder + "/run.csv", "--curves", folder},
      console);
  if (code != RunSucceeded) {
    std::fprintf(stderr, "kelvane-run failed: %s", err.str().c_str());
    std::exit(1);
  }
  return Seconds(start);
}

}  // namespace

int main(int argc, char** argv) {
  const long steps = argc > 1 ? std::atol(argv[1]) : 10000;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
  const std::string folder =
      (std::filesystem::temp_directory_path() / "kelvane-run-overhead").string();
  std::vector<double> bare, command;
  for (int round = 0; round < rounds; ++round) {
    // Each goes first every other round: the first of a pair tends to run slower.
    if (round % 2 == 0) {
      bare.push_back(BareEngine(steps));
      command.push_back(Command(steps, folder));
    } else {
      command.push_back(Command(steps, folder));
      bare.push_back(BareEngine(steps));
    }
    std::printf("round %d: engine %.2f s, kelvane-run %.2f s, ratio %.3f\n", round + 1, bare.back(),
                command.back(), command.back() / bare.back());
    std::fflush(stdout);
  }
  std::printf("median of %d, %ld steps: engine %.2f s, kelvane-run %.2f s, ratio %.3f\n", rounds,
              steps, Median(bare), Median(command), Median(command) / Median(bare));
  std::filesystem::remove_all(folder);
  return 0;
}
