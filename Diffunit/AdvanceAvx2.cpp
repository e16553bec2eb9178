// The moving part and the scan of the AVX2 kernel: four molecules at a time,
// with exactly the arithmetic of the reference loop. The method is that of
// AdvanceAvx512.cpp (see there), with as many of its means as AVX2 and FMA
// have: every packed double is a lane with its own axis' stream, blocks are
// moved as if none of their molecules escaped and keep the molecules before
// the first escape, the lanes' states jump ahead instead of drawing one by
// one, a uniform takes one fused multiply-add after the integer multiply,
// and the escape test reads the positions one addition before they are final.
//
// This is the only code compiled for AVX2 and FMA (see the target pragma
// below), and it runs only after Avx2Supported() said yes. What the headers
// define stays generic, since they come before the pragma: the jump tables
// are built at compile time (KernelTables.h) and the wall placement is the
// engine's PlaceAtWall.
//
// One uniform in three instructions. A lane holds twice its state,
// 2 s mod 2^32, in its low half. The 32 x 32 -> 64-bit multiply by 16807^k
// leaves twice the state k draws later in the low half (no mask needed:
// (2 s) a mod 2^32 = 2 (s a mod 2^31)); with 0x43300000 blended into the
// high half that is the double d = 2^52 + 2 s' exactly (2 s' < 2^32 fits the
// mantissa). Then u = fma(d, U / 2, -2^51 U), U = UniformScale: U / 2 and
// 2^51 U = 2^52 U / 2 are U times powers of two, so exact doubles, and the
// fused multiply-add forms d U / 2 - 2^51 U = 2 s' U / 2 = s' U exactly and
// rounds it once, as NextUniform rounds the same real s' U once (to nearest,
// the mode the whole program runs in): the same double. For s' = 0 the exact
// result 0 comes out as +0.0 (an exact zero sum is +0 when rounding to
// nearest), as 0.0 * U is; otherwise it is normal, so flush-to-zero modes
// change nothing either.
// Only x86-64 has these instructions; the build compiles this file there
// alone, and the guard keeps a compile of every engine file working elsewhere.
#if defined(__x86_64__) || defined(_M_X64)

#include <immintrin.h>

#include <cmath>
#include <cstdint>
#include <limits>

#include "Diffunit/Diffunit.h"
#include "Diffunit/KernelTables.h"
#include "Diffunit/Kernels.h"
#include "Statg/Statg.h"

// Everything below, and only that, is compiled for AVX2 and FMA. Naming the
// instruction sets here rather than on the command line lets the file build
// with any flags, and keeps what the headers above define generic.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2,fma"))), apply_to = function)
#elif defined(__GNUC__)
#pragma GCC push_options
#pragma GCC target("avx2,fma")
#endif

namespace {

constexpr int Lanes = 4;  // molecules per block, and doubles per vector
using TTables = TKernelTables<Lanes>;

static_assert(sizeof(TMolCoord) == 3 * sizeof(double), "molecules are packed x, y, z triples");

constexpr auto BroadcastPowers = TTables::MakeBroadcastPowers();
constexpr auto LaneJumps = TTables::MakeLaneJumps();
constexpr auto BlockJumps = TTables::MakeBlockJumps();

// A stream state s in the form a lane holds it (low half: 2 s mod 2^32), and
// the state a lane holds.
long long LaneForm(std::int32_t state) { return static_cast<std::uint32_t>(state) * 2u; }
std::int32_t StateOfLane(long long lane) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(lane) >> 1);
}

// Constants, built inside the kernel so that nothing runs AVX2 code at
// program start.
struct TConstants {
  __m256i Magic;  // 0x43300000 in each high half: the double 2^52
  __m256d TwoTo52;
  __m256d HalfScale;      // UniformScale / 2, exact
  __m256d MinusBiasHalf;  // -(2^52 UniformScale / 2) = -(2^51 UniformScale), exact
  __m256d Six;            // the mean of twelve uniforms
  __m256d Zero;
  __m256d AbsMask;  // every bit but the sign
  __m256d Sigma;
  __m256d OuterRib;
  __m256d InnerRib;
  __m256i LaneIndex;  // 0 1 2 3
};

TConstants MakeConstants(const TVolume& volume, double sigma) {
  TConstants c;
  c.Magic = _mm256_set1_epi64x(0x4330000000000000LL);
  c.TwoTo52 = _mm256_set1_pd(4503599627370496.0);
  c.HalfScale = _mm256_set1_pd(UniformScale * 0.5);
  c.MinusBiasHalf = _mm256_set1_pd(-(2251799813685248.0 * UniformScale));
  c.Six = _mm256_set1_pd(6.0);
  c.Zero = _mm256_setzero_pd();
  c.AbsMask = _mm256_castsi256_pd(_mm256_set1_epi64x(0x7FFFFFFFFFFFFFFFLL));
  c.Sigma = _mm256_set1_pd(sigma);
  c.OuterRib = _mm256_set1_pd(volume.OuterRib);
  c.InnerRib = _mm256_set1_pd(volume.InnerRib);
  c.LaneIndex = _mm256_setr_epi64x(0, 1, 2, 3);
  return c;
}

// States advanced by the per-lane jumps at `jumps`.
inline __m256i Jumped(__m256i held, const std::uint64_t* jumps) {
  return _mm256_mul_epu32(held, _mm256_load_si256(reinterpret_cast<const __m256i*>(jumps)));
}

// The lanes' states of a whole block, its three vectors, advanced by the
// block-jump entry `jumps` (KernelTables.h).
inline void JumpAll(__m256i& base0, __m256i& base1, __m256i& base2,
                    const std::uint64_t (&jumps)[3][Lanes]) {
  base0 = Jumped(base0, jumps[0]);
  base1 = Jumped(base1, jumps[1]);
  base2 = Jumped(base2, jumps[2]);
}

