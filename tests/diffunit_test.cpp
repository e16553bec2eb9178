#include "Diffunit/Diffunit.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "Diffunit/Kernels.h"
#include "Diffunit/Workers.h"
#include "Session/Parameters.h"
#include "Statg/Statg.h"
#include "tests/test_support.h"

namespace {

bool SamePositions(const std::vector<TMolCoord>& a, const std::vector<TMolCoord>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(TMolCoord)) == 0;
}

class DiffunitTest : public ::testing::Test {};

}  // namespace

TEST_F(DiffunitTest, SetParametersDerivesVolumesAndRestartsClock) {
  TVolume v;
  EXPECT_EQ(v.OuterRib, 0.0);
  EXPECT_EQ(v.TotalInnerCount, 0);
  EXPECT_FALSE(v.OnStep);
  v.Time = 5.0;
  SetDefaultParameters(v);
  EXPECT_EQ(v.OuterVolume, std::pow(0.00001, 3.0));
  EXPECT_EQ(v.InnerVolume, std::pow(1e-6, 3.0));
  EXPECT_EQ(v.ShellVolume, v.OuterVolume - v.InnerVolume);
  EXPECT_NEAR(v.ShellVolume, 9.99e-16, 1e-28);
  EXPECT_EQ(v.Time, 0.0);
  EXPECT_EQ(v.Viscosity, 0.001);
  EXPECT_EQ(v.Temperature, 293.15);
  EXPECT_EQ(v.TimeStep, 0.0001);

  // An overflowing volume is refused, names its rib and changes nothing.
  const struct {
    double outer, inner;
    TRibError::TRib rib;
    const char* message;
  } refused[] = {
      {1e200, 1e-6, TRibError::TRib::Outer,
       "Floating point overflow: the cube of the external cube rib 1e+200 m is beyond the "
       "range of a double"},
      {1e-5, -1e103, TRibError::TRib::Inner,
       "Floating point overflow: the cube of the internal cube rib -1e+103 m is beyond the "
       "range of a double"},
      {5e102, -5e102, TRibError::TRib::Inner,
       "Floating point overflow: the volume between the cubes of the ribs 5e+102 m and "
       "-5e+102 m is beyond the range of a double"},
  };
  for (const auto& c : refused) {
    try {
      v.SetParameters(c.outer, c.inner, 1, 1, 1);
      ADD_FAILURE() << c.message;
    } catch (const TRibError& e) {
      EXPECT_EQ(e.Rib, c.rib);
      EXPECT_STREQ(e.what(), c.message);
    }
  }
  EXPECT_EQ(v.OuterRib, 1e-5);
  EXPECT_EQ(v.InnerRib, 1e-6);
}

TEST_F(DiffunitTest, PopulateCountsTruncateAndPlaceInShellCorners) {
  TVolume v;
  v.SetParameters(2, 1, 0.001, 293.15, 0.0001);
  v.AddSpecies(10.5, 1.43e-10, 1.5e-9);
  const TSpecies& s = v.Species[0];
  EXPECT_EQ(s.InnerCount, 10);
  EXPECT_EQ(s.ShellCount, 73);
  EXPECT_EQ(s.SlotCount, 83);
  EXPECT_EQ(s.ActiveCount, 73);
  EXPECT_EQ(s.OutsideCount, 73);
  EXPECT_EQ(s.InsideCount, 0);
  ASSERT_EQ(s.Molecules.size(), 83u);
  for (int k = 0; k < 73; ++k)
    for (double c : {s.Molecules[k].x, s.Molecules[k].y, s.Molecules[k].z}) {
      EXPECT_GE(std::fabs(c), 1.0);
      EXPECT_LE(std::fabs(c), 2.0);
    }
  for (int k = 73; k < 83; ++k) {
    EXPECT_EQ(s.Molecules[k].x, 4.0);
    EXPECT_EQ(s.Molecules[k].y, 4.0);
    EXPECT_EQ(s.Molecules[k].z, 4.0);
  }
  // Exactly three placement draws per placed molecule, and the first one sets x.
  EXPECT_EQ(v.Streams.Placement, Advanced(PlacementSeed, 3 * 73));
  std::int32_t p = PlacementSeed;
  const double d = 1.0 - 2.0 * NextUniform(p);
  EXPECT_EQ(s.Molecules[0].x, d > 0 ? 1.0 * d + 1.0 : 1.0 * d - 1.0);
  EXPECT_EQ(v.Streams.X, StepSeedX);
}

TEST_F(DiffunitTest, DefaultScenarioCountsAndSigma) {
  TVolume v;
  SetDefaultParameters(v);
  AddDefaultSpecies(v);
  const TSpecies& s = v.Species[0];
  // 7.2e20 * 1e-18 comes out as 719.999..., which truncates to 719.
  EXPECT_EQ(s.InnerCount, 719);
  EXPECT_EQ(s.SlotCount, 719999);
  EXPECT_EQ(s.ShellCount, static_cast<std::int32_t>(7.2e20 * v.ShellVolume));
  EXPECT_EQ(s.Sigma, std::sqrt((2.0 * 1.43e-10) * 0.0001));
  EXPECT_DOUBLE_EQ(s.Sigma, 1.6911534525287763e-07);
  EXPECT_EQ(v.TotalInnerCount, 719);
  EXPECT_EQ(v.TotalConcentration, 7.2e20);
  EXPECT_EQ(v.SpeciesConcentration(0), 7.2e20);
  EXPECT_EQ(v.SpeciesDiffusion(0), 1.43e-10);
  EXPECT_EQ(v.SpeciesRadius(0), 1.5e-9);
}

