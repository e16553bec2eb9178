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