// The k-th uniform (k = 1 .. 12) after the held states `base` of the lanes:
// NextUniform's value, in three instructions (see "One uniform" above).
inline __m256d Uniform(const TConstants& c, __m256i base, int k) {
  const __m256i held = Jumped(base, BroadcastPowers.Of[k]);
  const __m256i biased = _mm256_blend_epi32(held, c.Magic, 0xAA);
  return _mm256_fmadd_pd(_mm256_castsi256_pd(biased), c.HalfScale, c.MinusBiasHalf);
}

// The displacement NextNormal(0.0, Sigma, stream) of every lane from the held
// state at the start of the lane's window, but for the final + 0.0 of the
// mean: twelve uniforms added one at a time from 0.0, then (sum - 6.0) Sigma,
// each step rounded to double.
inline __m256d StepsWithoutMean(const TConstants& c, __m256i base) {
  __m256d sum = Uniform(c, base, 1);  // 0.0 + u is u exactly
  sum = _mm256_add_pd(sum, Uniform(c, base, 2));
  sum = _mm256_add_pd(sum, Uniform(c, base, 3));
  sum = _mm256_add_pd(sum, Uniform(c, base, 4));
  sum = _mm256_add_pd(sum, Uniform(c, base, 5));
  sum = _mm256_add_pd(sum, Uniform(c, base, 6));
  sum = _mm256_add_pd(sum, Uniform(c, base, 7));
  sum = _mm256_add_pd(sum, Uniform(c, base, 8));
  sum = _mm256_add_pd(sum, Uniform(c, base, 9));
  sum = _mm256_add_pd(sum, Uniform(c, base, 10));
  sum = _mm256_add_pd(sum, Uniform(c, base, 11));
  sum = _mm256_add_pd(sum, Uniform(c, base, 12));
  return _mm256_mul_pd(_mm256_sub_pd(sum, c.Six), c.Sigma);
}

// Lane mask (all ones in a lane) of the first `n` of up to 12 packed doubles,
// for vector `v`.
// The lanes of `p` (bits 0 to 3) that a step reaching `reach` could take past
// the wall: not (|p| + reach <= b0), so that NaN and infinities count as near.
inline int NearTheWall(const TConstants& c, __m256d p, __m256d reach) {
  return _mm256_movemask_pd(
      _mm256_cmp_pd(_mm256_add_pd(_mm256_and_pd(p, c.AbsMask), reach), c.OuterRib, _CMP_NLE_UQ));
}

inline __m256i PartMask(const TConstants& c, int n, int v) {
  return _mm256_cmpgt_epi64(_mm256_set1_epi64x(n - 4 * v), c.LaneIndex);
}

// Bit l set when lane l of `magnitude` compares true with `limit`.
inline unsigned Beyond(__m256d magnitude, __m256d limit) {
  return static_cast<unsigned>(_mm256_movemask_pd(_mm256_cmp_pd(magnitude, limit, _CMP_GT_OQ)));
}
inline unsigned Within(__m256d magnitude, __m256d limit) {
  return static_cast<unsigned>(_mm256_movemask_pd(_mm256_cmp_pd(magnitude, limit, _CMP_LT_OQ)));
}

}  // namespace