TEST_F(DiffunitTest, EmptyPopulations) {
  TVolume v;
  AddDefaultSpecies(v);  // before any parameters: all zero
  EXPECT_EQ(v.Species[0].Sigma, 0.0);
  EXPECT_EQ(v.Species[0].SlotCount, 0);
  EXPECT_TRUE(v.Species[0].Molecules.empty());
  SetDefaultParameters(v);
  // No placement draw: a state with bit 31 set keeps it.
  v.Streams.Placement = std::numeric_limits<std::int32_t>::min() + 5;
  v.AddSpecies(0.0, 1.43e-10, 1.5e-9);
  EXPECT_EQ(v.Streams.Placement, std::numeric_limits<std::int32_t>::min() + 5);
  EXPECT_EQ(v.Species[1].SlotCount, 0);
  EXPECT_TRUE(v.Species[1].Molecules.empty());
  TRecorder r;
  v.SetStepCallback(r.Callback());
  v.Step();
  ASSERT_EQ(r.Reports.size(), 1u);
  EXPECT_EQ(r.Reports[0].insideCount, 0);
}

TEST_F(DiffunitTest, RepopulatingDrawsFreshPositions) {
  TVolume v;
  v.SetParameters(2, 1, 0.001, 293.15, 0.0001);
  v.AddSpecies(10.5, 1.43e-10, 1.5e-9);
  const std::vector<TMolCoord> first = v.Species[0].Molecules;
  const double total = v.TotalConcentration;
  v.ReplaceSpecies(0, 10.5, 1.43e-10, 1.5e-9);
  EXPECT_FALSE(SamePositions(first, v.Species[0].Molecules));
  EXPECT_EQ(v.TotalConcentration, total);
  EXPECT_EQ(v.TotalInnerCount, 10);
}

TEST_F(DiffunitTest, TotalsFollowAddReplaceRemove) {
  TVolume v;
  v.SetParameters(2, 1, 0.001, 293.15, 0.0001);
  v.AddSpecies(10.5, 1e-10, 1e-9);
  v.AddSpecies(20.25, 2e-10, 2e-9);
  v.AddSpecies(3.0, 3e-10, 3e-9);
  EXPECT_EQ(v.TotalInnerCount, 10 + 20 + 3);
  EXPECT_EQ(v.TotalConcentration, 3.0 + (20.25 + 10.5));
  v.ReplaceSpecies(1, 40.0, 4e-10, 4e-9);
  EXPECT_EQ(v.TotalInnerCount, 10 + 40 + 3);
  EXPECT_EQ(v.TotalConcentration, (40.0 - 20.25) + (3.0 + (20.25 + 10.5)));
  EXPECT_EQ(v.SpeciesDiffusion(1), 4e-10);

  // Removing species 0 moves the others down intact.
  const std::vector<TMolCoord> second = v.Species[1].Molecules;
  const std::vector<TMolCoord> third = v.Species[2].Molecules;
  v.RemoveSpecies(0);
  ASSERT_EQ(v.Species.size(), 2u);
  EXPECT_TRUE(SamePositions(v.Species[0].Molecules, second));
  EXPECT_TRUE(SamePositions(v.Species[1].Molecules, third));
  EXPECT_EQ(v.Species[0].Volume, &v);
  EXPECT_EQ(v.TotalInnerCount, 40 + 3);
  v.RemoveSpecies(1);
  v.RemoveSpecies(0);
  EXPECT_EQ(v.TotalInnerCount, 0);
  EXPECT_NEAR(v.TotalConcentration, 0.0, 1e-12);
  EXPECT_THROW(v.RemoveSpecies(0), TError);
}

TEST_F(DiffunitTest, NewTimeStepDoesNotReachExistingSpecies) {
  TVolume v;
  SetDefaultParameters(v);
  v.AddSpecies(1e18, 1.43e-10, 1.5e-9);
  const double sigma = v.Species[0].Sigma;
  v.SetParameters(1e-5, 1e-6, 0.001, 293.15, 0.01);
  EXPECT_EQ(v.Species[0].Sigma, sigma);
}

