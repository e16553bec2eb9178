// The moving part of the AVX-512 kernel: eight molecules at a time, with
// exactly the arithmetic of the reference loop.
//
// This is the only code compiled for AVX-512 F, DQ and IFMA (see the target
// pragma below), and it runs only after Avx512Supported() said yes. What the
// headers define stays generic, since they come before the pragma (were one
// of their inline functions compiled with AVX-512, the linker could share
// that copy with the rest of the program): the jump tables are built at
// compile time (KernelTables.h) and the wall placement is the engine's
// PlaceAtWall.
//
// Lanes. Eight molecules are 24 packed doubles x0 y0 z0 x1 ... z7, three
// vectors of eight. Every double is one lane and gets its displacement from
// its own axis' stream, so a block is moved where it lies, without reordering.
//
// Draws in parallel. The generator is state <- state * 16807 mod 2^31, so the
// state k draws ahead is state * 16807^k mod 2^31, and a lane can compute any
// draw of its stream without the draws before it. Molecule j of a block takes
// draws 12 j + 1 .. 12 j + 12 after the block's start from the X stream, and
// from the Y and Z streams as well unless an earlier molecule of the
// block escaped (its re-injection draws one uniform from each of those streams
// and it skips its remaining axes). So a block is moved as if none of its
// molecules escaped; the molecules before the first escape are exactly what
// the reference loop computes and are kept, the escaping molecule is
// re-injected, and the next block starts right after it.
//
// Escapes are rare (about 3 % of the molecules per step at the window's
// defaults) and random, so the block test branches: the common case runs on
// without waiting for the test, and an escape costs a mispredicted branch and
// the recomputed rest of its block. The work thrown away at a misprediction
// grows with the time the test takes, so the test reads the positions one
// addition before they are final. Full blocks run in a loop of their own,
// without the masks that only the last, partial block needs.
//
// One uniform in three instructions. A lane holds its state as
// (2 s mod 2^32) 2^20. The 52-bit integer multiply-add of AVX-512 IFMA gives
// the low 52 bits of that times 16807^k, which is (2 s' mod 2^32) 2^20 for the
// state s' k draws later (no mask needed: (2 s) a mod 2^32 = 2 (s a mod 2^31)),
// plus the bit pattern of the double 2^52. Read as an integer, the low 52 bits
// are m = s' 2^21 < 2^52, so the sum has no carry into the exponent and, read
// as a double, is d = 2^52 + m exactly. Then one fused multiply-add,
//   u = fma(d, Scale, -C), Scale = UniformScale 2^-21, C = 2^52 Scale,
// and the sum's second addition. Why u has exactly the bits of NextUniform, for
// every state:
//  - The multiplicands are below 2^52 (held states) and 2^32 (the powers), so
//    IFMA sees them whole; s' = s 16807^k mod 2^31 < 2^31 for any state s,
//    and every uniform is at least one draw after the held state (k >= 1).
//  - Scale and C = UniformScale 2^31 = 1 + 2^-31 are UniformScale times powers
//    of two, so both are exact doubles (UniformScale is 2^-31 (1 + 2^-31),
//    checked below).
//  - An FMA forms the product exactly and rounds once. The exact real is
//    d Scale - C = (2^52 + m) Scale - 2^52 Scale = m Scale
//    = s' 2^21 UniformScale 2^-21 = s' UniformScale.
//  - NextUniform converts s' < 2^31 to double exactly and rounds the product
//    s' UniformScale once. Same real value, same rounding (to nearest, the
//    mode the whole program runs in): the same double.
//  - The edges: for s' = 0 the exact result is 0, which an FMA returns as +0.0
//    (an exact zero sum of opposite-signed terms is +0 when rounding to
//    nearest), as 0.0 * UniformScale is +0.0. Otherwise the result lies in
//    [UniformScale, 1]: no overflow, and since d, Scale, C and the result are
//    all normal (or zero), flush-to-zero modes would not change it either.
// Then the sum, one addition at a time as in NextNormal; the step itself,
// (sum - 6) Sigma + 0, stays separately rounded.
//
// GCC 12 warns that the placeholder operand of some intrinsics
// (_mm512_undefined_epi32) may be used uninitialized; it is never read.
// Only x86-64 has these instructions; the build compiles this file there
// alone, and the guard keeps a compile of every engine file working elsewhere.
#if defined(__x86_64__) || defined(_M_X64)

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <type_traits>

#include "Diffunit/Diffunit.h"
#include "Diffunit/KernelTables.h"
#include "Diffunit/Kernels.h"
#include "Statg/Statg.h"

// Everything below, and only that, is compiled for AVX-512 F, DQ and IFMA.
// Naming the instruction sets here rather than on the command line lets the
// file build with any flags, and keeps what the headers above define generic.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx512f,avx512dq,avx512ifma"))), \
                             apply_to = function)
#elif defined(__GNUC__)
#pragma GCC push_options
#pragma GCC target("avx512f,avx512dq,avx512ifma")
#endif

