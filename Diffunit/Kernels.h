// Kernels of TSpecies::Advance. The reference kernel defines every bit of the
// result; every faster kernel reproduces it exactly: the same positions, the
// same counters and the same four generator states after every step.
//
// The fast kernels need instructions that not every x86-64 CPU has. Each one
// lives in its own source file, the only file compiled with those
// instructions enabled, and runs only where its "Supported" function says yes.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Diffunit/Diffunit.h"
#include "Statg/Statg.h"

// Whether the x86-64 kernels are built: exactly where the compiler targets
// x86-64, as the build decides which of their files it compiles.
#if defined(__x86_64__) || defined(_M_X64)
#define KELVANE_X86_KERNELS 1
#else
#define KELVANE_X86_KERNELS 0
#endif

// One step of one species: the signature every kernel shares.
using TAdvanceKernel = void (*)(TSpecies& species);

// The moving part of a kernel: moves the `count` leading molecules of
// `molecules` one step (x, y, z displacements, escapes re-injected at the wall
// of `volume`) with step width `sigma` [m], drawing from `streams` in the
// reference's order and leaving them where the last draw left them, and
// returns how many molecules ended inside the inner cube. The kernels differ
// only here. Any run of molecules can be moved on its own, from the stream
// states the molecules before it leave: that is how a step is shared among
// threads (Workers.h).
using TMoveMolecules = std::int32_t (*)(const TVolume& volume, TMolCoord* molecules,
                                        std::int32_t count, double sigma, TStreamStates& streams);

// The scan of a kernel: advances `streams` exactly as moving the `count`
// leading molecules of `molecules` would, reading them only. It must decide
// every escape as the moving part would, but computes a displacement only
// where one could reach the wall (see ScanReference in Advance.cpp), which
// makes it several times cheaper than moving.
using TScanMolecules = void (*)(const TVolume& volume, const TMolCoord* molecules,
                                std::int32_t count, double sigma, TStreamStates& streams);

// The near-wall list of a run of molecules, the first half of settling a
// shared step's stream offsets another way than the scan (Workers.h). The X
// stream never shifts, so every escape on x is decided at once; each y or z
// coordinate of a molecule that stays on x and that a step could take past
// the wall becomes one entry. The entries are in slot order, in four arrays
// (one vector load of each reads the entries of a round of the chain):
// - Jumps: the multiplier that leads from the run's Y (or Z) state, shifted
//   by the y and z escapes before the entry, to the entry's state: 16807^(12 i)
//   times 16807^-11 for each escape on x among the run's first i molecules, mod
//   2^32 (bits 0 to 31), and the flags below;
// - Low and High: the entry escapes where the sum of its twelve states,
//   each times 2^21, is below Low or above High; within DoubtWidth of either
//   bound the exact step decides;
// - Positions: the coordinate, for the exact step.
// After the last entry come NearListPadding entries that never escape, so
// that a round of the chain reads whole vectors past the end.
struct TNearList {
  std::uint64_t* Jumps = nullptr;
  std::int64_t* Low = nullptr;
  std::int64_t* High = nullptr;
  double* Positions = nullptr;
  std::int32_t Count = 0;     // entries
  std::int32_t XEscapes = 0;  // molecules of the run that leave on x
};

namespace NearFlags {
constexpr std::uint64_t OnZ = std::uint64_t{1} << 63;       // the entry is a z coordinate
constexpr std::uint64_t ZFollows = std::uint64_t{1} << 62;  // a y entry whose z comes next
constexpr std::uint64_t Exact = std::uint64_t{1} << 61;     // the bounds do not apply
}  // namespace NearFlags

constexpr int NearListPadding = 16;
// Entries a list of `count` molecules may need, with its padding and the
// whole vectors its builder stores past the last entry.
constexpr std::int64_t NearListCapacity(std::int32_t count) {
  return 2 * std::int64_t{count} + NearListPadding + 32;
}

// Lists the `count` leading molecules of `molecules`, whose first X state is
// `xState` (see TNearList), into `list`, which has room for
// NearListCapacity(count) entries.
using TListNear = void (*)(const TVolume& volume, const TMolCoord* molecules, std::int32_t count,
                           double sigma, std::int32_t xState, TNearList& list);
// Advances `streams` from the start of a run of `count` molecules listed in
// `list` to its end, exactly as moving them would: the chain of the run's
// escapes on y and z.
using TChainNear = void (*)(const TVolume& volume, const TNearList& list, std::int32_t count,
                            double sigma, TStreamStates& streams);

// The top-up at the end of a step: activates spare slots at the outer wall
// (4 draws each). Shared by every kernel.
void TopUpAtWall(TSpecies& species);

// A whole step of `species` around a moving part `move` (called as
// TMoveMolecules is): the counters before and after, the engine's streams
// handed in and taken back, and the top-up. Every kernel is this.
template <class TMove>
void AdvanceWith(TSpecies& species, TMove&& move) {
  species.ActiveCount = species.InsideCount + species.OutsideCount;
  // A local copy, so that the kernels keep the states in registers: nothing
  // they write can alias them.
  TStreamStates streams = species.Volume->Streams;
  const std::int32_t inside =
      move(*species.Volume, species.Molecules.data(), species.ActiveCount, species.Sigma, streams);
  species.Volume->Streams = streams;
  species.InsideCount = inside;
  species.OutsideCount = species.ActiveCount - inside;
  TopUpAtWall(species);
}

