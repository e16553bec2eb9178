// Checks the shared known-answer list where GoogleTest is not at hand: the
// builds for other processors (arm64 under qemu, WebAssembly in node).
//   known_answers_runner LIST
// Prints every failure, then "N passed, N failed"; exits 0 only when all
// passed.
#include <cstdio>

#include "tests/known_answer_list.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: known_answers_runner LIST\n");
    return 2;
  }
  const TKnownAnswerResult result = CheckKnownAnswers(argv[1]);
  for (const std::string& failure : result.Failures) std::printf("FAILED %s\n", failure.c_str());
  std::printf("%d passed, %zu failed\n", result.Passed, result.Failures.size());
  return result.Failures.empty() ? 0 : 1;
}
