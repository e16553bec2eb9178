// Every kernel on 1, 2, 3 and 7 threads against the reference kernel on one,
// bit for bit: two engines take the same actions from the same stream states,
// one stepped by the reference loop and one by the kernel under test, and
// after every step their molecules (memcmp), counters, clocks, reports and all
// four streams agree. Every species is shared among the threads, however few
// its molecules, in pieces of 5 molecules or more, so that pieces end inside
// blocks of lanes.
#include "Diffunit/Kernels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <ostream>
#include <string>
#include <vector>

#include "Diffunit/Diffunit.h"
#include "Session/Parameters.h"
#include "Statg/Statg.h"
#include "tests/test_support.h"

// Counts allocations, to show that a step makes none. (GCC 12 takes the
// malloc/free pair below for a mismatch with new/delete.)
namespace {
long AllocationCount = 0;
}
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
  ++AllocationCount;
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop

namespace {

// A row of the kernel table on a number of threads.
struct TKernelCase {
  const TKernel* Kernel;
  int Threads;
  bool Chain;  // shared steps settled by the near-wall chain, not the scan
};

// Names the kernel in test output.
void PrintTo(const TKernelCase& c, std::ostream* out) {
  *out << c.Kernel->Name << " on " << c.Threads << " threads" << (c.Chain ? ", chain" : "");
}

// Every kernel of the table on 1, 2, 3 and 7 threads, but the reference on one
// (the reference itself); those with a near-wall chain also with the scan.
std::vector<TKernelCase> KernelCases() {
  std::vector<TKernelCase> cases;
  for (const TKernel& kernel : Kernels)
    for (int threads : {1, 2, 3, 7}) {
      if (&kernel == &Kernels[0] && threads == 1) continue;
      cases.push_back({&kernel, threads, kernel.ListNear != nullptr});
      if (kernel.ListNear && threads > 1) cases.push_back({&kernel, threads, false});
    }
  return cases;
}

std::string Describe(const TStreamStates& s) {
  return "P " + std::to_string(s.Placement) + ", X " + std::to_string(s.X) + ", Y " +
         std::to_string(s.Y) + ", Z " + std::to_string(s.Z);
}

std::string Describe(const TMolCoord& p) {
  char text[128];
  std::snprintf(text, sizeof text, "(%a, %a, %a)", p.x, p.y, p.z);
  return text;
}

// Number of draws that lead from state `from` to state `to` (at most `limit`).
int DrawsBetween(std::int32_t from, std::int32_t to, int limit) {
  for (int k = 0; k <= limit; ++k) {
    if (from == to) return k;
    NextUniform(from);
  }
  return -1;
}

// Two engines that take the same actions from the same stream states.
class TTwin {
 public:
  // Every species of the fast engine is shared among its threads, in pieces
  // of `smallestPiece` molecules or more.
  explicit TTwin(const TKernel& kernel, int threads = 1, std::int32_t smallestPiece = 4096,
                 bool chain = true) {
    TEngineSettings reference;
    reference.Threads = 1;
    reference.Kernel = &Kernels[0];
    Reference.SetSettings(reference);
    TEngineSettings fast;
    fast.Threads = threads;
    fast.Kernel = &kernel;
    fast.ParallelStepMinimum = 0;
    fast.SmallestStepPiece = smallestPiece;
    fast.Sharing = TEngineSettings::TSharing::Always;  // whatever it would gain here
    fast.NearChainThreads = chain ? 2 : MostThreads + 1;
    Fast.SetSettings(fast);
    Reference.SetStepCallback(ReferenceReports.Callback());
    Fast.SetStepCallback(FastReports.Callback());
  }

  TVolume Reference;
  TVolume Fast;

  // Runs `action` on both engines, each drawing from its own streams, which
  // must then agree.
  template <class TAction>
  ::testing::AssertionResult Both(TAction action) {
    action(Reference);
    action(Fast);
    if (Reference.Streams == Fast.Streams) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "streams after the reference: " << Describe(Reference.Streams)
           << "; after the fast kernel: " << Describe(Fast.Streams);
  }

  // One Step of each engine, by its own kernel, then everything compared.
  ::testing::AssertionResult Step() {
    ::testing::AssertionResult streams = Both([](TVolume& v) { v.Step(); });
    if (!streams) return streams;
    return Same();
  }