std::int32_t MoveMoleculesAvx2(const TVolume& volume, TMolCoord* molecules, std::int32_t count,
                               double sigma, TStreamStates& streams) {
  if (count <= 0) return 0;
  const TConstants c = MakeConstants(volume, sigma);

  // Each lane's state (in lane form) at the start of its window in the current block.
  const long long x = LaneForm(streams.X), y = LaneForm(streams.Y), z = LaneForm(streams.Z);
  // (Three variables rather than an array, so that they stay in registers.)
  __m256i base0 = Jumped(_mm256_setr_epi64x(x, y, z, x), LaneJumps.Of[0][0]);
  __m256i base1 = Jumped(_mm256_setr_epi64x(y, z, x, y), LaneJumps.Of[0][1]);
  __m256i base2 = Jumped(_mm256_setr_epi64x(z, x, y, z), LaneJumps.Of[0][2]);
  std::int32_t placement = streams.Placement;
  std::int32_t inside = 0;
  std::int32_t i = 0;
  while (i < count) {
    const int n = count - i < Lanes ? count - i : Lanes;
    const unsigned valid = (1u << (3 * n)) - 1u;
    double* const packed = &molecules[i].x;
    // The array streams through the cache once per step; ask for it 1024
    // bytes (10 2/3 blocks, about 400 ns of work) ahead, as the AVX-512 kernel
    // does and for the same reason. A block is 96 bytes, a line and a half, so
    // two requests per block cover every line.
    const char* const ahead = reinterpret_cast<const char*>(packed) + 1024;
    _mm_prefetch(ahead, _MM_HINT_T0);
    _mm_prefetch(ahead + 64, _MM_HINT_T0);

    __m256d p0, p1, p2;
    if (n == Lanes) {
      p0 = _mm256_loadu_pd(packed);
      p1 = _mm256_loadu_pd(packed + 4);
      p2 = _mm256_loadu_pd(packed + 8);
    } else {  // the tail: touch no memory past the last molecule
      p0 = _mm256_maskload_pd(packed, PartMask(c, 3 * n, 0));
      p1 = _mm256_maskload_pd(packed + 4, PartMask(c, 3 * n, 1));
      p2 = _mm256_maskload_pd(packed + 8, PartMask(c, 3 * n, 2));
    }

    // p <- p + N(0, Sigma) in every lane, as if no molecule of the block
    // escaped. As in the AVX-512 kernel, (p + d) + 0.0 is added, the same
    // double as p + (d + 0.0) (the two differ only for p = d = -0.0, where
    // the final + 0.0 makes +0.0 again), and the tests read p + d, one
    // addition earlier, with the magnitude of the result.
    const __m256d sum0 = _mm256_add_pd(p0, StepsWithoutMean(c, base0));
    const __m256d sum1 = _mm256_add_pd(p1, StepsWithoutMean(c, base1));
    const __m256d sum2 = _mm256_add_pd(p2, StepsWithoutMean(c, base2));
    const __m256d magnitude0 = _mm256_and_pd(sum0, c.AbsMask);
    const __m256d magnitude1 = _mm256_and_pd(sum1, c.AbsMask);
    const __m256d magnitude2 = _mm256_and_pd(sum2, c.AbsMask);
    // Ordered, non-signalling compares: false for a NaN, like the scalar > and <.
    const unsigned out = (Beyond(magnitude0, c.OuterRib) | Beyond(magnitude1, c.OuterRib) << 4 |
                          Beyond(magnitude2, c.OuterRib) << 8) &
                         valid;
    const __m256d moved0 = _mm256_add_pd(sum0, c.Zero);
    const __m256d moved1 = _mm256_add_pd(sum1, c.Zero);
    const __m256d moved2 = _mm256_add_pd(sum2, c.Zero);
    const unsigned in = Within(magnitude0, c.InnerRib) | Within(magnitude1, c.InnerRib) << 4 |
                        Within(magnitude2, c.InnerRib) << 8;
    // Bit 3 j set when molecule j has all three coordinates inside.
    const unsigned insideMolecules = in & in >> 1 & in >> 2 & 0x249u;

    if (out == 0 && n == Lanes) {  // the common case: all four molecules are final
      _mm256_storeu_pd(packed, moved0);
      _mm256_storeu_pd(packed + 4, moved1);
      _mm256_storeu_pd(packed + 8, moved2);
      inside += __builtin_popcount(insideMolecules);
      JumpAll(base0, base1, base2, BlockJumps.Of[TTables::NoneEscaped(Lanes)]);
      i += Lanes;
      continue;
    }

    // The first escape in packed order is the first molecule that escapes, on
    // the first axis (x, y, z) on which it does. The molecules before it are
    // final; without an escape (in the last, short block), all n are.
    const int first = out ? __builtin_ctz(out) : 3 * n;
    const int kept = first / 3;
    _mm256_maskstore_pd(packed, PartMask(c, 3 * kept, 0), moved0);
    _mm256_maskstore_pd(packed + 4, PartMask(c, 3 * kept, 1), moved1);
    _mm256_maskstore_pd(packed + 8, PartMask(c, 3 * kept, 2), moved2);
    inside += __builtin_popcount(insideMolecules & ((1u << (3 * kept)) - 1u));
    if (out == 0) {
      JumpAll(base0, base1, base2, BlockJumps.Of[TTables::NoneEscaped(n)]);
      i += n;
      continue;
    }
    // The states after the escaping molecule and its re-injection, which the
    // next block starts from; lanes 1 and 2 hold those of the Y and Z streams.
    JumpAll(base0, base1, base2, BlockJumps.Of[TTables::FirstEscapeAt(first)]);
    const __m128i xy = _mm256_castsi256_si128(base0);
    PlaceAtWall(volume.OuterRib, placement, StateOfLane(_mm_extract_epi64(xy, 1)),
                StateOfLane(_mm_cvtsi128_si64(_mm256_extracti128_si256(base0, 1))),
                molecules[i + kept]);
    i += kept + 1;
  }
  const __m128i xy = _mm256_castsi256_si128(base0);
  streams.X = StateOfLane(_mm_cvtsi128_si64(xy));
  streams.Y = StateOfLane(_mm_extract_epi64(xy, 1));
  streams.Z = StateOfLane(_mm_cvtsi128_si64(_mm256_extracti128_si256(base0, 1)));
  streams.Placement = placement;
  return inside;
}

