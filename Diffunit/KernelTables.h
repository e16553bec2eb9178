// The jump tables that the fast step kernels share. A kernel includes this
// before its target pragma: the tables are built at compile time, and nothing
// here is compiled for a particular instruction set.
//
// A block of `Lanes` molecules is 3 * Lanes packed doubles x0 y0 z0 x1 ...,
// held in three vectors of `Lanes` 64-bit lanes; every lane draws from its own
// axis' stream. The generator is state <- state * 16807 mod 2^31, so the state
// k draws ahead is state * 16807^k, and a lane can jump to any of its draws.
#pragma once

#include <cstdint>
#include <limits>

#include "Diffunit/Kernels.h"
#include "Statg/Statg.h"

template <int Lanes>
struct TKernelTables {
  static constexpr int DrawsPerAxis = 12;  // uniforms per normal deviate
  static constexpr int VectorBytes = 8 * Lanes;

  // Entries of the block jumps (MakeBlockJumps): one for each packed double a
  // block's first escape can happen on, then one for each count of molecules
  // moved without any escape.
  static constexpr int EscapeEntries = 3 * Lanes;
  static constexpr int FirstEscapeAt(int packedDouble) { return packedDouble; }
  static constexpr int NoneEscaped(int molecules) { return EscapeEntries + molecules; }
  static constexpr int BlockJumpEntries = NoneEscaped(Lanes) + 1;

  // Lane l of vector v (0, 1, 2) is packed double Lanes v + l.
  static constexpr int MoleculeOf(int v, int l) { return (Lanes * v + l) / 3; }
  static constexpr int AxisOf(int v, int l) { return (Lanes * v + l) % 3; }

  // 16807^k mod 2^32 for k = 0 .. 12 * Lanes + 1: the multiplier of a jump by k draws.
  struct TPowers {
    std::uint32_t Of[DrawsPerAxis * Lanes + 2];
  };
  // Per-lane multipliers, [entry][vector][lane], read as vectors.
  template <int Entries>
  struct TLaneTable {
    alignas(VectorBytes) std::uint64_t Of[Entries][3][Lanes];
  };
  // 16807^k for k = 0 .. 12 in every lane, loaded as vectors (a broadcast
  // from a general register would take a shuffle slot for each of them).
  struct TBroadcastPowers {
    alignas(VectorBytes) std::uint64_t Of[DrawsPerAxis + 1][Lanes];
  };

  static constexpr TPowers MakePowers() {
    TPowers powers{};
    std::uint32_t power = 1;
    for (std::uint32_t& p : powers.Of) {
      p = power;
      power *= UniformMultiplier;
    }
    return powers;
  }

  static constexpr TBroadcastPowers MakeBroadcastPowers() {
    const TPowers powers = MakePowers();
    TBroadcastPowers table{};
    for (int k = 0; k <= DrawsPerAxis; ++k)
      for (int l = 0; l < Lanes; ++l) table.Of[k][l] = powers.Of[k];
    return table;
  }

  // Lane l of vector v: 16807^(12 j) for its molecule j, the jump from the
  // block's start to the lane's first draw.
  static constexpr TLaneTable<1> MakeLaneJumps() {
    const TPowers powers = MakePowers();
    TLaneTable<1> table{};
    for (int v = 0; v < 3; ++v)
      for (int l = 0; l < Lanes; ++l)
        table.Of[0][v][l] = powers.Of[DrawsPerAxis * MoleculeOf(v, l)];
    return table;
  }

  // How far each lane's stream moves in one block. Entry FirstEscapeAt(e):
  // the first escape is packed double e (molecule e / 3, axis e % 3): the
  // molecules up to that one drew their x steps, the escaping one its y and z
  // steps only up to the axis it left on, and its re-injection one more
  // uniform each from the Y and Z streams. Entry NoneEscaped(n): no
  // escape among n molecules.
  static constexpr TLaneTable<BlockJumpEntries> MakeBlockJumps() {
    const TPowers powers = MakePowers();
    TLaneTable<BlockJumpEntries> table{};
    for (int e = 0; e < BlockJumpEntries; ++e) {
      int draws[3] = {0, 0, 0};
      if (e < EscapeEntries) {
        const int molecule = e / 3, axis = e % 3;
        draws[0] = DrawsPerAxis * (molecule + 1);
        draws[1] = DrawsPerAxis * (molecule + (axis >= 1)) + 1;
        draws[2] = DrawsPerAxis * (molecule + (axis == 2)) + 1;
      } else {
        draws[0] = draws[1] = draws[2] = DrawsPerAxis * (e - EscapeEntries);
      }
      for (int v = 0; v < 3; ++v)
        for (int l = 0; l < Lanes; ++l) table.Of[e][v][l] = powers.Of[draws[AxisOf(v, l)]];
    }
    return table;
  }
};

// The scans (which settle the stream offsets of a step shared among threads)
// go through the molecules in windows of ScanWindow, in either kernel.
namespace ScanTables {

constexpr int ScanWindow = 128;  // molecules; a multiple of Lanes (128 measured best of 32 to 1024)

// 16807^(12 m) for m = 0 .. ScanWindow: molecule m's first draw of a window.
struct TMoleculeJumps {
  alignas(64) std::uint64_t Of[ScanWindow + 1];
};
constexpr TMoleculeJumps MakeMoleculeJumps() {
  TMoleculeJumps table{};
  for (int m = 0; m <= ScanWindow; ++m) table.Of[m] = JumpMultiplier(12u * m);
  return table;
}
constexpr TMoleculeJumps MoleculeJumps = MakeMoleculeJumps();

// The inverse of an odd multiplier modulo 2^32 (Newton's iteration, each step
// doubling the correct low bits): a jump backwards.
constexpr std::uint32_t Inverse(std::uint32_t a) {
  std::uint32_t x = 1;
  for (int k = 0; k < 5; ++k) x *= 2u - a * x;
  return x;
}
constexpr std::uint32_t BackEleven = Inverse(JumpMultiplier(11));
static_assert(BackEleven * JumpMultiplier(11) == 1u, "a jump back undoes the jump");

}  // namespace ScanTables