  // The same clock, reports, counters and molecule bits in both engines.
  ::testing::AssertionResult Same() const {
    if (std::memcmp(&Reference.Time, &Fast.Time, sizeof(double)) != 0)
      return ::testing::AssertionFailure() << "Time " << Reference.Time << " vs " << Fast.Time;
    if (ReferenceReports.Reports != FastReports.Reports)
      return ::testing::AssertionFailure() << "the step reports differ";
    if (Reference.Species.size() != Fast.Species.size())
      return ::testing::AssertionFailure() << "species counts differ";
    for (std::size_t s = 0; s < Reference.Species.size(); ++s) {
      const TSpecies& a = Reference.Species[s];
      const TSpecies& b = Fast.Species[s];
      if (a.InnerCount != b.InnerCount || a.ShellCount != b.ShellCount ||
          a.InsideCount != b.InsideCount || a.OutsideCount != b.OutsideCount ||
          a.SlotCount != b.SlotCount || a.ActiveCount != b.ActiveCount)
        return ::testing::AssertionFailure()
               << "species " << s << " counters: inside " << a.InsideCount << " vs "
               << b.InsideCount << ", outside " << a.OutsideCount << " vs " << b.OutsideCount
               << ", active " << a.ActiveCount << " vs " << b.ActiveCount;
      if (a.Molecules.size() != b.Molecules.size())
        return ::testing::AssertionFailure() << "species " << s << " array sizes differ";
      if (!a.Molecules.empty() && std::memcmp(a.Molecules.data(), b.Molecules.data(),
                                              a.Molecules.size() * sizeof(TMolCoord)) != 0) {
        std::size_t i = 0;
        while (std::memcmp(&a.Molecules[i], &b.Molecules[i], sizeof(TMolCoord)) == 0) ++i;
        return ::testing::AssertionFailure()
               << "species " << s << " molecule " << i << ": reference " << Describe(a.Molecules[i])
               << ", fast " << Describe(b.Molecules[i]);
      }
    }
    return ::testing::AssertionSuccess();
  }

 private:
  TRecorder ReferenceReports;
  TRecorder FastReports;
};

// The small cube (outer rib 2 m, inner rib 1 m) with hand-placed molecules.
void OnSmallCube(TVolume& volume, std::vector<TMolCoord> molecules, double sigma) {
  volume.SetParameters(2.0, 1.0, 0.001, 293.15, 0.0001);
  HandPlaced(volume, std::move(molecules), sigma);
}

// `n` positions spread over the outer cube of rib `b0`, from a private stream.
std::vector<TMolCoord> Scattered(int n, double b0, std::int32_t seed) {
  std::vector<TMolCoord> molecules(static_cast<std::size_t>(n));
  for (TMolCoord& p : molecules)
    for (double* c : {&p.x, &p.y, &p.z}) *c = (1.0 - 2.0 * NextUniform(seed)) * b0;
  return molecules;
}

class KernelsTest : public ::testing::TestWithParam<TKernelCase> {
 protected:
  void SetUp() override {
    if (!GetParam().Kernel->Supported())
      GTEST_SKIP() << "this CPU cannot run the " << GetParam().Kernel->Name << " kernel";
  }
  // Pieces of 5 molecules or more: they end inside blocks of lanes.
  TTwin Twin() const { return TTwin(*GetParam().Kernel, GetParam().Threads, 5, GetParam().Chain); }
  int Lanes() const { return GetParam().Kernel->Lanes; }
};

}  // namespace

// The fastest supported row is chosen, and the table runs from the slowest up.
TEST(KernelChoiceTest, FastestSupportedKernelIsChosen) {
  const TKernel* expected = &Kernels[0];
  for (const TKernel& kernel : Kernels)
    if (kernel.Supported()) expected = &kernel;
  EXPECT_EQ(&FastestKernel(), expected);
  EXPECT_STREQ(Kernels[0].Name, "reference");
  EXPECT_TRUE(Kernels[0].Supported());
  for (int k = 1; k < KernelCount; ++k) EXPECT_GT(Kernels[k].Lanes, Kernels[k - 1].Lanes);
  std::printf("kernel on this CPU: %s\n", expected->Name);
}

