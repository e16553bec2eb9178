// Fuzzes the engine through the calls the window makes: parameters, step
// callback, adding, replacing and removing species (indices in and out of
// range), steps, the species accessors and Stokes-Einstein, with numbers that
// range from the window's defaults to zero, negatives, huge, tiny, infinite and
// NaN values and raw bit patterns.
//
// Every call must end in a result or a TError with a message; after each call
// the engine must be consistent, and a refused call must have changed nothing
// (totals, parameters, species and the four random streams). A model of the
// engine's checks predicts each refusal: a call it finds valid must succeed,
// and one it finds invalid must be refused.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "Diffunit/Diffunit.h"
#include "Statg/Statg.h"
#include "fuzz/fuzz_check.h"

namespace {

// Bounds that keep one input to milliseconds. A species of 10^9 molecules is
// accepted by the engine when the machine has the memory, so an Add or Replace
// whose counts would push the slots held by all species above
// MaxHeldMolecules is skipped before the call; counts of 2^31 and more, which
// the engine refuses before allocating, are still passed on. Steps are skipped
// once the input has moved MaxMoleculeSteps slots.
constexpr std::int64_t MaxHeldMolecules = 100000;
constexpr std::int64_t MaxMoleculeSteps = 2000000;
constexpr int MaxOperations = 64;
constexpr double CountLimit = 2147483648.0;  // 2^31: the engine refuses counts this large
constexpr double RoundingUnit = 0x1p-53;     // relative error of one rounded double operation

// The window's defaults and the values around the edges of the model.
const double NiceValues[] = {0.0,
                             -0.0,
                             1e-5,
                             1e-6,
                             0.001,
                             293.15,
                             1e-4,
                             7.2e20,
                             1.43e-10,
                             1.5e-9,
                             1.0,
                             2.0,
                             0.5,
                             10.5,
                             -1e-5,
                             -1.0,
                             1e18,
                             1e21,
                             1e30,
                             1e100,
                             1e300,
                             1e-300,
                             CountLimit,
                             std::numeric_limits<double>::max(),
                             std::numeric_limits<double>::min(),
                             std::numeric_limits<double>::denorm_min(),
                             std::numeric_limits<double>::infinity(),
                             -std::numeric_limits<double>::infinity(),
                             std::numeric_limits<double>::quiet_NaN(),
                             -std::numeric_limits<double>::max(),
                             1e308,
                             -1e308};

double NextDouble(FuzzedDataProvider& in) {
  const int nice = static_cast<int>(sizeof NiceValues / sizeof NiceValues[0]);
  switch (in.ConsumeIntegralInRange<int>(0, 3)) {
    case 0: {  // any bit pattern: subnormals, infinities, NaNs with payloads
      const std::uint64_t bits = in.ConsumeIntegral<std::uint64_t>();
      double x;
      std::memcpy(&x, &bits, sizeof x);
      return x;
    }
    case 1:
      return NiceValues[in.ConsumeIntegralInRange<int>(0, nice - 1)];
    case 2:  // a nice value scaled by a power of ten, up to overflow and underflow
      return NiceValues[in.ConsumeIntegralInRange<int>(0, nice - 1)] *
             std::pow(10.0, in.ConsumeIntegralInRange<int>(-330, 330));
    default:  // small multiples of 1/16, signs included
      return in.ConsumeIntegralInRange<int>(-4096, 4096) / 16.0;
  }
}

int NextIndex(FuzzedDataProvider& in, const TVolume& volume) {
  const int count = static_cast<int>(volume.Species.size());
  switch (in.ConsumeIntegralInRange<int>(0, 4)) {
    case 0:
    case 1:
      return count > 0 ? in.ConsumeIntegralInRange<int>(0, count - 1) : 0;
    case 2:
      return count;
    case 3:
      return -1;
    default:
      return in.ConsumeIntegral<int>();
  }
}

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// What a refused call must leave alone. Molecule arrays are compared by their
// buffer, length and end slots: a refused population must not even have
// reallocated them.
struct TSpeciesShot {
  const TVolume* volume;
  std::int32_t counts[6];
  double fields[4];
  const TMolCoord* data;
  std::size_t size;
  TMolCoord first, last;