// The scan in AVX2 lanes: the method of ScanAvx512 (see there and
// ScanReference), four listed coordinates at a time. AVX2 has no compress:
// the listed coordinates of each vector of four are packed with a byte
// shuffle looked up by their 4-bit mask. Its integers are the low halves of
// the lanes (twice the state, as the moving part holds them), and it has no
// conversion from 64-bit integers: the sum T of the twelve states (below
// 2^35) becomes a double exactly as the bits of 2^52 + T less 2^52. The
// decision's step is d' = fl(fl(T fl(UniformScale Sigma)) - fl(6 Sigma)),
// without fused multiply-adds: within 36 2^-53 |Sigma| + 2^-1039 of
// (R - 6) Sigma, inside the bound ScanAvx512 gives for its d', so the same
// margin M decides, and doubt goes to the exact step of the moving part.
namespace {

using namespace ScanTables;

// Goes through the `n` molecules of a window at `packed` a vector of four
// coordinates at a time, three to a block, and hands `visit` the lanes of
// each that are near the wall (NearTheWall, bits 0 to 3), the vector's place
// v in its block and the codes 4 m + a of its lanes (m the molecule in the
// window, a the axis), from `codes[v]` for the first block. The last, partial
// block reads no memory past the last molecule.
template <class TVisit>
__attribute__((always_inline)) inline void ForEachNearVector(const TConstants& c,
                                                             const double* packed, int n,
                                                             __m256d reach,
                                                             const __m128i (&codes)[3],
                                                             TVisit&& visit) {
  for (int first = 0; first < n; first += Lanes) {
    const double* const block = packed + 3 * first;
    const int inBlock = n - first < Lanes ? n - first : Lanes;
    const __m128i offset = _mm_set1_epi32(4 * first);
    _mm_prefetch(reinterpret_cast<const char*>(block) + 2048, _MM_HINT_T0);
    _mm_prefetch(reinterpret_cast<const char*>(block) + 2048 + 64, _MM_HINT_T0);
    for (int v = 0; v < 3; ++v) {
      const __m256d p = inBlock == Lanes
                            ? _mm256_loadu_pd(block + 4 * v)
                            : _mm256_maskload_pd(block + 4 * v, PartMask(c, 3 * inBlock, v));
      const int valid = inBlock == Lanes
                            ? 0xF
                            : _mm256_movemask_pd(_mm256_castsi256_pd(PartMask(c, 3 * inBlock, v)));
      visit(static_cast<unsigned>(NearTheWall(c, p, reach) & valid), v,
            _mm_add_epi32(codes[v], offset));
    }
  }
}

// The shifts of an escape on x, y and z against 12 draws, for the held X, Y
// and Z lanes.
struct TEscapeShifts {
  alignas(32) std::uint64_t Of[3][Lanes];
};
constexpr TEscapeShifts EscapeShifts = {{
    {1, BackEleven, BackEleven, 1},
    {1, JumpMultiplier(1), BackEleven, 1},
    {1, JumpMultiplier(1), JumpMultiplier(1), 1},
}};

// For each 4-bit mask, the byte shuffle that moves the 32-bit lanes set in it
// to the front, in order (0x80: a zero byte).
struct TLeftPacks {
  alignas(16) std::uint8_t Of[16][16];
};
constexpr TLeftPacks MakeLeftPacks() {
  TLeftPacks table{};
  for (int mask = 0; mask < 16; ++mask) {
    int to = 0;
    for (int lane = 0; lane < 4; ++lane)
      if (mask >> lane & 1) {
        for (int b = 0; b < 4; ++b)
          table.Of[mask][4 * to + b] = static_cast<std::uint8_t>(4 * lane + b);
        ++to;
      }
    for (; to < 4; ++to)
      for (int b = 0; b < 4; ++b) table.Of[mask][4 * to + b] = 0x80;
  }
  return table;
}
constexpr TLeftPacks LeftPacks = MakeLeftPacks();

// Lane l of vector v of a block: 4 m + a for its molecule m and axis a.
__m128i ListCodes(int v) {
  const auto code = [v](int l) { return 4 * TTables::MoleculeOf(v, l) + TTables::AxisOf(v, l); };
  return _mm_setr_epi32(code(0), code(1), code(2), code(3));
}

}  // namespace

