// The shared known-answer list (tests/known_answers.txt): read and checked
// by one piece of code on every target, the x86-64 tests (a gtest) and the
// builds for other processors (known_answers_runner), so that a target
// cannot judge by answers of its own.
#pragma once

#include <string>
#include <vector>

struct TKnownAnswerResult {
  int Passed = 0;
  std::vector<std::string> Failures;  // "line N: what differs"
};

// Checks every record of the list at `path`. A record that cannot be read
// is a failure too, and so is a list without any record.
TKnownAnswerResult CheckKnownAnswers(const std::string& path);