  explicit TSpeciesShot(const TSpecies& s)
      : volume(s.Volume),
        counts{s.InnerCount,   s.ShellCount, s.InsideCount,
               s.OutsideCount, s.SlotCount,  s.ActiveCount},
        fields{s.Sigma, s.Diffusion, s.Concentration, s.Radius},
        data(s.Molecules.data()),
        size(s.Molecules.size()),
        first(s.Molecules.empty() ? TMolCoord{} : s.Molecules.front()),
        last(s.Molecules.empty() ? TMolCoord{} : s.Molecules.back()) {}

  // Equal state, wherever the species object itself lives (a refused Add may
  // have made room in the vector beforehand, which moves the species objects
  // but not their molecule arrays).
  bool SameState(const TSpeciesShot& o) const {
    return volume == o.volume && std::memcmp(counts, o.counts, sizeof counts) == 0 &&
           std::memcmp(fields, o.fields, sizeof fields) == 0 && data == o.data && size == o.size &&
           std::memcmp(&first, &o.first, sizeof first) == 0 &&
           std::memcmp(&last, &o.last, sizeof last) == 0;
  }
};

struct TSnapshot {
  double fields[10];
  std::int32_t totalInnerCount;
  bool hasCallback;
  std::vector<TSpeciesShot> species;
  TStreamStates streams;

  explicit TSnapshot(const TVolume& v)
      : fields{v.OuterRib,    v.InnerRib,    v.Time,      v.TimeStep,    v.InnerVolume,
               v.ShellVolume, v.OuterVolume, v.Viscosity, v.Temperature, v.TotalConcentration},
        totalInnerCount(v.TotalInnerCount),
        hasCallback(static_cast<bool>(v.OnStep)),
        streams(v.Streams) {
    for (const TSpecies& s : v.Species) species.emplace_back(s);
  }

  bool operator==(const TSnapshot& o) const {
    if (std::memcmp(fields, o.fields, sizeof fields) != 0 || totalInnerCount != o.totalInnerCount ||
        hasCallback != o.hasCallback || streams != o.streams || species.size() != o.species.size())
      return false;
    for (std::size_t i = 0; i < species.size(); ++i)
      if (!species[i].SameState(o.species[i])) return false;
    return true;
  }
};

std::int32_t Advanced(std::int32_t state, std::int64_t draws) {
  for (std::int64_t k = 0; k < draws; ++k) NextUniform(state);
  return state;
}

std::int64_t HeldSlots(const TVolume& v) {
  std::int64_t slots = 0;
  for (const TSpecies& s : v.Species) slots += s.SlotCount;
  return slots;
}

// The counts a population would get, or -1 when the engine will refuse them
// (non-finite, negative or 2^31 and more) before allocating anything.
std::int64_t SlotsIfAccepted(const TVolume& v, double concentration) {
  const double inner = concentration * v.InnerVolume;
  const double shell = concentration * v.ShellVolume;
  if (!std::isfinite(inner) || !std::isfinite(shell)) return -1;
  if (inner <= -1.0 || shell <= -1.0 || inner >= CountLimit || shell >= CountLimit) return -1;
  return static_cast<std::int64_t>(inner) + static_cast<std::int64_t>(shell);
}

// The engine's own checks, predicted. Each says whether the call will be
// accepted, from the same arithmetic the engine does before it changes
// anything.
bool Finite(double x) { return std::isfinite(x); }

bool ParametersAccepted(double b0, double b1) {
  const double outer = std::pow(b0, 3.0), inner = std::pow(b1, 3.0);
  return Finite(outer) && Finite(inner) && Finite(outer - inner);
}

// A population of `c`, `d` beside `heldElsewhere` slots of other species.
bool PopulationAccepted(const TVolume& v, double c, double d, std::int64_t heldElsewhere) {
  const double twice = 2.0 * d;
  const double variance = twice * v.TimeStep;
  if (!Finite(twice) || !Finite(variance) || variance < 0.0) return false;
  const std::int64_t slots = SlotsIfAccepted(v, c);
  return slots >= 0 && slots + heldElsewhere <= std::numeric_limits<std::int32_t>::max();
}

bool StokesEinsteinAccepted(const TVolume& v, double x) {
  const double numerator = 1.38e-23 * v.Temperature;
  const double scaled = 18.84955592153876 * v.Viscosity;
  const double denominator = scaled * x;
  return Finite(numerator) && Finite(scaled) && Finite(denominator) && denominator != 0.0 &&
         Finite(numerator / denominator);
}

// Whether the next step is accepted: 1 yes, 0 no, -1 when it depends on how
// many molecules end inside (a count over a subnormal volume overflows).
int StepAccepted(const TVolume& v) {
  if (!Finite(v.TimeStep + v.Time) || v.InnerVolume == 0.0) return 0;
  return Finite(static_cast<double>(HeldSlots(v)) / v.InnerVolume) ? 1 : -1;
}

// FUZZ_CHECK that a call the model accepts did not throw, and one it refuses
// did.
#define EXPECT_OUTCOME(accepted, threw) FUZZ_CHECK((accepted) != (threw))

struct TFuzzRun {
  explicit TFuzzRun(const TStreamStates& start) : volume(start) {}