void ScanAvx2(const TVolume& volume, const TMolCoord* molecules, std::int32_t count, double sigma,
              TStreamStates& streams) {
  if (count <= 0) return;
  const TConstants c = MakeConstants(volume, sigma);
  const __m256d reach = _mm256_set1_pd(6.0 * std::fabs(sigma));
  const __m256d stepScale = _mm256_set1_pd(UniformScale * sigma);
  const __m256d sixSigma = _mm256_set1_pd(6.0 * sigma);
  const __m256d sigmaAndRib = _mm256_set1_pd(std::fabs(sigma) + volume.OuterRib);
  const __m256d doubtShare = _mm256_set1_pd(0x1p-40), doubtFloor = _mm256_set1_pd(0x1p-1000);
  const __m256i lowHalves = _mm256_set1_epi64x(0xFFFFFFFFLL);
  const __m128i codes[3] = {ListCodes(0), ListCodes(1), ListCodes(2)};
  // The X, Y and Z states at the start of the window, shifted by the escapes
  // found in it so far; lane 3 unused. Placement is drawn from only by
  // escapes, counted apart.
  __m256i held =
      _mm256_setr_epi64x(LaneForm(streams.X), LaneForm(streams.Y), LaneForm(streams.Z), 0);
  std::uint32_t escapes = 0;
  // Room for a whole window's coordinates, a vector's packed store past the
  // last and the sentinels.
  alignas(32) std::int32_t listed[3 * ScanWindow + 8];

  for (std::int32_t window = 0; window < count; window += ScanWindow) {
    const int n = count - window < ScanWindow ? count - window : ScanWindow;
    const double* const packed = &molecules[window].x;

    int listedCount = 0;
    ForEachNearVector(c, packed, n, reach, codes, [&](unsigned near, int, __m128i at) {
      const __m128i pack = _mm_load_si128(reinterpret_cast<const __m128i*>(LeftPacks.Of[near]));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(listed + listedCount),
                       _mm_shuffle_epi8(at, pack));
      listedCount += __builtin_popcount(near);
    });
    listed[listedCount] = listed[listedCount + 1] = listed[listedCount + 2] = -4;

    for (int e = 0; e < listedCount;) {
      const int inPack = listedCount - e < Lanes ? listedCount - e : Lanes;
      const __m256i valid = PartMask(c, inPack, 0);
      const __m128i code = _mm_loadu_si128(reinterpret_cast<const __m128i*>(listed + e));
      const __m128i molecule = _mm_srli_epi32(code, 2);
      const __m128i axis = _mm_and_si128(code, _mm_set1_epi32(3));
      // Packed double 3 m + a of the window.
      const __m128i index =
          _mm_add_epi32(_mm_add_epi32(molecule, molecule), _mm_add_epi32(molecule, axis));
      const __m256d p =
          _mm256_mask_i32gather_pd(c.Zero, packed, index, _mm256_castsi256_pd(valid), 8);
      const __m256i jumps = _mm256_mask_i32gather_epi64(
          _mm256_setzero_si256(), reinterpret_cast<const long long*>(MoleculeJumps.Of), molecule,
          valid, 8);
      // Each lane's held state: 32-bit lanes 2 a and 2 a + 1 of `held`.
      const __m256i twice = _mm256_slli_epi64(_mm256_cvtepu32_epi64(axis), 1);
      const __m256i pick = _mm256_or_si256(
          twice, _mm256_slli_epi64(_mm256_add_epi64(twice, _mm256_set1_epi64x(1)), 32));
      const __m256i base = _mm256_mul_epu32(_mm256_permutevar8x32_epi32(held, pick), jumps);

      // The sum of the twelve states (each the low half of a lane, halved).
      __m256i s[12];
      for (int k = 0; k < 12; ++k)
        s[k] = _mm256_srli_epi64(
            _mm256_and_si256(Jumped(base, BroadcastPowers.Of[k + 1]), lowHalves), 1);
      const __m256i t0 = _mm256_add_epi64(s[0], s[1]), t1 = _mm256_add_epi64(s[2], s[3]);
      const __m256i t2 = _mm256_add_epi64(s[4], s[5]), t3 = _mm256_add_epi64(s[6], s[7]);
      const __m256i t4 = _mm256_add_epi64(s[8], s[9]), t5 = _mm256_add_epi64(s[10], s[11]);
      const __m256i sum = _mm256_add_epi64(_mm256_add_epi64(_mm256_add_epi64(t0, t1), t2),
                                           _mm256_add_epi64(_mm256_add_epi64(t3, t4), t5));
      const __m256d total =
          _mm256_sub_pd(_mm256_castsi256_pd(_mm256_or_si256(sum, c.Magic)), c.TwoTo52);
      const __m256d step = _mm256_sub_pd(_mm256_mul_pd(total, stepScale), sixSigma);
      const __m256d magnitude = _mm256_and_pd(_mm256_add_pd(p, step), c.AbsMask);
      const __m256d doubt = _mm256_add_pd(
          _mm256_mul_pd(_mm256_add_pd(_mm256_and_pd(p, c.AbsMask), sigmaAndRib), doubtShare),
          doubtFloor);
      const unsigned validBits = (1u << inPack) - 1u;
      unsigned out = Beyond(magnitude, _mm256_add_pd(c.OuterRib, doubt)) & validBits;
      const unsigned stays = Within(magnitude, _mm256_sub_pd(c.OuterRib, doubt)) & validBits;
      if (__builtin_expect((out | stays) != validBits, 0)) {
        // (Without the + 0.0 of the mean: the magnitude is the same.)
        const __m256d exact = _mm256_add_pd(p, StepsWithoutMean(c, base));
        out = Beyond(_mm256_and_pd(exact, c.AbsMask), c.OuterRib) & validBits;
      }
      if (__builtin_expect(out == 0, 1)) {
        e += inPack;
        continue;
      }
      ++escapes;
      const int escape = e + __builtin_ctz(out);
      const std::int32_t escaping = listed[escape] >> 2;
      held = _mm256_mul_epu32(
          held,
          _mm256_load_si256(reinterpret_cast<const __m256i*>(EscapeShifts.Of[listed[escape] & 3])));
      // Strike off the molecule's other coordinates (at most two, and the
      // sentinels belong to no molecule).
      e = escape + 1;
      e += listed[e] >> 2 == escaping;
      e += listed[e] >> 2 == escaping;
    }

    const long long windowJump = static_cast<long long>(MoleculeJumps.Of[n]);
    held = _mm256_mul_epu32(held, _mm256_setr_epi64x(windowJump, windowJump, windowJump, 1));
  }
  const __m128i xy = _mm256_castsi256_si128(held);
  streams.X = StateOfLane(_mm_cvtsi128_si64(xy));
  streams.Y = StateOfLane(_mm_extract_epi64(xy, 1));
  streams.Z = StateOfLane(_mm_cvtsi128_si64(_mm256_extracti128_si256(held, 1)));
  if (escapes) streams.Placement = Jumped(streams.Placement, JumpMultiplier(2ull * escapes));
}

// The near-wall list and its chain in AVX2 lanes: the method of
// ListNearAvx512 and ChainNearAvx512 (see there), four lanes to a vector.
// What AVX2 lacks is done another way: lanes are packed by byte shuffles from
// tables instead of compressed, the bounds become whole numbers through the
// double 1.5 2^52 (in units of T, one unit of T of rounding being within
// DoubtWidth), and a round of the chain is eight entries, two vectors.
namespace {

using namespace NearTables;

// The lanes of vector v of a block that hold x coordinates.
constexpr unsigned XLanesOf(int v) {
  unsigned mask = 0;
  for (int l = 0; l < Lanes; ++l) mask |= (TTables::AxisOf(v, l) == 0 ? 1u : 0u) << l;
  return mask;
}

// For each 4-bit mask, the 32-bit lane permutation that moves the 64-bit
// lanes set in it to the front, in order.
struct TLeftPacks64 {
  alignas(32) std::int32_t Of[16][8];
};
constexpr TLeftPacks64 MakeLeftPacks64() {
  TLeftPacks64 table{};
  for (int mask = 0; mask < 16; ++mask) {
    int to = 0;
    for (int lane = 0; lane < 4; ++lane)
      if (mask >> lane & 1) {
        table.Of[mask][2 * to] = 2 * lane;
        table.Of[mask][2 * to + 1] = 2 * lane + 1;
        ++to;
      }
  }
  return table;
}
constexpr TLeftPacks64 LeftPacks64 = MakeLeftPacks64();

inline __m256i LeftPacked(__m256i v, unsigned mask) {
  return _mm256_permutevar8x32_epi32(
      v, _mm256_load_si256(reinterpret_cast<const __m256i*>(LeftPacks64.Of[mask])));
}

// The whole number nearest `x`, |x| < 2^51: the bits of x + 1.5 2^52 less
// those of 1.5 2^52 (the sum has one unit in its last place).
inline __m256i WholeOf(__m256d x) {
  const __m256d magic = _mm256_set1_pd(6755399441055744.0);
  return _mm256_sub_epi64(_mm256_castpd_si256(_mm256_add_pd(x, magic)), _mm256_castpd_si256(magic));
}

// The entries' bounds from their positions (see NearTables), computed in
// units of T and clamped within +-2^39 (BoundLimit in units of T').
struct TBoundsMaker {
  __m256d PlusRib, MinusRib, InverseSigma, Six, Scale, Limit, MinusLimit, ExactBeyond;
  __m256i Width;