// KELVANE_KERNEL: a supported kernel's name chooses it silently; any other
// value (unknown, or a kernel this CPU cannot run) is named in one message
// for the program to print, and the fastest kernel runs.
TEST(KernelChoiceTest, EnvironmentNamesAKernelElseFastestWithOneLine) {
  std::vector<std::string> messages;
  EXPECT_EQ(&KernelFromEnvironment(nullptr, messages), &FastestKernel());
  EXPECT_TRUE(messages.empty());
  std::vector<std::string> values = {"", "AVX512", "avx", "avx2 ", " reference", "fast", "avx-512"};
  for (const TKernel& kernel : Kernels) values.push_back(kernel.Name);
  for (const std::string& value : values) {
    const TKernel* named = nullptr;
    for (const TKernel& kernel : Kernels)
      if (value == kernel.Name) named = &kernel;
    const bool chosen = named && named->Supported();
    messages.clear();
    const TKernel& kernel = KernelFromEnvironment(value.c_str(), messages);
    EXPECT_EQ(&kernel, chosen ? named : &FastestKernel()) << '"' << value << '"';
    if (chosen) {
      EXPECT_TRUE(messages.empty()) << value;
    } else {
      ASSERT_EQ(messages.size(), 1u) << value;
      const std::string& said = messages[0];
      EXPECT_EQ(said.rfind("Kelvane: KELVANE_KERNEL=\"" + value + "\" is not ", 0), 0u) << said;
      EXPECT_NE(said.find(std::string("; using ") + FastestKernel().Name), std::string::npos)
          << said;
      EXPECT_EQ(said.find('\n'), std::string::npos) << said;
    }
  }
}

// The window's default parameters: 719,999 molecules, about 3 % escaping per step.
TEST_P(KernelsTest, DefaultParameters) {
  TTwin twin = Twin();
  ASSERT_TRUE(twin.Both([](TVolume& v) {
    SetDefaultParameters(v);
    AddDefaultSpecies(v);
  }));
  ASSERT_EQ(twin.Fast.Species[0].SlotCount, 719999);
  for (int step = 1; step <= 3; ++step) {
    const std::int32_t placement = twin.Fast.Streams.Placement;
    ASSERT_TRUE(twin.Step()) << "step " << step;
    if (step > 1) {  // escapes only: the spare slots went in at step 1
      const int escapes = DrawsBetween(placement, twin.Fast.Streams.Placement, 200000) / 2;
      EXPECT_GT(escapes, 10000) << "step " << step;
    }
  }
}

// Small cubes and a long time step: a large share of the molecules leaves
// every step, often several in one block of lanes.
TEST_P(KernelsTest, HighEscapeGeometry) {
  TTwin twin = Twin();
  ASSERT_TRUE(twin.Both([](TVolume& v) {
    v.SetParameters(2e-6, 1e-6, 0.001, 293.15, 1e-3);
    AddDefaultSpecies(v);
  }));
  const std::int32_t slots = twin.Fast.Species[0].SlotCount;
  for (int step = 1; step <= 12; ++step) {
    const std::int32_t placement = twin.Fast.Streams.Placement;
    ASSERT_TRUE(twin.Step()) << "step " << step;
    if (step > 1) {
      const int escapes = DrawsBetween(placement, twin.Fast.Streams.Placement, 4 * slots) / 2;
      EXPECT_GT(escapes, slots / 5) << "step " << step;
    }
  }
}

// Species share the streams, so each one's draws depend on those before it.
TEST_P(KernelsTest, SeveralSpeciesWithRemovalAndReplacement) {
  TTwin twin = Twin();
  ASSERT_TRUE(twin.Both([](TVolume& v) {
    v.SetParameters(3e-6, 1e-6, 0.001, 293.15, 1e-4);
    AddDefaultSpecies(v);
    v.AddSpecies(2e20, 4e-10, 5e-10);
    v.AddSpecies(5e21, 2e-11, 1e-8);
  }));
  for (int step = 1; step <= 3; ++step) ASSERT_TRUE(twin.Step()) << "step " << step;
  ASSERT_TRUE(twin.Both([](TVolume& v) { v.ReplaceSpecies(1, 9e20, 1e-9, 2e-10); }));
  for (int step = 4; step <= 6; ++step) ASSERT_TRUE(twin.Step()) << "step " << step;
  ASSERT_TRUE(twin.Both([](TVolume& v) {
    v.RemoveSpecies(0);
    v.AddSpecies(3e19, 1.43e-10, 1.5e-9);
  }));
  for (int step = 7; step <= 9; ++step) ASSERT_TRUE(twin.Step()) << "step " << step;
  // New ribs act on the positions the species already have.
  ASSERT_TRUE(twin.Both([](TVolume& v) { v.SetParameters(2.5e-6, 1.5e-6, 0.001, 293.15, 1e-4); }));
  for (int step = 10; step <= 12; ++step) ASSERT_TRUE(twin.Step()) << "step " << step;
}