  TVolume volume;
  // Bound on |TotalConcentration - sum of Concentration|: each incremental
  // update of the engine rounds once (twice for a replacement), by at most
  // 2^-53 of the rounded result's magnitude (written 2u to cover the step from
  // the exact to the rounded value).
  double concentrationError = 0.0;
  std::int64_t moleculeSteps = 0;
  int callbackCalls = 0;

  void AddRounding(double result) { concentrationError += 2.0 * RoundingUnit * std::fabs(result); }

  void CheckInvariants() const {
    const TVolume& v = volume;
    std::int64_t innerSum = 0;
    long double concentrationSum = 0.0L, magnitudeSum = 0.0L;
    for (const TSpecies& s : v.Species) {
      FUZZ_CHECK(s.Volume == &v);
      FUZZ_CHECK(s.InnerCount >= 0 && s.ShellCount >= 0);
      FUZZ_CHECK(std::int64_t{s.ShellCount} + s.InnerCount == s.SlotCount);
      FUZZ_CHECK(static_cast<std::size_t>(s.SlotCount) == s.Molecules.size());
      FUZZ_CHECK(s.InsideCount >= 0 && s.OutsideCount >= 0);
      FUZZ_CHECK(std::int64_t{s.InsideCount} + s.OutsideCount <= s.SlotCount);
      FUZZ_CHECK(s.ActiveCount >= 0 && s.ActiveCount <= s.SlotCount);
      FUZZ_CHECK(std::isfinite(s.Concentration) && std::isfinite(s.Diffusion));
      FUZZ_CHECK(std::isfinite(s.Sigma) && !(s.Sigma < 0.0));
      innerSum += s.InnerCount;
      concentrationSum += s.Concentration;
      magnitudeSum += std::fabs(s.Concentration);
    }
    FUZZ_CHECK(innerSum == v.TotalInnerCount);
    FUZZ_CHECK(std::isfinite(v.TotalConcentration));
    // The long double sum of the species is exact to 2^-64 per term; the
    // engine's running total carries the error bound accumulated above.
    const long double gap =
        std::fabs(static_cast<long double>(v.TotalConcentration) - concentrationSum);
    const long double tolerance =
        static_cast<long double>(concentrationError) * (1.0L + 0x1p-50L) +
        magnitudeSum * static_cast<long double>(v.Species.size() + 1) * 0x1p-63L;
    if (!(gap <= tolerance)) {
      std::fprintf(stderr, "total %.17g, sum %.17Lg, gap %.5Lg, tolerance %.5Lg\n",
                   v.TotalConcentration, concentrationSum, gap, tolerance);
      FUZZ_CHECK(gap <= tolerance);
    }
  }