namespace {

constexpr int Lanes = 8;  // molecules per block, and doubles per vector
using TTables = TKernelTables<Lanes>;

// The lanes of `p`, among `valid`, that a step reaching `reach` could take
// past the wall at +-`outerRib`: not (|p| + reach <= b0), so that NaN and
// infinities count as near.
inline __mmask8 NearTheWall(__m512d p, __m512d reach, __m512d outerRib, __mmask8 valid) {
  return _mm512_mask_cmp_pd_mask(valid, _mm512_add_pd(_mm512_abs_pd(p), reach), outerRib,
                                 _CMP_NLE_UQ);
}

static_assert(sizeof(TMolCoord) == 3 * sizeof(double), "molecules are packed x, y, z triples");

constexpr auto BroadcastPowers = TTables::MakeBroadcastPowers();
constexpr auto LaneJumps = TTables::MakeLaneJumps();
constexpr auto BlockJumps = TTables::MakeBlockJumps();

// A stream state s in the form a lane holds it: (2 s mod 2^32) 2^20.
long long LaneForm(std::int32_t state) {
  return static_cast<long long>(static_cast<std::uint32_t>(state) * 2u) << 20;
}

// The stream state a lane holds.
std::int32_t StateOfLane(long long lane) { return static_cast<std::int32_t>(lane >> 21); }

// How far ahead of the block being moved its memory is requested, in bytes:
// 1024 bytes are 5 1/3 blocks of 8 molecules. A block takes about 30 to 40 ns
// at full speed, so the request goes out some 200 ns before the data is
// needed, about twice the time a line takes to come from main memory, with
// room for a slow block; 1 KiB of lines in flight is a small part of the
// 48 KiB first-level cache, so nothing requested is evicted before use.
// Half the distance let blocks wait for memory; twice gained nothing.
constexpr int PrefetchAhead = 1024;

// The bit pattern of the double 2^52: exponent 52, mantissa 0. With an integer
// m < 2^52 added, the pattern is the double 2^52 + m, exactly.
constexpr long long TwoPow52Bits = 0x4330000000000000LL;
static_assert(UniformScale == 0x1.0000000200000p-31, "the uniform scale is 2^-31 (1 + 2^-31)");

// Constants, built inside the kernel so that nothing runs AVX-512 code at
// program start.
struct TConstants {
  const std::uint64_t (*Powers)[Lanes];  // BroadcastPowers.Of, read from memory
  __m512i LaneAxes[3];                   // the axis of each lane, to spread the three states
  __m512i Bias;                          // the bits of 2^52, added by the state jump
  __m512d Scale;            // UniformScale 2^-21, exact: a held state read as an integer is s 2^21
  __m512d MinusBiasScaled;  // -(2^52 Scale) = -(1 + 2^-31), exact
  __m512d Six;              // the mean of twelve uniforms
  __m512d Zero;
  __m512d Sigma;
  __m512d OuterRib;
  __m512d InnerRib;
};

template <int V>
__m512i LaneAxesOf() {
  return _mm512_setr_epi64(TTables::AxisOf(V, 0), TTables::AxisOf(V, 1), TTables::AxisOf(V, 2),
                           TTables::AxisOf(V, 3), TTables::AxisOf(V, 4), TTables::AxisOf(V, 5),
                           TTables::AxisOf(V, 6), TTables::AxisOf(V, 7));
}

TConstants MakeConstants(const TVolume& volume, double sigma) {
  TConstants c;
  // Hides the table's contents from the compiler: otherwise it rebuilds the
  // powers it runs out of registers for from immediates, each with a broadcast
  // (a vector instruction), instead of reading them as memory operands.
  c.Powers = BroadcastPowers.Of;
  asm("" : "+r"(c.Powers));
  c.LaneAxes[0] = LaneAxesOf<0>();
  c.LaneAxes[1] = LaneAxesOf<1>();
  c.LaneAxes[2] = LaneAxesOf<2>();
  c.Bias = _mm512_set1_epi64(TwoPow52Bits);
  c.Scale = _mm512_set1_pd(UniformScale / 2097152.0);
  c.MinusBiasScaled = _mm512_set1_pd(-(4503599627370496.0 * (UniformScale / 2097152.0)));
  c.Six = _mm512_set1_pd(6.0);
  c.Zero = _mm512_setzero_pd();
  c.Sigma = _mm512_set1_pd(sigma);
  c.OuterRib = _mm512_set1_pd(volume.OuterRib);
  c.InnerRib = _mm512_set1_pd(volume.InnerRib);
  return c;
}

// States advanced by the per-lane jumps at `jumps`.
inline __m512i Jumped(__m512i held, const std::uint64_t* jumps) {
  return _mm512_madd52lo_epu64(_mm512_setzero_si512(), held, _mm512_load_si512(jumps));
}

// The lanes' states of a whole block, its three vectors, advanced by the
// block-jump entry `jumps` (KernelTables.h).
inline void JumpAll(__m512i& base0, __m512i& base1, __m512i& base2,
                    const std::uint64_t (&jumps)[3][Lanes]) {
  base0 = Jumped(base0, jumps[0]);
  base1 = Jumped(base1, jumps[1]);
  base2 = Jumped(base2, jumps[2]);
}

// The k-th uniform (k = 1 .. 12) after the held states `base` of the lanes:
// NextUniform's value, in two instructions (see "One uniform" above).
inline __m512d Uniform(const TConstants& c, __m512i base, int k) {
  const __m512i biased = _mm512_madd52lo_epu64(c.Bias, base, _mm512_load_si512(c.Powers[k]));
  return _mm512_fmadd_pd(_mm512_castsi512_pd(biased), c.Scale, c.MinusBiasScaled);
}

// The displacement NextNormal(0.0, Sigma, stream) of every lane from the held
// state at the start of the lane's window, but for the final + 0.0 of the mean:
// twelve uniforms added one at a time from 0.0, then (sum - 6.0) * Sigma, each
// step rounded to double.
inline __m512d StepsWithoutMean(const TConstants& c, __m512i base) {
  __m512d sum = Uniform(c, base, 1);  // 0.0 + u is u exactly
  sum = _mm512_add_pd(sum, Uniform(c, base, 2));
  sum = _mm512_add_pd(sum, Uniform(c, base, 3));
  sum = _mm512_add_pd(sum, Uniform(c, base, 4));
  sum = _mm512_add_pd(sum, Uniform(c, base, 5));
  sum = _mm512_add_pd(sum, Uniform(c, base, 6));
  sum = _mm512_add_pd(sum, Uniform(c, base, 7));
  sum = _mm512_add_pd(sum, Uniform(c, base, 8));
  sum = _mm512_add_pd(sum, Uniform(c, base, 9));
  sum = _mm512_add_pd(sum, Uniform(c, base, 10));
  sum = _mm512_add_pd(sum, Uniform(c, base, 11));
  sum = _mm512_add_pd(sum, Uniform(c, base, 12));
  return _mm512_mul_pd(_mm512_sub_pd(sum, c.Six), c.Sigma);
}

// Bits 0 .. 23 of the three 8-bit lane masks, in packed order.
inline std::uint32_t Packed(__mmask8 m0, __mmask8 m1, __mmask8 m2) {
  return std::uint32_t{m0} | std::uint32_t{m1} << 8 | std::uint32_t{m2} << 16;
}

}  // namespace