// Every length of the last, partial block, from no molecule at all up to
// several full blocks, with molecules spread up to the wall so that some of
// them escape. With the wide step even the unused lanes after the last
// molecule would often "escape", which must not count.
TEST_P(KernelsTest, EveryMoleculeCount) {
  const int most = 2 * Lanes() + 1;
  for (double sigma : {0.3, 1.5}) {
    for (int n = 0; n <= std::max(most, 40); ++n) {
      SCOPED_TRACE("molecules: " + std::to_string(n) + ", sigma " + std::to_string(sigma));
      TTwin twin = Twin();
      ASSERT_TRUE(twin.Both(
          [n, sigma](TVolume& v) { OnSmallCube(v, Scattered(n, 2.0, 12345 + 2 * n), sigma); }));
      for (int step = 1; step <= 6; ++step) ASSERT_TRUE(twin.Step()) << "step " << step;
    }
  }
  // Counts from population, spare slots and top-up included.
  for (double concentration : {0.0, 0.2, 1.0, 1.6, 2.4, 3.0, 4.5}) {
    SCOPED_TRACE("concentration: " + std::to_string(concentration));
    TTwin twin = Twin();
    ASSERT_TRUE(twin.Both([concentration](TVolume& v) {
      v.SetParameters(2.0, 1.0, 0.001, 293.15, 0.01);
      v.AddSpecies(concentration, 1.0, 1e-9);
    }));
    for (int step = 1; step <= 4; ++step) ASSERT_TRUE(twin.Step()) << "step " << step;
  }
}

// One molecule placed beyond the wall on one axis, in every lane of the first
// blocks: it escapes on that axis after the displacements of the axes before.
TEST_P(KernelsTest, EscapesOnEachAxisInEveryLane) {
  const int n = 2 * Lanes() + 2;
  for (int axis = 0; axis < 3; ++axis) {
    for (int lane = 0; lane < n; ++lane) {
      SCOPED_TRACE("axis " + std::to_string(axis) + ", molecule " + std::to_string(lane));
      std::vector<TMolCoord> molecules = Scattered(n, 1.5, 777 + lane);
      double* const c[3] = {&molecules[lane].x, &molecules[lane].y, &molecules[lane].z};
      *c[axis] = axis % 2 ? -3.0 : 3.0;
      TTwin twin = Twin();
      ASSERT_TRUE(twin.Both([&](TVolume& v) { OnSmallCube(v, molecules, 1e-3); }));
      const std::int32_t placement = twin.Fast.Streams.Placement;
      ASSERT_TRUE(twin.Step());
      EXPECT_EQ(DrawsBetween(placement, twin.Fast.Streams.Placement, 10), 2);  // exactly one escape
    }
  }
}

// Several escapes in one block: every molecule, every other one, and runs of
// escapes on alternating axes.
TEST_P(KernelsTest, ManyEscapesInOneBlock) {
  const int n = 3 * Lanes() + 1;
  for (int pattern = 0; pattern < 4; ++pattern) {
    SCOPED_TRACE("pattern " + std::to_string(pattern));
    std::vector<TMolCoord> molecules = Scattered(n, 1.5, 99 + pattern);
    int escaping = 0;
    for (int i = 0; i < n; ++i) {
      const bool escapes = pattern == 0 || (pattern == 1 && i % 2 == 0) ||
                           (pattern == 2 && i % 5 < 3) || (pattern == 3 && i % 7 != 3);
      if (!escapes) continue;
      double* const c[3] = {&molecules[i].x, &molecules[i].y, &molecules[i].z};
      *c[i % 3] = i % 2 ? 2.5 : -2.5;
      ++escaping;
    }
    TTwin twin = Twin();
    ASSERT_TRUE(twin.Both([&](TVolume& v) { OnSmallCube(v, molecules, 1e-3); }));
    const std::int32_t placement = twin.Fast.Streams.Placement;
    ASSERT_TRUE(twin.Step());
    EXPECT_EQ(DrawsBetween(placement, twin.Fast.Streams.Placement, 4 * n), 2 * escaping);
    for (int step = 2; step <= 4; ++step) ASSERT_TRUE(twin.Step()) << "step " << step;
  }
}