  // After a completed step every active slot lies in the outer cube or on its
  // wall, and, with 0 <= b1 <= b0, InsideCount is exactly the number of active
  // molecules strictly inside the inner cube (re-injected ones sit on the wall).
  void CheckPositionsAfterStep() const {
    const double b0 = std::fabs(volume.OuterRib);
    const double b1 = volume.InnerRib;
    for (const TSpecies& s : volume.Species) {
      const std::int32_t active = s.InsideCount + s.OutsideCount;
      std::int32_t inside = 0;
      for (std::int32_t i = 0; i < active; ++i) {
        const TMolCoord& p = s.Molecules[static_cast<std::size_t>(i)];
        FUZZ_CHECK(std::fabs(p.x) <= b0 && std::fabs(p.y) <= b0 && std::fabs(p.z) <= b0);
        inside += std::fabs(p.x) < b1 && std::fabs(p.y) < b1 && std::fabs(p.z) < b1;
      }
      if (b1 >= 0.0 && b1 <= volume.OuterRib) FUZZ_CHECK(inside == s.InsideCount);
    }
  }

  // A freshly populated species: the arguments stored, the counts truncated,
  // three placement draws per placed molecule and none from the other streams.
  void CheckPopulated(const TSpecies& s, double c, double d, double r,
                      const TSnapshot& before) const {
    const TVolume& v = volume;
    FUZZ_CHECK(SameBits(s.Concentration, c) && SameBits(s.Diffusion, d) && SameBits(s.Radius, r));
    FUZZ_CHECK(SameBits(s.Sigma, std::sqrt((2.0 * d) * v.TimeStep)));
    FUZZ_CHECK(s.InnerCount == static_cast<std::int32_t>(c * v.InnerVolume));
    FUZZ_CHECK(s.ShellCount == static_cast<std::int32_t>(c * v.ShellVolume));
    FUZZ_CHECK(s.InsideCount == 0 && s.OutsideCount == s.ShellCount &&
               s.ActiveCount == s.ShellCount);
    FUZZ_CHECK(v.Streams.Placement ==
               Advanced(before.streams.Placement, 3 * std::int64_t{s.ShellCount}));
    FUZZ_CHECK(v.Streams.X == before.streams.X && v.Streams.Y == before.streams.Y &&
               v.Streams.Z == before.streams.Z);
    const double b0 = v.OuterRib, b1 = v.InnerRib;
    if (b1 >= 0.0 && b1 < b0) {
      // Corner blocks of the shell; the upper end b1 + (b0 - b1) may round a
      // few units of the last place past b0.
      for (std::int32_t k = 0; k < s.ShellCount; ++k)
        for (double x : {s.Molecules[k].x, s.Molecules[k].y, s.Molecules[k].z})
          FUZZ_CHECK(std::fabs(x) >= b1 && std::fabs(x) <= b0 * (1.0 + 4.0 * RoundingUnit));
    }
    if (s.InnerCount > 0) {
      const TMolCoord& spare = s.Molecules[static_cast<std::size_t>(s.ShellCount)];
      FUZZ_CHECK(SameBits(spare.x, 2.0 * b0) && SameBits(spare.z, 2.0 * b0));
    }
  }

  static void CheckError(const TError& e) { FUZZ_CHECK(std::strlen(e.what()) > 0); }

  void CheckUnchanged(const TSnapshot& before) const { FUZZ_CHECK(TSnapshot(volume) == before); }

  void SetCallback(bool empty) {
    if (empty) {
      volume.SetStepCallback(TStepCallback());
      return;
    }
    volume.SetStepCallback([this](std::int32_t insideCount, std::int32_t innerCountTotal,
                                  double insideConcentration, double totalConcentration,
                                  double time) {
      ++callbackCalls;
      const TVolume& v = volume;
      std::int32_t inside = 0;
      for (const TSpecies& s : v.Species) inside += s.InsideCount;
      FUZZ_CHECK(insideCount == inside && insideCount >= 0);
      FUZZ_CHECK(innerCountTotal == v.TotalInnerCount);
      FUZZ_CHECK(std::isfinite(insideConcentration));
      FUZZ_CHECK(SameBits(insideConcentration, insideCount / v.InnerVolume));
      FUZZ_CHECK(SameBits(totalConcentration, v.TotalConcentration));
      FUZZ_CHECK(SameBits(time, v.Time) && std::isfinite(time));
    });
  }