std::int32_t MoveMoleculesAvx512(const TVolume& volume, TMolCoord* molecules, std::int32_t count,
                                 double sigma, TStreamStates& streams) {
  if (count <= 0) return 0;
  const TConstants c = MakeConstants(volume, sigma);

  // Each lane's state (in lane form) at the start of its window in the current
  // block (three variables rather than an array, so that they stay in registers).
  const __m512i held = _mm512_setr_epi64(LaneForm(streams.X), LaneForm(streams.Y),
                                         LaneForm(streams.Z), 0, 0, 0, 0, 0);
  __m512i base0 = Jumped(_mm512_permutexvar_epi64(c.LaneAxes[0], held), LaneJumps.Of[0][0]);
  __m512i base1 = Jumped(_mm512_permutexvar_epi64(c.LaneAxes[1], held), LaneJumps.Of[0][1]);
  __m512i base2 = Jumped(_mm512_permutexvar_epi64(c.LaneAxes[2], held), LaneJumps.Of[0][2]);
  std::int32_t placement = streams.Placement;
  std::int32_t inside = 0;
  std::int32_t i = 0;
  // Moves the block of the next min(8, count - i) molecules, or of those up to
  // the first escape. `full` when 8 molecules are left: the loads, stores and
  // tests need no masks then, nor the scalar work of making them.
  const auto moveBlock = [&](auto fullTag) __attribute__((always_inline)) {
    constexpr bool full = decltype(fullTag)::value;
    const int n = full ? Lanes : count - i;
    const std::uint32_t valid = full ? 0xFFFFFFu : (std::uint32_t{1} << (3 * n)) - 1u;
    double* const packed = &molecules[i].x;
    // The array streams through the cache once per step; ask for it early
    // (see PrefetchAhead). A block is 192 bytes, three cache lines, so the
    // three requests of each block cover every line once.
    const char* const ahead = reinterpret_cast<const char*>(packed) + PrefetchAhead;
    _mm_prefetch(ahead, _MM_HINT_T0);
    _mm_prefetch(ahead + 64, _MM_HINT_T0);
    _mm_prefetch(ahead + 128, _MM_HINT_T0);

    // Masked loads for the last, partial block only: it touches no memory past
    // the last molecule. (A masked load costs one more vector instruction.)
    __m512d p0, p1, p2;
    if constexpr (full) {
      p0 = _mm512_loadu_pd(packed);
      p1 = _mm512_loadu_pd(packed + 8);
      p2 = _mm512_loadu_pd(packed + 16);
    } else {
      p0 = _mm512_maskz_loadu_pd(static_cast<__mmask8>(valid), packed);
      p1 = _mm512_maskz_loadu_pd(static_cast<__mmask8>(valid >> 8), packed + 8);
      p2 = _mm512_maskz_loadu_pd(static_cast<__mmask8>(valid >> 16), packed + 16);
    }

    // p <- p + N(0, Sigma) in every lane, as if no molecule of the block escaped.
    // The reference adds the step d + 0.0 to p; here (p + d) + 0.0 is added,
    // which is the same double: d + 0.0 differs from d only for d = -0.0, and
    // p + d differs from p + (d + 0.0) only for p = d = -0.0, where the final
    // + 0.0 turns -0.0 into +0.0 again. The tests read p + d, one addition
    // earlier: it has the magnitude of the result (signed zeros and NaN
    // compare alike), and the escape branch, which waits for them, resolves sooner.
    const __m512d sum0 = _mm512_add_pd(p0, StepsWithoutMean(c, base0));
    const __m512d sum1 = _mm512_add_pd(p1, StepsWithoutMean(c, base1));
    const __m512d sum2 = _mm512_add_pd(p2, StepsWithoutMean(c, base2));
    const __m512d magnitude0 = _mm512_abs_pd(sum0);
    const __m512d magnitude1 = _mm512_abs_pd(sum1);
    const __m512d magnitude2 = _mm512_abs_pd(sum2);
    // Ordered, non-signalling compares: false for a NaN, like the scalar > and <.
    const __mmask8 out0 =
        _mm512_mask_cmp_pd_mask(static_cast<__mmask8>(valid), magnitude0, c.OuterRib, _CMP_GT_OQ);
    const __mmask8 out1 = _mm512_mask_cmp_pd_mask(static_cast<__mmask8>(valid >> 8), magnitude1,
                                                  c.OuterRib, _CMP_GT_OQ);
    const __mmask8 out2 = _mm512_mask_cmp_pd_mask(static_cast<__mmask8>(valid >> 16), magnitude2,
                                                  c.OuterRib, _CMP_GT_OQ);
    const __m512d moved0 = _mm512_add_pd(sum0, c.Zero);
    const __m512d moved1 = _mm512_add_pd(sum1, c.Zero);
    const __m512d moved2 = _mm512_add_pd(sum2, c.Zero);
    const std::uint32_t in = Packed(_mm512_cmp_pd_mask(magnitude0, c.InnerRib, _CMP_LT_OQ),
                                    _mm512_cmp_pd_mask(magnitude1, c.InnerRib, _CMP_LT_OQ),
                                    _mm512_cmp_pd_mask(magnitude2, c.InnerRib, _CMP_LT_OQ));
    // Bit 3 j set when molecule j has all three coordinates inside.
    const std::uint32_t insideMolecules = in & in >> 1 & in >> 2 & 0x249249u;

    // The common case, tested on the masks themselves: all n molecules are final.
    if (__builtin_expect(_kortestz_mask8_u8(_kor_mask8(out0, out1), out2), 1)) {
      if constexpr (full) {
        _mm512_storeu_pd(packed, moved0);
        _mm512_storeu_pd(packed + 8, moved1);
        _mm512_storeu_pd(packed + 16, moved2);
      } else {
        _mm512_mask_storeu_pd(packed, static_cast<__mmask8>(valid), moved0);
        _mm512_mask_storeu_pd(packed + 8, static_cast<__mmask8>(valid >> 8), moved1);
        _mm512_mask_storeu_pd(packed + 16, static_cast<__mmask8>(valid >> 16), moved2);
      }
      inside += __builtin_popcount(insideMolecules & valid);
      JumpAll(base0, base1, base2, BlockJumps.Of[TTables::NoneEscaped(n)]);
      i += n;
      return;
    }

    // The first escape in packed order is the first molecule that escapes, on
    // the first axis (x, y, z) on which it does. The molecules before it are final.
    const int first = __builtin_ctz(Packed(out0, out1, out2));
    const int kept = first / 3;
    const std::uint32_t keptLanes = (std::uint32_t{1} << (3 * kept)) - 1u;
    _mm512_mask_storeu_pd(packed, static_cast<__mmask8>(keptLanes), moved0);
    _mm512_mask_storeu_pd(packed + 8, static_cast<__mmask8>(keptLanes >> 8), moved1);
    _mm512_mask_storeu_pd(packed + 16, static_cast<__mmask8>(keptLanes >> 16), moved2);
    inside += __builtin_popcount(insideMolecules & keptLanes);
    // The states after the escaping molecule and its re-injection, which the
    // next block starts from; lanes 1 and 2 hold those of the Y and Z streams.
    JumpAll(base0, base1, base2, BlockJumps.Of[TTables::FirstEscapeAt(first)]);
    const __m128i yz = _mm512_castsi512_si128(_mm512_alignr_epi64(base0, base0, 1));
    PlaceAtWall(volume.OuterRib, placement, StateOfLane(_mm_cvtsi128_si64(yz)),
                StateOfLane(_mm_extract_epi64(yz, 1)), molecules[i + kept]);
    i += kept + 1;
  };
  while (count - i >= Lanes) moveBlock(std::true_type{});
  while (i < count) moveBlock(std::false_type{});
  const __m128i xy = _mm512_castsi512_si128(base0);
  streams.X = StateOfLane(_mm_cvtsi128_si64(xy));
  streams.Y = StateOfLane(_mm_extract_epi64(xy, 1));
  streams.Z = StateOfLane(_mm_cvtsi128_si64(_mm512_extracti64x2_epi64(base0, 1)));
  streams.Placement = placement;
  return inside;
}