// The straightforward loop, molecule by molecule in slot order. Runs anywhere.
void AdvanceReference(TSpecies& species);

// Eight molecules at a time in 512-bit lanes. Needs AVX-512F, DQ and IFMA
// (Ice Lake, Zen 4 and later).
void AdvanceAvx512(TSpecies& species);
bool Avx512Supported();

// Four molecules at a time in 256-bit lanes. Needs AVX2 and FMA.
void AdvanceAvx2(TSpecies& species);
bool Avx2Supported();

// The wall placement of ReinjectAtWall, for kernels that hold the Y and Z
// stream states in their own registers: `yState` and `zState` are the states that
// the two free coordinates' draws leave; side and face are drawn from
// `placement`. The same draws and the same bits as ReinjectAtWall.
// Inline, so that the kernels keep it on their escape path without a call; it
// stays generic code, as it comes before their target pragmas.
inline void PlaceAtWall(double outerRib, std::int32_t& placement, std::int32_t yState,
                        std::int32_t zState, TMolCoord& p) {
  const double b0 = outerRib;
  const double side = NextUniform(placement) > 0.5 ? 1.0 : -1.0;
  // A draw of exactly 1 (state 2^31 - 1) would give 3; it belongs to face 2.
  const int face = std::min(static_cast<int>(3.0 * NextUniform(placement)), 2);
  // The free coordinates are (1 - 2u) b0, u being the value NextUniform
  // returned when it left those states.
  const double wall = side * b0;
  const double first = (1.0 - 2.0 * (static_cast<double>(yState) * UniformScale)) * b0;
  const double second = (1.0 - 2.0 * (static_cast<double>(zState) * UniformScale)) * b0;
  // Without a branch on the random face: which of wall, first and second goes
  // to x, y and z. Face 0 fixes x, face 1 fixes z, face 2 fixes y.
  const double coordinates[3] = {wall, first, second};
  constexpr unsigned char order[3][3] = {{0, 1, 2}, {1, 2, 0}, {1, 0, 2}};
  p.x = coordinates[order[face][0]];
  p.y = coordinates[order[face][1]];
  p.z = coordinates[order[face][2]];
}

// The moving parts (see TMoveMolecules). The reference defines every bit; the
// other two are callable only where their kernel is supported.
std::int32_t MoveMoleculesReference(const TVolume& volume, TMolCoord* molecules, std::int32_t count,
                                    double sigma, TStreamStates& streams);
std::int32_t MoveMoleculesAvx512(const TVolume& volume, TMolCoord* molecules, std::int32_t count,
                                 double sigma, TStreamStates& streams);
std::int32_t MoveMoleculesAvx2(const TVolume& volume, TMolCoord* molecules, std::int32_t count,
                               double sigma, TStreamStates& streams);

// The scans (see TScanMolecules): the portable one beside the reference, and
// those in AVX-512 and AVX2 lanes.
void ScanReference(const TVolume& volume, const TMolCoord* molecules, std::int32_t count,
                   double sigma, TStreamStates& streams);
void ScanAvx512(const TVolume& volume, const TMolCoord* molecules, std::int32_t count, double sigma,
                TStreamStates& streams);
void ScanAvx2(const TVolume& volume, const TMolCoord* molecules, std::int32_t count, double sigma,
              TStreamStates& streams);

// The near-wall lists and chains in AVX-512 and in AVX2 lanes.
void ListNearAvx512(const TVolume& volume, const TMolCoord* molecules, std::int32_t count,
                    double sigma, std::int32_t xState, TNearList& list);
void ChainNearAvx512(const TVolume& volume, const TNearList& list, std::int32_t count, double sigma,
                     TStreamStates& streams);
void ListNearAvx2(const TVolume& volume, const TMolCoord* molecules, std::int32_t count,
                  double sigma, std::int32_t xState, TNearList& list);
void ChainNearAvx2(const TVolume& volume, const TNearList& list, std::int32_t count, double sigma,
                   TStreamStates& streams);

// One kernel: a row of the kernel table. Everything that differs between
// the kernels is here; the engine, the tests and the benchmarks read the rows.
struct TKernel {
  const char* Name;        // as KELVANE_KERNEL names it
  int Lanes;               // molecules a block of its lanes holds (1: one at a time)
  bool (*Supported)();     // whether this CPU (and its operating system) runs it
  TAdvanceKernel Advance;  // a whole step of one species on the calling thread
  TMoveMolecules Move;     // the moving part, for a step shared among threads
  TScanMolecules Scan;     // the scan of a shared step
  // The near-wall list and its chain, which settle a shared step in place of
  // the scan; null where the kernel has none.
  TListNear ListNear;
  TChainNear ChainNear;
};

// Every kernel, the slowest first: reference, avx2, avx512 on x86-64, the
// reference alone elsewhere. Rows are never copied: a kernel is known by its
// address in this table.
constexpr int KernelCount = KELVANE_X86_KERNELS ? 3 : 1;
extern const TKernel Kernels[KernelCount];

// The fastest kernel this CPU supports.
const TKernel& FastestKernel();

// The kernel that `value` (the text of KELVANE_KERNEL, or null) names, if
// this CPU supports it; otherwise the fastest supported kernel, with one line
// naming the value appended to `messages` (none for null).
const TKernel& KernelFromEnvironment(const char* value, std::vector<std::string>& messages);
