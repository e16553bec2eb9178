#include "Statg/Statg.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "tests/test_support.h"

TEST(Statg, UniformKnownAnswersFromPlacementSeed) {
  std::int32_t state = PlacementSeed;
  EXPECT_EQ(NextUniform(state), 0.47982485102481437);
  EXPECT_EQ(state, 1030416021);
  EXPECT_EQ(NextUniform(state), 0.4162674189620965);
  EXPECT_EQ(state, 893927475);
  EXPECT_EQ(NextUniform(state), 0.20650723818992603);
  EXPECT_EQ(state, 443470917);
}

TEST(Statg, ScaleConstantHasTheSpecifiedBits) {
  std::uint64_t bits = 0;
  std::memcpy(&bits, &UniformScale, sizeof bits);
  EXPECT_EQ(bits, 0x3E00000000200000u);
}

TEST(Statg, SeedsAndStatesStayOddAndInRange) {
  const TStreamStates seeds;
  EXPECT_EQ(seeds.Placement, 5555555);
  EXPECT_EQ(seeds.X, 5324575);
  EXPECT_EQ(seeds.Y, 5548235);
  EXPECT_EQ(seeds.Z, 5564875);
  for (std::int32_t seed : {PlacementSeed, StepSeedX, StepSeedY, StepSeedZ}) {
    std::int32_t state = seed;
    for (int k = 0; k < 100000; ++k) {
      const double u = NextUniform(state);
      ASSERT_EQ(state % 2, 1);
      ASSERT_GE(state, 0);
      ASSERT_GE(u, 0.0);
      ASSERT_LE(u, 1.0);
    }
  }
}

TEST(Statg, ExtremeStates) {
  std::int32_t zero = 0;
  EXPECT_EQ(NextUniform(zero), 0.0);
  EXPECT_EQ(zero, 0);
  // The largest state maps to exactly 1.0, not just below it.
  std::int32_t top = StateBefore(0x7FFFFFFF);
  EXPECT_EQ(NextUniform(top), 1.0);
  EXPECT_EQ(top, 0x7FFFFFFF);
  // A state with bit 31 set after the multiply loses it (modulo 2^31, not 2^31 - 1).
  std::int32_t wide = 0x7FFFFFFF;
  NextUniform(wide);
  EXPECT_EQ(wide, static_cast<std::int32_t>((0x7FFFFFFFu * 16807u) & 0x7FFFFFFFu));
}

TEST(Statg, NormalSumsTwelveUniformsInOrder) {
  std::int32_t a = StepSeedX;
  std::int32_t b = StepSeedX;
  double sum = 0.0;
  for (int k = 0; k < 12; ++k) sum += NextUniform(b);
  EXPECT_EQ(NextNormal(0.25, 3.0, a), (sum - 6.0) * 3.0 + 0.25);
  EXPECT_EQ(a, b);

  // Deviation 0 gives the mean exactly and still uses twelve draws.
  std::int32_t c = StepSeedY;
  EXPECT_EQ(NextNormal(1.5, 0.0, c), 1.5);
  EXPECT_EQ(c, Advanced(StepSeedY, 12));
}

TEST(Statg, NormalIsBoundedWithUnitMeanAndVariance) {
  std::int32_t state = StepSeedZ;
  const int n = 200000;
  double sum = 0.0, sumSquares = 0.0;
  for (int k = 0; k < n; ++k) {
    const double v = NextNormal(0.0, 1.0, state);
    ASSERT_GE(v, -6.0);
    ASSERT_LE(v, 6.0);
    sum += v;
    sumSquares += v * v;
  }
  const double mean = sum / n;
  const double variance = sumSquares / n - mean * mean;
  // Standard error of the mean is 1/sqrt(n) ~ 0.0022; allow about 4.5 of them.
  EXPECT_NEAR(mean, 0.0, 0.01);
  // Standard error of the variance is sqrt(2/n) ~ 0.0032.
  EXPECT_NEAR(variance, 1.0, 0.015);
}

// A jump of k draws leaves the state k draws leave, from any state, bit 31
// set or not, for short jumps and for jumps past 2^32 draws (the multiplier
// is needed only modulo 2^32).
TEST(Statg, JumpsLandWhereDrawsDo) {
  const std::int32_t states[] = {
      PlacementSeed, StepSeedZ, 0, 1, 0x7FFFFFFF, std::numeric_limits<std::int32_t>::min() + 9,
      -12345};
  for (std::int32_t from : states) {
    std::int32_t drawn = from;
    std::uint64_t taken = 0;
    for (std::uint64_t k : {1, 2, 11, 12, 13, 36, 1000, 65537, 1 << 20}) {
      for (; taken < k; ++taken) NextUniform(drawn);
      EXPECT_EQ(Jumped(from, JumpMultiplier(k)), drawn) << from << " by " << k;
    }
    // 16807^(2^29) is 1 modulo 2^31 (every odd number's is): a jump by 2^29
    // draws, or by 2^32 + 5, is one of no draw, or of 5, after a first draw.
    const std::int32_t once = Jumped(from, JumpMultiplier(1));
    EXPECT_EQ(Jumped(once, JumpMultiplier(std::uint64_t{1} << 29)), once);
    EXPECT_EQ(Jumped(once, JumpMultiplier((std::uint64_t{1} << 32) + 5)),
              Jumped(once, JumpMultiplier(5)));
  }
}