// The scan in lanes (see TScanMolecules and ScanReference, whose draws it
// follows). Only a coordinate within reach of the wall, fl(|p| + fl(6 |Sigma|))
// > b0 or NaN, can escape (the bound is proved at ScanReference): about one in
// ten at the window's defaults. Only those get a displacement, eight at a time.
//
// Listing. The molecules go by in windows of ScanWindow. Every coordinate of a
// window is tested, and those within reach are listed in slot order, each as
// 4 m + a for molecule m of the window and axis a (compressed out of whole
// blocks, with three sentinels after the last).
//
// Resolving. One vector holds the X, Y, Z and placement states, in lane form,
// at the start of the window, shifted by the escapes found in it so far. A
// listed coordinate of molecule m draws its step 12 m draws after its axis'
// state, until an escape before it shifts that stream. So eight listed
// coordinates at a time get their displacements as if none of them escaped,
// as the moving kernel does with blocks; the first escape among them is
// kept, the streams are shifted for it (an escape on x moves the Y and Z
// streams by 1 draw instead of 12, on y Y by 13 and Z by 1, on z both by 13;
// the placement stream by 2), the molecule's remaining coordinates are struck
// off, and the next eight start after it.
//
// Deciding fast. Each escape waits for the eight before it, so the time of a
// decision counts, not only the work. The exact step sums its twelve
// uniforms one rounded addition after the other (11 additions in a row);
// the decision uses their states instead, summed as integers in a tree (4
// additions deep), and one multiply-add, d' = fl(fl(T 2^21) Scale Sigma - 6
// Sigma) with T the sum of the twelve states. Where d' leaves the outcome in
// doubt, the eight are decided again with the exact step. Bound: with R the
// real sum of s_k UniformScale, the exact sum S is within 89 2^-53 < 2^-46 of
// R (twelve products rounded once each, eleven sums below 16 rounded once
// each), so the exact step d is within 2^-45 |Sigma| + 2^-1074 of (R - 6)
// Sigma, and d' (T 2^21 exact below 2^56, three roundings of terms up to
// 12 |Sigma|, one of the result, and at most 2^-1018 lost where Scale Sigma
// is subnormal) within 2^-47 |Sigma| + 2^-1018. Adding p rounds both by at
// most 2^-53 |p + step| each, so |fl(p + d)| and |fl(p + d')| differ by less
// than E = 2^-43 |Sigma| + 2^-52 |p| + 2^-1017. The decision is taken only
// where |fl(p + d')| is beyond fl(b0 + M) or within fl(b0 - M), with
// M = 2^-40 (|p| + |Sigma| + b0) + 2^-1000, which exceeds E by more than the
// rounding of b0 +- M and of M itself. A NaN or an infinity anywhere fails
// both tests and goes to the exact step.
namespace {

using namespace ScanTables;

// Goes through the `n` molecules of a window at `packed` a block of Lanes at
// a time and hands `visit` its coordinates near the wall (NearTheWall): the
// mask of the block's first two vectors (16 lanes) and that of its third,
// with the codes 4 m + a of their lanes (m the molecule in the window, a the
// axis), from `codes01` and `codes2` for the first block. The last, partial
// block reads no memory past the last molecule.
template <class TVisit>
__attribute__((always_inline)) inline void ForEachNearBlock(const TConstants& c,
                                                            const double* packed, int n,
                                                            __m512d reach, __m512i codes01,
                                                            __m512i codes2, TVisit&& visit) {
  const auto block = [&](__m512d p0, __m512d p1, __m512d p2, __mmask8 valid0, __mmask8 valid1,
                         __mmask8 valid2, int first) __attribute__((always_inline)) {
    const __mmask8 near0 = NearTheWall(p0, reach, c.OuterRib, valid0);
    const __mmask8 near1 = NearTheWall(p1, reach, c.OuterRib, valid1);
    const __mmask8 near2 = NearTheWall(p2, reach, c.OuterRib, valid2);
    const __m512i offset = _mm512_set1_epi32(4 * first);
    visit(_mm512_kunpackb(near1, near0), near2, _mm512_add_epi32(codes01, offset),
          _mm512_add_epi32(codes2, offset));
  };
  int first = 0;
  for (; first + Lanes <= n; first += Lanes) {
    const double* const at = packed + 3 * first;
    const char* const ahead = reinterpret_cast<const char*>(at) + 2 * PrefetchAhead;
    _mm_prefetch(ahead, _MM_HINT_T0);
    _mm_prefetch(ahead + 64, _MM_HINT_T0);
    _mm_prefetch(ahead + 128, _MM_HINT_T0);
    block(_mm512_loadu_pd(at), _mm512_loadu_pd(at + 8), _mm512_loadu_pd(at + 16), 0xFF, 0xFF, 0xFF,
          first);
  }
  if (first < n) {  // the last, partial block: no memory past the last molecule
    const std::uint32_t valid = (std::uint32_t{1} << (3 * (n - first))) - 1u;
    const __mmask8 valid0 = static_cast<__mmask8>(valid);
    const __mmask8 valid1 = static_cast<__mmask8>(valid >> 8);
    const __mmask8 valid2 = static_cast<__mmask8>(valid >> 16);
    const double* const at = packed + 3 * first;
    block(_mm512_maskz_loadu_pd(valid0, at), _mm512_maskz_loadu_pd(valid1, at + 8),
          _mm512_maskz_loadu_pd(valid2, at + 16), valid0, valid1, valid2, first);
  }
}

// The shifts of an escape on axis a, against 12 draws of each axis, for the
// lanes X, Y, Z and placement of the held states.
struct TEscapeShifts {
  alignas(64) std::uint64_t Of[3][Lanes];
};
constexpr TEscapeShifts EscapeShifts = {{
    {1, BackEleven, BackEleven, JumpMultiplier(2), 1, 1, 1, 1},
    {1, JumpMultiplier(1), BackEleven, JumpMultiplier(2), 1, 1, 1, 1},
    {1, JumpMultiplier(1), JumpMultiplier(1), JumpMultiplier(2), 1, 1, 1, 1},
}};

// Lane l of vector v of a block: 4 m + a for its molecule m and axis a; the
// first two vectors side by side in 32-bit lanes, then the third.
__m512i ListCodes01() {
  const auto code = [](int v, int l) {
    return 4 * TTables::MoleculeOf(v, l) + TTables::AxisOf(v, l);
  };
  return _mm512_setr_epi32(code(0, 0), code(0, 1), code(0, 2), code(0, 3), code(0, 4), code(0, 5),
                           code(0, 6), code(0, 7), code(1, 0), code(1, 1), code(1, 2), code(1, 3),
                           code(1, 4), code(1, 5), code(1, 6), code(1, 7));
}
__m512i ListCodes2() {
  const auto code = [](int l) { return 4 * TTables::MoleculeOf(2, l) + TTables::AxisOf(2, l); };
  return _mm512_setr_epi32(code(0), code(1), code(2), code(3), code(4), code(5), code(6), code(7),
                           0, 0, 0, 0, 0, 0, 0, 0);
}

// The approximate step d' of the eight lanes from the states `base` (see
// "Deciding fast").
inline __m512d ApproximateSteps(const TConstants& c, __m512i base, __m512d stepScale,
                                __m512d sixSigma) {
  const __m512i zero = _mm512_setzero_si512();
  __m512i s[12];
  for (int k = 0; k < 12; ++k)
    s[k] = _mm512_madd52lo_epu64(zero, base, _mm512_load_si512(c.Powers[k + 1]));
  const __m512i t0 = _mm512_add_epi64(s[0], s[1]), t1 = _mm512_add_epi64(s[2], s[3]);
  const __m512i t2 = _mm512_add_epi64(s[4], s[5]), t3 = _mm512_add_epi64(s[6], s[7]);
  const __m512i t4 = _mm512_add_epi64(s[8], s[9]), t5 = _mm512_add_epi64(s[10], s[11]);
  const __m512i sum = _mm512_add_epi64(_mm512_add_epi64(_mm512_add_epi64(t0, t1), t2),
                                       _mm512_add_epi64(_mm512_add_epi64(t3, t4), t5));
  return _mm512_fmadd_pd(_mm512_cvtepi64_pd(sum), stepScale, sixSigma);
}

}  // namespace