// Every refused species leaves the engine and the streams as they were.
TEST_F(DiffunitTest, RefusedSpeciesChangeNothing) {
  TVolume v;
  SetDefaultParameters(v);
  v.AddSpecies(1e19, 1.43e-10, 1.5e-9);
  const std::vector<TMolCoord> before = v.Species[0].Molecules;
  const TStreamStates streams = v.Streams;
  const double total = v.TotalConcentration;
  const std::int32_t inner = v.TotalInnerCount;

  struct Case {
    double c, d;
    const char* message;  // nullptr: any message
  };
  const Case cases[] = {
      {-1e20, 1.43e-10, nullptr},                            // negative counts
      {1e30, 1.43e-10, nullptr},                             // more than 2^31 molecules
      {7.2e20, -1e-10, "Invalid floating point operation"},  // sqrt of a negative
      {1e300, 1.43e-10, nullptr},
      {1e308, 1e308, "Floating point overflow"},
  };
  for (const Case& c : cases) {
    for (bool replace : {false, true}) {
      try {
        if (replace)
          v.ReplaceSpecies(0, c.c, c.d, 1e-9);
        else
          v.AddSpecies(c.c, c.d, 1e-9);
        ADD_FAILURE() << "accepted " << c.c << " " << c.d;
      } catch (const TError& e) {
        if (c.message) {
          EXPECT_STREQ(e.what(), c.message);
        }
        EXPECT_GT(std::strlen(e.what()), 0u);
      }
      ASSERT_EQ(v.Species.size(), 1u);
      EXPECT_TRUE(SamePositions(v.Species[0].Molecules, before));
      EXPECT_EQ(v.Species[0].Concentration, 1e19);
      EXPECT_EQ(v.TotalConcentration, total);
      EXPECT_EQ(v.TotalInnerCount, inner);
      EXPECT_EQ(v.Streams, streams);
    }
  }

  // An inner rib larger than the outer one gives a negative shell.
  v.SetParameters(1e-6, 1e-5, 0.001, 293.15, 0.0001);
  EXPECT_THROW(v.AddSpecies(7.2e20, 1.43e-10, 1.5e-9), TError);
  // A negative time step makes the step width imaginary.
  v.SetParameters(1e-5, 1e-6, 0.001, 293.15, -0.0001);
  EXPECT_THROW(v.AddSpecies(7.2e20, 1.43e-10, 1.5e-9), TError);
  EXPECT_EQ(v.Species.size(), 1u);
  EXPECT_EQ(v.Streams, streams);
}

TEST_F(DiffunitTest, ArrayLargerThanMemoryIsRefusedBeforeAllocating) {
  const double physical = static_cast<double>(sysconf(_SC_PHYS_PAGES)) * sysconf(_SC_PAGE_SIZE);
  if (physical > 40e9) GTEST_SKIP() << "this machine could hold 2e9 molecules";
  TVolume v;
  v.SetParameters(1.0, 0.5, 0.001, 293.15, 0.0001);
  try {
    v.AddSpecies(2e9, 1e-10, 1e-9);  // 2e9 slots, 48 GB
    FAIL() << "accepted";
  } catch (const TError& e) {
    EXPECT_NE(std::string(e.what()).find("memory"), std::string::npos) << e.what();
  }
  EXPECT_TRUE(v.Species.empty());
  EXPECT_EQ(v.TotalInnerCount, 0);
}

TEST_F(DiffunitTest, StokesEinsteinAndItsDivisionErrors) {
  TVolume v;
  SetDefaultParameters(v);
  EXPECT_EQ(v.StokesEinstein(1.5e-9), (1.38e-23 * 293.15) / ((18.84955592153876 * 0.001) * 1.5e-9));
  EXPECT_NEAR(v.StokesEinstein(1.5e-9), 1.43e-10, 0.005e-10);
  EXPECT_NEAR(v.StokesEinstein(1.43e-10), 1.5e-9, 0.005e-9);
  auto message = [&](double x) {
    try {
      v.StokesEinstein(x);
    } catch (const TError& e) {
      return std::string(e.what());
    }
    return std::string();
  };
  EXPECT_EQ(message(0.0), "Floating point division by zero");
  v.SetParameters(1e-5, 1e-6, 0.001, 0.0, 0.0001);
  EXPECT_EQ(message(0.0), "Invalid floating point operation");
  v.SetParameters(1e-5, 1e-6, 0.0, 293.15, 0.0001);
  EXPECT_EQ(message(1.5e-9), "Floating point division by zero");
}

TEST_F(DiffunitTest, StepReportsAndAccumulatesTime) {
  TVolume v;
  SetDefaultParameters(v);
  TRecorder r;
  v.SetStepCallback(r.Callback());
  v.Step();
  v.Step();
  v.Step();
  ASSERT_EQ(r.Reports.size(), 3u);
  EXPECT_TRUE((r.Reports[0] == TReport{0, 0, 0.0, 0.0, 0.0001}));
  EXPECT_EQ(r.Reports[2].time, (0.0001 + 0.0001) + 0.0001);
  EXPECT_EQ(v.Time, r.Reports[2].time);

  v.SetParameters(1e-5, 0.0, 0.001, 293.15, 0.0001);  // inner volume 0
  try {
    v.Step();
    FAIL();
  } catch (const TError& e) {
    EXPECT_STREQ(e.what(), "Invalid floating point operation");  // 0 / 0
  }
  EXPECT_EQ(v.Time, 0.0001);  // the clock had already moved
  EXPECT_EQ(r.Reports.size(), 3u);

  // A molecule inside and an inner volume of 0 make a division by zero.
  SetDefaultParameters(v);
  HandPlaced(v, {{0, 0, 0}});
  v.InnerVolume = 0.0;
  try {
    v.Step();
    FAIL();
  } catch (const TError& e) {
    EXPECT_STREQ(e.what(), "Floating point division by zero");
  }
}

