// Drives the engine built from nothing but its sources and the two headers,
// with no flags of the project's build: the way another program would use it.
#include <cstdio>

#include "Diffunit/Diffunit.h"
#include "Statg/Statg.h"

int main() {
  TVolume volume;
  volume.SetParameters(2e-6, 1e-6, 0.001, 293.15, 1e-3);
  int reports = 0;
  volume.SetStepCallback([&](std::int32_t, std::int32_t, double, double, double) { ++reports; });
  volume.AddSpecies(5e21, 1.43e-10, 1.5e-9);
  for (int k = 0; k < 3; ++k) volume.Step();
  std::printf("%d steps, %d inside\n", reports, volume.Species[0].InsideCount);
  return reports == 3 ? 0 : 1;
}