  TBoundsMaker(double b0, double sigma)
      : PlusRib(_mm256_set1_pd(b0)),
        MinusRib(_mm256_set1_pd(-b0)),
        InverseSigma(_mm256_set1_pd(1.0 / sigma)),
        Six(_mm256_set1_pd(6.0)),
        Scale(_mm256_set1_pd(SumScale / 2097152.0)),
        Limit(_mm256_set1_pd(BoundLimit / 2097152.0)),
        MinusLimit(_mm256_set1_pd(-BoundLimit / 2097152.0)),
        ExactBeyond(_mm256_set1_pd(2.0 * b0)),
        Width(_mm256_set1_epi64x(DoubtWidth(b0, sigma))) {}

  // min and max return their second operand for a NaN: a NaN becomes a limit.
  __m256d Tau(__m256d wall, __m256d p) const {
    const __m256d tau = _mm256_mul_pd(
        _mm256_add_pd(_mm256_mul_pd(_mm256_sub_pd(wall, p), InverseSigma), Six), Scale);
    return _mm256_max_pd(_mm256_min_pd(tau, Limit), MinusLimit);
  }
  void Make(__m256d p, __m256i& low, __m256i& high) const {
    const __m256d plus = Tau(PlusRib, p), minus = Tau(MinusRib, p);
    low = _mm256_sub_epi64(_mm256_slli_epi64(WholeOf(_mm256_min_pd(plus, minus)), 21), Width);
    high = _mm256_add_epi64(_mm256_slli_epi64(WholeOf(_mm256_max_pd(plus, minus)), 21), Width);
  }
  // All ones in the lanes whose bounds do not apply: |p| > 2 b0, or not finite.
  __m256i Exact(const TConstants& c, __m256d p) const {
    return _mm256_xor_si256(
        _mm256_castpd_si256(_mm256_cmp_pd(_mm256_and_pd(p, c.AbsMask), ExactBeyond, _CMP_LE_OQ)),
        _mm256_set1_epi64x(-1));
  }
};

}  // namespace