TEST_F(DiffunitTest, WallAndInnerFacesAreBoundaries) {
  TVolume v;
  v.SetParameters(2.0, 1.0, 0.001, 293.15, 0.0001);
  // Sigma 0: every displacement is exactly zero, yet all 36 draws happen.
  TSpecies& s = HandPlaced(v, {{2.0, 0.0, 0.0},     // on the wall: not an escape
                               {-2.0, -2.0, 2.0},   // on a corner
                               {1.0, 0.0, 0.0},     // on an inner face: not inside
                               {0.5, -0.99, 0.0},   // inside
                               {0.0, 0.0, -1.0}});  // on an inner face
  s.Advance();
  EXPECT_EQ(s.InsideCount, 1);
  EXPECT_EQ(s.OutsideCount, 4);
  EXPECT_EQ(s.Molecules[0].x, 2.0);
  EXPECT_EQ(v.Streams.X, Advanced(StepSeedX, 12 * 5));
  EXPECT_EQ(v.Streams.Y, Advanced(StepSeedY, 12 * 5));
  EXPECT_EQ(v.Streams.Z, Advanced(StepSeedZ, 12 * 5));
  EXPECT_EQ(v.Streams.Placement, PlacementSeed);  // nobody escaped
}

// An escape on an axis skips the later axes and inserts the four draws of the
// re-injection, which shifts what the following molecules draw on y and z.
TEST_F(DiffunitTest, EscapesOnEachAxisFixTheDrawOrder) {
  struct Case {
    TMolCoord start;
    int x, y, z;  // displacement draws of the escaping molecule
  };
  const Case cases[] = {{{3, 0, 0}, 12, 0, 0}, {{0, -3, 0}, 12, 12, 0}, {{0, 0, 3}, 12, 12, 12}};
  for (const Case& c : cases) {
    TVolume v;
    v.SetParameters(2.0, 1.0, 0.001, 293.15, 0.0001);
    TSpecies& s = HandPlaced(v, {c.start, {0.1, 0.2, 0.3}}, 1e-3);
    s.Advance();
    const TMolCoord& p = s.Molecules[0];
    const int onWall = (std::fabs(p.x) == 2.0) + (std::fabs(p.y) == 2.0) + (std::fabs(p.z) == 2.0);
    EXPECT_EQ(onWall, 1);
    EXPECT_EQ(v.Streams.Placement, Advanced(PlacementSeed, 2));
    EXPECT_EQ(v.Streams.X, Advanced(StepSeedX, c.x + 12));
    EXPECT_EQ(v.Streams.Y, Advanced(StepSeedY, c.y + 1 + 12));
    EXPECT_EQ(v.Streams.Z, Advanced(StepSeedZ, c.z + 1 + 12));
    // The second molecule's y step comes from the Y stream after the escape's draws.
    std::int32_t y = Advanced(StepSeedY, c.y + 1);
    EXPECT_EQ(s.Molecules[1].y, 0.2 + NextNormal(0.0, 1e-3, y));
    EXPECT_EQ(s.InsideCount, 1);  // the re-injected molecule never counts inside
  }
}

TEST_F(DiffunitTest, ReinjectionPicksSideFaceAndFreeCoordinates) {
  TVolume v;
  v.SetParameters(2.0, 1.0, 0.001, 293.15, 0.0001);
  const int fixedAxisOfFace[3] = {0, 2, 1};  // face 1 fixes z, face 2 fixes y
  const int freeAxes[3][2] = {{1, 2}, {0, 2}, {0, 1}};
  int seen[2][3] = {};
  auto check = [&](std::int32_t start) {
    v.Streams.Placement = start;
    std::int32_t p = start, y = v.Streams.Y, z = v.Streams.Z;
    const double sign = NextUniform(p) > 0.5 ? 1.0 : -1.0;
    const double u2 = NextUniform(p);
    const int face = u2 == 1.0 ? 2 : static_cast<int>(3.0 * u2);
    const double first = (1.0 - 2.0 * NextUniform(y)) * 2.0;
    const double second = (1.0 - 2.0 * NextUniform(z)) * 2.0;
    TMolCoord q{9, 9, 9};
    ReinjectAtWall(v, q);
    const double coords[3] = {q.x, q.y, q.z};
    const int fixed = fixedAxisOfFace[face];
    EXPECT_EQ(coords[fixed], 2.0 * sign);
    EXPECT_EQ(coords[freeAxes[fixed][0]], first);
    EXPECT_EQ(coords[freeAxes[fixed][1]], second);
    EXPECT_EQ(v.Streams.Placement, p);  // exactly four draws in all
    EXPECT_EQ(v.Streams.Y, y);
    EXPECT_EQ(v.Streams.Z, z);
    ++seen[sign > 0][face];
  };
  std::int32_t start = PlacementSeed;
  for (int k = 0; k < 60; ++k) check(start = Advanced(start, 3));
  for (auto& side : seen)
    for (int count : side) EXPECT_GT(count, 0);

  // A face draw of exactly 1.0 belongs to face 2 (y fixed), not to a face 3.
  v.Streams.Placement = StateBefore(StateBefore(0x7FFFFFFF));
  TMolCoord q;
  ReinjectAtWall(v, q);
  EXPECT_EQ(std::fabs(q.y), 2.0);
  EXPECT_EQ(v.Streams.Placement, 0x7FFFFFFF);
}

