// The step of one species: the straightforward loop that defines every result,
// what every kernel shares around its moving part, and the choice of the
// kernel that TSpecies::Advance runs.
#include "Diffunit/Diffunit.h"
#include "Diffunit/Kernels.h"
#include "Statg/Statg.h"

std::int32_t MoveMoleculesReference(const TVolume& volume, TMolCoord* molecules, std::int32_t count,
                                    double sigma) {
  // The ribs are read afresh each step: new ribs act on existing positions.
  const double b0 = volume.OuterRib;
  const double b1 = volume.InnerRib;
  std::int32_t inside = 0;

  // Per axis, in x, y, z order: p <- p + N(0, Sigma) from that axis' stream.
  // A molecule whose coordinate passes the wall (|p| > b0, strictly) goes back
  // onto the wall at once and skips its remaining axes and the inside test.
  // Inside means every coordinate strictly within -b1 .. b1.
  for (std::int32_t i = 0; i < count; ++i) {
    TMolCoord& p = molecules[i];
    p.x = p.x + NextNormal(0.0, sigma, StepStateX);
    if (std::fabs(p.x) > b0) {
      ReinjectAtWall(volume, p);
      continue;
    }
    p.y = p.y + NextNormal(0.0, sigma, StepStateY);
    if (std::fabs(p.y) > b0) {
      ReinjectAtWall(volume, p);
      continue;
    }
    p.z = p.z + NextNormal(0.0, sigma, StepStateZ);
    if (std::fabs(p.z) > b0) {
      ReinjectAtWall(volume, p);
      continue;
    }
    if (std::fabs(p.x) < b1 && std::fabs(p.y) < b1 && std::fabs(p.z) < b1) ++inside;
  }
  return inside;
}

void TopUpAtWall(TSpecies& species) {
  // Spare slots enter at the wall, at most ShellCount per step, and move from
  // the next step on.
  if (species.ActiveCount >= species.SlotCount) return;
  const std::int32_t n = std::min(species.ShellCount, species.SlotCount - species.ActiveCount);
  for (std::int32_t j = species.ActiveCount; j < species.ActiveCount + n; ++j) {
    ReinjectAtWall(*species.Volume, species.Molecules[j]);
    ++species.OutsideCount;
  }
}

void AdvanceWith(TSpecies& species, TMoveMolecules move) {
  species.ActiveCount = species.InsideCount + species.OutsideCount;
  const std::int32_t inside =
      move(*species.Volume, species.Molecules.data(), species.ActiveCount, species.Sigma);
  species.InsideCount = inside;
  species.OutsideCount = species.ActiveCount - inside;
  TopUpAtWall(species);
}

void AdvanceReference(TSpecies& species) { AdvanceWith(species, MoveMoleculesReference); }
void AdvanceAvx512(TSpecies& species) { AdvanceWith(species, MoveMoleculesAvx512); }
void AdvanceAvx2(TSpecies& species) { AdvanceWith(species, MoveMoleculesAvx2); }

// __builtin_cpu_supports also checks that the operating system saves the
// wide registers, not only that the CPU has the instructions.
bool Avx512Supported() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
         __builtin_cpu_supports("avx512ifma");
}

bool Avx2Supported() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
}

TAdvanceKernel FastestKernel() {
  if (Avx512Supported()) return AdvanceAvx512;
  if (Avx2Supported()) return AdvanceAvx2;
  return AdvanceReference;
}

TAdvanceKernel AdvanceKernel = FastestKernel();

void TSpecies::Advance() { AdvanceKernel(*this); }