// Boundaries and odd values: positions exactly on the wall and on inner
// faces, signed zeros (a -0.0 position plus a zero step gives +0.0, because
// the normal deviate adds its mean 0.0), infinities and NaN, zero and
// subnormal step widths.
TEST_P(KernelsTest, BoundariesSignedZerosAndOddValues) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<TMolCoord> molecules = {
      {2.0, 0.0, 0.0},    {-2.0, -2.0, 2.0},  {1.0, 0.0, 0.0},   {0.5, -0.99, 0.0},
      {0.0, 0.0, -1.0},   {-0.0, -0.0, -0.0}, {-0.0, 0.5, -0.0}, {inf, 0.0, 0.0},
      {0.0, -inf, 0.0},   {nan, 0.0, 0.0},    {0.0, 0.0, nan},   {1e-300, -1e-300, 0.0},
      {-0.0, 1.5, -1.99}, {0.25, -0.0, -0.0}};
  for (double sigma : {0.0, -0.0, 4.9406564584124654e-324, 1e-310, 1e-3}) {
    SCOPED_TRACE("sigma " + std::to_string(sigma));
    TTwin twin = Twin();
    ASSERT_TRUE(twin.Both([&](TVolume& v) { OnSmallCube(v, molecules, sigma); }));
    for (int step = 1; step <= 3; ++step) ASSERT_TRUE(twin.Step()) << "step " << step;
  }
}

// Signed zeros in full blocks and in the last, partial one: the reference adds
// the step d + 0.0, so -0.0 plus a -0.0 step (sigma +-0, or a product that
// underflows) is +0.0, never -0.0.
TEST_P(KernelsTest, NegativeZeroStepsInFullAndPartialBlocks) {
  const int lanes = Lanes();
  for (int n : {lanes, lanes + 1, 2 * lanes, 2 * lanes + 3}) {
    for (double sigma : {0.0, -0.0, 1e-320, -1e-320}) {
      SCOPED_TRACE("molecules " + std::to_string(n) + ", sigma " + std::to_string(sigma));
      TTwin twin = Twin();
      ASSERT_TRUE(twin.Both([&](TVolume& v) {
        OnSmallCube(v, std::vector<TMolCoord>(static_cast<std::size_t>(n), {-0.0, -0.0, -0.0}),
                    sigma);
      }));
      for (int step = 1; step <= 2; ++step) ASSERT_TRUE(twin.Step()) << "step " << step;
      for (const TMolCoord& p : twin.Fast.Species[0].Molecules)
        for (double c : {p.x, p.y, p.z}) EXPECT_FALSE(c == 0.0 && std::signbit(c)) << Describe(p);
    }
  }
}

// Any stream states, not only those reachable from the seeds: zero (every
// uniform 0, every step -6 Sigma), bit 31 set, 2^31 - 1 (a uniform of 1.0).
// A placement state with bit 31 set keeps it through a step without escapes.
TEST_P(KernelsTest, UnusualStreamStates) {
  constexpr std::int32_t low = std::numeric_limits<std::int32_t>::min();
  const struct {
    std::int32_t x, y, z, placement;
    double sigma;
  } cases[] = {{0, 0, 0, PlacementSeed, 0.2},
               {low + 7, -5, -1, low + 3, 0.2},
               {StateBefore(0x7FFFFFFF), 0x7FFFFFFF, 2, 9, 0.2},
               {1, 3, 5, low + 11, 1e-9}};
  for (const auto& c : cases) {
    SCOPED_TRACE("states " + std::to_string(c.x) + " " + std::to_string(c.y) + " " +
                 std::to_string(c.z) + " " + std::to_string(c.placement));
    TTwin twin = Twin();
    ASSERT_TRUE(
        twin.Both([&](TVolume& v) { OnSmallCube(v, Scattered(2 * 8 + 3, 1.9, 4321), c.sigma); }));
    twin.Reference.Streams = twin.Fast.Streams = {c.placement, c.x, c.y, c.z};
    for (int step = 1; step <= 3; ++step) ASSERT_TRUE(twin.Step()) << "step " << step;
  }
}