void ScanAvx512(const TVolume& volume, const TMolCoord* molecules, std::int32_t count, double sigma,
                TStreamStates& streams) {
  if (count <= 0) return;
  const TConstants c = MakeConstants(volume, sigma);
  const __m512d reach = _mm512_set1_pd(6.0 * std::fabs(sigma));
  const __m512d stepScale = _mm512_set1_pd((UniformScale / 2097152.0) * sigma);
  const __m512d minusSixSigma = _mm512_set1_pd(-(6.0 * sigma));
  const __m512d sigmaAndRib = _mm512_set1_pd(std::fabs(sigma) + volume.OuterRib);
  const __m512d doubtShare = _mm512_set1_pd(0x1p-40), doubtFloor = _mm512_set1_pd(0x1p-1000);
  const __m512i codes01 = ListCodes01(), codes2 = ListCodes2();
  __m512i held = _mm512_setr_epi64(LaneForm(streams.X), LaneForm(streams.Y), LaneForm(streams.Z),
                                   LaneForm(streams.Placement), 0, 0, 0, 0);
  // The placement stream is drawn from only by escapes; without one it keeps
  // its state as it was (lane form would clear a set bit 31).
  bool escaped = false;
  // Room for a whole window's coordinates, a block's compressed stores past
  // the last and the sentinels.
  alignas(64) std::int32_t listed[3 * ScanWindow + 16];

  for (std::int32_t window = 0; window < count; window += ScanWindow) {
    const int n = count - window < ScanWindow ? count - window : ScanWindow;
    const double* const packed = &molecules[window].x;

    int listedCount = 0;
    ForEachNearBlock(
        c, packed, n, reach, codes01, codes2,
        [&](__mmask16 near01, __mmask8 near2, __m512i at01, __m512i at2)
            __attribute__((always_inline)) {
              _mm512_storeu_si512(listed + listedCount, _mm512_maskz_compress_epi32(near01, at01));
              listedCount += __builtin_popcount(near01);
              _mm512_storeu_si512(listed + listedCount, _mm512_maskz_compress_epi32(near2, at2));
              listedCount += __builtin_popcount(near2);
            });
    listed[listedCount] = listed[listedCount + 1] = listed[listedCount + 2] = -4;

    for (int e = 0; e < listedCount;) {
      const int inPack = listedCount - e < Lanes ? listedCount - e : Lanes;
      const __mmask8 valid = static_cast<__mmask8>((1u << inPack) - 1u);
      const __m256i code = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(listed + e));
      const __m256i molecule = _mm256_srli_epi32(code, 2);
      const __m256i axis = _mm256_and_si256(code, _mm256_set1_epi32(3));
      // Packed double 3 m + a of the window.
      const __m256i index =
          _mm256_add_epi32(_mm256_add_epi32(molecule, molecule), _mm256_add_epi32(molecule, axis));
      const __m512d p = _mm512_mask_i32gather_pd(c.Zero, valid, index, packed, 8);
      const __m512i jumps =
          _mm512_mask_i32gather_epi64(_mm512_setzero_si512(), valid, molecule, MoleculeJumps.Of, 8);
      const __m512i base =
          _mm512_madd52lo_epu64(_mm512_setzero_si512(),
                                _mm512_permutexvar_epi64(_mm512_cvtepu32_epi64(axis), held), jumps);

      const __m512d moved = _mm512_add_pd(p, ApproximateSteps(c, base, stepScale, minusSixSigma));
      const __m512d magnitude = _mm512_abs_pd(moved);
      const __m512d doubt =
          _mm512_fmadd_pd(_mm512_add_pd(_mm512_abs_pd(p), sigmaAndRib), doubtShare, doubtFloor);
      __mmask8 out =
          _mm512_mask_cmp_pd_mask(valid, magnitude, _mm512_add_pd(c.OuterRib, doubt), _CMP_GT_OQ);
      const __mmask8 stays =
          _mm512_mask_cmp_pd_mask(valid, magnitude, _mm512_sub_pd(c.OuterRib, doubt), _CMP_LT_OQ);
      if (__builtin_expect(static_cast<__mmask8>(out | stays) != valid, 0)) {
        const __m512d exact = _mm512_add_pd(p, StepsWithoutMean(c, base));
        out = _mm512_mask_cmp_pd_mask(valid, _mm512_abs_pd(exact), c.OuterRib, _CMP_GT_OQ);
      }
      if (__builtin_expect(out == 0, 1)) {
        e += inPack;
        continue;
      }
      escaped = true;
      const int escape = e + __builtin_ctz(out);
      const std::int32_t escaping = listed[escape] >> 2;
      held = _mm512_madd52lo_epu64(_mm512_setzero_si512(), held,
                                   _mm512_load_si512(EscapeShifts.Of[listed[escape] & 3]));
      // Strike off the molecule's other coordinates (at most two, and the
      // sentinels belong to no molecule).
      e = escape + 1;
      e += listed[e] >> 2 == escaping;
      e += listed[e] >> 2 == escaping;
    }

    const long long windowJump = static_cast<long long>(MoleculeJumps.Of[n]);
    held =
        _mm512_madd52lo_epu64(_mm512_setzero_si512(), held,
                              _mm512_setr_epi64(windowJump, windowJump, windowJump, 1, 1, 1, 1, 1));
  }
  const __m128i xy = _mm512_castsi512_si128(held);
  const __m128i zp = _mm512_extracti64x2_epi64(held, 1);
  streams = {escaped ? StateOfLane(_mm_extract_epi64(zp, 1)) : streams.Placement,
             StateOfLane(_mm_cvtsi128_si64(xy)), StateOfLane(_mm_extract_epi64(xy, 1)),
             StateOfLane(_mm_cvtsi128_si64(zp))};
}