  void Operate(FuzzedDataProvider& in) {
    TVolume& v = volume;
    const TSnapshot before(v);
    switch (in.ConsumeIntegralInRange<int>(0, 7)) {
      case 0: {
        const double b0 = NextDouble(in), b1 = NextDouble(in), q = NextDouble(in),
                     t = NextDouble(in), dt = NextDouble(in);
        const bool accepted = ParametersAccepted(b0, b1);
        try {
          v.SetParameters(b0, b1, q, t, dt);
          EXPECT_OUTCOME(accepted, false);
          FUZZ_CHECK(SameBits(v.OuterRib, b0) && SameBits(v.InnerRib, b1));
          FUZZ_CHECK(SameBits(v.Viscosity, q) && SameBits(v.Temperature, t) &&
                     SameBits(v.TimeStep, dt) && v.Time == 0.0);
          FUZZ_CHECK(std::isfinite(v.OuterVolume) && std::isfinite(v.InnerVolume) &&
                     std::isfinite(v.ShellVolume));
          FUZZ_CHECK(SameBits(v.ShellVolume, v.OuterVolume - v.InnerVolume));
          // The species keep what they were populated with.
          for (std::size_t i = 0; i < v.Species.size(); ++i)
            FUZZ_CHECK(TSpeciesShot(v.Species[i]).SameState(before.species[i]));
        } catch (const TError& e) {
          EXPECT_OUTCOME(accepted, true);
          CheckError(e);
          CheckUnchanged(before);
        }
        break;
      }
      case 1:
        SetCallback(in.ConsumeIntegralInRange<int>(0, 3) == 0);
        break;
      case 2: {
        const double c = NextDouble(in), d = NextDouble(in), r = NextDouble(in);
        const std::int64_t slots = SlotsIfAccepted(v, c);
        if (slots > 0 && HeldSlots(v) + slots > MaxHeldMolecules) break;  // too slow, see above
        const bool accepted =
            Finite(c + v.TotalConcentration) && PopulationAccepted(v, c, d, HeldSlots(v));
        try {
          v.AddSpecies(c, d, r);
          EXPECT_OUTCOME(accepted, false);
          FUZZ_CHECK(v.Species.size() == before.species.size() + 1);
          for (std::size_t i = 0; i + 1 < v.Species.size(); ++i)
            FUZZ_CHECK(TSpeciesShot(v.Species[i]).SameState(before.species[i]));
          CheckPopulated(v.Species.back(), c, d, r, before);
          AddRounding(v.TotalConcentration);
        } catch (const TError& e) {
          EXPECT_OUTCOME(accepted, true);
          CheckError(e);
          CheckUnchanged(before);
        }
        break;
      }
      case 3: {
        const int index = NextIndex(in, v);
        const double c = NextDouble(in), d = NextDouble(in), r = NextDouble(in);
        const std::int64_t slots = SlotsIfAccepted(v, c);
        const bool valid = index >= 0 && static_cast<std::size_t>(index) < v.Species.size();
        const std::int64_t replaced =
            valid ? v.Species[static_cast<std::size_t>(index)].SlotCount : 0;
        if (slots > 0 && HeldSlots(v) - replaced + slots > MaxHeldMolecules) break;
        const double oldConcentration =
            valid ? v.Species[static_cast<std::size_t>(index)].Concentration : 0.0;
        const bool accepted = valid && Finite((c - oldConcentration) + v.TotalConcentration) &&
                              PopulationAccepted(v, c, d, HeldSlots(v) - replaced);
        try {
          v.ReplaceSpecies(index, c, d, r);
          EXPECT_OUTCOME(accepted, false);
          FUZZ_CHECK(v.Species.size() == before.species.size());
          for (std::size_t i = 0; i < v.Species.size(); ++i)
            if (i != static_cast<std::size_t>(index))
              FUZZ_CHECK(TSpeciesShot(v.Species[i]).SameState(before.species[i]));
          CheckPopulated(v.Species[static_cast<std::size_t>(index)], c, d, r, before);
          AddRounding(c - oldConcentration);
          AddRounding(v.TotalConcentration);
        } catch (const TError& e) {
          EXPECT_OUTCOME(accepted, true);
          CheckError(e);
          CheckUnchanged(before);
        }
        break;
      }
      case 4: {
        const int index = NextIndex(in, v);
        const bool accepted =
            index >= 0 && static_cast<std::size_t>(index) < v.Species.size() &&
            Finite(v.TotalConcentration - v.Species[static_cast<std::size_t>(index)].Concentration);
        try {
          v.RemoveSpecies(index);
          EXPECT_OUTCOME(accepted, false);
          FUZZ_CHECK(v.Species.size() + 1 == before.species.size());
          // The species after the gap move down with their state intact.
          for (std::size_t i = 0; i < v.Species.size(); ++i)
            FUZZ_CHECK(
                TSpeciesShot(v.Species[i])
                    .SameState(before.species[i < static_cast<std::size_t>(index) ? i : i + 1]));
          AddRounding(v.TotalConcentration);
        } catch (const TError& e) {
          EXPECT_OUTCOME(accepted, true);
          CheckError(e);
          CheckUnchanged(before);
        }
        break;
      }
      case 5: {
        const int steps = in.ConsumeIntegralInRange<int>(1, 4);
        for (int k = 0; k < steps; ++k) {
          const std::int64_t slots = HeldSlots(v);
          if (moleculeSteps + slots > MaxMoleculeSteps) break;
          moleculeSteps += slots;
          const int calls = callbackCalls;
          const double time = v.Time;
          const int accepted = StepAccepted(v);
          try {
            v.Step();
            FUZZ_CHECK(accepted != 0);
            FUZZ_CHECK(callbackCalls == calls + (v.OnStep ? 1 : 0));
            FUZZ_CHECK(SameBits(v.Time, v.TimeStep + time));
            CheckPositionsAfterStep();
          } catch (const TError& e) {
            FUZZ_CHECK(accepted != 1);
            CheckError(e);
            FUZZ_CHECK(callbackCalls == calls);  // no report for a failed step
          }
          CheckInvariants();
        }
        break;
      }
      case 6: {
        const double x = NextDouble(in);
        const bool accepted = StokesEinsteinAccepted(v, x);
        try {
          const double result = v.StokesEinstein(x);
          EXPECT_OUTCOME(accepted, false);
          FUZZ_CHECK(std::isfinite(result));
        } catch (const TError& e) {
          EXPECT_OUTCOME(accepted, true);
          CheckError(e);
        }
        CheckUnchanged(before);
        break;
      }
      default: {
        const int index = NextIndex(in, v);
        const bool valid = index >= 0 && static_cast<std::size_t>(index) < v.Species.size();
        try {
          const double c = v.SpeciesConcentration(index);
          const double r = v.SpeciesRadius(index);
          const double d = v.SpeciesDiffusion(index);
          FUZZ_CHECK(valid);
          const TSpecies& s = v.Species[static_cast<std::size_t>(index)];
          FUZZ_CHECK(SameBits(c, s.Concentration) && SameBits(r, s.Radius) &&
                     SameBits(d, s.Diffusion));
        } catch (const TError& e) {
          CheckError(e);
          FUZZ_CHECK(!valid);
        }
        CheckUnchanged(before);
        break;
      }
    }
    CheckInvariants();
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  // Usually the program's seeds; sometimes any state, including 0, even ones
  // and 2^31 - 1, whose draw is exactly 1.0.
  TStreamStates start;
  if (in.ConsumeIntegralInRange<int>(0, 7) == 0) {
    start.Placement = in.ConsumeIntegral<std::int32_t>();
    start.X = in.ConsumeIntegral<std::int32_t>();
    start.Y = in.ConsumeIntegral<std::int32_t>();
    start.Z = in.ConsumeIntegral<std::int32_t>();
  }
  TFuzzRun run(start);
  run.SetCallback(false);
  for (int k = 0; k < MaxOperations && in.remaining_bytes() > 0; ++k) run.Operate(in);
  return 0;
}