// Far ahead of the moving threads (a cache of almost nothing), the scan hands
// each waiting piece over and moves it itself, and listing threads move
// chained pieces before they list more.
TEST_P(KernelsTest, ScanHandsPiecesOverWhenFarAhead) {
  TTwin twin = Twin();
  TEngineSettings settings = twin.Fast.Settings();
  settings.StepCacheBytes = 1;
  twin.Fast.SetSettings(settings);
  ASSERT_TRUE(twin.Both([](TVolume& v) {
    v.SetParameters(3e-6, 1e-6, 0.001, 293.15, 1e-4);
    AddDefaultSpecies(v);  // 18,719 molecules
    v.AddSpecies(5e20, 4e-10, 5e-10);
  }));
  for (int step = 1; step <= 4; ++step) EXPECT_TRUE(twin.Step()) << "step " << step;
}

// The molecule arrays are sized at population; a step allocates nothing.
TEST_P(KernelsTest, StepAllocatesNothing) {
  TVolume v;
  v.SetParameters(2e-6, 1e-6, 0.001, 293.15, 1e-3);
  v.SetStepCallback([](std::int32_t, std::int32_t, double, double, double) {});
  AddDefaultSpecies(v);
  v.AddSpecies(1e21, 3e-10, 1e-9);
  TEngineSettings settings;
  settings.Threads = GetParam().Threads;
  settings.Kernel = GetParam().Kernel;
  settings.NearChainThreads = GetParam().Chain ? 2 : MostThreads + 1;
  settings.Sharing = TEngineSettings::TSharing::Always;
  v.SetSettings(settings);
  v.Step();  // makes the worker threads, once
  const long before = AllocationCount;
  for (int step = 0; step < 5; ++step) v.Step();
  EXPECT_EQ(AllocationCount, before);
}

namespace {
std::string KernelName(const ::testing::TestParamInfo<TKernelCase>& c) {
  return std::string(c.param.Kernel->Name) + "_" + std::to_string(c.param.Threads) + "Threads" +
         (c.param.Chain ? "" : "_Scan");
}
}  // namespace

INSTANTIATE_TEST_SUITE_P(Kernels, KernelsTest, ::testing::ValuesIn(KernelCases()), KernelName);

namespace {

// Molecules whose coordinate on `axis` lands exactly on the wall (+-b0, or
// one unit in the last place either side) after the step the reference
// draws for it, when no molecule before it escapes: every decision sits at
// the wall, inside any margin of an approximate step.
std::vector<TMolCoord> OnTheWall(int n, int axis, double b0, double sigma, TStreamStates s) {
  std::vector<TMolCoord> molecules(static_cast<std::size_t>(n), {0.0, 0.0, 0.0});
  std::int32_t state = axis == 0 ? s.X : axis == 1 ? s.Y : s.Z;
  for (int i = 0; i < n; ++i) {
    const double step = NextNormal(0.0, sigma, state);  // state moves on 12 draws
    const double wall = i % 2 ? b0 : -b0;
    double p = wall - step;
    if (i % 3 == 1) p = std::nextafter(p, 2 * wall);
    if (i % 3 == 2) p = std::nextafter(p, 0.0);
    (axis == 0 ? molecules[i].x : axis == 1 ? molecules[i].y : molecules[i].z) = p;
  }
  return molecules;
}

// Molecules and step widths that every way of settling a step must follow as
// moving does, in the cube of outer rib 2: spread ones under odd step widths,
// ones whose steps end on the wall, and odd values (NaN, infinities, the
// largest and smallest doubles, one beyond the outer wall).
std::vector<std::pair<std::vector<TMolCoord>, double>> HardSets(const TStreamStates& start) {
  std::vector<std::pair<std::vector<TMolCoord>, double>> sets;
  for (double sigma : {0.3, 1e-3, 0.0, -0.0, 1e-310, -0.2, 40.0})
    sets.push_back({Scattered(300, 2.0, 2024), sigma});
  for (int axis = 0; axis < 3; ++axis)
    for (double sigma : {0.05, 1e-9})
      sets.push_back({OnTheWall(300, axis, 2.0, sigma, start), sigma});
  std::vector<TMolCoord> odd = Scattered(40, 2.0, 7);
  odd[3].x = std::nan("");
  odd[9].y = std::numeric_limits<double>::infinity();
  odd[17].z = -std::numeric_limits<double>::infinity();
  odd[21].x = 1e308;
  odd[30].y = 4.9406564584124654e-324;
  odd[31].z = 5.0;
  sets.push_back({odd, 0.1});
  return sets;
}

}  // namespace