TEST_F(DiffunitTest, TopUpActivatesSpareSlotsAtTheWall) {
  TVolume v;
  v.SetParameters(2.0, 1.0, 0.001, 293.15, 0.01);
  v.AddSpecies(10.5, 1e-3, 1e-9);  // inner 10 <= shell 73
  TSpecies& s = v.Species[0];
  s.Advance();
  EXPECT_EQ(s.ActiveCount, 73);
  EXPECT_EQ(s.InsideCount + s.OutsideCount, 83);
  for (int j = 73; j < 83; ++j) {
    const TMolCoord& p = s.Molecules[j];
    EXPECT_EQ(std::max({std::fabs(p.x), std::fabs(p.y), std::fabs(p.z)}), 2.0);
  }
  s.Advance();
  EXPECT_EQ(s.ActiveCount, 83);  // every slot moves from the second step on
  EXPECT_EQ(s.InsideCount + s.OutsideCount, 83);

  // More inner than shell slots: ShellCount more become active each step.
  v.SetParameters(2.0, 1.9, 0.001, 293.15, 0.01);
  v.ReplaceSpecies(0, 10.0, 1e-3, 1e-9);
  ASSERT_EQ(s.ShellCount, 11);
  ASSERT_EQ(s.InnerCount, 68);
  for (int step = 1; step <= 8; ++step) {
    s.Advance();
    EXPECT_EQ(s.InsideCount + s.OutsideCount, std::min(11 + 11 * step, 79));
  }

  // No inner slots: nothing is ever topped up.
  v.SetParameters(2.0, 0.0, 0.001, 293.15, 0.01);
  v.ReplaceSpecies(0, 10.0, 1e-3, 1e-9);
  ASSERT_EQ(s.InnerCount, 0);
  const TStreamStates before = v.Streams;
  s.Advance();
  EXPECT_EQ(s.InsideCount + s.OutsideCount, 80);
  EXPECT_EQ(v.Streams.Placement, before.Placement);  // no escapes at this small step, no top-up
}

TEST_F(DiffunitTest, StillMoleculesNeverReachTheInnerCube) {
  TVolume v;
  v.SetParameters(2.0, 1.0, 0.001, 293.15, 0.0001);
  v.AddSpecies(10.5, 0.0, 1e-9);  // Sigma 0
  for (int k = 0; k < 5; ++k) {
    v.Species[0].Advance();
    EXPECT_EQ(v.Species[0].InsideCount, 0);
  }
}

// The same actions from the same seeds give the same bits.
TEST_F(DiffunitTest, SessionsAreReproducible) {
  auto session = [] {
    TVolume v;
    TRecorder r;
    v.SetParameters(2e-6, 1e-6, 0.001, 293.15, 1e-3);
    v.SetStepCallback(r.Callback());
    v.AddSpecies(5e21, 1.43e-10, 1.5e-9);
    v.AddSpecies(2e21, 3e-10, 1e-9);
    for (int k = 0; k < 5; ++k) v.Step();
    v.ReplaceSpecies(0, 4e21, 2e-10, 1e-9);
    v.RemoveSpecies(1);
    for (int k = 0; k < 5; ++k) v.Step();
    return std::make_pair(r.Reports, v.Species[0].Molecules);
  };
  const auto a = session();
  const auto b = session();
  ASSERT_EQ(a.first.size(), 10u);
  EXPECT_TRUE(a.first == b.first);
  EXPECT_TRUE(SamePositions(a.second, b.second));
  bool someInside = false;
  for (const TReport& rep : a.first) someInside |= rep.insideCount > 0;
  EXPECT_TRUE(someInside);
}

// Each engine draws only from its own streams: two engines in one process,
// stepped alternately (one of them on two threads), each give exactly the
// reports, molecules and stream states they give alone.
TEST_F(DiffunitTest, EnginesSteppedAlternatelyKeepTheirOwnStreams) {
  const TStreamStates otherSeeds{1234567, 7654321, 2468013, 1357911};
  struct TRun {
    TRecorder recorder;
    std::vector<TMolCoord> molecules;
    TStreamStates streams;
  };
  const auto start = [](TVolume& v, TRun& run, int threads) {
    v.SetThreadCount(threads);
    v.SetParameters(2e-6, 1e-6, 0.001, 293.15, 1e-3);
    v.SetStepCallback(run.recorder.Callback());
    v.AddSpecies(5e21, 1.43e-10, 1.5e-9);  // 40,000 molecules: shared on 2 threads
  };
  const auto laterSpecies = [](TVolume& v) { v.AddSpecies(2e21, 3e-10, 1e-9); };
  const auto finish = [](const TVolume& v, TRun& run) {
    run.molecules = v.Species[0].Molecules;
    run.streams = v.Streams;
  };
  TRun alone[2], together[2];
  {
    TVolume a;
    start(a, alone[0], 2);
    for (int k = 0; k < 6; ++k) {
      if (k == 3) laterSpecies(a);
      a.Step();
    }
    finish(a, alone[0]);
    TVolume b(otherSeeds);
    start(b, alone[1], 1);
    for (int k = 0; k < 6; ++k) {
      if (k == 3) laterSpecies(b);
      b.Step();
    }
    finish(b, alone[1]);
  }
  TVolume a, b(otherSeeds);
  EXPECT_EQ(a.Streams, TStreamStates());
  EXPECT_EQ(b.Streams, otherSeeds);
  start(a, together[0], 2);
  start(b, together[1], 1);
  for (int k = 0; k < 6; ++k) {
    if (k == 3) {
      laterSpecies(b);
      laterSpecies(a);
    }
    b.Step();
    a.Step();
  }
  finish(a, together[0]);
  finish(b, together[1]);
  for (int e = 0; e < 2; ++e) {
    SCOPED_TRACE("engine " + std::to_string(e));
    ASSERT_EQ(together[e].recorder.Reports.size(), 6u);
    EXPECT_TRUE(together[e].recorder.Reports == alone[e].recorder.Reports);
    EXPECT_TRUE(SamePositions(together[e].molecules, alone[e].molecules));
    EXPECT_EQ(together[e].streams, alone[e].streams);
  }
  // The seeds matter: the two engines' curves differ.
  EXPECT_FALSE(alone[0].recorder.Reports == alone[1].recorder.Reports);
  EXPECT_NE(alone[0].streams, alone[1].streams);
}

