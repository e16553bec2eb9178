// The engine alone, doing what the window does at start-up followed by
// `steps` timer ticks, and writing the two export files as the "C1(t)" and
// "N1(t)" buttons would. The end-to-end test compares the real program's
// files with these byte for byte.
//
//   e2e_reference <steps> <C file> <N file>
//
// Exit code 0 on success, 1 when the engine fails, 2 on bad arguments or a
// file that cannot be written.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "Diffunit/Diffunit.h"
#include "Mainform/Conversions.h"
#include "Mainform/Parameters.h"

namespace {

bool WriteWhole(const char* name, const std::string& text) {
  std::FILE* file = std::fopen(name, "wb");
  if (!file) return false;
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  return std::fclose(file) == 0 && written;
}

}  // namespace

int main(int argc, char** argv) {
  char* end = nullptr;
  const long steps = argc == 4 ? std::strtol(argv[1], &end, 10) : -1;
  if (argc != 4 || *end != '\0' || steps < 0) {
    std::fprintf(stderr, "usage: e2e_reference <steps> <C file> <N file>\n");
    return 2;
  }

  std::string concentrationLines;  // "C1(t).txt": time ; insideConcentration
  std::string countLines;          // "N1(t).txt": time ; insideCount
  try {
    TVolume volume;
    // The window's start-up: Apply with the table defaults, then "+ Species"
    // with the species defaults.
    SetDefaultParameters(volume);
    volume.SetStepCallback([&](std::int32_t insideCount, std::int32_t, double insideConcentration,
                               double, double time) {
      concentrationLines += ExportLine(time, insideConcentration);
      countLines += ExportLine(time, static_cast<double>(insideCount));
    });
    AddDefaultSpecies(volume);
    for (long step = 0; step < steps; ++step) volume.Step();
  } catch (const TError& error) {
    std::fprintf(stderr, "e2e_reference: %s\n", error.what());
    return 1;
  }
  if (!WriteWhole(argv[2], concentrationLines) || !WriteWhole(argv[3], countLines)) {
    std::perror("e2e_reference");
    return 2;
  }
  return 0;
}