// Every scan leaves the streams exactly where moving the same molecules
// leaves them, over any run of them: spread ones, ones whose steps end on
// the wall, odd values and odd step widths.
TEST(ScanTest, LeavesTheStreamsWhereMovingDoes) {
  const TStreamStates start{PlacementSeed, StepSeedX, StepSeedY, StepSeedZ};
  TVolume volume;
  volume.SetParameters(2.0, 1.0, 0.001, 293.15, 0.0001);
  const std::vector<std::pair<std::vector<TMolCoord>, double>> sets = HardSets(start);
  for (const TKernel& kernel : Kernels) {
    if (!kernel.Supported()) continue;
    for (std::size_t set = 0; set < sets.size(); ++set) {
      const std::vector<TMolCoord>& molecules = sets[set].first;
      const double sigma = sets[set].second;
      const int n = static_cast<int>(molecules.size());
      for (const auto& [begin, count] :
           {std::pair{0, n}, {0, 1}, {5, 13}, {n / 3, n - n / 3}, {7, 0}}) {
        SCOPED_TRACE(std::string(kernel.Name) + ", set " + std::to_string(set) + ", molecules " +
                     std::to_string(begin) + " + " + std::to_string(count));
        std::vector<TMolCoord> moved = molecules;
        TStreamStates afterMoving = start, afterScanning = start;
        MoveMoleculesReference(volume, moved.data() + begin, count, sigma, afterMoving);
        kernel.Scan(volume, molecules.data() + begin, count, sigma, afterScanning);
        EXPECT_EQ(afterScanning, afterMoving)
            << "scan " << Describe(afterScanning) << ", moving " << Describe(afterMoving);
      }
    }
  }
}

namespace {

// Room for one near-wall list of `count` molecules.
struct TListRoom {
  explicit TListRoom(std::int32_t count)
      : Jumps(static_cast<std::size_t>(NearListCapacity(count))),
        Low(Jumps.size()),
        High(Jumps.size()),
        Positions(Jumps.size()) {
    List.Jumps = Jumps.data();
    List.Low = Low.data();
    List.High = High.data();
    List.Positions = Positions.data();
  }
  std::vector<std::uint64_t> Jumps;
  std::vector<std::int64_t> Low, High;
  std::vector<double> Positions;
  TNearList List;
};

// The streams after listing and chaining `molecules` in consecutive parts of
// the lengths `parts` (the last one takes the rest) by `kernel`, from `start`.
TStreamStates ListedAndChained(const TKernel& kernel, const TVolume& volume,
                               const std::vector<TMolCoord>& molecules, std::vector<int> parts,
                               double sigma, TStreamStates streams) {
  const int n = static_cast<int>(molecules.size());
  int at = 0;
  parts.push_back(n);
  for (int part : parts) {
    const int length = std::min(part, n - at);
    TListRoom room(length);
    kernel.ListNear(volume, molecules.data() + at, length, sigma, streams.X, room.List);
    kernel.ChainNear(volume, room.List, length, sigma, streams);
    at += length;
  }
  return streams;
}

}  // namespace

// The near-wall list and its chain leave the streams where moving leaves
// them, as one list and cut into parts anywhere: at the edges of rounds
// (8 entries), inside them, and in parts of a few molecules.
TEST(NearChainTest, LeavesTheStreamsWhereMovingDoes) {
  const TStreamStates start{PlacementSeed, StepSeedX, StepSeedY, StepSeedZ};
  TVolume volume;
  volume.SetParameters(2.0, 1.0, 0.001, 293.15, 0.0001);
  const std::vector<std::pair<std::vector<TMolCoord>, double>> sets = HardSets(start);
  int chained = 0;
  for (const TKernel& kernel : Kernels) {
    if (!kernel.Supported() || !kernel.ListNear) continue;
    ++chained;
    for (std::size_t set = 0; set < sets.size(); ++set) {
      const std::vector<TMolCoord>& molecules = sets[set].first;
      const double sigma = sets[set].second;
      std::vector<TMolCoord> moved = molecules;
      TStreamStates afterMoving = start;
      MoveMoleculesReference(volume, moved.data(), static_cast<std::int32_t>(moved.size()), sigma,
                             afterMoving);
      const std::vector<std::vector<int>> cuts = {
          {}, {1}, {7}, {8}, {9}, {16, 17}, {129, 0, 1}, std::vector<int>(80, 5)};
      for (std::size_t cut = 0; cut < cuts.size(); ++cut) {
        SCOPED_TRACE(std::string(kernel.Name) + ", set " + std::to_string(set) + ", cut " +
                     std::to_string(cut));
        const TStreamStates afterChaining =
            ListedAndChained(kernel, volume, molecules, cuts[cut], sigma, start);
        EXPECT_EQ(afterChaining, afterMoving)
            << "chain " << Describe(afterChaining) << ", moving " << Describe(afterMoving);
      }
    }
  }
  std::printf("kernels with a near-wall chain on this CPU: %d\n", chained);
}