// What the near-wall lists (Kernels.h, TNearList) of every kernel share: the
// scale of their bounds and the width of the doubt around them.
//
// Why the bounds decide exactly. Let T be the sum of an entry's twelve
// states and T' = T 2^21 (what the lanes sum), so that the real sum of the
// uniforms is R = T UniformScale = T' / SumScale. The exact step d is within
// 2^-45 |Sigma| + 2^-1074 of (R - 6) Sigma (the twelve rounded uniforms and
// their rounded sums are within 2^-46 of R, then fl(S - 6) and the product
// round once each); p + d beyond b0 (1 + 2^-51) rounds to a double beyond b0,
// and p + d below b0 rounds to at most b0, and the same on the side of -b0.
// So with tau = ((w - p) / Sigma + 6) SumScale for the wall w = +-b0, the
// reference escapes past w for T' beyond tau by more than 2 b0 / |Sigma| +
// 128 (on the side that Sigma's sign gives), and stays within w for T' short
// of it by 128. The bounds are tau computed in doubles: with |p| <= 2 b0
// they are within 24 + 12 b0 / |Sigma| of the real tau (six roundings,
// relative 2^-53 each, of values below (3 b0 / |Sigma| + 6) SumScale, SumScale
// < 2^53). DoubtWidth covers the sum of both, with room: outside it the
// bounds decide as the reference does, and inside it the exact step does.
// Entries with |p| > 2 b0 or not finite, and every entry where b0 or Sigma
// are out of the ordinary (see DoubtWidth), take the exact step always.
namespace NearTables {

constexpr double SumScale = 2097152.0 / UniformScale;  // 2^21 / UniformScale, about 2^52
constexpr double BoundLimit = 0x1p60;                  // bounds are clamped within +-2^60
// A width that puts every real entry in doubt but no padding entry (Low
// INT64_MIN, High INT64_MAX, its sum 0): 3 2^60, so that 2 AlwaysDoubt < 2^63.
constexpr std::int64_t AlwaysDoubt = std::int64_t{3} << 60;

// The doubt around each bound, in units of T' (see above), for the outer rib
// `b0` and step width `sigma`.
inline std::int64_t DoubtWidth(double b0, double sigma) {
  const double reach = sigma < 0 ? -sigma : sigma;
  if (!(b0 >= 0x1p-1000 && b0 <= 0x1p1000 && reach >= 0x1p-900 && reach <= 0x1p900))
    return AlwaysDoubt;
  // One unit of T more, for kernels that round their bounds to whole units of T.
  const double width = 4096.0 + 2097152.0 + 192.0 * (b0 / reach);
  return width <= 0x1p58 ? static_cast<std::int64_t>(width) + 1 : AlwaysDoubt;
}

// The inverse of 16807^11 modulo 2^32 to the power `k`: the jump of an entry
// back by 11 draws for each escape on x before it.
constexpr std::uint32_t BackElevenPower(std::uint64_t k) {
  std::uint32_t result = 1, power = ScanTables::BackEleven;
  for (; k != 0; k >>= 1, power *= power)
    if (k & 1) result *= power;
  return result;
}

}  // namespace NearTables

namespace NearTables {

// The stream states at the end of a chained run of `count` >= 1 molecules
// from `start`: `xEscapes` escapes on x, `yzEscapes` on y and z, and
// `twiceY` and `twiceZ` twice the Y and Z states at the run's start, shifted
// by those escapes (mod 2^32), as the chain carries them.
inline TStreamStates ChainEnd(const TStreamStates& start, std::int32_t count, std::int32_t xEscapes,
                              std::int32_t yzEscapes, std::uint32_t twiceY, std::uint32_t twiceZ) {
  const std::uint32_t run = JumpMultiplier(12 * static_cast<std::uint64_t>(count));
  const std::uint32_t stays = run * BackElevenPower(static_cast<std::uint64_t>(xEscapes));
  TStreamStates end;
  end.X = Jumped(start.X, run);
  end.Y = Jumped(static_cast<std::int32_t>(twiceY >> 1), stays);
  end.Z = Jumped(static_cast<std::int32_t>(twiceZ >> 1), stays);
  const std::int64_t escapes = std::int64_t{xEscapes} + yzEscapes;
  // Drawn from only by escapes: without one it keeps its state (a jump by
  // nothing would clear a set bit 31).
  end.Placement =
      escapes ? Jumped(start.Placement, JumpMultiplier(2 * static_cast<std::uint64_t>(escapes)))
              : start.Placement;
  return end;
}

}  // namespace NearTables

namespace NearTables {

// Pads `list` after its last entry with entries that never escape and are
// never in doubt (their sum is 0: no jump).
inline void Pad(TNearList& list) {
  for (int k = 0; k < NearListPadding; ++k) {
    list.Jumps[list.Count + k] = 0;
    list.Low[list.Count + k] = std::numeric_limits<std::int64_t>::min();
    list.High[list.Count + k] = std::numeric_limits<std::int64_t>::max();
    list.Positions[list.Count + k] = 0.0;
  }
}

}  // namespace NearTables