// The near-wall list (TNearList) in lanes. The molecules go by in windows of
// ScanWindow, as in the scan: every coordinate is tested against the wall's
// reach, and the near ones are listed as 4 m + a, those on x apart from those
// on y and z. The x ones are decided at once with their exact steps (the X
// stream never shifts); then each y or z one of a molecule that stays on x
// becomes an entry, eight at a time: its jump (that of its molecule in the
// window, times the window's, times 16807^-11 for each escape on x in the
// window before it), its flags, its position and its two bounds. Every store
// writes whole vectors of compressed lanes; the next ones overwrite what lies
// past the last entry.
namespace {

using namespace NearTables;

// The lanes of vector v of a block that hold x coordinates.
template <int V>
constexpr __mmask8 XLanes() {
  unsigned mask = 0;
  for (int l = 0; l < Lanes; ++l) mask |= (TTables::AxisOf(V, l) == 0 ? 1u : 0u) << l;
  return static_cast<__mmask8>(mask);
}

// The entries' bounds from their positions (see NearTables).
struct TBoundsMaker {
  __m512d PlusRib, MinusRib, InverseSigma, Six, Scale, Limit, MinusLimit, ExactBeyond;
  __m512i Width;

  TBoundsMaker(double b0, double sigma)
      : PlusRib(_mm512_set1_pd(b0)),
        MinusRib(_mm512_set1_pd(-b0)),
        InverseSigma(_mm512_set1_pd(1.0 / sigma)),
        Six(_mm512_set1_pd(6.0)),
        Scale(_mm512_set1_pd(SumScale)),
        Limit(_mm512_set1_pd(BoundLimit)),
        MinusLimit(_mm512_set1_pd(-BoundLimit)),
        ExactBeyond(_mm512_set1_pd(2.0 * b0)),
        Width(_mm512_set1_epi64(DoubtWidth(b0, sigma))) {}

  // tau for the wall `wall`, clamped (min and max return their second
  // operand for a NaN, so a NaN becomes a limit).
  __m512d Tau(__m512d wall, __m512d p) const {
    const __m512d tau = _mm512_mul_pd(
        _mm512_add_pd(_mm512_mul_pd(_mm512_sub_pd(wall, p), InverseSigma), Six), Scale);
    return _mm512_max_pd(_mm512_min_pd(tau, Limit), MinusLimit);
  }
  void Make(__m512d p, __m512i& low, __m512i& high) const {
    const __m512d plus = Tau(PlusRib, p), minus = Tau(MinusRib, p);
    low = _mm512_sub_epi64(_mm512_cvtpd_epi64(_mm512_min_pd(plus, minus)), Width);
    high = _mm512_add_epi64(_mm512_cvtpd_epi64(_mm512_max_pd(plus, minus)), Width);
  }
  // The lanes whose bounds do not apply: |p| > 2 b0, or not finite.
  __mmask8 Exact(__m512d p) const {
    return static_cast<__mmask8>(~_mm512_cmp_pd_mask(_mm512_abs_pd(p), ExactBeyond, _CMP_LE_OQ));
  }
};

// The jumps 16807^(12 m) of the molecules m = 0 .. 127 of a window without a
// gather: m = 16 h + l, the jump of 12 l draws from two vectors by one
// permutation, that of 192 h from one by another, multiplied.
struct TMoleculeSplit {
  __m512i LowFirst, LowSecond;  // 16807^(12 l), l = 0 .. 7 and 8 .. 15
  __m512i High;                 // 16807^(192 h), h = 0 .. 7

  TMoleculeSplit() : LowFirst(Powers(0, 12)), LowSecond(Powers(8, 12)), High(Powers(0, 192)) {}
  static __m512i Powers(int from, int step) {
    alignas(64) std::uint64_t of[Lanes];
    for (int l = 0; l < Lanes; ++l)
      of[l] =
          JumpMultiplier(static_cast<std::uint64_t>(step) * static_cast<std::uint64_t>(from + l));
    return _mm512_load_si512(of);
  }
  // `sixteens` (lane h: a lane form, or a multiplier at bit 20, for molecule
  // 16 h) jumped on to molecule m of each lane: the same form, for m.
  __m512i Jumped(__m512i sixteens, __m512i molecule, __m512i fifteen) const {
    const __m512i low =
        _mm512_permutex2var_epi64(LowFirst, _mm512_and_si512(molecule, fifteen), LowSecond);
    return _mm512_madd52lo_epu64(_mm512_setzero_si512(),
                                 _mm512_permutexvar_epi64(_mm512_srli_epi64(molecule, 4), sixteens),
                                 low);
  }
};

}  // namespace