// Free molecules spread with a mean squared displacement of 2 D t per axis.
TEST_F(DiffunitTest, MeanSquaredDisplacementMatchesDiffusion) {
  TVolume v;
  const double d = 1e-10, dt = 1e-4;
  const int steps = 20, n = 20000;
  v.SetParameters(1.0, 0.5, 0.001, 293.15, dt);  // walls far beyond any step
  std::vector<TMolCoord> start(n);
  TSpecies& s = HandPlaced(v, start, std::sqrt((2.0 * d) * dt));
  for (int k = 0; k < steps; ++k) s.Advance();
  double sum[3] = {};
  for (const TMolCoord& p : s.Molecules) {
    sum[0] += p.x * p.x;
    sum[1] += p.y * p.y;
    sum[2] += p.z * p.z;
  }
  const double expected = 2.0 * d * steps * dt;
  // Relative standard error of the mean of squares is sqrt(2/n) ~ 1 %; allow 5 %.
  for (double axis : sum) EXPECT_NEAR(axis / n / expected, 1.0, 0.05);
  EXPECT_EQ(s.InsideCount, n);  // all still within the inner cube
}

// Regression: removing a species used to leave an infinite total
// concentration when huge concentrations of both signs had been accepted.
TEST_F(DiffunitTest, RemovalThatWouldOverflowTheTotalIsRefused) {
  TVolume v;  // no parameters yet: the volumes are 0, so any concentration is accepted
  const double big = std::numeric_limits<double>::max();
  v.AddSpecies(big, 1e-10, 1e-9);
  v.AddSpecies(-big, 1e-10, 1e-9);
  v.AddSpecies(big, 1e-10, 1e-9);
  ASSERT_EQ(v.TotalConcentration, big);
  try {
    v.RemoveSpecies(1);  // big - (-big)
    FAIL() << "accepted";
  } catch (const TError& e) {
    EXPECT_STREQ(e.what(), "Floating point overflow");
  }
  EXPECT_EQ(v.Species.size(), 3u);
  EXPECT_EQ(v.TotalConcentration, big);
  // Removing the others first is the way out.
  v.RemoveSpecies(0);
  v.RemoveSpecies(0);
  EXPECT_EQ(v.TotalConcentration, big);
  EXPECT_EQ(v.SpeciesConcentration(0), big);
}

// Populating a large species reports its progress on the calling thread and
// stops, changing nothing, when told to; on any number of threads the
// molecules and streams are the same bits.
TEST_F(DiffunitTest, PopulationProgressCancelAndThreads) {
  std::vector<TMolCoord> firstMolecules;
  TStreamStates firstStreams;
  for (int threads : {1, 2, 3}) {
    SCOPED_TRACE("threads " + std::to_string(threads));
    TVolume v;
    v.SetThreadCount(threads);
    SetDefaultParameters(v);
    AddDefaultSpecies(v);
    const std::vector<TMolCoord> before = v.Species[0].Molecules;
    const TStreamStates streams = v.Streams;
    struct Case {
      bool replace;
      int cancelAt;  // report number that answers false; 0: none
    };
    for (const Case& c : {Case{false, 1}, Case{true, 1}, Case{true, 3}, Case{false, 0}}) {
      std::vector<double> reports;
      v.SetProgressCallback([&](double done) {
        reports.push_back(done);
        return static_cast<int>(reports.size()) != c.cancelAt;
      });
      // 1.5 million molecules: several pieces.
      const auto populate = [&] {
        if (c.replace)
          v.ReplaceSpecies(0, 1.5e21, 1e-10, 1e-9);
        else
          v.AddSpecies(1.5e21, 1e-10, 1e-9);
      };
      if (c.cancelAt) {
        try {
          populate();
          ADD_FAILURE() << "not cancelled";
        } catch (const TCancelled& e) {
          EXPECT_STREQ(e.what(), "Cancelled");
        }
        ASSERT_EQ(v.Species.size(), 1u);
        EXPECT_TRUE(SamePositions(v.Species[0].Molecules, before));
        EXPECT_EQ(v.TotalConcentration, Defaults::Concentration);
        EXPECT_EQ(v.TotalInnerCount, v.Species[0].InnerCount);
        EXPECT_EQ(v.Streams, streams);
        EXPECT_EQ(static_cast<int>(reports.size()), c.cancelAt);
        continue;
      }
      populate();
      ASSERT_GE(reports.size(), 2u);
      for (std::size_t i = 1; i < reports.size(); ++i) EXPECT_LT(reports[i - 1], reports[i]);
      EXPECT_GT(reports.front(), 0.0);
      EXPECT_EQ(reports.back(), 1.0);
      if (threads == 1) {
        firstMolecules = v.Species[1].Molecules;
        firstStreams = v.Streams;
      }
      EXPECT_TRUE(SamePositions(v.Species[1].Molecules, firstMolecules));
      EXPECT_EQ(v.Streams, firstStreams);
    }
  }
}