void ListNearAvx2(const TVolume& volume, const TMolCoord* molecules, std::int32_t count,
                  double sigma, std::int32_t xState, TNearList& list) {
  list.Count = 0;
  list.XEscapes = 0;
  if (count <= 0) {
    Pad(list);
    return;
  }
  const TConstants c = MakeConstants(volume, sigma);
  const TBoundsMaker bounds(volume.OuterRib, sigma);
  const __m256d reach = _mm256_set1_pd(6.0 * std::fabs(sigma));
  const __m256i lowHalves = _mm256_set1_epi64x(0xFFFFFFFFLL);
  const __m256i backEleven = _mm256_set1_epi64x(BackEleven);
  const __m128i codes[3] = {ListCodes(0), ListCodes(1), ListCodes(2)};
  std::uint64_t* const jumpsOut = list.Jumps;
  std::int64_t* const lowOut = list.Low;
  std::int64_t* const highOut = list.High;
  double* const positionsOut = list.Positions;
  std::int32_t listed = 0, xEscapesInRun = 0;
  long long xHeld = LaneForm(xState);  // at the window's start
  // 16807^(12 w) 16807^(-11 x) for the window's first molecule w and the x
  // escapes x before it.
  std::uint32_t windowJump = 1;
  alignas(32) std::int32_t xListed[ScanWindow + 8];
  alignas(32) std::int32_t yzListed[2 * ScanWindow + 8];
  alignas(32) std::int32_t xEscaped[ScanWindow];

  for (std::int32_t window = 0; window < count; window += ScanWindow) {
    const int n = count - window < ScanWindow ? count - window : ScanWindow;
    const double* const packed = &molecules[window].x;

    int xCount = 0, yzCount = 0;
    ForEachNearVector(c, packed, n, reach, codes, [&](unsigned near, int v, __m128i at) {
      const unsigned xs = near & XLanesOf(v), yzs = near & ~XLanesOf(v);
      _mm_storeu_si128(
          reinterpret_cast<__m128i*>(xListed + xCount),
          _mm_shuffle_epi8(at, _mm_load_si128(reinterpret_cast<const __m128i*>(LeftPacks.Of[xs]))));
      xCount += __builtin_popcount(xs);
      _mm_storeu_si128(
          reinterpret_cast<__m128i*>(yzListed + yzCount),
          _mm_shuffle_epi8(at,
                           _mm_load_si128(reinterpret_cast<const __m128i*>(LeftPacks.Of[yzs]))));
      yzCount += __builtin_popcount(yzs);
    });
    yzListed[yzCount] = -4;  // of no molecule, read as the last entry's next code

    // The escapes on x, exactly, in order.
    int xEscapes = 0;
    for (int e = 0; e < xCount; e += Lanes) {
      const int inPack = xCount - e < Lanes ? xCount - e : Lanes;
      const __m256i valid = PartMask(c, inPack, 0);
      const __m128i molecule =
          _mm_srli_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(xListed + e)), 2);
      const __m128i index = _mm_add_epi32(_mm_add_epi32(molecule, molecule), molecule);
      const __m256d p =
          _mm256_mask_i32gather_pd(c.Zero, packed, index, _mm256_castsi256_pd(valid), 8);
      const __m256i base = _mm256_mul_epu32(
          _mm256_set1_epi64x(xHeld),
          _mm256_mask_i32gather_epi64(_mm256_setzero_si256(),
                                      reinterpret_cast<const long long*>(MoleculeJumps.Of),
                                      molecule, valid, 8));
      for (unsigned out =
               Beyond(_mm256_and_pd(_mm256_add_pd(p, StepsWithoutMean(c, base)), c.AbsMask),
                      c.OuterRib) &
               ((1u << inPack) - 1u);
           out != 0; out &= out - 1)
        xEscaped[xEscapes++] = xListed[e + __builtin_ctz(out)] >> 2;
    }

    // The entries on y and z.
    const __m256i windowJumps = _mm256_set1_epi64x(windowJump);
    for (int e = 0; e < yzCount; e += Lanes) {
      const int inPack = yzCount - e < Lanes ? yzCount - e : Lanes;
      __m256i keep = PartMask(c, inPack, 0);
      const __m128i code = _mm_loadu_si128(reinterpret_cast<const __m128i*>(yzListed + e));
      const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(yzListed + e + 1));
      const __m128i molecule = _mm_srli_epi32(code, 2);
      const __m128i axis = _mm_and_si128(code, _mm_set1_epi32(3));
      const __m256i molecule64 = _mm256_cvtepu32_epi64(molecule);
      __m256i jumps = _mm256_and_si256(
          _mm256_mul_epu32(windowJumps, _mm256_mask_i32gather_epi64(
                                            _mm256_setzero_si256(),
                                            reinterpret_cast<const long long*>(MoleculeJumps.Of),
                                            molecule, keep, 8)),
          lowHalves);
      // The same number of turns for every group of the window.
      for (int x = 0; x < xEscapes; ++x) {
        const __m256i escaping = _mm256_set1_epi64x(xEscaped[x]);
        keep = _mm256_andnot_si256(_mm256_cmpeq_epi64(molecule64, escaping), keep);
        // An escape on x before the entry: 11 draws fewer.
        jumps = _mm256_blendv_epi8(jumps,
                                   _mm256_and_si256(_mm256_mul_epu32(jumps, backEleven), lowHalves),
                                   _mm256_cmpgt_epi64(molecule64, escaping));
      }
      const unsigned kept = static_cast<unsigned>(_mm256_movemask_pd(_mm256_castsi256_pd(keep)));
      if (kept == 0) continue;
      const __m128i index =
          _mm_add_epi32(_mm_add_epi32(molecule, molecule), _mm_add_epi32(molecule, axis));
      const __m256d p =
          _mm256_mask_i32gather_pd(c.Zero, packed, index, _mm256_castsi256_pd(keep), 8);
      const __m256i onZ = _mm256_cmpeq_epi64(_mm256_cvtepu32_epi64(axis), _mm256_set1_epi64x(2));
      const __m256i zFollows = _mm256_andnot_si256(
          onZ, _mm256_cmpeq_epi64(_mm256_cvtepu32_epi64(_mm_srli_epi32(next, 2)), molecule64));
      jumps = _mm256_or_si256(
          jumps, _mm256_and_si256(onZ, _mm256_set1_epi64x(static_cast<long long>(NearFlags::OnZ))));
      jumps = _mm256_or_si256(
          jumps, _mm256_and_si256(zFollows,
                                  _mm256_set1_epi64x(static_cast<long long>(NearFlags::ZFollows))));
      jumps = _mm256_or_si256(
          jumps, _mm256_and_si256(bounds.Exact(c, p),
                                  _mm256_set1_epi64x(static_cast<long long>(NearFlags::Exact))));
      __m256i low, high;
      bounds.Make(p, low, high);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(jumpsOut + listed), LeftPacked(jumps, kept));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(lowOut + listed), LeftPacked(low, kept));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(highOut + listed), LeftPacked(high, kept));
      _mm256_storeu_pd(positionsOut + listed,
                       _mm256_castsi256_pd(LeftPacked(_mm256_castpd_si256(p), kept)));
      listed += __builtin_popcount(kept);
    }

    windowJump *= static_cast<std::uint32_t>(MoleculeJumps.Of[n]) *
                  BackElevenPower(static_cast<std::uint64_t>(xEscapes));
    xHeld = LaneForm(Jumped(StateOfLane(xHeld), static_cast<std::uint32_t>(MoleculeJumps.Of[n])));
    xEscapesInRun += xEscapes;
  }
  list.Count = listed;
  list.XEscapes = xEscapesInRun;
  Pad(list);
}