void ListNearAvx512(const TVolume& volume, const TMolCoord* molecules, std::int32_t count,
                    double sigma, std::int32_t xState, TNearList& list) {
  list.XEscapes = 0;
  list.Count = 0;
  if (count <= 0) {
    Pad(list);
    return;
  }
  const TConstants c = MakeConstants(volume, sigma);
  const TBoundsMaker bounds(volume.OuterRib, sigma);
  const __m512d reach = _mm512_set1_pd(6.0 * std::fabs(sigma));
  const __m512i codes01 = ListCodes01(), codes2 = ListCodes2();
  constexpr __mmask16 xLanes01 = static_cast<__mmask16>(XLanes<0>() | XLanes<1>() << 8);
  constexpr __mmask8 xLanes2 = XLanes<2>();
  const __m512i zero = _mm512_setzero_si512();
  const __m512i fifteen = _mm512_set1_epi64(15), three = _mm512_set1_epi64(3);
  const __m512i backEleven = _mm512_set1_epi64(BackEleven);
  const TMoleculeSplit split;
  // Locals, so that the stores through the arrays need not reload them.
  std::uint64_t* const jumpsOut = list.Jumps;
  std::int64_t* const lowOut = list.Low;
  std::int64_t* const highOut = list.High;
  double* const positionsOut = list.Positions;
  std::int32_t listed = 0, xEscapesInRun = 0;
  // The X state at the window's start, in lane form.
  long long xHeld = LaneForm(xState);
  // 16807^(12 w) 16807^(-11 x) for the window's first molecule w and the x
  // escapes x before it.
  std::uint32_t windowJump = 1;
  // Room for a window's coordinates, the compressed stores past the last and
  // the sentinel.
  alignas(64) std::int32_t xListed[ScanWindow + 32];
  alignas(64) std::int32_t yzListed[2 * ScanWindow + 32];
  alignas(64) std::int32_t xEscaped[ScanWindow + 32];

  for (std::int32_t window = 0; window < count; window += ScanWindow) {
    const int n = count - window < ScanWindow ? count - window : ScanWindow;
    const double* const packed = &molecules[window].x;

    int xCount = 0, yzCount = 0;
    const auto listBlock = [&](__mmask16 near01, __mmask8 near2, __m512i at01, __m512i at2)
        __attribute__((always_inline)) {
      const __mmask16 x01 = near01 & xLanes01, yz01 = near01 & ~xLanes01;
      const __mmask8 x2 = near2 & xLanes2, yz2 = near2 & ~xLanes2;
      _mm512_storeu_si512(xListed + xCount, _mm512_maskz_compress_epi32(x01, at01));
      xCount += __builtin_popcount(x01);
      _mm512_storeu_si512(xListed + xCount, _mm512_maskz_compress_epi32(x2, at2));
      xCount += __builtin_popcount(x2);
      _mm512_storeu_si512(yzListed + yzCount, _mm512_maskz_compress_epi32(yz01, at01));
      yzCount += __builtin_popcount(yz01);
      _mm512_storeu_si512(yzListed + yzCount, _mm512_maskz_compress_epi32(yz2, at2));
      yzCount += __builtin_popcount(yz2);
    };
    ForEachNearBlock(c, packed, n, reach, codes01, codes2, listBlock);
    // A sentinel of no molecule after the last, read as the next entry's code.
    yzListed[yzCount] = -4;

    // The escapes on x, exactly: the molecules of the window that leave on
    // x, in order (compressed, without a branch on the escapes). Lane h of
    // xSixteens: the X state (lane form) of the window's molecule 16 h.
    int xEscapes = 0;
    if (xCount > 0) {
      const __m512i xSixteens = _mm512_madd52lo_epu64(zero, _mm512_set1_epi64(xHeld), split.High);
      for (int e = 0; e < xCount; e += Lanes) {
        const __mmask8 valid =
            static_cast<__mmask8>(xCount - e >= Lanes ? 0xFF : (1u << (xCount - e)) - 1u);
        const __m256i molecule =
            _mm256_srli_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(xListed + e)), 2);
        const __m256i index = _mm256_add_epi32(_mm256_add_epi32(molecule, molecule), molecule);
        const __m512d p = _mm512_mask_i32gather_pd(c.Zero, valid, index, packed, 8);
        const __m512i base = split.Jumped(xSixteens, _mm512_cvtepu32_epi64(molecule), fifteen);
        const __mmask8 out = _mm512_mask_cmp_pd_mask(
            valid, _mm512_abs_pd(_mm512_add_pd(p, StepsWithoutMean(c, base))), c.OuterRib,
            _CMP_GT_OQ);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(xEscaped + xEscapes),
                            _mm512_cvtepi64_epi32(
                                _mm512_maskz_compress_epi64(out, _mm512_cvtepu32_epi64(molecule))));
        xEscapes += __builtin_popcount(out);
      }
    }

    // The entries on y and z. Lane h of jumpSixteens: the jump of the
    // window's molecule 16 h, at bit 20.
    const __m512i jumpSixteens = _mm512_madd52lo_epu64(
        zero, split.High, _mm512_set1_epi64(static_cast<long long>(windowJump) << 20));
    for (int e = 0; e < yzCount; e += Lanes) {
      __mmask8 keep =
          static_cast<__mmask8>(yzCount - e >= Lanes ? 0xFF : (1u << (yzCount - e)) - 1u);
      const __m256i code = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(yzListed + e));
      const __m256i next = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(yzListed + e + 1));
      const __m256i molecule = _mm256_srli_epi32(code, 2);
      const __m512i molecule64 = _mm512_cvtepu32_epi64(molecule);
      const __m512i axis64 = _mm512_and_si512(_mm512_cvtepu32_epi64(code), three);
      __m512i jumps = split.Jumped(jumpSixteens, molecule64, fifteen);
      // The same number of turns for every group of the window.
      for (int x = 0; x < xEscapes; ++x) {
        const __m512i escaping = _mm512_set1_epi64(xEscaped[x]);
        keep &= _mm512_cmpneq_epi64_mask(molecule64, escaping);
        // An escape on x before the entry: 11 draws fewer.
        jumps = _mm512_mask_mov_epi64(jumps, _mm512_cmpgt_epi64_mask(molecule64, escaping),
                                      _mm512_madd52lo_epu64(zero, jumps, backEleven));
      }
      if (keep == 0) continue;
      jumps = _mm512_srli_epi64(jumps, 20);  // the multiplier alone, below the flags
      const __m256i index = _mm256_add_epi32(
          _mm256_add_epi32(molecule, molecule),
          _mm256_add_epi32(molecule, _mm256_and_si256(code, _mm256_set1_epi32(3))));
      const __m512d p = _mm512_mask_i32gather_pd(c.Zero, keep, index, packed, 8);
      const __mmask8 onZ = _mm512_cmpeq_epi64_mask(axis64, _mm512_set1_epi64(2));
      const __mmask8 zFollows = static_cast<__mmask8>(
          _mm512_cmpeq_epi64_mask(_mm512_cvtepu32_epi64(_mm256_srli_epi32(next, 2)), molecule64) &
          ~onZ);
      jumps = _mm512_mask_or_epi64(jumps, onZ, jumps,
                                   _mm512_set1_epi64(static_cast<long long>(NearFlags::OnZ)));
      jumps = _mm512_mask_or_epi64(jumps, zFollows, jumps,
                                   _mm512_set1_epi64(static_cast<long long>(NearFlags::ZFollows)));
      jumps = _mm512_mask_or_epi64(jumps, bounds.Exact(p), jumps,
                                   _mm512_set1_epi64(static_cast<long long>(NearFlags::Exact)));
      __m512i low, high;
      bounds.Make(p, low, high);
      _mm512_storeu_si512(jumpsOut + listed, _mm512_maskz_compress_epi64(keep, jumps));
      _mm512_storeu_si512(lowOut + listed, _mm512_maskz_compress_epi64(keep, low));
      _mm512_storeu_si512(highOut + listed, _mm512_maskz_compress_epi64(keep, high));
      _mm512_storeu_pd(positionsOut + listed, _mm512_maskz_compress_pd(keep, p));
      listed += __builtin_popcount(keep);
    }

    windowJump *= static_cast<std::uint32_t>(MoleculeJumps.Of[n]) *
                  BackElevenPower(static_cast<std::uint64_t>(xEscapes));
    xHeld = LaneForm(Jumped(static_cast<std::int32_t>(xHeld >> 21),
                            static_cast<std::uint32_t>(MoleculeJumps.Of[n])));
    xEscapesInRun += xEscapes;
  }
  list.Count = listed;
  list.XEscapes = xEscapesInRun;
  Pad(list);
}