TEST_F(DiffunitTest, ThreadCountsOutOfRangeAreRefused) {
  TVolume v;
  for (int threads : {0, -1, 1025, std::numeric_limits<int>::min()}) {
    try {
      v.SetThreadCount(threads);
      ADD_FAILURE() << "accepted " << threads;
    } catch (const TError& e) {
      EXPECT_NE(std::string(e.what()).find("from 1 to 1024"), std::string::npos) << e.what();
    }
  }
  for (int threads : {1, 1024, 2}) EXPECT_NO_THROW(v.SetThreadCount(threads));
}

TEST(ThreadsFromEnvironmentTest, WholeNumbersFrom1To1024OnlyElseNamedAndIgnored) {
  std::vector<std::string> messages;
  EXPECT_EQ(ThreadsFromEnvironment(nullptr, 6, messages), 6);
  EXPECT_TRUE(messages.empty());
  const struct {
    const char* value;
    int threads;  // 0: ignored
  } cases[] = {{"1", 1},  {"4", 4},  {"1024", 1024}, {"0", 0},     {"1025", 0},
               {"-2", 0}, {"+3", 0}, {"abc", 0},     {"", 0},      {" 4", 0},
               {"4 ", 0}, {"04", 0}, {"2.5", 0},     {"99999", 0}, {"12345678901234567890", 0}};
  for (const auto& c : cases) {
    messages.clear();
    const int threads = ThreadsFromEnvironment(c.value, 6, messages);
    EXPECT_EQ(threads, c.threads ? c.threads : 6) << '"' << c.value << '"';
    if (c.threads) {
      EXPECT_TRUE(messages.empty()) << c.value;
    } else {
      ASSERT_EQ(messages.size(), 1u) << c.value;
      EXPECT_EQ(messages[0], std::string("Kelvane: KELVANE_THREADS=\"") + c.value +
                                 "\" is not a whole number from 1 to 1024; ignored");
    }
  }
}