namespace {

// One vector of four entries of a round of the chain (see ChainNearAvx512).
struct TEvaluated {
  __m256i State;  // the entries' states, in lane form
  unsigned Out, Doubt, OnZ, ZFollows;
};

inline TEvaluated Evaluate(const TNearList& list, std::int32_t at, __m256d twiceY, __m256d twiceZ,
                           __m256i twiceWidth) {
  const __m256i lowHalves = _mm256_set1_epi64x(0xFFFFFFFFLL);
  const __m256i signs = _mm256_set1_epi64x(std::numeric_limits<long long>::min());
  const __m256i jumps = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(list.Jumps + at));
  TEvaluated v;
  v.OnZ = static_cast<unsigned>(_mm256_movemask_pd(_mm256_castsi256_pd(jumps)));
  v.ZFollows =
      static_cast<unsigned>(_mm256_movemask_pd(_mm256_castsi256_pd(_mm256_slli_epi64(jumps, 1))));
  const unsigned exact =
      static_cast<unsigned>(_mm256_movemask_pd(_mm256_castsi256_pd(_mm256_slli_epi64(jumps, 2))));
  // The Z states where the sign (the z flag) is set, else the Y states.
  v.State = _mm256_mul_epu32(
      _mm256_castpd_si256(_mm256_blendv_pd(twiceY, twiceZ, _mm256_castsi256_pd(jumps))), jumps);
  __m256i s[12];
  for (int k = 0; k < 12; ++k)
    s[k] = _mm256_and_si256(
        _mm256_mul_epu32(v.State, _mm256_load_si256(
                                      reinterpret_cast<const __m256i*>(BroadcastPowers.Of[k + 1]))),
        lowHalves);
  const __m256i t0 = _mm256_add_epi64(s[0], s[1]), t1 = _mm256_add_epi64(s[2], s[3]);
  const __m256i t2 = _mm256_add_epi64(s[4], s[5]), t3 = _mm256_add_epi64(s[6], s[7]);
  const __m256i t4 = _mm256_add_epi64(s[8], s[9]), t5 = _mm256_add_epi64(s[10], s[11]);
  // Twice the states summed, times 2^20: the sum times 2^21.
  const __m256i sum =
      _mm256_slli_epi64(_mm256_add_epi64(_mm256_add_epi64(_mm256_add_epi64(t0, t1), t2),
                                         _mm256_add_epi64(_mm256_add_epi64(t3, t4), t5)),
                        20);
  const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(list.Low + at));
  const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(list.High + at));
  v.Out = static_cast<unsigned>(_mm256_movemask_pd(_mm256_castsi256_pd(
      _mm256_or_si256(_mm256_cmpgt_epi64(low, sum), _mm256_cmpgt_epi64(sum, high)))));
  // Unsigned a > b as signed with both signs flipped.
  const __m256i limit = _mm256_xor_si256(twiceWidth, signs);
  const __m256i beyondLow =
      _mm256_cmpgt_epi64(_mm256_xor_si256(_mm256_sub_epi64(sum, low), signs), limit);
  const __m256i beyondHigh =
      _mm256_cmpgt_epi64(_mm256_xor_si256(_mm256_sub_epi64(high, sum), signs), limit);
  v.Doubt = (~static_cast<unsigned>(
                 _mm256_movemask_pd(_mm256_castsi256_pd(_mm256_and_si256(beyondLow, beyondHigh)))) &
             0xFu) |
            exact;
  return v;
}

// The entries in doubt decided by their exact steps.
inline unsigned Decided(const TConstants& c, const TNearList& list, std::int32_t at,
                        const TEvaluated& v) {
  if (__builtin_expect(v.Doubt == 0, 1)) return v.Out;
  const __m256d p = _mm256_loadu_pd(list.Positions + at);
  const unsigned exact =
      Beyond(_mm256_and_pd(_mm256_add_pd(p, StepsWithoutMean(c, v.State)), c.AbsMask), c.OuterRib);
  return (v.Out & ~v.Doubt) | (exact & v.Doubt);
}

}  // namespace

void ChainNearAvx2(const TVolume& volume, const TNearList& list, std::int32_t count, double sigma,
                   TStreamStates& streams) {
  if (count <= 0) return;
  const TConstants c = MakeConstants(volume, sigma);
  const __m256i twiceWidth = _mm256_set1_epi64x(2 * NearTables::DoubtWidth(volume.OuterRib, sigma));
  std::uint32_t twiceY = 2u * static_cast<std::uint32_t>(streams.Y);
  std::uint32_t twiceZ = 2u * static_cast<std::uint32_t>(streams.Z);
  std::int32_t escapes = 0;
  for (std::int32_t e = 0; e < list.Count;) {
    const __m256d y = _mm256_castsi256_pd(_mm256_set1_epi64x(twiceY));
    const __m256d z = _mm256_castsi256_pd(_mm256_set1_epi64x(twiceZ));
    const TEvaluated a = Evaluate(list, e, y, z, twiceWidth);
    const TEvaluated b = Evaluate(list, e + Lanes, y, z, twiceWidth);
    const unsigned out = Decided(c, list, e, a) | Decided(c, list, e + Lanes, b) << 4;
    const unsigned onZ = a.OnZ | b.OnZ << 4;
    const unsigned zFollows = a.ZFollows | b.ZFollows << 4;
    // The first escape, or none (8), without a branch.
    const unsigned first = static_cast<unsigned>(__builtin_ctz(out | 0x100u));
    const unsigned found = out != 0;
    const unsigned onZFirst = (onZ >> first) & 1u;
    const unsigned skip = (zFollows >> first) & 1u;
    e += static_cast<std::int32_t>(first + found + skip);
    escapes += static_cast<std::int32_t>(found);
    const std::uint32_t all = 0u - found;
    twiceY *= 1u + (all & (UniformMultiplier - 1u));
    twiceZ *= 1u + (all & (BackEleven - 1u + ((0u - onZFirst) & (UniformMultiplier - BackEleven))));
  }
  streams = NearTables::ChainEnd(streams, count, list.XEscapes, escapes, twiceY, twiceZ);
}

#if defined(__clang__)
#pragma clang attribute pop
#elif defined(__GNUC__)
#pragma GCC pop_options
#endif

#endif  // x86-64