// Escapes placed on chosen entries of the list, so that they fall on the
// first and last lane of rounds of 8 and of 16 entries (a round starts right
// after an escape, or after the skipped z entry of a y escape), after whole
// rounds without one, and at the edges of list parts: y escapes whose z
// entry (beyond the wall too, but never drawn) would open the next round,
// and z escapes after y entries that stay. Each near coordinate that stays
// lies 5.99 Sigma inside the wall (a step reaches at most 6 Sigma, and the
// twelve uniforms would all have to be near 1); each escaping one beyond it.
TEST(NearChainTest, EscapesOnTheEdgesOfRoundsAndParts) {
  constexpr double b0 = 2.0, sigma = 1e-3;
  const double stays = b0 - 5.99 * sigma, leaves = 2.5;
  const TStreamStates start{PlacementSeed, StepSeedX, StepSeedY, StepSeedZ};
  TVolume volume;
  volume.SetParameters(b0, 1.0, 0.001, 293.15, 0.0001);
  struct TPattern {
    std::vector<TMolCoord> Molecules;
    int Escapes;
  };
  std::vector<TPattern> patterns;
  {  // one y entry per molecule: entry i is molecule i
    TPattern p{std::vector<TMolCoord>(48, {0.0, stays, 0.0}), 0};
    // Rounds from 1, 9 (and 17), 25, 26 (and 34), 43.
    for (int i : {0, 8, 24, 25, 42, 47}) {
      p.Molecules[static_cast<std::size_t>(i)].y = i % 2 ? leaves : -leaves;
      ++p.Escapes;
    }
    patterns.push_back(p);
  }
  {  // a z entry, then y and z entries: entries 2 i - 1 and 2 i are molecule i
    TPattern p{std::vector<TMolCoord>(40, {0.0, stays, -stays}), 0};
    p.Molecules[0].y = 0.0;
    // y escapes on entries 7 (lane 7 of the first round) and 41 (lane 0
    // after a whole round), their z entries skipped.
    for (int i : {4, 21}) {
      p.Molecules[static_cast<std::size_t>(i)] = {0.0, leaves, leaves};
      ++p.Escapes;
    }
    // z escapes on entries 24 and 58 (lane 15 of a round of 16, lane 7 of
    // one of 8) and on the last entry.
    for (int i : {12, 29, 39}) {
      p.Molecules[static_cast<std::size_t>(i)].z = -leaves;
      ++p.Escapes;
    }
    patterns.push_back(p);
  }
  for (const TKernel& kernel : Kernels) {
    if (!kernel.Supported() || !kernel.ListNear) continue;
    for (std::size_t pattern = 0; pattern < patterns.size(); ++pattern) {
      const TPattern& p = patterns[pattern];
      std::vector<TMolCoord> moved = p.Molecules;
      TStreamStates afterMoving = start;
      MoveMoleculesReference(volume, moved.data(), static_cast<std::int32_t>(moved.size()), sigma,
                             afterMoving);
      ASSERT_EQ(DrawsBetween(start.Placement, afterMoving.Placement, 200), 2 * p.Escapes);
      for (const std::vector<int>& cut : std::vector<std::vector<int>>{
               {}, {7}, {8}, {15}, {16}, {4, 4, 8}, {1, 7, 1, 7}, {12, 12}}) {
        SCOPED_TRACE(std::string(kernel.Name) + ", pattern " + std::to_string(pattern) +
                     ", first part " + (cut.empty() ? "all" : std::to_string(cut[0])));
        EXPECT_EQ(ListedAndChained(kernel, volume, p.Molecules, cut, sigma, start), afterMoving);
      }
    }
  }
}