// The settings an engine starts with, and what SetSettings refuses: a value
// out of its range or a kernel that is no supported row of the table, each
// changing nothing.
TEST(EngineSettingsTest, DefaultsAndRefusals) {
  const TEngineSettings defaults;
  cpu_set_t set;
  ASSERT_EQ(sched_getaffinity(0, sizeof set, &set), 0);
  EXPECT_EQ(defaults.Threads, std::min(CPU_COUNT(&set), MostThreads));
  EXPECT_EQ(defaults.Kernel, &FastestKernel());

  TVolume v;
  EXPECT_EQ(v.Settings().Threads, defaults.Threads);
  EXPECT_EQ(v.Settings().Kernel, defaults.Kernel);
  TEngineSettings chosen;
  chosen.Threads = 3;
  chosen.Kernel = &Kernels[0];
  chosen.ParallelStepMinimum = 0;
  chosen.SmallestStepPiece = 1;
  chosen.StepCacheBytes = 0;
  v.SetSettings(chosen);

  const TKernel copied = Kernels[0];
  const struct {
    void (*spoil)(TEngineSettings&, const TKernel*);
    const char* message;
  } refused[] = {
      {[](TEngineSettings& s, const TKernel*) { s.Threads = 0; },
       "The number of threads must be a whole number from 1 to 1024, not 0"},
      {[](TEngineSettings& s, const TKernel*) { s.Threads = 1025; },
       "The number of threads must be a whole number from 1 to 1024, not 1025"},
      {[](TEngineSettings& s, const TKernel*) { s.Kernel = nullptr; },
       "The step kernel must be a row of the kernel table"},
      {[](TEngineSettings& s, const TKernel* other) { s.Kernel = other; },
       "The step kernel must be a row of the kernel table"},
      {[](TEngineSettings& s, const TKernel*) { s.ParallelStepMinimum = -1; },
       "The fewest molecules a step shares among threads must not be negative, not -1"},
      {[](TEngineSettings& s, const TKernel*) { s.SmallestStepPiece = 0; },
       "The smallest piece of a shared step must be at least 1 molecule, not 0"},
  };
  for (const auto& c : refused) {
    TEngineSettings spoilt = chosen;
    c.spoil(spoilt, &copied);
    try {
      v.SetSettings(spoilt);
      ADD_FAILURE() << "accepted: " << c.message;
    } catch (const TError& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
    EXPECT_EQ(v.Settings().Threads, 3);
    EXPECT_EQ(v.Settings().Kernel, &Kernels[0]);
    EXPECT_EQ(v.Settings().ParallelStepMinimum, 0);
    EXPECT_EQ(v.Settings().SmallestStepPiece, 1);
    EXPECT_EQ(v.Settings().StepCacheBytes, 0u);
  }
  for (const TKernel& kernel : Kernels) {
    TEngineSettings s = chosen;
    s.Kernel = &kernel;
    if (kernel.Supported()) {
      EXPECT_NO_THROW(v.SetSettings(s));
    } else {
      EXPECT_THROW(v.SetSettings(s), TError) << kernel.Name;
    }
  }
  v.SetThreadCount(2);  // one field alone
  EXPECT_EQ(v.Settings().SmallestStepPiece, 1);
  EXPECT_EQ(v.TakeNotice(), "");  // nothing refused
}

// The environment reaches an engine only through SettingsFromEnvironment,
// which the programs call: a new engine does not read it.
TEST(EngineSettingsTest, EnvironmentIsReadOnlyWhenAsked) {
  const TEngineSettings defaults;
  const int other = defaults.Threads == 3 ? 5 : 3;
  setenv("KELVANE_THREADS", std::to_string(other).c_str(), 1);
  setenv("KELVANE_KERNEL", "reference", 1);
  std::vector<std::string> messages;
  const TEngineSettings read = SettingsFromEnvironment(messages);
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(read.Threads, other);
  EXPECT_EQ(read.Kernel, &Kernels[0]);
  EXPECT_EQ(read.SmallestStepPiece, defaults.SmallestStepPiece);
  TVolume v;
  EXPECT_EQ(v.Settings().Threads, defaults.Threads);
  EXPECT_EQ(v.Settings().Kernel, defaults.Kernel);
  unsetenv("KELVANE_THREADS");
  unsetenv("KELVANE_KERNEL");
}

// The judge of sharing decides from the times it is given alone: a probe of
// shared and unshared steps in turn (shared first; the first pair only warms
// up), then its verdict for every step until the next probe, which comes
// after StepsBetweenProbes steps or SecondsBetweenProbes, whichever is first.
TEST(ShareJudgeTest, SharesOnlyWhileSharedStepsAreMeasurablyFaster) {
  constexpr int pairs = TShareJudge::ProbePairs;
  static_assert(pairs == 4, "the cases give four times of each");
  // One probe at `now`: seconds per molecule of the shared and unshared steps.
  const auto probe = [](TShareJudge& judge, double now, const double(&shared)[pairs],
                        const double(&alone)[pairs]) {
    for (int k = 0; k < 2 * pairs; ++k) {
      const bool share = judge.ShareNext(now);
      EXPECT_EQ(share, k % 2 == 0) << "probe step " << k;
      const double perMolecule = share ? shared[k / 2] : alone[k / 2];
      judge.Record(1000.0 * perMolecule, 1000);
    }
    return judge.Sharing();
  };
  const struct {
    double shared[pairs], alone[pairs];
    bool verdict;
  } cases[] = {
      {{9, 1, 1, 1}, {2, 2, 2, 2}, true},            // the slow warm-up does not count
      {{1, 0.9, 0.9, 0.9}, {1, 1, 1, 1}, true},      // 10 % faster
      {{1, 0.96, 0.96, 0.96}, {1, 1, 1, 1}, false},  // 4 %: within the margin
      {{1, 1.45, 1.5, 1.4}, {1, 1, 1, 1}, false},    // a busy core
      {{1, 0.5, 3, 0.5}, {1, 1, 1, 1}, true},        // one slow shared step is outvoted
      {{1, 1.5, 1.5, 1.5}, {1, 1, 9, 1}, false},     // and so is one slow unshared step
  };
  for (const auto& c : cases) {
    TShareJudge judge;
    EXPECT_FALSE(judge.Sharing());
    EXPECT_EQ(probe(judge, 0.0, c.shared, c.alone), c.verdict)
        << c.shared[1] << " against " << c.alone[1];
  }

  TShareJudge judge;
  const double faster[pairs] = {1, 0.5, 0.5, 0.5}, slower[pairs] = {1, 1.5, 1.5, 1.5},
               even[pairs] = {1, 1, 1, 1};
  ASSERT_TRUE(probe(judge, 0.0, faster, even));
  // Between probes every step follows the verdict; up to two steps in a row
  // slower than unshared ones were (by the margin) are let pass.
  for (int k = 0; k < TShareJudge::StepsBetweenProbes; ++k) {
    ASSERT_TRUE(judge.ShareNext(0.001 * k));
    judge.Record(k % 3 == 2 ? 0.5 : 1.06, 1);
  }
  EXPECT_TRUE(judge.Sharing());
  // Then a probe: the second core got busy.
  ASSERT_FALSE(probe(judge, 0.5, slower, even));
  // A few steps later, still within SecondsBetweenProbes: no probe yet.
  for (double now : {0.6, 0.5 + TShareJudge::SecondsBetweenProbes - 0.01}) {
    EXPECT_FALSE(judge.ShareNext(now));
    judge.Record(1.0, 1);
  }
  // After it, the core that freed up is found out.
  EXPECT_TRUE(probe(judge, 0.5 + TShareJudge::SecondsBetweenProbes, faster, even));
  // Three shared steps in a row slower than unshared ones were bring the
  // next probe forward: the second core got busy again.
  for (int k = 0; k < TShareJudge::WorseInARow; ++k) {
    EXPECT_TRUE(judge.ShareNext(3.0));
    judge.Record(1.06, 1);
  }
  EXPECT_FALSE(probe(judge, 3.0, slower, even));
}
