// The step of one species: the straightforward loop that defines every result,
// the portable scan, what every kernel shares around its moving part, and the
// kernel table and the choice of a kernel by name.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "Diffunit/Diffunit.h"
#include "Diffunit/Kernels.h"
#include "Statg/Statg.h"

namespace {

// A re-injection at the wall from `streams`: the same draws as ReinjectAtWall.
void ReinjectFrom(TStreamStates& streams, double outerRib, TMolCoord& p) {
  NextUniform(streams.Y);
  NextUniform(streams.Z);
  PlaceAtWall(outerRib, streams.Placement, streams.Y, streams.Z, p);
}

}  // namespace

std::int32_t MoveMoleculesReference(const TVolume& volume, TMolCoord* molecules, std::int32_t count,
                                    double sigma, TStreamStates& streams) {
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
    p.x = p.x + NextNormal(0.0, sigma, streams.X);
    if (std::fabs(p.x) > b0) {
      ReinjectFrom(streams, b0, p);
      continue;
    }
    p.y = p.y + NextNormal(0.0, sigma, streams.Y);
    if (std::fabs(p.y) > b0) {
      ReinjectFrom(streams, b0, p);
      continue;
    }
    p.z = p.z + NextNormal(0.0, sigma, streams.Z);
    if (std::fabs(p.z) > b0) {
      ReinjectFrom(streams, b0, p);
      continue;
    }
    if (std::fabs(p.x) < b1 && std::fabs(p.y) < b1 && std::fabs(p.z) < b1) ++inside;
  }
  return inside;
}

// Which coordinates can reach the wall. NextNormal's twelve uniforms each lie
// in [0, 1] (the largest state gives (2^31 - 1) UniformScale, which rounds to
// 1), so each rounded partial sum stays within [0, k] and the sum within
// [0, 12]; sum - 6 lies in [-6, 6], and as rounding is monotone the step
// d = (sum - 6) Sigma + 0 has |d| <= fl(6 |Sigma|) = `reach`. Then
// |fl(p + d)| <= fl(|p| + |d|) <= fl(|p| + reach), again by monotone
// rounding: where fl(|p| + reach) <= b0 the coordinate stays within the wall
// whatever the draws, and its displacement is not needed to know that. A NaN
// anywhere fails the test and leaves the coordinate to the exact computation.
//
// The scan follows the reference loop's draws without moving anything: a
// molecule takes 12 draws from each axis' stream, or, when it escapes, 12
// from the streams of the axes up to the one it leaves on, then 1 more each
// from the Y and Z streams and 2 from the placement stream for its
// re-injection: an escape on x moves Y and Z by 1, on y Y by 13 and Z by 1,
// on z both by 13.
void ScanReference(const TVolume& volume, const TMolCoord* molecules, std::int32_t count,
                   double sigma, TStreamStates& streams) {
  const double b0 = volume.OuterRib;
  const double reach = 6.0 * std::fabs(sigma);
  constexpr std::uint32_t one = JumpMultiplier(1), two = JumpMultiplier(2);
  constexpr std::uint32_t twelve = JumpMultiplier(12), thirteen = JumpMultiplier(13);
  const auto escapes = [&](double p, std::int32_t state) {
    return !(std::fabs(p) + reach <= b0) && std::fabs(p + NextNormal(0.0, sigma, state)) > b0;
  };
  TStreamStates s = streams;
  for (std::int32_t i = 0; i < count; ++i) {
    const TMolCoord& p = molecules[i];
    const bool x = escapes(p.x, s.X);
    s.X = Jumped(s.X, twelve);
    const bool y = !x && escapes(p.y, s.Y);
    const bool z = !x && !y && escapes(p.z, s.Z);
    s.Y = Jumped(s.Y, x ? one : y || z ? thirteen : twelve);
    s.Z = Jumped(s.Z, x || y ? one : z ? thirteen : twelve);
    if (x || y || z) s.Placement = Jumped(s.Placement, two);
  }
  streams = s;
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

void AdvanceReference(TSpecies& species) { AdvanceWith(species, MoveMoleculesReference); }

// The fast kernels exist only where the compiler targets x86-64 (the build
// compiles their files there alone); other processors run the reference.
#if KELVANE_X86_KERNELS
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
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
}
#endif

namespace {
bool Anywhere() { return true; }
}  // namespace

const TKernel Kernels[KernelCount] = {
    {"reference", 1, Anywhere, AdvanceReference, MoveMoleculesReference, ScanReference, nullptr,
     nullptr},
#if KELVANE_X86_KERNELS
    {"avx2", 4, Avx2Supported, AdvanceAvx2, MoveMoleculesAvx2, ScanAvx2, ListNearAvx2,
     ChainNearAvx2},
    {"avx512", 8, Avx512Supported, AdvanceAvx512, MoveMoleculesAvx512, ScanAvx512, ListNearAvx512,
     ChainNearAvx512},
#endif
};

const TKernel& FastestKernel() {
  for (int k = KernelCount - 1; k > 0; --k)
    if (Kernels[k].Supported()) return Kernels[k];
  return Kernels[0];
}

const TKernel& KernelFromEnvironment(const char* value, std::vector<std::string>& messages) {
  if (!value) return FastestKernel();
  const TKernel& fastest = FastestKernel();
  const std::string named = std::string("Kelvane: KELVANE_KERNEL=\"") + value + "\"";
  for (const TKernel& kernel : Kernels) {
    if (std::strcmp(value, kernel.Name) != 0) continue;
    if (kernel.Supported()) return kernel;
    messages.push_back(named + " is not supported on this CPU; using " + fastest.Name);
    return fastest;
  }
  // The names this build knows: "reference, avx2 or avx512" on x86-64.
  std::string names = Kernels[0].Name;
  for (int k = 1; k < KernelCount; ++k)
    names += std::string(k + 1 < KernelCount ? ", " : " or ") + Kernels[k].Name;
  messages.push_back(named + " is not a kernel (" + names + "); using " + fastest.Name);
  return fastest;
}

void TSpecies::Advance() { Volume->Settings().Kernel->Advance(*this); }