namespace {

// One vector of eight entries of a round of the chain, evaluated at the
// carried states: whether each escapes as far as its bounds tell, and
// whether the bounds leave it in doubt.
struct TEvaluated {
  __m512i State;  // the entries' states, in lane form
  __mmask8 Out, Doubt, OnZ, ZFollows;
};

inline TEvaluated Evaluate(const TConstants& c, const TNearList& list, std::int32_t at,
                           __m512i twiceY, __m512i twiceZ, __m512i twiceWidth) {
  const __m512i zero = _mm512_setzero_si512();
  const __m512i jumps = _mm512_loadu_si512(list.Jumps + at);
  TEvaluated v;
  v.OnZ = _mm512_movepi64_mask(jumps);
  v.ZFollows = _mm512_movepi64_mask(_mm512_slli_epi64(jumps, 1));
  v.State = _mm512_madd52lo_epu64(zero, _mm512_mask_mov_epi64(twiceY, v.OnZ, twiceZ), jumps);
  __m512i s[12];
  for (int k = 0; k < 12; ++k)
    s[k] = _mm512_madd52lo_epu64(zero, v.State, _mm512_load_si512(c.Powers[k + 1]));
  const __m512i t0 = _mm512_add_epi64(s[0], s[1]), t1 = _mm512_add_epi64(s[2], s[3]);
  const __m512i t2 = _mm512_add_epi64(s[4], s[5]), t3 = _mm512_add_epi64(s[6], s[7]);
  const __m512i t4 = _mm512_add_epi64(s[8], s[9]), t5 = _mm512_add_epi64(s[10], s[11]);
  const __m512i sum = _mm512_add_epi64(_mm512_add_epi64(_mm512_add_epi64(t0, t1), t2),
                                       _mm512_add_epi64(_mm512_add_epi64(t3, t4), t5));
  const __m512i low = _mm512_loadu_si512(list.Low + at);
  const __m512i high = _mm512_loadu_si512(list.High + at);
  v.Out = _mm512_cmpgt_epi64_mask(low, sum) | _mm512_cmpgt_epi64_mask(sum, high);
  v.Doubt = _mm512_cmple_epu64_mask(_mm512_sub_epi64(sum, low), twiceWidth) |
            _mm512_cmple_epu64_mask(_mm512_sub_epi64(high, sum), twiceWidth) |
            _mm512_movepi64_mask(_mm512_slli_epi64(jumps, 2));
  return v;
}

// The entries in doubt decided by their exact steps.
inline __mmask8 Decided(const TConstants& c, const TNearList& list, std::int32_t at,
                        const TEvaluated& v) {
  if (__builtin_expect(v.Doubt == 0, 1)) return v.Out;
  const __m512d p = _mm512_loadu_pd(list.Positions + at);
  const __mmask8 exact = _mm512_cmp_pd_mask(
      _mm512_abs_pd(_mm512_add_pd(p, StepsWithoutMean(c, v.State))), c.OuterRib, _CMP_GT_OQ);
  return static_cast<__mmask8>((v.Out & ~v.Doubt) | (exact & v.Doubt));
}

}  // namespace

// The chain (see TNearList): sixteen entries a round, all at the states the
// escapes before them leave (twice the Y and Z states, carried in general
// registers), and the first escape among them selected without a branch:
// the round after it starts right after the escaping entry, and after its
// z entry when it left on y. A round is one dependent path of about thirty
// cycles (the states' jumps, the sums, the compares, the mask to an index),
// and a branch on the escapes would mispredict at most of them.
void ChainNearAvx512(const TVolume& volume, const TNearList& list, std::int32_t count, double sigma,
                     TStreamStates& streams) {
  if (count <= 0) return;
  const TConstants c = MakeConstants(volume, sigma);
  const __m512i twiceWidth = _mm512_set1_epi64(2 * NearTables::DoubtWidth(volume.OuterRib, sigma));
  std::uint32_t twiceY = 2u * static_cast<std::uint32_t>(streams.Y);
  std::uint32_t twiceZ = 2u * static_cast<std::uint32_t>(streams.Z);
  std::int32_t escapes = 0;
  for (std::int32_t e = 0; e < list.Count;) {
    // At bit 20, so that the product's low 52 bits are the entries' states
    // in lane form.
    const __m512i y = _mm512_set1_epi64(static_cast<long long>(twiceY) << 20);
    const __m512i z = _mm512_set1_epi64(static_cast<long long>(twiceZ) << 20);
    const TEvaluated a = Evaluate(c, list, e, y, z, twiceWidth);
    const TEvaluated b = Evaluate(c, list, e + Lanes, y, z, twiceWidth);
    const unsigned out = Decided(c, list, e, a) | unsigned{Decided(c, list, e + Lanes, b)} << 8;
    const unsigned onZ = a.OnZ | unsigned{b.OnZ} << 8;
    const unsigned zFollows = a.ZFollows | unsigned{b.ZFollows} << 8;
    // The first escape, or none (16), without a branch.
    const unsigned first = static_cast<unsigned>(__builtin_ctz(out | 0x10000u));
    const unsigned found = out != 0;
    const unsigned onZFirst = (onZ >> first) & 1u;
    const unsigned skip = (zFollows >> first) & 1u;
    e += static_cast<std::int32_t>(first + found + skip);
    escapes += static_cast<std::int32_t>(found);
    // An escape on y: Y one draw on, Z eleven back; on z: both one on.
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
